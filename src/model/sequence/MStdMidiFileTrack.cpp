#include "model/sequence/MStdMidiFileTrack.h"

namespace cardmill {

namespace {

constexpr std::size_t kChunkHeader = 8;

} // namespace

void MStdMidiFileTrack::SetChunk(std::optional<std::vector<std::uint8_t>> bytes)
{
    chunk = std::move(bytes);
    position = kChunkHeader;
    nextEventTime = 0;
    endTime = 0;
    runningStatus = 0;
    ended = false;
    if (!chunk) {
        position = 0;
        return;
    }
    if (!ReadDelta())
        End(nextEventTime);
}

void MStdMidiFileTrack::Restore(const Cursor& cursor)
{
    position = cursor.position;
    nextEventTime = cursor.nextEventTime;
    runningStatus = cursor.runningStatus;
    ended = cursor.ended;
    endTime = cursor.endTime;
}

void MStdMidiFileTrack::End(std::optional<std::uint64_t> atTime)
{
    ended = true;
    if (atTime)
        endTime = *atTime;
}

std::optional<std::uint8_t> MStdMidiFileTrack::NextByte()
{
    if (!chunk || position >= chunk->size())
        return std::nullopt;
    return (*chunk)[position++];
}

std::optional<std::uint64_t> MStdMidiFileTrack::ReadVariableLength()
{
    std::uint64_t value = 0;
    for (;;) {
        const auto byte = NextByte();
        if (!byte)
            return std::nullopt;
        // No length limit: bits shifted out of 64 are lost, as a 32-bit reader would lose them.
        value = (value << 7) | (*byte & 0x7F);
        if (*byte < 0x80)
            return value;
    }
}

bool MStdMidiFileTrack::ReadDelta()
{
    const auto delta = ReadVariableLength();
    if (!delta)
        return false;
    nextEventTime += *delta;
    return true;
}

bool MStdMidiFileTrack::GetName(std::string& name) const
{
    name.clear();
    if (!chunk)
        return false;
    const std::vector<std::uint8_t>& bytes = *chunk;
    std::size_t at = kChunkHeader;
    while (at < bytes.size() && bytes[at] >= 0x80)
        ++at;
    ++at; // the delta time's last byte
    if (at + 2 >= bytes.size() || bytes[at] != 0xFF || bytes[at + 1] < 1 || bytes[at + 1] > 3)
        return false;
    const std::size_t length = bytes[at + 2];
    const std::size_t start = at + 3;
    const std::size_t available = bytes.size() > start ? bytes.size() - start : 0;
    name.assign(bytes.begin() + static_cast<std::ptrdiff_t>(start),
        bytes.begin() + static_cast<std::ptrdiff_t>(start + std::min(length, available)));
    return true;
}

MidiEvent MStdMidiFileTrack::ParseEvent()
{
    MidiEvent event;
    const auto truncated = [&] {
        event.kind = MidiEvent::Kind::Truncated;
        End(nextEventTime);
        return event;
    };
    const auto first = NextByte();
    if (!first)
        return truncated();

    if (*first == 0xF0 || *first == 0xF7) {
        runningStatus = 0;
        const auto length = ReadVariableLength();
        if (!length || *length > chunk->size() - position)
            return truncated();
        if (*first == 0xF0) {
            event.kind = MidiEvent::Kind::SystemExclusive;
            event.sysex = std::span<const std::uint8_t>(*chunk).subspan(position, *length);
        }
        position += *length;
    } else if (*first == 0xFF) {
        runningStatus = 0;
        const auto type = NextByte();
        if (!type)
            return truncated();
        if (*type == 0x2F) {
            event.kind = MidiEvent::Kind::EndOfTrack;
            End(nextEventTime);
            return event;
        }
        if (*type == 0x51) {
            const auto length = NextByte();
            if (!length || chunk->size() - position < 3)
                return truncated();
            const std::uint8_t* tempo = chunk->data() + position;
            event.kind = MidiEvent::Kind::Tempo;
            event.tempo
                = (std::uint32_t { tempo[0] } << 16) | (std::uint32_t { tempo[1] } << 8) | tempo[2];
            position += 3;
        } else {
            const auto length = ReadVariableLength();
            if (!length || *length > chunk->size() - position)
                return truncated();
            position += *length;
        }
    } else if (*first >= 0xF1) {
        // System common: F1 and F3 carry one data byte, F2 two, the others none.
        const std::size_t skip = *first == 0xF2 ? 2 : (*first == 0xF1 || *first == 0xF3) ? 1 : 0;
        if (chunk->size() - position < skip)
            return truncated();
        position += skip;
    } else {
        std::uint8_t data1 = *first;
        if (*first >= 0x80) {
            runningStatus = *first;
            event.explicitStatus = true;
            const auto byte = NextByte();
            if (!byte)
                return truncated();
            data1 = *byte;
        } else if (runningStatus == 0) {
            event.kind = MidiEvent::Kind::Orphan;
            End(std::nullopt);
            return event;
        }
        event.kind = MidiEvent::Kind::Channel;
        event.status = runningStatus;
        event.data1 = data1;
        if (event.HasSecondDataByte()) {
            const auto byte = NextByte();
            if (!byte)
                return truncated();
            event.data2 = *byte;
        }
    }
    if (!ReadDelta()) {
        // The event itself is whole; the track ends with it, at the chunk's end.
        End(nextEventTime);
    }
    return event;
}

} // namespace cardmill
