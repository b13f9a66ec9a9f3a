#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace cardmill::test {

using Bytes = std::vector<std::uint8_t>;

/// The events of one track, each after its delta time: TrackBuilder().Note(0, 0x90, 60,
/// 100).End(96)
class TrackBuilder {
public:
    /// Any event bytes after a delta time (status bytes may be left out for running status).
    TrackBuilder& Event(std::uint32_t delta, const Bytes& bytes);
    TrackBuilder& Note(
        std::uint32_t delta, std::uint8_t status, std::uint8_t key, std::uint8_t velocity);
    TrackBuilder& Tempo(std::uint32_t delta, std::uint32_t microsecondsPerQuarter);
    TrackBuilder& SysEx(std::uint32_t delta, const Bytes& bytesAfterF0);
    TrackBuilder& Name(std::uint32_t delta, const std::string& text);
    TrackBuilder& End(std::uint32_t delta);
    const Bytes& Build() const { return bytes; }

private:
    Bytes bytes;
};

/// A standard MIDI file: header, then track chunks (never padded).
Bytes MidiFile(std::uint16_t format, std::uint16_t division, const std::vector<Bytes>& tracks,
    int announcedTracks = -1);

/// One group of the converted stream: the messages that follow a time record, and the time of
/// the group in milliseconds (the sum of the records up to it).
struct DecodedMessage {
    std::uint64_t time;
    Bytes bytes; // a whole channel message (status included) or F0 ... F7
};

struct Decoded {
    std::vector<DecodedMessage> messages;
    std::vector<std::uint32_t> records; // every time record's value, pacing pauses left out
    bool wellFormed = false; // starts with a record, ends with FF 01 00 FE [FE]
};

/// Decodes the card's sequence format, expanding running status and taking out the SysEx pauses
/// (FF 07 00) by following the pacing count from `pacing`.
Decoded DecodeSequence(const Bytes& stream, std::uint32_t pacing = 0);

} // namespace cardmill::test
