#pragma once

#include "model/FileRecord.h"
#include "platform/FileSystem.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace cardmill {

class Services;

/// Base of every file that can be placed in a project: the description of the file on disk, the
/// comment and short name shown in the lists, the compiled size the card reserves for it, and a
/// small stream layer with the chunk operations of IFF and RIFF files. The bytes come from the
/// file at `path`, or from memory when AttachMemory was called first (tests, fuzzers).
///
/// Kind codes of GetKind: 0 unknown, 1 project file, 2 sound or instrument, 3 sequence, 4 bank.
class MReadableFile {
public:
    static constexpr std::size_t kNameLimit = 63;
    static constexpr std::size_t kCommentLimit = 255;
    static constexpr std::size_t kShortNameLimit = 10;

    explicit MReadableFile(Services& services);
    MReadableFile(const MReadableFile&) = delete;
    MReadableFile& operator=(const MReadableFile&) = delete;
    virtual ~MReadableFile();

    /// Points the object at a file and reads its status; returns whether it exists.
    virtual bool SetFile(const std::string& path);
    /// Makes the next SetFile read these bytes instead of the disk (tests and fuzzers).
    void AttachMemory(std::vector<std::uint8_t> bytes);
    bool IsFile(const std::string& path) const { return path == record.path; }

    virtual bool Deactivate() { return false; }
    virtual std::unique_ptr<MReadableFile> Duplicate() const { return nullptr; }
    virtual std::unique_ptr<MReadableFile> DuplicateActive() const { return Duplicate(); }
    virtual void Activate() { }

    virtual std::string GetFormatName() const { return "unknown format"; }
    virtual std::string GetInfoLine1() const { return {}; }
    virtual std::string GetInfoLine2() const { return {}; }
    virtual std::string GetInfoLine3() const { return {}; }
    /// The comment, or "<no comment>" when there is none.
    std::string GetComment() const;
    const std::string& Comment() const { return comment; }

    virtual bool CanPreview() const { return false; }
    bool IsPreviewLoaded() const { return previewLoaded; }
    bool IsLittleEndian() const { return littleEndian; }
    virtual bool UpdatePreview() { return false; }
    virtual void UnloadPreview() { previewLoaded = false; }
    /// 1 = loading finished, 0 = call again, -1 = failed (the user has been told).
    virtual int LoadStep() { return 1; }
    virtual std::uint16_t PreviewStatus(std::uint16_t flags) const;

    /// Copies the file record; returns whether the file existed when its path was set.
    bool GetFileRecord(FileRecord& out) const;
    const FileRecord& Record() const { return record; }
    bool Exists() const { return exists; }
    std::uint64_t FileSize() const { return fileSize; }
    const std::string& GetPath() const { return record.path; }
    /// What the file holds, to tell it from another file of its name or from a changed copy: of
    /// the library's file for a library's preset or sample, else of the bytes read.
    std::optional<FileFingerprint> Fingerprint() const;
    /// The part of the path after the last separator, or the name of what a file holds of many
    /// (a preset, a sample).
    virtual std::string GetFileName() const;
    void Close() { CloseStream(); }

    // Stream and chunk layer. Offsets are 64-bit: lengths read from a file never wrap.
    bool FindForm(std::uint32_t chunkId, std::uint32_t formType);
    bool OpenStream();
    bool Read(std::span<std::uint8_t> out);
    std::optional<std::uint64_t> Tell();
    bool Seek(std::uint64_t offset);
    void CloseStream();
    /// Finds the index-th chunk (from 0) with this id from the form's start; on success the stream
    /// stands at the chunk's header and the result is its total size (header included).
    std::optional<std::uint64_t> FindChunk(std::uint32_t chunkId, int index);
    /// The whole chunk, header included; nothing when it is missing or runs past the file's end.
    std::optional<std::vector<std::uint8_t>> ReadChunk(std::uint32_t chunkId, int index);
    /// The chunk as far as the file holds it: all of it, or what is left of one that a file cut
    /// short ends inside.
    std::optional<std::vector<std::uint8_t>> ReadChunkAsHeld(std::uint32_t chunkId, int index);
    /// At most `maxBytes` of the chunk from its header on.
    std::optional<std::vector<std::uint8_t>> ReadChunkHead(
        std::uint32_t chunkId, int index, std::size_t maxBytes);

    virtual int GetKind() const { return 0; }
    virtual void SetCategory(std::int16_t) { }
    std::int16_t GetCategory() const { return category; }
    /// Stores the name compacted to 10 characters.
    void SetShortName(std::string_view text);
    const std::string& GetShortName() const { return shortName; }

    /// Recomputes the compiled size; returns whether it changed.
    virtual bool UpdateCompiledSize() { return false; }
    /// The same, spread over calls; true once the size is final.
    virtual bool UpdateCompiledSizeStep(bool /*restart*/) { return true; }
    std::uint32_t GetCompiledSize() const { return compiledSize; }

    Services& GetServices() const { return services; }

protected:
    /// The readable-file part of a copy (Duplicate): the copy starts with its stream closed.
    void CopyReadableFrom(const MReadableFile& other);
    /// Opening fails for a reason the user can act on: kept for the "can't understand" message.
    /// When the file could not be read at all, the system's reason is kept instead (a file
    /// without read permission is no damaged WAV file). Returns false, for `return Refuse("...")`.
    bool Refuse(std::string reason) const;
    /// A stream of its own on the same bytes (preview reads while the main stream is idle).
    std::unique_ptr<ByteStream> OpenSecondStream() const;

    Services& services;
    FileRecord record;
    bool exists = false;
    std::uint64_t fileSize = 0;
    int lastError = 0;
    /// The system's error of the last open or read that failed other than at the end of the data.
    int readError = 0;
    std::string comment;
    bool previewLoaded = false;
    std::uint64_t formStart = 0;
    std::uint64_t formEnd = 0;
    bool noPadding = false;
    bool littleEndian = true;
    std::int16_t category = 0;
    std::string shortName;
    std::uint32_t compiledSize = 0;

private:
    std::unique_ptr<ByteStream> stream;
    std::shared_ptr<const std::vector<std::uint8_t>> memory;
};

} // namespace cardmill
