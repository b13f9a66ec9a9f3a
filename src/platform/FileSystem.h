#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace cardmill {

struct FileStatus {
    std::uint64_t size = 0;
    std::int64_t modified = 0; // POSIX seconds
    bool regular = false;
    bool directory = false;
};

/// The status of a path, or nothing when it cannot be read (missing, no permission).
std::optional<FileStatus> StatFile(const std::string& path);
bool CanOpenForReading(const std::string& path);

/// The part after the last "/" of a host path (all of it when there is none).
std::string FileNameOf(std::string_view path);
/// The part up to and including the last "/" of a host path (empty when there is none).
std::string FolderOf(std::string_view path);
/// The folder of a path without its trailing separator, for creating it.
std::string ParentFolder(std::string_view path);
/// A relative path made absolute against the current folder; others unchanged.
std::string AbsolutePath(const std::string& path);
bool MakeFolders(const std::string& folder);
/// True when both paths name one existing file (the same device and inode), however spelled.
bool SameFile(const std::string& a, const std::string& b);
bool RemoveFile(const std::string& path);

/// Writes a whole file through a temporary file in the same folder, flushed to disk, that
/// replaces the target only when complete; on failure the target is left as it was. With
/// `toDisk` false nothing waits for the disk: a power cut may then bring back the file as it was
/// before, but never a part of the new one on a journalling file system.
bool WriteFileAtomically(
    const std::string& path, std::span<const std::uint8_t> bytes, bool toDisk = true);
/// Flushes a folder's entries (after a rename) to disk.
void SyncFolder(const std::string& folder);

/// Sequential binary reading with seek, over a file on disk or over bytes in memory (tests and
/// fuzzers use the same readers through the memory form). Reads never go past the real end.
class ByteStream {
public:
    virtual ~ByteStream() = default;
    /// Reads up to out.size() bytes; returns how many were read.
    virtual std::size_t Read(std::span<std::uint8_t> out) = 0;
    virtual bool Seek(std::uint64_t offset) = 0;
    virtual std::optional<std::uint64_t> Tell() const = 0;
    /// True after a read failed for another reason than the end of the data.
    virtual bool Failed() const = 0;
    /// Closes; returns 0 or the system's error code.
    virtual int Close() = 0;

    /// Opens a file for binary reading; nothing (and `error` set) on failure.
    static std::unique_ptr<ByteStream> OpenFile(const std::string& path, int& error);
    static std::unique_ptr<ByteStream> OpenMemory(
        std::shared_ptr<const std::vector<std::uint8_t>> bytes);
};

/// The 64-bit digest of a fingerprint: FNV-1a over 8-byte words in four lanes, so that four
/// multiplications run at once (a byte at a time took a third of an unpack's time). Fed in
/// pieces, each piece but the last must be a multiple of kBlock bytes, so that the digest does not
/// depend on how the bytes came.
class Digester {
public:
    static constexpr std::size_t kBlock = 32;
    void Add(std::span<const std::uint8_t> bytes);
    std::uint64_t Finish() const;

private:
    static constexpr std::uint64_t kOffset = 0xcbf29ce484222325ULL;
    std::array<std::uint64_t, 4> lanes { kOffset, kOffset + 1, kOffset + 2, kOffset + 3 };
    std::uint64_t tail = kOffset;
};

/// What tells one file's contents from another's: its size and a 64-bit digest of its bytes.
struct FileFingerprint {
    std::uint64_t size = 0;
    std::uint64_t digest = 0;
    bool operator==(const FileFingerprint&) const = default;
};
/// The fingerprint of bytes in memory.
FileFingerprint FingerprintOf(std::span<const std::uint8_t> bytes);
/// The fingerprint of a regular file, read once while the file keeps its size and date (a
/// project of many sounds is saved often); nothing when it can't be read.
std::optional<FileFingerprint> FingerprintOf(const std::string& path);
/// A fingerprint known from elsewhere (a record that names the file with its date) taken as the
/// file's while its size and date stay as they are now, so that it need not be read.
void RememberFingerprint(const std::string& path, const FileFingerprint& fingerprint);

/// Reads a whole file, refusing files larger than `limit` bytes.
std::optional<std::vector<std::uint8_t>> ReadWholeFile(
    const std::string& path, std::uint64_t limit);

} // namespace cardmill
