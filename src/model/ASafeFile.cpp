#include "model/ASafeFile.h"

#include "platform/FileSystem.h"

#include <cerrno>
#include <fcntl.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

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
    if (writesUntilFailure > 0 && --writesUntilFailure == 0)
        return false;
    return file && std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
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

void ASafeFile::ReportWriteError()
{
    ReportFailure(prompter, std::string(kCantCreate) + kWriteError);
}

bool ASafeFile::CreateSafely(const std::string& path, bool keepBackup,
    std::unique_ptr<SafeOutput>& file, std::string& backupName)
{
    file.reset();
    backupName.clear();
    if (keepBackup) {
        backupName = BackupName(path);
        ::unlink(backupName.c_str());
        // The old file stays where it is; the backup is a second name for it (or a copy where
        // the file system has no links), so a kill at any moment leaves the old file in place.
        if (::link(path.c_str(), backupName.c_str()) != 0) {
            const int error = errno;
            const bool linked = (error == EPERM || error == EXDEV || error == ENOTSUP)
                && CopyFileContents(path, backupName);
            if (!linked) {
                if (error == ENOENT)
                    ReportFailure(prompter, kCantCreate + path + " could not be created.");
                else if (error == EACCES)
                    ReportFailure(prompter, kCantCreate + backupName + " could not be created.");
                return false;
            }
        }
    }

    auto output = std::make_unique<SafeOutput>();
    std::random_device seed;
    output->tempPath = path + ".tmp" + std::to_string(seed() % 1000000);
    const int fd = ::open(output->tempPath.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd >= 0)
        output->file = ::fdopen(fd, "w+b");
    if (!output->file) {
        if (fd >= 0)
            ::close(fd);
        ReportFailure(prompter, kCantCreate + path + " could not be opened.");
        ::unlink(output->tempPath.c_str());
        if (keepBackup)
            ::unlink(backupName.c_str());
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
    bool ok = std::fflush(file->file) == 0 && ::fsync(::fileno(file->file)) == 0;
    ok = (std::fclose(file->file) == 0) && ok;
    file->file = nullptr;
    // The new file keeps the old one's permissions.
    struct stat old { };
    if (ok && ::stat(path.c_str(), &old) == 0)
        ::chmod(file->tempPath.c_str(), old.st_mode & 07777);
    ok = ok && ::rename(file->tempPath.c_str(), path.c_str()) == 0;
    if (!ok) {
        ReportWriteError();
        AbortSafely(path, keepBackup, file, backupName);
        return false;
    }
    SyncFolder(ParentFolder(path));
    if (keepBackup)
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
        ::unlink(file->tempPath.c_str());
        file.reset();
    }
    // The old file never left its place, so only its second name goes.
    if (keepBackup && !backupName.empty())
        ::unlink(backupName.c_str());
}

} // namespace cardmill
