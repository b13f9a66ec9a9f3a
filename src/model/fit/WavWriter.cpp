#include "model/fit/WavWriter.h"

#include "platform/ByteWriter.h"

namespace cardmill {

std::vector<std::uint8_t> BuildWav16(std::span<const std::int16_t> frames, unsigned channels,
    std::uint32_t rate, const SampleParams& params, const FitOrigin* origin)
{
    constexpr auto le = Endian::Little;
    const auto dataBytes = static_cast<std::uint32_t>(frames.size() * 2);
    const std::uint32_t loops = params.looping ? 1 : 0;
    const std::uint32_t samplerBytes = 36 + 24 * loops;
    const std::vector<std::uint8_t> originChunk
        = origin ? FitOriginChunk(*origin) : std::vector<std::uint8_t> {};
    ByteWriter out;
    out.Append("RIFF")
        .U32(static_cast<std::uint32_t>(
                 4 + (8 + 16) + (8 + samplerBytes) + originChunk.size() + (8 + dataBytes)),
            le)
        .Append("WAVE");
    const auto blockAlign = static_cast<std::uint16_t>(2 * channels);
    out.Append("fmt ").U32(16, le).U16(1, le).U16(static_cast<std::uint16_t>(channels), le);
    out.U32(rate, le).U32(rate * blockAlign, le).U16(blockAlign, le).U16(16, le);
    // The fraction of a semitone above the root, in 1/2^32: only a tuning upwards fits.
    const std::uint32_t fraction = params.fineTune > 0
        ? static_cast<std::uint32_t>((std::uint64_t(params.fineTune) << 22) / 25)
        : 0;
    out.Append("smpl").U32(samplerBytes, le).U32(0, le).U32(0, le);
    out.U32(rate > 0 ? 1000000000u / rate : 0, le).U32(params.rootKey, le).U32(fraction, le);
    out.U32(0, le).U32(0, le).U32(loops, le).U32(0, le);
    if (loops)
        out.U32(0, le)
            .U32(0, le)
            .U32(params.loopStart, le)
            .U32(params.loopEnd, le)
            .U32(0, le)
            .U32(0, le);
    out.Append(originChunk);
    out.Append("data").U32(dataBytes, le);
    // The data in one piece: a card's worth of frames one write call each took most of an unpack.
    std::vector<std::uint8_t> bytes = out.Take();
    const std::size_t head = bytes.size();
    bytes.resize(head + dataBytes);
    std::uint8_t* data = bytes.data() + head;
    for (std::size_t i = 0; i < frames.size(); ++i) {
        const auto sample = static_cast<std::uint16_t>(frames[i]);
        data[2 * i] = static_cast<std::uint8_t>(sample & 0xFF);
        data[2 * i + 1] = static_cast<std::uint8_t>(sample >> 8);
    }
    return bytes;
}

} // namespace cardmill
