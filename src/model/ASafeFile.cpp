#include "model/ASafeFile.h"

#include "platform/FileSystem.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <random>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace cardmill {

namespace {

int writesUntilFailure = 0;

bool CopyFileContents(const std::string& from, const std::string& to)
{
    auto bytes = ReadWholeFile(from, UINT64_MAX);
    if (!bytes)
        return false;
    std::FILE* out = std::fopen(to.c_str(), "wb");
    if (!out)
        return false;
    const bool ok = std::fwrite(bytes->data(), 1, bytes->size(), out) == bytes->size();
    return (std::fclose(out) == 0) && ok;
}

// A write's temporary file is "<target>.tmp<pid>.<number>", so the temporary files of writes
// that were killed are known by their process no longer running.
std::string TempPrefix(const std::string& target)
{
    return FileNameOf(target) + ".tmp";
}

void RemoveStaleTemporaries(const std::string& target)
{
    const std::string folder = FolderOf(target);
    const std::string prefix = TempPrefix(target);
    std::error_code error;
    std::filesystem::directory_iterator entries(folder.empty() ? "." : folder, error);
    for (; !error && entries != std::filesystem::directory_iterator(); entries.increment(error)) {
        const std::string name = entries->path().filename().string();
        if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0)
            continue;
        const std::string rest = name.substr(prefix.size());
        const auto dot = rest.find('.');
        if (dot == 0 || dot == std::string::npos
            || rest.find_first_not_of("0123456789.") != std::string::npos)
            continue;
        const long pid = std::strtol(rest.c_str(), nullptr, 10);
        if (pid > 0 && pid <= INT_MAX && ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH)
            ::unlink((folder + name).c_str());
    }
}

/// A file its owner made read-only (chmod 444), as editors tell it: one the user can't write,
/// or, for the administrator who can write anything, one whose mode grants no write.
bool ReadOnly(const std::string& path, const struct stat& status)
{
    return ::access(path.c_str(), W_OK) != 0 || (status.st_mode & 0222) == 0;
}

} // namespace

SafeOutput::~SafeOutput()
{
    if (file)
        std::fclose(file);
}

void SafeOutput::FailWriteForTesting(int nthWrite)
{
    writesUntilFailure = nthWrite;
}

bool SafeOutput::Write(std::span<const std::uint8_t> bytes)
{
    if (writesUntilFailure > 0 && --writesUntilFailure == 0) {
        lastError = EIO;
        return false;
    }
    if (file && std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size())
        return true;
    lastError = errno;
    return false;
}

bool SafeOutput::Write(std::string_view text)
{
    return Write({ reinterpret_cast<const std::uint8_t*>(text.data()), text.size() });
}

std::optional<std::uint64_t> SafeOutput::Tell()
{
    if (!file)
        return std::nullopt;
    const off_t position = ::ftello(file);
    if (position < 0)
        return std::nullopt;
    return static_cast<std::uint64_t>(position);
}

bool SafeOutput::Seek(std::uint64_t offset)
{
    return file && ::fseeko(file, static_cast<off_t>(offset), SEEK_SET) == 0;
}

std::string ASafeFile::BackupName(const std::string& path)
{
    const std::string name = FileNameOf(path);
    const auto dot = name.find_last_of('.');
    if (dot == std::string::npos || dot == 0)
        return path + ".bak";
    return path.substr(0, path.size() - name.size() + dot) + ".bak";
}

void ASafeFile::ReportWriteError(const SafeOutput* file)
{
    if (file && (file->LastError() == ENOSPC || file->LastError() == EDQUOT))
        ReportFailure(prompter,
            "Sorry, but the new file '" + file->TargetPath()
                + "' can't be created because the disk is full.");
    else
        ReportFailure(prompter, std::string(kCantCreate) + kWriteError);
}

std::string ASafeFile::ResolveTarget(const std::string& path)
{
    std::string target = path;
    // The kernel's own limit of links followed in one path.
    for (int hops = 0; hops < 40; ++hops) {
        struct stat status { };
        if (::lstat(target.c_str(), &status) != 0 || !S_ISLNK(status.st_mode))
            break;
        std::vector<char> link(static_cast<std::size_t>(PATH_MAX));
        const ssize_t length = ::readlink(target.c_str(), link.data(), link.size());
        if (length <= 0 || static_cast<std::size_t>(length) >= link.size())
            break;
        const std::string to(link.data(), static_cast<std::size_t>(length));
        target = to.front() == '/' ? to : FolderOf(target) + to;
    }
    return target;
}

bool ASafeFile::CreateSafely(const std::string& path, bool keepBackup,
    std::unique_ptr<SafeOutput>& file, std::string& backupName)
{
    file.reset();
    backupName.clear();
    struct stat status { };
    if (::stat(path.c_str(), &status) == 0 && !S_ISREG(status.st_mode))
        return CreateInPlace(path, S_ISDIR(status.st_mode), file);
    const std::string target = ResolveTarget(path);
    // A read-only file is replaced only when the user says so, as editors replace one.
    struct stat old { };
    if (::stat(target.c_str(), &old) == 0 && ReadOnly(target, old)
        && prompter.Ask("The file '" + path + "' is read-only.  Replace it all the same?",
               Icon::Warning, Buttons::OkCancel, Answer::Cancel)
            != Answer::Ok)
        return false;
    RemoveStaleTemporaries(target);
    if (keepBackup) {
        backupName = BackupName(target);
        ::unlink(backupName.c_str());
        // The old file stays where it is; the backup is a second name for it (or a copy where
        // the file system has no links), so a kill at any moment leaves the old file in place.
        // For the same reason a backup that can't be made (a folder of that name, an old file
        // that is gone) leaves the write as safe as before: it goes on without one.
        if (::link(target.c_str(), backupName.c_str()) != 0) {
            const int error = errno;
            if (!((error == EPERM || error == EXDEV || error == ENOTSUP)
                    && CopyFileContents(target, backupName)))
                backupName.clear();
        }
    }

    auto output = std::make_unique<SafeOutput>();
    output->targetPath = target;
    std::random_device seed;
    output->tempPath = FolderOf(target) + TempPrefix(target) + std::to_string(::getpid()) + "."
        + std::to_string(seed() % 1000000);
    const int fd = ::open(output->tempPath.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd >= 0)
        output->file = ::fdopen(fd, "w+b");
    if (!output->file) {
        const int error = errno;
        if (fd >= 0)
            ::close(fd);
        // Why matters to the user: a folder they can't write is no damaged file.
        ReportFailure(prompter,
            error == EACCES || error == EPERM || error == EROFS || error == ENOSPC
                ? kCantCreate + path
                    + " could not be written in its folder: " + std::strerror(error) + "."
                : kCantCreate + path + " could not be opened.");
        ::unlink(output->tempPath.c_str());
        if (!backupName.empty())
            ::unlink(backupName.c_str());
        return false;
    }
    // Card images are written a block at a time: a larger buffer keeps the system calls few.
    std::setvbuf(output->file, nullptr, _IOFBF, std::size_t { 1 } << 16);
    file = std::move(output);
    return true;
}

bool ASafeFile::CreateInPlace(
    const std::string& path, bool folder, std::unique_ptr<SafeOutput>& file)
{
    if (folder) {
        ReportFailure(prompter, kCantCreate + path + " is a folder.");
        return false;
    }
    auto output = std::make_unique<SafeOutput>();
    output->targetPath = path;
    const int fd = ::open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (fd >= 0)
        output->file = ::fdopen(fd, "wb");
    if (!output->file) {
        if (fd >= 0)
            ::close(fd);
        ReportFailure(prompter, kCantCreate + path + " could not be opened.");
        return false;
    }
    file = std::move(output);
    return true;
}

bool ASafeFile::CommitSafely(const std::string& path, bool keepBackup,
    std::unique_ptr<SafeOutput>& file, const std::string& backupName)
{
    if (!file || !file->file)
        return false;
    if (file->tempPath.empty()) {
        const bool written = std::fflush(file->file) == 0;
        if (!written)
            file->lastError = errno;
        const bool closed = std::fclose(file->file) == 0;
        file->file = nullptr;
        if (!(written && closed)) {
            ReportWriteError(file.get());
            file.reset();
            return false;
        }
        file.reset();
        return true;
    }
    const std::string& target = file->targetPath;
    bool ok = std::fflush(file->file) == 0 && ::fsync(::fileno(file->file)) == 0;
    if (!ok)
        file->lastError = errno;
    ok = (std::fclose(file->file) == 0) && ok;
    file->file = nullptr;
    // The new file keeps the old one's permissions.
    struct stat old { };
    if (ok && ::stat(target.c_str(), &old) == 0)
        ::chmod(file->tempPath.c_str(), old.st_mode & 07777);
    ok = ok && ::rename(file->tempPath.c_str(), target.c_str()) == 0;
    if (!ok) {
        ReportWriteError(file.get());
        AbortSafely(path, keepBackup, file, backupName);
        return false;
    }
    SyncFolder(ParentFolder(target));
    if (keepBackup && !backupName.empty())
        ::unlink(backupName.c_str());
    file.reset();
    return true;
}

void ASafeFile::AbortSafely(const std::string&, bool keepBackup, std::unique_ptr<SafeOutput>& file,
    const std::string& backupName)
{
    if (file) {
        if (file->file)
            std::fclose(file->file);
        file->file = nullptr;
        // What went in place is gone already: a device or a pipe takes no part back.
        if (!file->tempPath.empty())
            ::unlink(file->tempPath.c_str());
        file.reset();
    }
    // The old file never left its place, so only its second name goes.
    if (keepBackup && !backupName.empty())
        ::unlink(backupName.c_str());
}

} // namespace cardmill
