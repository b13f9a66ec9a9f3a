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
    WriteLengthPrefixed(out, volumeName, kVolumeField);
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
