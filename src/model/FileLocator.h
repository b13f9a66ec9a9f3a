#pragma once

#include "model/FileRecord.h"

#include <memory>
#include <string>

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
};

} // namespace cardmill
