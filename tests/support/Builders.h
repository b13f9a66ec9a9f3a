#pragma once

#include "platform/ByteReader.h"
#include "platform/ByteWriter.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace cardmill::test {

using Bytes = std::vector<std::uint8_t>;

/// A chunked file: a form header ("RIFF"/"FORM"/...) and chunks, lengths in the given byte
/// order, odd chunks padded unless told otherwise.
class FormBuilder {
public:
    FormBuilder(std::string formId, std::string formType, Endian order, bool pad = true);
    FormBuilder& Chunk(const std::string& id, const Bytes& body);
    /// A chunk whose length field claims `claimed` bytes while only `body` follows.
    FormBuilder& ChunkClaiming(const std::string& id, std::uint32_t claimed, const Bytes& body);
    Bytes Build() const;

private:
    std::string id, type;
    Endian order;
    bool padded;
    Bytes body;
};

/// One RIFF chunk: its id, its length (little-endian), its body, a pad byte after an odd body.
inline Bytes RiffChunk(std::string_view id, const Bytes& body)
{
    ByteWriter out;
    out.Append(id).U32(static_cast<std::uint32_t>(body.size()), Endian::Little).Append(body);
    out.Fill(body.size() & 1);
    return out.Take();
}

struct WavLoop {
    std::uint32_t type = 0;
    std::uint32_t start = 0;
    std::uint32_t end = 0;
};

/// A WAV file: WavBuilder().Format(1, 2, 44100, 16).Frames(1000).Smpl(60, 0, {...}).Build()
class WavBuilder {
public:
    WavBuilder& Format(
        std::uint16_t tag, std::uint16_t channels, std::uint32_t rate, std::uint16_t bits);
    /// Sample data: `frames` frames of a ramp, or the bytes given.
    WavBuilder& Frames(std::uint32_t frames);
    WavBuilder& Data(const Bytes& bytes);
    WavBuilder& Smpl(
        std::uint32_t unityNote, std::uint32_t pitchFraction, const std::vector<WavLoop>& loops);
    /// The data chunk claims this many bytes more than it holds.
    WavBuilder& DataClaimsExtra(std::uint32_t extra);
    Bytes Build() const;
    std::uint16_t FrameBytes() const;

private:
    std::uint16_t tag = 1, channels = 1, bits = 16;
    std::uint32_t rate = 44100;
    Bytes data;
    bool hasSmpl = false;
    std::uint32_t unity = 60, fraction = 0;
    std::vector<WavLoop> loops;
    std::uint32_t claimExtra = 0;
};

struct AiffMarker {
    std::uint16_t id;
    std::uint32_t position;
    std::string name;
};

struct AiffLoop {
    std::uint16_t playMode = 0;
    std::uint16_t begin = 0;
    std::uint16_t end = 0;
};

/// An AIFF file with COMM, SSND and optionally INST, MARK, COMT, APPL.
class AiffBuilder {
public:
    AiffBuilder& Format(std::uint16_t channels, std::uint16_t bits, double rate);
    AiffBuilder& Frames(std::uint32_t frames);
    AiffBuilder& Data(const Bytes& bytes, std::uint32_t frames);
    /// The COMM frame count differs from the data held.
    AiffBuilder& ClaimFrames(std::uint32_t frames);
    AiffBuilder& SoundOffset(std::uint32_t offset);
    AiffBuilder& Inst(std::uint8_t baseNote, std::int8_t detune, std::int16_t gain,
        AiffLoop sustain, AiffLoop release);
    AiffBuilder& Markers(const std::vector<AiffMarker>& markers);
    AiffBuilder& Comment(const std::string& text);
    AiffBuilder& ApplicationText(const std::string& text);
    Bytes Build() const;

private:
    std::uint16_t channels = 1, bits = 16;
    double rate = 44100;
    Bytes data;
    std::uint32_t frames = 0;
    std::int64_t claimedFrames = -1;
    std::uint32_t offset = 0;
    Bytes inst, mark, comt, appl;
};

/// A Sound Designer file: header of 1336 bytes and 16-bit big-endian samples.
class SdBuilder {
public:
    SdBuilder();
    SdBuilder& Rate(std::int32_t rate);
    SdBuilder& Loop(int which, std::int32_t startBytes, std::int32_t endBytes, std::uint8_t mode);
    SdBuilder& Marker(int slot, std::uint32_t positionBytes, const std::string& name);
    SdBuilder& Comment(const std::string& text);
    SdBuilder& DataBytes(std::size_t count);
    Bytes Build() const;

private:
    Bytes header;
    std::size_t dataBytes = 0;
};

} // namespace cardmill::test
