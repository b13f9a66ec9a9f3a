#include "model/MReadableFileDispatcher.h"

#include "model/Services.h"
#include "platform/FileSystem.h"
#include "platform/Prompter.h"

namespace cardmill {

std::string CantUnderstandMessage(const std::string& kindName, const std::string& path)
{
    return "Sorry, but Cardmill can't understand the " + kindName + " '" + path + "'";
}

std::string RawDataMessage(const std::string& path)
{
    return "Cardmill doesn't understand the file '" + path
        + "'. If you choose to use this file, its entire contents will be considered 16-bit mono "
          "48kHz sample data and you should edit its parameters.";
}

MReadableFileDispatcher::MReadableFileDispatcher(Services& sharedServices, std::string kind)
    : services(sharedServices)
    , kindName(std::move(kind))
{
}

void MReadableFileDispatcher::Add(std::unique_ptr<MFormatInterpreter> interpreter)
{
    interpreters.push_back(std::move(interpreter));
}

bool MReadableFileDispatcher::Recognises(const std::string& path) const
{
    for (const auto& interpreter : interpreters)
        if (interpreter->Recognises(path))
            return true;
    return false;
}

std::unique_ptr<MReadableFile> MReadableFileDispatcher::Create(const std::string& path) const
{
    for (const auto& interpreter : interpreters)
        if (interpreter->Recognises(path))
            return interpreter->Create(path);
    return nullptr;
}

std::unique_ptr<MReadableFile> MReadableFileDispatcher::CreateRaw(const std::string&) const
{
    return nullptr;
}

MReadableFileCreator::MReadableFileCreator(
    Services& sharedServices, std::vector<const MReadableFileDispatcher*> dispatchersInOrder)
    : services(sharedServices)
    , dispatchers(std::move(dispatchersInOrder))
{
}

std::unique_ptr<MReadableFile> MReadableFileCreator::Create(
    const std::string& path, std::string& failure, std::string* kindName) const
{
    std::string kind = "file";
    services.whyNotUnderstood.clear();
    if (!StatFile(path)) {
        if (kindName)
            *kindName = kind;
        failure = "Sorry, but the file '" + path + "' doesn't exist.";
        return nullptr;
    }
    for (const auto* dispatcher : dispatchers) {
        if (dispatcher->Recognises(path)) {
            kind = dispatcher->GetKindName();
            if (kindName)
                *kindName = kind;
            if (auto object = dispatcher->Create(path))
                return object;
            break;
        }
    }
    if (kindName)
        *kindName = kind;
    failure = CantUnderstandMessage(kind, path);
    if (!services.whyNotUnderstood.empty())
        failure += "\n" + services.whyNotUnderstood;
    return nullptr;
}

std::unique_ptr<MReadableFile> MReadableFileCreator::Create(const std::string& path) const
{
    std::string failure;
    auto object = Create(path, failure);
    if (!object)
        ReportFailure(services.prompter, failure);
    return object;
}

} // namespace cardmill
