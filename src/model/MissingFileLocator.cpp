#include "model/MissingFileLocator.h"

#include "model/MReadableFileDispatcher.h"
#include "model/TextFields.h"
#include "model/instrument/InstrumentLibrary.h"
#include "platform/FileSystem.h"

#include <algorithm>
#include <filesystem>
#include <utility>
#include <vector>

namespace cardmill {

namespace {

/// An absolute path with each name found without regard to case, as samplers find samples on
/// case-sensitive systems ("Piano/C4.WAV" for "piano/c4.wav"), and as files written on other
/// systems name them; nothing when there is no such file. Of names that differ only in case,
/// the first in sorted order is taken.
std::string FindIgnoringCase(const std::string& path)
{
    namespace fs = std::filesystem;
    if (!path.starts_with('/'))
        return {};
    std::error_code error;
    fs::path found = "/";
    for (const fs::path& part : fs::path(path).relative_path()) {
        if (fs::exists(found / part, error)) {
            found /= part;
            continue;
        }
        std::vector<fs::path> matches;
        for (const auto& entry : fs::directory_iterator(found, error))
            if (EqualsIgnoringCase(entry.path().filename().string(), part.string()))
                matches.push_back(entry.path().filename());
        if (matches.empty())
            return {};
        found /= *std::min_element(matches.begin(), matches.end());
    }
    return CanOpenForReading(found.string()) ? found.string() : std::string();
}

} // namespace

void MissingFileLocator::RememberFolderOf(const std::string& path)
{
    // A library's preset or sample lives in its library's folder.
    const std::string folder = FolderOf(AbsolutePath(SplitLibraryPath(path).file));
    if (folder.empty())
        return;
    for (const std::string& known : folders)
        if (EqualsIgnoringCase(known, folder))
            return;
    latest = (latest + 1) % kFolders;
    folders[static_cast<std::size_t>(latest)] = folder;
}

std::string MissingFileLocator::FindInFolders(
    const std::string& fileName, const FileRecord& record) const
{
    for (int step = 0; step < kFolders; ++step) {
        const std::string& folder
            = folders[static_cast<std::size_t>((latest - step + kFolders) % kFolders)];
        // A kick.wav of another kit is not this project's kick.wav.
        if (!folder.empty() && CanOpenForReading(folder + fileName)
            && (!record.extras.fingerprint
                || FingerprintOf(folder + fileName) == record.extras.fingerprint))
            return folder + fileName;
    }
    return {};
}

void MissingFileLocator::SetProjectMove(const std::string& from, const std::string& to)
{
    movedFrom = from;
    movedTo = to;
}

std::vector<std::string> MissingFileLocator::TakeFoundElsewhere()
{
    return std::exchange(foundElsewhere, {});
}

std::string MissingFileLocator::MovedPlace(const std::string& stored) const
{
    namespace fs = std::filesystem;
    if (movedFrom.empty() || movedTo.empty() || movedFrom == movedTo || !stored.starts_with('/'))
        return {};
    const fs::path relative = fs::path(stored).lexically_relative(movedFrom);
    if (relative.empty())
        return {};
    const std::string moved = (fs::path(movedTo) / relative).lexically_normal().string();
    if (CanOpenForReading(moved))
        return moved;
    return FindIgnoringCase(moved);
}

std::unique_ptr<MReadableFile> MissingFileLocator::Create(
    const std::string& path, const MReadableFileDispatcher& dispatcher, bool rawFallback) const
{
    auto file = dispatcher.Create(path);
    // Raw data stands in only for a file that no format claims, as it was when the user agreed
    // to take it so: a sound that was recognised when it was added and can't be read now is
    // damaged, and noise in its place would go onto the card unnoticed.
    if (!file && rawFallback && !dispatcher.Recognises(path))
        file = dispatcher.CreateRaw(path);
    return file;
}

FileLocator::Result MissingFileLocator::Locate(
    const FileRecord& record, const MReadableFileDispatcher& dispatcher, bool rawFallback)
{
    // A preset or a sample of a library is looked for as its file; the preset or sample is
    // taken again from the copy found.
    const LibraryPath library = SplitLibraryPath(record.path);
    const std::string& stored = library.file;
    const std::string fileName = record.name.empty() || stored != record.path
        ? StoredFileName(stored)
        : StoredFileName(record.name);
    std::string path;
    if (!stored.empty() && CanOpenForReading(stored)) {
        path = AbsolutePath(stored);
        RememberFolderOf(path);
    } else if (path = FindIgnoringCase(stored); !path.empty()) {
        RememberFolderOf(path);
    } else if (path = MovedPlace(stored); !path.empty()) {
        RememberFolderOf(path);
    } else {
        // A file that is there and can't be read is named with the system's reason.
        if (const auto status = StatFile(stored); status && status->regular)
            if (const auto unreadable = UnreadableMessage(stored))
                prompter.Show(*unreadable, Icon::Error, Buttons::Ok);
        path = FindInFolders(fileName, record);
        if (!path.empty())
            foundElsewhere.push_back("'" + fileName + "' was not in " + FolderOf(stored) + "; "
                + (record.extras.fingerprint ? "the same file was found in "
                                             : "a file of its name was found in ")
                + FolderOf(path));
    }

    Result result;
    if (!path.empty()) {
        result.file = Create(JoinLibraryPath(path, library), dispatcher, rawFallback);
        if (result.file) {
            result.status = Status::Found;
            return result;
        }
        // Damaged since it was stored: as good as missing, so the finder is asked for another
        // copy and names it when there is none.
        ReportFailure(prompter, dispatcher.CantUnderstand(path));
    } else {
        prompter.Beep();
    }
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
        result.file = dispatcher.Create(JoinLibraryPath(answer.path, library));
        if (result.file) {
            RememberFolderOf(answer.path);
            result.status = Status::Found;
            return result;
        }
        ReportFailure(prompter,
            UnreadableMessage(answer.path).value_or(dispatcher.CantUnderstand(answer.path)));
    }
}

} // namespace cardmill
