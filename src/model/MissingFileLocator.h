#pragma once

#include "model/FileLocator.h"
#include "platform/Prompter.h"

#include <array>
#include <string>
#include <vector>

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
};

/// The missing-file locator: a stored record's path when the file is still there, or the same
/// path in another case, or its place relative to a moved project's folder, else the record's
/// file name in the remembered folders (a ring of 8, the most recent first), else the finder.
/// A file found by name in a remembered folder is taken only when it is the same file as the
/// record's (its fingerprint), or when the record keeps none (an older project); either way it
/// is named. A file that is there but can't be understood (damaged since it was stored) is named
/// with the reason and then asked for as a missing one. Folders are remembered as files are
/// found and loaded.
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
    void SetProjectMove(const std::string& from, const std::string& to) override;
    std::vector<std::string> TakeFoundElsewhere() override;

    /// Remembers the folder of a path unless the ring holds it already (compared without regard
    /// to case).
    void RememberFolderOf(const std::string& path);
    const std::array<std::string, kFolders>& Folders() const { return folders; }

private:
    /// The first remembered folder's file of that name that is the record's file; any file of
    /// that name when the record keeps no fingerprint.
    std::string FindInFolders(const std::string& fileName, const FileRecord& record) const;
    /// Where a missing file lies relative to a moved project's new folder, when it is there.
    std::string MovedPlace(const std::string& stored) const;
    std::unique_ptr<MReadableFile> Create(
        const std::string& path, const MReadableFileDispatcher& dispatcher, bool rawFallback) const;

    Prompter& prompter;
    FileFinder* finder;
    std::array<std::string, kFolders> folders;
    int latest = kFolders - 1; // the ring position of the most recent folder
    std::string movedFrom, movedTo;
    std::vector<std::string> foundElsewhere;
};

} // namespace cardmill
