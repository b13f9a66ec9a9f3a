#pragma once

#include "platform/ByteReader.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace cardmill {

/// One event of a track, as the conversion needs it.
struct MidiEvent {
    enum class Kind {
        Channel, // status, data1, data2 (data2 absent for Cn and Dn)
        SystemExclusive,
        Tempo, // microseconds per quarter note
        EndOfTrack,
        Ignored, // escape, other meta events, system common
        Orphan, // a data byte with no running status: the track ends here
        Truncated, // the chunk ends inside the event: the track ends at the chunk's end
    };
    Kind kind = Kind::Ignored;
    std::uint8_t status = 0;
    std::uint8_t data1 = 0;
    std::uint8_t data2 = 0;
    bool explicitStatus = false;
    std::span<const std::uint8_t> sysex; // the event's bytes after F0, its F7 included
    std::uint32_t tempo = 0;

    bool HasSecondDataByte() const { return (status & 0xF0) != 0xC0 && (status & 0xF0) != 0xD0; }
};

/// One "MTrk" chunk of a standard MIDI file, read strictly forward, event by event. Every byte
/// is read through a bounds-checked reader over the chunk's body: a length that points past it,
/// or bytes that end without an end-of-track event, end the track at the chunk's end. Not
/// copyable: the reader looks into the chunk the track owns.
class MStdMidiFileTrack {
public:
    MStdMidiFileTrack() = default;
    MStdMidiFileTrack(const MStdMidiFileTrack&) = delete;
    MStdMidiFileTrack& operator=(const MStdMidiFileTrack&) = delete;

    /// Takes the whole chunk, its 8-byte header included (none to release it).
    void SetChunk(std::optional<std::vector<std::uint8_t>> chunk);
    void FreeChunk() { SetChunk(std::nullopt); }
    bool HasChunk() const { return chunk.has_value(); }
    /// The name of the track's first event when it is a text, copyright or name meta event.
    bool GetName(std::string& name) const;
    /// Parses the event at the read position and reads the next delta time.
    MidiEvent ParseEvent();

    std::uint64_t NextEventTime() const { return nextEventTime; }
    std::uint64_t EndTime() const { return endTime; }
    bool Ended() const { return ended; }
    /// The track needs no further reading; `atTime` records its end time (end of track).
    void End(std::optional<std::uint64_t> atTime);

    /// The reading state, kept aside while the track is pre-sized and put back afterwards.
    struct Cursor {
        std::size_t position = 0;
        std::uint64_t nextEventTime = 0;
        std::uint8_t runningStatus = 0;
        bool ended = false;
        std::uint64_t endTime = 0;
    };
    Cursor Save() const
    {
        return { reader.Position(), nextEventTime, runningStatus, ended, endTime };
    }
    void Restore(const Cursor& cursor);

private:
    std::optional<std::uint8_t> NextByte();
    std::optional<std::uint64_t> ReadVariableLength();
    bool ReadDelta();

    std::optional<std::vector<std::uint8_t>> chunk;
    ByteReader reader; // the chunk's body, after its 8-byte header
    std::uint64_t nextEventTime = 0;
    std::uint64_t endTime = 0;
    std::uint8_t runningStatus = 0;
    bool ended = false;
};

} // namespace cardmill
