#include "model/MReadableFileDispatcher.h"

#include "model/Services.h"
#include "model/instrument/InstrumentLibrary.h"
#include "platform/FileSystem.h"
#include "platform/Prompter.h"

#include <cerrno>
#include <cstring>
#include <filesystem>

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

std::optional<std::string> UnreadableMessage(const std::string& named)
{
    // A preset of a library is read from the library's file.
    const std::string path = IsInstrumentLibrary(named) ? SplitLibraryPath(named).file : named;
    namespace fs = std::filesystem;
    std::error_code ignored;
    const fs::file_type type = fs::status(path, ignored).type();
    // Opening a pipe would wait for a writer, and no device holds a sound or a song.
    if (type == fs::file_type::fifo || type == fs::file_type::socket || type == fs::file_type::block
        || type == fs::file_type::character)
        return "Sorry, but Cardmill can't read '" + path
            + "': it is a device, a pipe or a socket, not a file.";
    int error = type == fs::file_type::directory ? EISDIR : 0;
    if (error == 0) {
        auto stream = ByteStream::OpenFile(path, error);
        if (stream) {
            stream->Close();
            return std::nullopt;
        }
    }
    // A missing file in a folder that is there keeps its plain words.
    const std::string folder = ParentFolder(path);
    if (error == ENOENT && fs::is_directory(folder.empty() ? "." : folder, ignored))
        return "Sorry, but the file '" + path + "' doesn't exist.";
    return "Sorry, but Cardmill can't read the file '" + path + "': " + std::strerror(error) + ".";
}

std::unique_ptr<MReadableFile> MReadableFileDispatcher::Create(const std::string& path) const
{
    std::optional<std::string> firstWhy;
    for (const auto& interpreter : interpreters) {
        if (!interpreter->Recognises(path))
            continue;
        services.whyNotUnderstood.clear();
        if (auto object = interpreter->Create(path))
            return object;
        if (!firstWhy)
            firstWhy = services.whyNotUnderstood;
    }
    services.whyNotUnderstood = firstWhy.value_or("");
    return nullptr;
}

std::string MReadableFileDispatcher::CantUnderstand(const std::string& path) const
{
    std::string message = CantUnderstandMessage(kindName, path);
    if (!services.whyNotUnderstood.empty())
        message += "\n" + services.whyNotUnderstood;
    return message;
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

std::unique_ptr<MReadableFile> CreateRecognised(Services& services,
    std::span<const MReadableFileDispatcher* const> dispatchers, const std::string& path,
    std::string& failure, std::string& kindName)
{
    kindName = "file";
    services.whyNotUnderstood.clear();
    if (auto unreadable = UnreadableMessage(path)) {
        failure = std::move(*unreadable);
        return nullptr;
    }
    const MReadableFileDispatcher* first = nullptr;
    std::string why;
    for (const auto* dispatcher : dispatchers) {
        if (!dispatcher->Recognises(path))
            continue;
        if (auto object = dispatcher->Create(path)) {
            kindName = dispatcher->GetKindName();
            return object;
        }
        if (!first) {
            first = dispatcher;
            kindName = dispatcher->GetKindName();
            why = services.whyNotUnderstood;
        }
    }
    services.whyNotUnderstood = why;
    failure = first ? first->CantUnderstand(path) : CantUnderstandMessage(kindName, path);
    return nullptr;
}

std::unique_ptr<MReadableFile> MReadableFileCreator::Create(
    const std::string& path, std::string& failure, std::string* kindName) const
{
    std::string kind;
    auto object = CreateRecognised(services, dispatchers, path, failure, kind);
    if (kindName)
        *kindName = kind;
    return object;
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
