#include "model/FileRecord.h"

#include "model/TextFields.h"

#include <algorithm>

namespace cardmill {

namespace {

constexpr std::size_t kNameOffset = 10;
constexpr std::size_t kVolumeOffset = 74;
constexpr std::size_t kModDateOffset = 102;
constexpr std::size_t kCreatorOffset = 106;
constexpr std::size_t kFlagsOffset = 110;
constexpr std::size_t kPathOffset = 112;
// The extras, after the volume label's length byte: a mark, a byte of flags, then big-endian
// numbers: the two tunings (16 bits each), the size and digest of the file (64 bits each).
constexpr std::size_t kExtrasOffset = kVolumeOffset + 1;
constexpr std::string_view kExtrasMark = "CMx1";
constexpr std::uint8_t kTuned = 1, kFingerprinted = 2;
constexpr std::size_t kExtrasBytes = 4 + 1 + 2 + 2 + 8 + 8;
static_assert(kExtrasBytes < FileRecord::kVolumeField);

std::optional<FileRecord> ReadHead(const ByteReader& bytes)
{
    if (bytes.Size() < FileRecord::kOldSize)
        return std::nullopt;
    FileRecord record;
    for (std::size_t i = 0; i < 4; ++i) {
        record.fileType[i] = *bytes.U8At(i);
        record.creator[i] = *bytes.U8At(kCreatorOffset + i);
    }
    record.volumeRef = static_cast<std::int16_t>(*bytes.U16At(4, Endian::Little));
    record.directoryId = *bytes.U32At(6, Endian::Little);
    record.name = ReadLengthPrefixed(bytes, kNameOffset, FileRecord::kNameField);
    record.volumeName = ReadLengthPrefixed(bytes, kVolumeOffset, FileRecord::kVolumeField);
    record.modDate = *bytes.U32At(kModDateOffset, Endian::Little);
    record.fileFlags = *bytes.U16At(kFlagsOffset, Endian::Little);
    if (record.volumeName.empty() && bytes.HasCodeAt(kExtrasOffset, kExtrasMark)) {
        const ByteReader extras = *bytes.SubAt(kExtrasOffset + 4, kExtrasBytes - 4);
        const std::uint8_t flags = *extras.U8At(0);
        record.extras.tuned = flags & kTuned;
        if (record.extras.tuned) {
            record.extras.fineTune = static_cast<std::int16_t>(*extras.U16At(1, Endian::Big));
            record.extras.paramByte2 = static_cast<std::int16_t>(*extras.U16At(3, Endian::Big));
        }
        if (flags & kFingerprinted)
            record.extras.fingerprint
                = FileFingerprint { *extras.ReadAt<std::uint64_t>(5, Endian::Big),
                      *extras.ReadAt<std::uint64_t>(13, Endian::Big) };
    }
    return record;
}

} // namespace

bool FileRecord::Storable() const
{
    return FitsLengthPrefixed(name, kNameField) && FitsLengthPrefixed(volumeName, kVolumeField)
        && FitsLengthPrefixed(path, kPathField);
}

void FileRecord::WriteStored(ByteWriter& out) const
{
    out.Append(fileType);
    out.U16(static_cast<std::uint16_t>(volumeRef), Endian::Little);
    out.U32(directoryId, Endian::Little);
    WriteLengthPrefixed(out, name, kNameField);
    if ((extras.tuned || extras.fingerprint) && volumeName.empty()) {
        const FileFingerprint fingerprint = extras.fingerprint.value_or(FileFingerprint {});
        out.U8(0).Append(kExtrasMark);
        out.U8(static_cast<std::uint8_t>(
            (extras.tuned ? kTuned : 0) | (extras.fingerprint ? kFingerprinted : 0)));
        out.U16(static_cast<std::uint16_t>(extras.fineTune), Endian::Big)
            .U16(static_cast<std::uint16_t>(extras.paramByte2), Endian::Big);
        out.Write(fingerprint.size, Endian::Big).Write(fingerprint.digest, Endian::Big);
        out.Fill(kVolumeField - 1 - kExtrasBytes);
    } else {
        WriteLengthPrefixed(out, volumeName, kVolumeField);
    }
    out.U32(modDate, Endian::Little);
    out.Append(creator);
    out.U16(fileFlags, Endian::Little);
    WriteLengthPrefixed(out, path, kPathField);
}

std::optional<FileRecord> FileRecord::ReadStored(const ByteReader& bytes)
{
    if (bytes.Size() < kSize)
        return std::nullopt;
    auto record = ReadHead(bytes);
    if (record)
        record->path = ReadLengthPrefixed(bytes, kPathOffset, kPathField);
    return record;
}

std::optional<FileRecord> FileRecord::ReadOld(const ByteReader& bytes)
{
    auto record = ReadHead(bytes);
    if (record)
        record->path = record->name;
    return record;
}

std::string StoredFileName(std::string_view storedPath)
{
    const auto cut = storedPath.find_last_of("\\/:");
    return std::string(cut == std::string_view::npos ? storedPath : storedPath.substr(cut + 1));
}

} // namespace cardmill
