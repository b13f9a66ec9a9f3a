#include "model/MissingFileLocator.h"

#include "model/MReadableFileDispatcher.h"
#include "model/TextFields.h"
#include "platform/FileSystem.h"

namespace cardmill {

void MissingFileLocator::RememberFolderOf(const std::string& path)
{
    const std::string folder = FolderOf(AbsolutePath(path));
    if (folder.empty())
        return;
    for (const std::string& known : folders)
        if (EqualsIgnoringCase(known, folder))
            return;
    latest = (latest + 1) % kFolders;
    folders[static_cast<std::size_t>(latest)] = folder;
}

std::string MissingFileLocator::FindInFolders(const std::string& fileName) const
{
    for (int step = 0; step < kFolders; ++step) {
        const std::string& folder
            = folders[static_cast<std::size_t>((latest - step + kFolders) % kFolders)];
        if (!folder.empty() && CanOpenForReading(folder + fileName))
            return folder + fileName;
    }
    return {};
}

std::unique_ptr<MReadableFile> MissingFileLocator::Create(
    const std::string& path, const MReadableFileDispatcher& dispatcher, bool rawFallback) const
{
    auto file = dispatcher.Create(path);
    if (!file && rawFallback)
        file = dispatcher.CreateRaw(path);
    return file;
}

FileLocator::Result MissingFileLocator::Locate(
    const FileRecord& record, const MReadableFileDispatcher& dispatcher, bool rawFallback)
{
    const std::string fileName
        = record.name.empty() ? StoredFileName(record.path) : StoredFileName(record.name);
    std::string path;
    if (!record.path.empty() && CanOpenForReading(record.path)) {
        path = AbsolutePath(record.path);
        RememberFolderOf(path);
    } else {
        path = FindInFolders(fileName);
        if (!path.empty() && finder)
            finder->FoundElsewhere(fileName, path);
    }

    Result result;
    if (!path.empty()) {
        result.file = Create(path, dispatcher, rawFallback);
        if (!result.file) {
            ReportFailure(prompter, CantUnderstandMessage(dispatcher.GetKindName(), path));
            result.status = Status::Skipped;
            return result;
        }
        result.status = Status::Found;
        return result;
    }

    prompter.Beep();
    for (bool retry = false;; retry = true) {
        const auto answer = finder ? finder->Find(dispatcher.GetKindName(), fileName, true, retry)
                                   : FileFinder::Answer { FileFinder::Choice::Skip, {} };
        if (answer.choice == FileFinder::Choice::Skip) {
            result.status = Status::Skipped;
            return result;
        }
        if (answer.choice == FileFinder::Choice::Cancel) {
            result.status = Status::Cancelled;
            return result;
        }
        result.file = dispatcher.Create(answer.path);
        if (result.file) {
            RememberFolderOf(answer.path);
            result.status = Status::Found;
            return result;
        }
        ReportFailure(prompter, CantUnderstandMessage("file", answer.path));
    }
}

} // namespace cardmill
