// The project's part of compiling: the card header, the voice-header table, the addresses of
// the sample data, the sound and sequence steps and the bank areas. The compile engine decides
// the order; each file produces its own data.

#include "model/MProject.h"
#include "model/TextFields.h"
#include "model/bank/MParamFile.h"
#include "model/bank/MParamFileRawSex.h"
#include "model/instrument/MInstFile.h"
#include "model/sequence/MSeqFile.h"
#include "platform/ByteWriter.h"

#include <algorithm>
#include <cstring>

namespace cardmill {

namespace {

int CompileBankArea(const MProject& project, ProgressView& progress, std::span<std::uint8_t> area,
    const std::uint8_t (&mark)[4])
{
    auto* bank = dynamic_cast<MParamFile*>(project.GetItem(MProject::kProgramGroup, 0));
    if (!bank || area.size() < MProject::kBankBytes)
        return -1;
    // The area is the bank's alone: what earlier stages left in the buffer goes.
    std::fill_n(area.begin(), MProject::kBankBytes, 0);
    std::copy(std::begin(mark), std::end(mark), area.begin());
    return bank->CompileBank(progress, area.subspan(4, MProject::kBankBytes - 4));
}

} // namespace

std::optional<std::uint16_t> MProject::TargetOfImage(std::span<const std::uint8_t> image)
{
    const auto starts = [&](std::size_t at, std::span<const std::uint8_t> mark) {
        return image.size() >= at + mark.size()
            && std::equal(
                mark.begin(), mark.end(), image.begin() + static_cast<std::ptrdiff_t>(at));
    };
    if (starts(0, MParamFileRawSex::kZeltaBankMark))
        return kZelta;
    const std::uint8_t header[] = { 0x00, 0x70, 0x38, 0x1C };
    if (!starts(0, header) || image.size() < 8)
        return std::nullopt;
    const std::uint8_t flags = image[4];
    if ((flags & 0x04) != 0 || (flags & 0x10) != 0)
        return kPercula; // a Percula bank, or sequences for a Percula
    if ((flags & 0x02) != 0)
        return kZelta;
    return std::nullopt;
}

int MProject::CompileZeltaBank(ProgressView& progress, std::span<std::uint8_t> buffer)
{
    return CompileBankArea(*this, progress, buffer, MParamFileRawSex::kZeltaBankMark);
}

int MProject::CompilePerculaBank(ProgressView& progress, std::span<std::uint8_t> buffer)
{
    return CompileBankArea(*this, progress, buffer, MParamFileRawSex::kPerculaBankMark);
}

std::uint64_t MProject::GetGroupVoiceTableBytes(int group) const
{
    std::uint64_t bytes = 0;
    for (int index = 0; index < CountItems(group); ++index)
        if (const auto* voice = dynamic_cast<const MInstFile*>(GetItem(group, index)))
            bytes += voice->GetVoiceHeaderSize();
    return bytes;
}

std::uint64_t MProject::GetVoiceTableBytes() const
{
    std::uint64_t bytes = kCardHeaderBytes;
    for (int group = 0; group < kSoundGroups; ++group)
        bytes += GetGroupVoiceTableBytes(group);
    return bytes;
}

std::uint64_t MProject::AssignSampleAddresses(std::uint64_t firstWordAddress)
{
    std::uint64_t address = firstWordAddress;
    for (int group = 0; group < kSoundGroups; ++group)
        for (int index = 0; index < CountItems(group); ++index)
            if (auto* voice = dynamic_cast<MInstFile*>(GetItem(group, index)))
                address = voice->AssignCardAddress(address);
    return address;
}

void MProject::BuildCardHeader(std::span<std::uint8_t> buffer) const
{
    // The card's size field holds the image's words in 32 bits, its top bits flags.
    auto size = static_cast<std::uint32_t>(totalBytes / 2);
    if (HasPerculaBank())
        size |= 0x04000000;
    if (HasSequences())
        size |= target == kPercula ? 0x10000000 : 0x02000000;
    ByteWriter header;
    header.U8(0x00).U8(0x70).U8(0x38).U8(0x1C);
    header.U32(size, Endian::Big);
    header.U16(static_cast<std::uint16_t>(CountSoundItems()), Endian::Big);
    WriteBlankFilled(header, cardName, 10);
    WriteBlankFilled(header, version, 4);
    for (const std::string& name : groupNames)
        WriteBlankFilled(header, name.substr(0, 6), 6);
    for (int i = 0; i < 3; ++i)
        header.Append("WinCM ");
    std::copy_n(header.Bytes().begin(), std::min(header.Size(), buffer.size()), buffer.begin());
}

void MProject::WriteVoiceHeaders(std::span<std::uint8_t> buffer)
{
    std::span<std::uint8_t> cursor
        = buffer.subspan(std::min<std::size_t>(kCardHeaderBytes, buffer.size()));
    for (int group = 0; group < kSoundGroups; ++group)
        for (int index = 0; index < CountItems(group); ++index)
            if (auto* voice = dynamic_cast<MInstFile*>(GetItem(group, index)))
                voice->WriteVoiceHeader(cursor, static_cast<std::uint8_t>(index + 1));
}

void MProject::BeginSounds()
{
    compileGroup = 0;
    compileItem = 0;
    compileItemFirst = true;
    while (compileGroup < kSoundGroups && CountItems(compileGroup) == 0)
        ++compileGroup;
}

int MProject::SoundStep(
    ProgressView& progress, std::uint32_t& words, std::span<std::uint8_t> destination)
{
    if (compileGroup >= kSoundGroups) {
        words = 0;
        return 1;
    }
    if (compileItemFirst) {
        compileVoice = dynamic_cast<MInstFile*>(GetItem(compileGroup, compileItem));
        if (!compileVoice) {
            words = 0;
            return -1;
        }
        compileItemFirst = false;
        compileVoice->BeginCompile(progress);
    }
    const int result = compileVoice->CompileChunk(progress, words, destination);
    if (result != 1)
        return result;
    compileItemFirst = true;
    if (++compileItem < CountItems(compileGroup))
        return 0;
    compileItem = 0;
    do
        ++compileGroup;
    while (compileGroup < kSoundGroups && CountItems(compileGroup) == 0);
    return compileGroup >= kSoundGroups ? 1 : 0;
}

void MProject::BeginSequences()
{
    compileItem = 0;
    sequenceOffset = 0;
    sequenceTable.fill(0);
    sequenceTable[0] = sequenceAreaAddress;
}

int MProject::SequenceStep(
    ProgressView& progress, std::uint32_t& length, std::span<std::uint8_t> destination)
{
    length = 0;
    if (compileItem < CountItems(kSequenceGroup)) {
        auto* sequence = dynamic_cast<MSeqFile*>(GetItem(kSequenceGroup, compileItem));
        if (!sequence)
            return -1;
        const auto data = sequence->CompiledSequence(progress, sequenceOffset == 0);
        // A sequence longer than the room left in the buffer is handed out in pieces.
        const std::size_t piece
            = std::min<std::size_t>(data.size() - sequenceOffset, destination.size());
        std::memcpy(destination.data(), data.data() + sequenceOffset, piece);
        length = static_cast<std::uint32_t>(piece);
        sequenceOffset += length;
        if (sequenceOffset < data.size())
            return 0;
        const auto entry = static_cast<std::size_t>(compileItem);
        sequenceTable[entry] |= std::uint32_t { static_cast<std::uint8_t>(sequence->GetOutPort()) }
            << 24;
        if (++compileItem < static_cast<int>(sequenceTable.size()))
            sequenceTable[entry + 1]
                = (sequenceTable[entry] & 0x00FFFFFF) + static_cast<std::uint32_t>(data.size() / 2);
        sequenceOffset = 0;
        return 0;
    }
    ByteWriter table;
    for (int i = 0; i < static_cast<int>(sequenceTable.size()); ++i)
        table.U32(i < compileItem ? sequenceTable[static_cast<std::size_t>(i)] : 0, Endian::Big);
    if (destination.size() < table.Size())
        return -1;
    std::copy(table.Bytes().begin(), table.Bytes().end(), destination.begin());
    length = static_cast<std::uint32_t>(table.Size());
    return 1;
}

} // namespace cardmill
