#include "model/MReadableFile.h"

#include "model/Services.h"
#include "model/TextEncoding.h"
#include "model/TextFields.h"
#include "model/instrument/InstrumentLibrary.h"
#include "platform/Clock.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>

namespace cardmill {

MReadableFile::MReadableFile(Services& sharedServices)
    : services(sharedServices)
{
}

MReadableFile::~MReadableFile()
{
    CloseStream();
}

bool MReadableFile::SetFile(const std::string& path)
{
    CloseStream();
    record = FileRecord {};
    record.path = path;
    record.name = CutText(FileNameOf(path), kNameLimit);
    fileSize = 0;
    lastError = 0;
    readError = 0;
    if (memory) {
        exists = true;
        fileSize = memory->size();
        record.modDate = 0;
        return exists;
    }
    const auto status = StatFile(path);
    exists = status.has_value();
    if (exists) {
        fileSize = status->size;
        record.modDate = SecondsSince1904(status->modified);
    }
    return exists;
}

void MReadableFile::AttachMemory(std::vector<std::uint8_t> bytes)
{
    CloseStream();
    memory = std::make_shared<const std::vector<std::uint8_t>>(std::move(bytes));
}

std::string MReadableFile::GetComment() const
{
    return comment.empty() ? std::string("<no comment>") : comment;
}

std::uint16_t MReadableFile::PreviewStatus(std::uint16_t flags) const
{
    return static_cast<std::uint16_t>((previewLoaded ? 1 : 0) | ((flags & 1) << 1));
}

bool MReadableFile::GetFileRecord(FileRecord& out) const
{
    out = record;
    return exists;
}

std::optional<FileFingerprint> MReadableFile::Fingerprint() const
{
    const std::string file = SplitLibraryPath(record.path).file;
    if (memory && file == record.path)
        return FingerprintOf(*memory);
    return FingerprintOf(file);
}

std::string MReadableFile::GetFileName() const
{
    return FileNameOf(record.path);
}

void MReadableFile::CopyReadableFrom(const MReadableFile& other)
{
    record = other.record;
    exists = other.exists;
    fileSize = other.fileSize;
    lastError = other.lastError;
    comment = other.comment;
    formStart = other.formStart;
    formEnd = other.formEnd;
    noPadding = other.noPadding;
    littleEndian = other.littleEndian;
    category = other.category;
    shortName = other.shortName;
    compiledSize = other.compiledSize;
    memory = other.memory;
    previewLoaded = false;
}

std::unique_ptr<ByteStream> MReadableFile::OpenSecondStream() const
{
    if (!exists)
        return nullptr;
    if (memory)
        return ByteStream::OpenMemory(memory);
    int error = 0;
    return ByteStream::OpenFile(record.path, error);
}

bool MReadableFile::OpenStream()
{
    if (stream)
        return true;
    if (!exists) {
        lastError = ENOENT;
        return false;
    }
    if (memory) {
        stream = ByteStream::OpenMemory(memory);
        return true;
    }
    stream = ByteStream::OpenFile(record.path, lastError);
    if (!stream)
        readError = lastError;
    return stream != nullptr;
}

bool MReadableFile::Read(std::span<std::uint8_t> out)
{
    if (!OpenStream())
        return false;
    const std::size_t n = stream->Read(out);
    if (stream->Failed())
        lastError = readError = EIO;
    return n == out.size() && !stream->Failed();
}

std::optional<std::uint64_t> MReadableFile::Tell()
{
    if (!OpenStream())
        return std::nullopt;
    auto position = stream->Tell();
    if (!position)
        lastError = errno;
    return position;
}

bool MReadableFile::Seek(std::uint64_t offset)
{
    return OpenStream() && stream->Seek(offset);
}

void MReadableFile::CloseStream()
{
    if (stream) {
        lastError = stream->Close();
        stream.reset();
    }
}

namespace {

std::uint32_t Code(const std::uint8_t* bytes)
{
    return (std::uint32_t(bytes[0]) << 24) | (std::uint32_t(bytes[1]) << 16)
        | (std::uint32_t(bytes[2]) << 8) | std::uint32_t(bytes[3]);
}

} // namespace

bool MReadableFile::FindForm(std::uint32_t chunkId, std::uint32_t formType)
{
    const auto start = Tell();
    if (!start)
        return false;
    std::uint8_t head[12];
    if (Read(head) && Code(head) == chunkId && Code(head + 8) == formType) {
        const ByteReader reader(head);
        const std::uint64_t length = *reader.U32At(4, littleEndian ? Endian::Little : Endian::Big);
        formStart = *start + 12;
        formEnd = *start + 8 + length;
        return true;
    }
    Seek(*start);
    return false;
}

std::optional<std::uint64_t> MReadableFile::FindChunk(std::uint32_t chunkId, int index)
{
    std::uint64_t offset = formStart;
    int found = 0;
    for (;;) {
        std::uint8_t head[8];
        if (!Seek(offset) || !Read(head))
            return std::nullopt;
        const ByteReader reader(head);
        const std::uint64_t length = *reader.U32At(4, littleEndian ? Endian::Little : Endian::Big);
        if (Code(head) == chunkId) {
            if (found == index) {
                Seek(offset);
                return length + 8;
            }
            ++found;
        }
        offset += length + 8;
        if (!noPadding && (offset & 1))
            ++offset;
    }
}

std::optional<std::vector<std::uint8_t>> MReadableFile::ReadChunkHead(
    std::uint32_t chunkId, int index, std::size_t maxBytes)
{
    const auto total = FindChunk(chunkId, index);
    if (!total)
        return std::nullopt;
    const auto start = Tell();
    // A chunk's length is never trusted for an allocation larger than what the file holds.
    if (!start || *start > fileSize)
        return std::nullopt;
    const std::uint64_t wanted = std::min<std::uint64_t>(*total, maxBytes);
    if (wanted > fileSize - *start)
        return std::nullopt;
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(wanted));
    if (!Read(bytes))
        return std::nullopt;
    return bytes;
}

std::optional<std::vector<std::uint8_t>> MReadableFile::ReadChunkAsHeld(
    std::uint32_t chunkId, int index)
{
    if (!FindChunk(chunkId, index))
        return std::nullopt;
    const auto start = Tell();
    if (!start || *start > fileSize)
        return std::nullopt;
    return ReadChunkHead(chunkId, index, static_cast<std::size_t>(fileSize - *start));
}

std::optional<std::vector<std::uint8_t>> MReadableFile::ReadChunk(std::uint32_t chunkId, int index)
{
    return ReadChunkHead(chunkId, index, SIZE_MAX);
}

bool MReadableFile::Refuse(std::string reason) const
{
    services.whyNotUnderstood = readError != 0
        ? Format("It can't be read: %s.", std::strerror(readError))
        : std::move(reason);
    return false;
}

void MReadableFile::SetShortName(std::string_view text)
{
    shortName = CompactName(CardCharacters(text), kShortNameLimit);
}

} // namespace cardmill
