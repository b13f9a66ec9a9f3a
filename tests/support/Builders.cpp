#include "Builders.h"

#include <cmath>

namespace cardmill::test {

namespace {

void AppendCode(ByteWriter& out, const std::string& code)
{
    out.Append(code.substr(0, 4));
}

Bytes Pattern(std::size_t count)
{
    Bytes bytes(count);
    for (std::size_t i = 0; i < count; ++i)
        bytes[i] = static_cast<std::uint8_t>(i * 7 + 3);
    return bytes;
}

/// The 80-bit extended form of a sample rate.
Bytes Extended(double rate)
{
    ByteWriter out;
    if (rate <= 0) {
        out.Fill(10);
        return out.Take();
    }
    int exponent = 0;
    const double fraction
        = std::frexp(rate, &exponent); // rate = fraction * 2^exponent, 0.5 <= f < 1
    const auto mantissa = static_cast<std::uint64_t>(std::ldexp(fraction, 64));
    out.U16(static_cast<std::uint16_t>(16383 + exponent - 1), Endian::Big);
    out.U32(static_cast<std::uint32_t>(mantissa >> 32), Endian::Big);
    out.U32(static_cast<std::uint32_t>(mantissa), Endian::Big);
    return out.Take();
}

} // namespace

FormBuilder::FormBuilder(std::string formId, std::string formType, Endian byteOrder, bool pad)
    : id(std::move(formId))
    , type(std::move(formType))
    , order(byteOrder)
    , padded(pad)
{
}

FormBuilder& FormBuilder::Chunk(const std::string& chunkId, const Bytes& chunkBody)
{
    return ChunkClaiming(chunkId, static_cast<std::uint32_t>(chunkBody.size()), chunkBody);
}

FormBuilder& FormBuilder::ChunkClaiming(
    const std::string& chunkId, std::uint32_t claimed, const Bytes& chunkBody)
{
    ByteWriter out;
    AppendCode(out, chunkId);
    out.U32(claimed, order);
    out.Append(chunkBody);
    if (padded && chunkBody.size() % 2)
        out.U8(0);
    body.insert(body.end(), out.Bytes().begin(), out.Bytes().end());
    return *this;
}

Bytes FormBuilder::Build() const
{
    ByteWriter out;
    AppendCode(out, id);
    out.U32(static_cast<std::uint32_t>(body.size() + 4), order);
    AppendCode(out, type);
    out.Append(body);
    return out.Take();
}

WavBuilder& WavBuilder::Format(std::uint16_t formatTag, std::uint16_t channelCount,
    std::uint32_t sampleRate, std::uint16_t bitsPerSample)
{
    tag = formatTag;
    channels = channelCount;
    rate = sampleRate;
    bits = bitsPerSample;
    return *this;
}

std::uint16_t WavBuilder::FrameBytes() const
{
    return static_cast<std::uint16_t>(channels * ((bits + 7) / 8));
}

WavBuilder& WavBuilder::Frames(std::uint32_t frames)
{
    data = Pattern(std::size_t { frames } * FrameBytes());
    return *this;
}

WavBuilder& WavBuilder::Data(const Bytes& bytes)
{
    data = bytes;
    return *this;
}

WavBuilder& WavBuilder::Smpl(
    std::uint32_t unityNote, std::uint32_t pitchFraction, const std::vector<WavLoop>& sampleLoops)
{
    hasSmpl = true;
    unity = unityNote;
    fraction = pitchFraction;
    loops = sampleLoops;
    return *this;
}

WavBuilder& WavBuilder::DataClaimsExtra(std::uint32_t extra)
{
    claimExtra = extra;
    return *this;
}

Bytes WavBuilder::Build() const
{
    FormBuilder form("RIFF", "WAVE", Endian::Little);
    ByteWriter fmt;
    fmt.U16(tag, Endian::Little).U16(channels, Endian::Little).U32(rate, Endian::Little);
    fmt.U32(rate * FrameBytes(), Endian::Little).U16(FrameBytes(), Endian::Little);
    fmt.U16(bits, Endian::Little);
    form.Chunk("fmt ", fmt.Bytes());
    if (hasSmpl) {
        ByteWriter smpl;
        smpl.U32(0, Endian::Little).U32(0, Endian::Little).U32(1000000000 / rate, Endian::Little);
        smpl.U32(unity, Endian::Little).U32(fraction, Endian::Little);
        smpl.U32(0, Endian::Little).U32(0, Endian::Little);
        smpl.U32(static_cast<std::uint32_t>(loops.size()), Endian::Little).U32(0, Endian::Little);
        for (std::size_t i = 0; i < loops.size(); ++i) {
            smpl.U32(static_cast<std::uint32_t>(i), Endian::Little)
                .U32(loops[i].type, Endian::Little);
            smpl.U32(loops[i].start, Endian::Little).U32(loops[i].end, Endian::Little);
            smpl.U32(0, Endian::Little).U32(0, Endian::Little);
        }
        form.Chunk("smpl", smpl.Bytes());
    }
    form.ChunkClaiming("data", static_cast<std::uint32_t>(data.size()) + claimExtra, data);
    return form.Build();
}

AiffBuilder& AiffBuilder::Format(
    std::uint16_t channelCount, std::uint16_t bitsPerSample, double sampleRate)
{
    channels = channelCount;
    bits = bitsPerSample;
    rate = sampleRate;
    return *this;
}

AiffBuilder& AiffBuilder::Frames(std::uint32_t frameCount)
{
    frames = frameCount;
    data = Pattern(std::size_t { frameCount } * channels * ((bits + 7) / 8));
    return *this;
}

AiffBuilder& AiffBuilder::Data(const Bytes& bytes, std::uint32_t frameCount)
{
    data = bytes;
    frames = frameCount;
    return *this;
}

AiffBuilder& AiffBuilder::ClaimFrames(std::uint32_t frameCount)
{
    claimedFrames = frameCount;
    return *this;
}

AiffBuilder& AiffBuilder::SoundOffset(std::uint32_t soundOffset)
{
    offset = soundOffset;
    return *this;
}

AiffBuilder& AiffBuilder::Inst(std::uint8_t baseNote, std::int8_t detune, std::int16_t gain,
    AiffLoop sustain, AiffLoop release)
{
    ByteWriter out;
    out.U8(baseNote).U8(static_cast<std::uint8_t>(detune)).U8(0).U8(127).U8(1).U8(127);
    out.U16(static_cast<std::uint16_t>(gain), Endian::Big);
    for (const AiffLoop& loop : { sustain, release })
        out.U16(loop.playMode, Endian::Big).U16(loop.begin, Endian::Big).U16(loop.end, Endian::Big);
    inst = out.Take();
    return *this;
}

AiffBuilder& AiffBuilder::Markers(const std::vector<AiffMarker>& markers)
{
    ByteWriter out;
    out.U16(static_cast<std::uint16_t>(markers.size()), Endian::Big);
    for (const auto& marker : markers) {
        out.U16(marker.id, Endian::Big).U32(marker.position, Endian::Big);
        out.U8(static_cast<std::uint8_t>(marker.name.size())).Append(marker.name);
        if (marker.name.size() % 2 == 0)
            out.U8(0);
    }
    mark = out.Take();
    return *this;
}

AiffBuilder& AiffBuilder::Comment(const std::string& text)
{
    ByteWriter out;
    out.U16(1, Endian::Big).U32(0, Endian::Big).U16(0, Endian::Big);
    out.U16(static_cast<std::uint16_t>(text.size()), Endian::Big).Append(text);
    comt = out.Take();
    return *this;
}

AiffBuilder& AiffBuilder::ApplicationText(const std::string& text)
{
    ByteWriter out;
    out.Append("Sd2a").Fill(10).U8(static_cast<std::uint8_t>(text.size())).Append(text);
    appl = out.Take();
    return *this;
}

Bytes AiffBuilder::Build() const
{
    FormBuilder form("FORM", "AIFF", Endian::Big);
    ByteWriter comm;
    comm.U16(channels, Endian::Big);
    comm.U32(claimedFrames >= 0 ? static_cast<std::uint32_t>(claimedFrames) : frames, Endian::Big);
    comm.U16(bits, Endian::Big).Append(Extended(rate));
    form.Chunk("COMM", comm.Bytes());
    if (!inst.empty())
        form.Chunk("INST", inst);
    if (!mark.empty())
        form.Chunk("MARK", mark);
    if (!comt.empty())
        form.Chunk("COMT", comt);
    if (!appl.empty())
        form.Chunk("APPL", appl);
    ByteWriter ssnd;
    ssnd.U32(offset, Endian::Big).U32(0, Endian::Big).Fill(offset).Append(data);
    form.Chunk("SSND", ssnd.Bytes());
    return form.Build();
}

SdBuilder::SdBuilder()
    : header(1336, 0)
{
    StoreAt<std::uint16_t>(header, 0, 1336, Endian::Big);
    for (int slot = 0; slot < 10; ++slot)
        header[348 + 40 * static_cast<std::size_t>(slot)] = 0xFF; // unused
    Rate(44100);
}

SdBuilder& SdBuilder::Rate(std::int32_t rate)
{
    StoreAt<std::uint32_t>(header, 1020, static_cast<std::uint32_t>(rate), Endian::Big);
    return *this;
}

SdBuilder& SdBuilder::Loop(
    int which, std::int32_t startBytes, std::int32_t endBytes, std::uint8_t mode)
{
    const std::size_t start = which == 0 ? 752 : 1324;
    StoreAt<std::uint32_t>(header, start, static_cast<std::uint32_t>(startBytes), Endian::Big);
    StoreAt<std::uint32_t>(header, start + 4, static_cast<std::uint32_t>(endBytes), Endian::Big);
    header[which == 0 ? 1332 : 1333] = mode;
    return *this;
}

SdBuilder& SdBuilder::Marker(int slot, std::uint32_t positionBytes, const std::string& name)
{
    const std::size_t at = 348 + 40 * static_cast<std::size_t>(slot);
    header[at] = 0;
    StoreAt<std::uint32_t>(header, at + 2, positionBytes, Endian::Big);
    header[at + 6] = static_cast<std::uint8_t>(name.size());
    std::copy(name.begin(), name.end(), header.begin() + static_cast<std::ptrdiff_t>(at + 7));
    return *this;
}

SdBuilder& SdBuilder::Comment(const std::string& text)
{
    header[763] = static_cast<std::uint8_t>(text.size());
    std::copy(text.begin(), text.end(), header.begin() + 764);
    return *this;
}

SdBuilder& SdBuilder::DataBytes(std::size_t count)
{
    dataBytes = count;
    return *this;
}

Bytes SdBuilder::Build() const
{
    Bytes bytes = header;
    const Bytes data = Pattern(dataBytes);
    bytes.insert(bytes.end(), data.begin(), data.end());
    return bytes;
}

} // namespace cardmill::test
