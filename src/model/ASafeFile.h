#pragma once

#include "platform/Prompter.h"

#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace cardmill {

/// A file being written by the safe-write mechanism: the bytes go to a temporary file in the
/// target's folder, which replaces the target only when committed.
class SafeOutput {
public:
    ~SafeOutput();
    /// False when fewer bytes than asked were stored.
    bool Write(std::span<const std::uint8_t> bytes);
    bool Write(std::string_view text);
    std::optional<std::uint64_t> Tell();
    bool Seek(std::uint64_t offset);

    /// Tests make the n-th write from now on (counting from 1) fail, as a full disk would; 0
    /// ends that.
    static void FailWriteForTesting(int nthWrite);

    /// The file the new one replaces: the path given, or what a symbolic link there points to.
    const std::string& TargetPath() const { return targetPath; }
    /// The system's error code of the last write that failed (ENOSPC for a full disk).
    int LastError() const { return lastError; }

private:
    friend class ASafeFile;
    std::FILE* file = nullptr;
    int lastError = 0;
    std::string targetPath;
    std::string tempPath; // empty when written in place
};

/// The safe write of project files, text dumps, instrument files and card images: whatever fails
/// (disk full, crash, kill), the user keeps the old file or the new one, never neither, and never
/// a part of one. The new file is written beside the target and renamed over it only when
/// complete and flushed to disk; with `keepBackup` the old file also stands under its ".bak" name
/// while the new one is written. A path that is a symbolic link keeps its link: the file it
/// points to is replaced. Temporary files that a killed write left beside the target are removed
/// at the next write of that target. A target that is no regular file (a device such as
/// /dev/null, a named pipe, the standard output) is written in place, as `cat` writes it: a file
/// renamed over it would replace the device itself.
class ASafeFile {
public:
    explicit ASafeFile(Prompter& prompterService)
        : prompter(prompterService)
    {
    }
    virtual ~ASafeFile() = default;

    virtual bool CreateSafely(const std::string& path, bool keepBackup,
        std::unique_ptr<SafeOutput>& file, std::string& backupName);
    virtual bool CommitSafely(const std::string& path, bool keepBackup,
        std::unique_ptr<SafeOutput>& file, const std::string& backupName);
    virtual void AbortSafely(const std::string& path, bool keepBackup,
        std::unique_ptr<SafeOutput>& file, const std::string& backupName);

    /// The backup name: the file name's extension (from its last ".") replaced by ".bak", or
    /// ".bak" appended when the name has none.
    static std::string BackupName(const std::string& path);
    /// The file a write to `path` replaces: what a symbolic link there points to, followed to
    /// the end; `path` itself otherwise.
    static std::string ResolveTarget(const std::string& path);

    /// Shows "Sorry, but the new file can't be created because the file had a write error.", or
    /// for a full disk a message naming the file that says so.
    void ReportWriteError(const SafeOutput* file);

    static constexpr const char* kCantCreate
        = "Sorry, but the new file can't be created because the file ";
    static constexpr const char* kWriteError = "had a write error.";

protected:
    Prompter& prompter;

private:
    bool CreateInPlace(const std::string& path, bool folder, std::unique_ptr<SafeOutput>& file);
};

} // namespace cardmill
