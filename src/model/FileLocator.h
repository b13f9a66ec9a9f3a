#pragma once

#include "model/FileRecord.h"

#include <memory>
#include <string>
#include <vector>

namespace cardmill {

class MReadableFile;
class MReadableFileDispatcher;

/// Finds again the files that stored records (project and instrument files) name when they are
/// no longer where they were. It remembers the folders that files were loaded from; what it does
/// when a file is found nowhere (ask the user, or note the name) is up to the front end.
class FileLocator {
public:
    enum class Status { Found, Skipped, Cancelled };
    struct Result {
        Status status = Status::Skipped;
        std::unique_ptr<MReadableFile> file;
    };

    virtual ~FileLocator() = default;
    /// A file was loaded from this path: its folder is worth remembering.
    virtual void NoteLoaded(const std::string& path) = 0;
    /// Resolves a stored record into an object of the dispatcher's kind; with `rawFallback` a
    /// file no format understands becomes raw sample data.
    virtual Result Locate(
        const FileRecord& record, const MReadableFileDispatcher& dispatcher, bool rawFallback)
        = 0;
    /// While a project saved in the folder `from` opens from the folder `to` (moved or copied
    /// with its sounds), a file it names that is missing is looked for at its place relative to
    /// `from`, taken relative to `to`, before anywhere else. Empty folders end that.
    virtual void SetProjectMove(const std::string& from, const std::string& to) = 0;
    /// The files found by their names in remembered folders since the last call, each a sentence
    /// that names the file and where it was found.
    virtual std::vector<std::string> TakeFoundElsewhere() = 0;
};

} // namespace cardmill
