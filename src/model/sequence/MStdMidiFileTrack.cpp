#include "model/sequence/MStdMidiFileTrack.h"

#include <algorithm>

namespace cardmill {

namespace {

constexpr std::size_t kChunkHeader = 8;
/// A tempo event's microseconds per quarter note: its first three bytes, big-endian.
constexpr std::uint64_t kTempoBytes = 3;

/// A variable-length quantity at the reader's cursor; on failure the cursor stays where it was.
std::optional<std::uint64_t> VariableLengthAt(ByteReader& in)
{
    const std::size_t start = in.Position();
    std::uint64_t value = 0;
    for (;;) {
        const auto byte = in.U8();
        if (!byte) {
            in.Seek(start);
            return std::nullopt;
        }
        // No length limit: bits shifted out of 64 are lost, as a 32-bit reader would lose them.
        value = (value << 7) | (*byte & 0x7F);
        if (*byte < 0x80)
            return value;
    }
}

} // namespace

void MStdMidiFileTrack::SetChunk(std::optional<std::vector<std::uint8_t>> bytes)
{
    chunk = std::move(bytes);
    reader = ByteReader();
    nextEventTime = 0;
    endTime = 0;
    runningStatus = 0;
    ended = false;
    if (!chunk)
        return;
    reader = ByteReader(*chunk).From(kChunkHeader).value_or(ByteReader());
    if (!ReadDelta())
        End(nextEventTime);
}

void MStdMidiFileTrack::Restore(const Cursor& cursor)
{
    reader.Seek(cursor.position);
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
    return reader.U8();
}

std::optional<std::uint64_t> MStdMidiFileTrack::ReadVariableLength()
{
    return VariableLengthAt(reader);
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
    ByteReader event = ByteReader(*chunk).From(kChunkHeader).value_or(ByteReader());
    // Only the first event counts: skip its delta time, then a text, copyright or name event.
    while (event.U8At(event.Position()).value_or(0) >= 0x80)
        event.Skip(1);
    if (!event.Skip(1) || event.U8() != 0xFF)
        return false;
    const auto type = event.U8();
    if (!type || *type < 1 || *type > 3)
        return false;
    // The length is a variable-length quantity like every meta event's; a name that stops short
    // of it keeps the bytes there are.
    const auto length = VariableLengthAt(event);
    if (!length)
        return false;
    const std::size_t count
        = static_cast<std::size_t>(std::min<std::uint64_t>(*length, event.Remaining()));
    const auto text = event.Bytes(count);
    name.assign(text->begin(), text->end());
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
    // The next `length` bytes of the chunk, or nothing when the chunk ends first.
    const auto body = [&](std::uint64_t length) -> std::optional<ByteReader> {
        if (length > reader.Remaining())
            return std::nullopt;
        return reader.Take(static_cast<std::size_t>(length));
    };
    const auto first = NextByte();
    if (!first)
        return truncated();

    if (*first == 0xF0 || *first == 0xF7) {
        runningStatus = 0;
        const auto length = ReadVariableLength();
        const auto data = length ? body(*length) : std::nullopt;
        if (!data)
            return truncated();
        if (*first == 0xF0) {
            event.kind = MidiEvent::Kind::SystemExclusive;
            event.sysex = data->Data();
        }
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
        const auto length = ReadVariableLength();
        auto data = length ? body(*length) : std::nullopt;
        if (!data)
            return truncated();
        // A tempo event longer than three bytes keeps the rest of the track in step; one shorter
        // carries no tempo and is skipped like any other meta event.
        if (*type == 0x51 && *length >= kTempoBytes) {
            const auto high = data->U8();
            const auto low = data->U16(Endian::Big);
            event.kind = MidiEvent::Kind::Tempo;
            event.tempo = (std::uint32_t { *high } << 16) | *low;
        }
    } else if (*first >= 0xF1) {
        // System common: F1 and F3 carry one data byte, F2 two, the others none.
        const std::size_t skip = *first == 0xF2 ? 2 : (*first == 0xF1 || *first == 0xF3) ? 1 : 0;
        if (!reader.Skip(skip))
            return truncated();
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
