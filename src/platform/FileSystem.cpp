#include "FileSystem.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <map>
#include <mutex>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

namespace cardmill {

std::optional<FileStatus> StatFile(const std::string& path)
{
    if (path.empty())
        return std::nullopt;
    struct stat info { };
    if (::stat(path.c_str(), &info) != 0)
        return std::nullopt;
    FileStatus status;
    status.size = static_cast<std::uint64_t>(info.st_size);
    status.modified = static_cast<std::int64_t>(info.st_mtime);
    status.regular = S_ISREG(info.st_mode);
    status.directory = S_ISDIR(info.st_mode);
    return status;
}

bool CanOpenForReading(const std::string& path)
{
    const auto status = StatFile(path);
    if (!status || !status->regular)
        return false;
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file)
        return false;
    std::fclose(file);
    return true;
}

std::string FileNameOf(std::string_view path)
{
    const auto slash = path.find_last_of('/');
    return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

std::string FolderOf(std::string_view path)
{
    const auto slash = path.find_last_of('/');
    return slash == std::string_view::npos ? std::string() : std::string(path.substr(0, slash + 1));
}

std::string ParentFolder(std::string_view path)
{
    std::string folder = FolderOf(path);
    while (folder.size() > 1 && folder.back() == '/')
        folder.pop_back();
    return folder;
}

std::string AbsolutePath(const std::string& path)
{
    if (path.empty() || path.front() == '/')
        return path;
    std::error_code error;
    auto absolute = std::filesystem::absolute(path, error);
    if (error)
        return path;
    return absolute.lexically_normal().string();
}

bool MakeFolders(const std::string& folder)
{
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    return std::filesystem::is_directory(folder, error);
}

bool SameFile(const std::string& a, const std::string& b)
{
    struct stat first {
    }, second {};
    return ::stat(a.c_str(), &first) == 0 && ::stat(b.c_str(), &second) == 0
        && first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

bool RemoveFile(const std::string& path)
{
    return ::unlink(path.c_str()) == 0;
}

void SyncFolder(const std::string& folder)
{
    const int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

bool WriteFileAtomically(const std::string& path, std::span<const std::uint8_t> bytes, bool toDisk)
{
    std::random_device seed;
    const std::string temp = path + ".tmp" + std::to_string(seed() % 1000000);
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    std::size_t written = 0;
    bool ok = true;
    while (ok && written < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + written, bytes.size() - written);
        if (n < 0 && errno == EINTR)
            continue;
        ok = n > 0;
        if (ok)
            written += static_cast<std::size_t>(n);
    }
    ok = ok && (!toDisk || ::fsync(fd) == 0);
    ok = (::close(fd) == 0) && ok;
    if (!ok || ::rename(temp.c_str(), path.c_str()) != 0) {
        ::unlink(temp.c_str());
        return false;
    }
    if (toDisk)
        SyncFolder(ParentFolder(path));
    return true;
}

namespace {

class FileByteStream final : public ByteStream {
public:
    explicit FileByteStream(std::FILE* opened)
        : file(opened)
        , buffer(1 << 16)
    {
        // Sample data is read in small pieces while compiling: a large buffer keeps system calls
        // few. (glibc ignores the size unless it is given the buffer too.)
        std::setvbuf(file, buffer.data(), _IOFBF, buffer.size());
    }
    ~FileByteStream() override { Close(); }

    std::size_t Read(std::span<std::uint8_t> out) override
    {
        if (!file)
            return 0;
        const std::size_t n = std::fread(out.data(), 1, out.size(), file);
        if (n < out.size() && std::ferror(file))
            failed = true;
        return n;
    }
    bool Seek(std::uint64_t offset) override
    {
        if (!file || offset > static_cast<std::uint64_t>(INT64_MAX))
            return false;
        return ::fseeko(file, static_cast<off_t>(offset), SEEK_SET) == 0;
    }
    std::optional<std::uint64_t> Tell() const override
    {
        if (!file)
            return std::nullopt;
        const off_t position = ::ftello(file);
        if (position < 0)
            return std::nullopt;
        return static_cast<std::uint64_t>(position);
    }
    bool Failed() const override { return failed; }
    int Close() override
    {
        if (!file)
            return 0;
        const int result = std::fclose(file) == 0 ? 0 : errno;
        file = nullptr;
        return result;
    }

private:
    std::FILE* file;
    std::vector<char> buffer;
    bool failed = false;
};

class MemoryByteStream final : public ByteStream {
public:
    explicit MemoryByteStream(std::shared_ptr<const std::vector<std::uint8_t>> data)
        : bytes(std::move(data))
    {
    }
    std::size_t Read(std::span<std::uint8_t> out) override
    {
        if (position >= bytes->size())
            return 0;
        const std::size_t n = std::min<std::uint64_t>(out.size(), bytes->size() - position);
        std::copy_n(bytes->begin() + static_cast<std::ptrdiff_t>(position), n, out.begin());
        position += n;
        return n;
    }
    bool Seek(std::uint64_t offset) override
    {
        position = offset;
        return true;
    }
    std::optional<std::uint64_t> Tell() const override { return position; }
    bool Failed() const override { return false; }
    int Close() override { return 0; }

private:
    std::shared_ptr<const std::vector<std::uint8_t>> bytes;
    std::uint64_t position = 0;
};

} // namespace

std::unique_ptr<ByteStream> ByteStream::OpenFile(const std::string& path, int& error)
{
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) {
        error = errno;
        return nullptr;
    }
    error = 0;
    return std::make_unique<FileByteStream>(file);
}

std::unique_ptr<ByteStream> ByteStream::OpenMemory(
    std::shared_ptr<const std::vector<std::uint8_t>> bytes)
{
    return std::make_unique<MemoryByteStream>(std::move(bytes));
}

std::optional<std::vector<std::uint8_t>> ReadWholeFile(const std::string& path, std::uint64_t limit)
{
    const auto status = StatFile(path);
    if (!status || !status->regular || status->size > limit)
        return std::nullopt;
    int error = 0;
    auto stream = ByteStream::OpenFile(path, error);
    if (!stream)
        return std::nullopt;
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(status->size));
    if (stream->Read(bytes) != bytes.size() || stream->Failed())
        return std::nullopt;
    return bytes;
}

namespace {

constexpr std::uint64_t kFnvPrime = 0x100000001b3ULL;

std::uint64_t LittleEndianWord(const std::uint8_t* bytes)
{
    std::uint64_t word = 0;
    std::memcpy(&word, bytes, sizeof word);
    if constexpr (std::endian::native == std::endian::big)
        word = __builtin_bswap64(word);
    return word;
}

/// A file's size and date to the nanosecond: while they stay, its bytes are taken to be the same.
struct FileStamp {
    std::uint64_t size = 0;
    std::int64_t seconds = 0;
    long nanoseconds = 0;
    bool operator==(const FileStamp&) const = default;
};

std::optional<FileStamp> StampOf(const std::string& path)
{
    struct stat info { };
    if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
        return std::nullopt;
    return FileStamp { static_cast<std::uint64_t>(info.st_size),
        static_cast<std::int64_t>(info.st_mtim.tv_sec), info.st_mtim.tv_nsec };
}

// The loader's worker thread and the window's thread both ask.
std::mutex fingerprintsGuard;
std::map<std::string, std::pair<FileStamp, FileFingerprint>> fingerprints;

} // namespace

void Digester::Add(std::span<const std::uint8_t> bytes)
{
    std::size_t at = 0;
    for (; at + kBlock <= bytes.size(); at += kBlock)
        for (std::size_t lane = 0; lane < lanes.size(); ++lane)
            lanes[lane]
                = (lanes[lane] ^ LittleEndianWord(bytes.data() + at + 8 * lane)) * kFnvPrime;
    for (; at < bytes.size(); ++at)
        tail = (tail ^ bytes[at]) * kFnvPrime;
}

std::uint64_t Digester::Finish() const
{
    std::uint64_t hash = tail;
    for (const std::uint64_t lane : lanes)
        hash = (hash ^ lane) * kFnvPrime;
    return hash;
}

FileFingerprint FingerprintOf(std::span<const std::uint8_t> bytes)
{
    Digester digest;
    digest.Add(bytes);
    return { bytes.size(), digest.Finish() };
}

std::optional<FileFingerprint> FingerprintOf(const std::string& path)
{
    const std::string absolute = AbsolutePath(path);
    const auto stamp = StampOf(absolute);
    if (!stamp)
        return std::nullopt;
    {
        const std::lock_guard lock(fingerprintsGuard);
        const auto known = fingerprints.find(absolute);
        if (known != fingerprints.end() && known->second.first == *stamp)
            return known->second.second;
    }
    int error = 0;
    auto stream = ByteStream::OpenFile(absolute, error);
    if (!stream)
        return std::nullopt;
    FileFingerprint fingerprint;
    Digester digest;
    std::vector<std::uint8_t> buffer(std::size_t { 1 } << 16);
    for (bool more = true; more;) {
        // Whole buffers, whatever a read gives, until the end.
        std::size_t filled = 0;
        while (filled < buffer.size()) {
            const std::size_t got = stream->Read(std::span(buffer).subspan(filled));
            if (got == 0)
                break;
            filled += got;
        }
        more = filled == buffer.size();
        digest.Add(std::span(buffer).first(filled));
        fingerprint.size += filled;
    }
    fingerprint.digest = digest.Finish();
    if (stream->Failed() || fingerprint.size != stamp->size)
        return std::nullopt;
    const std::lock_guard lock(fingerprintsGuard);
    fingerprints[absolute] = { *stamp, fingerprint };
    return fingerprint;
}

void RememberFingerprint(const std::string& path, const FileFingerprint& fingerprint)
{
    const std::string absolute = AbsolutePath(path);
    const auto stamp = StampOf(absolute);
    if (!stamp || stamp->size != fingerprint.size)
        return;
    const std::lock_guard lock(fingerprintsGuard);
    fingerprints[absolute] = { *stamp, fingerprint };
}

} // namespace cardmill
