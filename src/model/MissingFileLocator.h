#pragma once

#include "model/FileLocator.h"
#include "platform/Prompter.h"

#include <array>
#include <string>

namespace cardmill {

/// The step of the search that asks the user: the find-file dialog in the desktop application,
/// the --search-dir folders on the command line.
class FileFinder {
public:
    enum class Choice { Substitute, Skip, Cancel };
    struct Answer {
        Choice choice = Choice::Skip;
        std::string path; // the substitute
    };

    virtual ~FileFinder() = default;
    /// Asked for a file that is found nowhere: "Where is the <kind> '<name>'?" `retry` is set
    /// when the previous substitute could not be understood.
    virtual Answer Find(
        const std::string& kindName, const std::string& fileName, bool allowSkip, bool retry)
        = 0;
    /// A file that was not at its stored path was found at `path` without asking (in a
    /// remembered folder): the user may want to know which one is used.
    virtual void FoundElsewhere(const std::string& /*fileName*/, const std::string& /*path*/) { }
};

/// The missing-file locator: a stored record's path when the file is still there, or the same
/// path in another case, else the record's file name in the remembered folders (a ring of 8, the
/// most recent first), else the finder. A file that is there but can't be understood (damaged
/// since it was stored) is named with the reason and then asked for as a missing one. Folders
/// are remembered as files are found and loaded.
class MissingFileLocator final : public FileLocator {
public:
    static constexpr int kFolders = 8;

    MissingFileLocator(Prompter& prompterService, FileFinder* fileFinder)
        : prompter(prompterService)
        , finder(fileFinder)
    {
    }

    void NoteLoaded(const std::string& path) override { RememberFolderOf(path); }
    Result Locate(const FileRecord& record, const MReadableFileDispatcher& dispatcher,
        bool rawFallback) override;

    /// Remembers the folder of a path unless the ring holds it already (compared without regard
    /// to case).
    void RememberFolderOf(const std::string& path);
    const std::array<std::string, kFolders>& Folders() const { return folders; }

private:
    std::string FindInFolders(const std::string& fileName) const;
    std::unique_ptr<MReadableFile> Create(
        const std::string& path, const MReadableFileDispatcher& dispatcher, bool rawFallback) const;

    Prompter& prompter;
    FileFinder* finder;
    std::array<std::string, kFolders> folders;
    int latest = kFolders - 1; // the ring position of the most recent folder
};

} // namespace cardmill
