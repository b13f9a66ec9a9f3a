#include "model/instrument/MInstFile.h"

#include "model/TextFields.h"
#include "platform/ByteWriter.h"

#include <algorithm>

namespace cardmill {

std::string MInstFile::GetInfoLine3() const
{
    if (sampleBytes == kHiddenSampleBytes)
        return {};
    return Format("%lu sample bytes", static_cast<unsigned long>(sampleBytes));
}

bool MInstFile::RestoreFromRecord(const ByteReader& record)
{
    const auto time = record.U32At(384, Endian::Big);
    const auto byte14 = record.U8At(390);
    const auto byte15 = record.U8At(391);
    if (!time || !byte14 || !byte15)
        return false;
    changeTime = *time;
    voiceByte14 = *byte14;
    voiceByte15 = *byte15;
    return true;
}

void MInstFile::WriteVoiceHead(std::span<std::uint8_t> voice, std::uint8_t b) const
{
    if (voice.size() < kVoiceHeaderBytes)
        return;
    voice[0] = static_cast<std::uint8_t>(category <= 7 ? category + 0x10 : category + 0x2F);
    voice[1] = b;
    ByteWriter name;
    WriteBlankFilled(name, shortName, 10);
    std::copy(name.Bytes().begin(), name.Bytes().end(), voice.begin() + 2);
    voice[12] = static_cast<std::uint8_t>(groupCount - 1);
    voice[13] = static_cast<std::uint8_t>(groupSize - 1);
    voice[14] = static_cast<std::uint8_t>(voiceByte14);
    voice[15] = static_cast<std::uint8_t>(voiceByte15);
}

void MInstFile::WriteVoiceHeader(std::span<std::uint8_t>& cursor, std::uint8_t b)
{
    const std::size_t size = std::min<std::size_t>(GetVoiceHeaderSize(), cursor.size());
    WriteVoiceHead(cursor.first(size), b);
    cursor = cursor.subspan(size);
}

void MInstFile::CopyInstFrom(const MInstFile& other)
{
    CopyReadableFrom(other);
    groupCount = other.groupCount;
    sampleBytes = other.sampleBytes;
    channel = other.channel;
    groupSize = other.groupSize;
    voiceByte14 = other.voiceByte14;
    voiceByte15 = other.voiceByte15;
    isStereo = other.isStereo;
    hasStartOffset = other.hasStartOffset;
    smoothing = other.smoothing;
    changeTime = other.changeTime;
}

std::string StereoHalfName(const std::string& shortName, char letter)
{
    std::string name = shortName;
    if (name.size() < MReadableFile::kShortNameLimit)
        name += letter;
    else
        name[MReadableFile::kShortNameLimit - 1] = letter;
    return name;
}

} // namespace cardmill
