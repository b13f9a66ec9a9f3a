#include "model/sound/WaveOverview.h"

#include "platform/FileSystem.h"

#include <algorithm>
#include <limits>

namespace cardmill {

namespace {

template <int Bytes, bool Little, bool Unsigned> inline int Top16(const std::uint8_t* s)
{
    if constexpr (Bytes == 1)
        return Unsigned ? (s[0] - 128) * 256 : static_cast<std::int8_t>(s[0]) * 256;
    else if constexpr (Little)
        return static_cast<std::int16_t>((s[Bytes - 1] << 8) | s[Bytes - 2]);
    else
        return static_cast<std::int16_t>((s[0] << 8) | s[1]);
}

/// Folds `count` frames starting at frame `first` into the buckets. Kept as one tight loop per
/// bucket so the minimum and maximum stay in registers.
template <int Bytes, bool Little, bool Unsigned>
void Fold(const std::uint8_t* data, std::size_t count, std::uint64_t first, WaveOverview& o)
{
    const int channels = o.channels;
    const std::size_t frameBytes = static_cast<std::size_t>(Bytes) * channels;
    std::size_t i = 0;
    while (i < count) {
        const std::uint64_t frame = first + i;
        const std::size_t bucket = std::min<std::size_t>(
            static_cast<std::size_t>(frame / o.framesPerBucket), o.buckets - 1);
        const std::uint64_t bucketEnd = bucket + 1 == o.buckets
            ? std::numeric_limits<std::uint64_t>::max()
            : (bucket + 1) * std::uint64_t { o.framesPerBucket };
        const std::size_t run
            = static_cast<std::size_t>(std::min<std::uint64_t>(count - i, bucketEnd - frame));
        for (int c = 0; c < channels; ++c) {
            const std::uint8_t* s = data + i * frameBytes + static_cast<std::size_t>(c) * Bytes;
            const std::size_t at = static_cast<std::size_t>(c) * o.buckets + bucket;
            int lo = o.minima[at];
            int hi = o.maxima[at];
            for (std::size_t k = 0; k < run; ++k, s += frameBytes) {
                const int v = Top16<Bytes, Little, Unsigned>(s);
                lo = std::min(lo, v);
                hi = std::max(hi, v);
            }
            o.minima[at] = static_cast<std::int16_t>(lo);
            o.maxima[at] = static_cast<std::int16_t>(hi);
        }
        i += run;
    }
}

} // namespace

WaveOverviewBuilder::WaveOverviewBuilder(
    const SampleFormat& sampleFormat, std::uint32_t frames, std::size_t maxBuckets)
    : format(sampleFormat)
    , frameBytes(static_cast<std::size_t>(sampleFormat.bytesPerSample) * sampleFormat.channelCount)
{
    overview.channels = std::max(1, int { format.channelCount });
    overview.frames = frames;
    overview.buckets = std::max<std::size_t>(1, std::min<std::size_t>(maxBuckets, frames));
    overview.framesPerBucket = static_cast<std::uint32_t>(std::max<std::uint64_t>(
        1, (std::uint64_t { frames } + overview.buckets - 1) / overview.buckets));
    // Buckets of whole frames may leave the last ones empty: drop them.
    overview.buckets = std::max<std::size_t>(1,
        static_cast<std::size_t>(
            (std::uint64_t { frames } + overview.framesPerBucket - 1) / overview.framesPerBucket));
    const std::size_t cells = overview.buckets * static_cast<std::size_t>(overview.channels);
    overview.minima.assign(cells, std::numeric_limits<std::int16_t>::max());
    overview.maxima.assign(cells, std::numeric_limits<std::int16_t>::min());
}

void WaveOverviewBuilder::Add(std::span<const std::uint8_t> data)
{
    if (frameBytes == 0)
        return;
    std::size_t count = data.size() / frameBytes;
    if (frameAt + count > overview.frames)
        count = static_cast<std::size_t>(
            overview.frames - std::min<std::uint64_t>(frameAt, overview.frames));
    if (count == 0)
        return;
    const std::uint8_t* bytes = data.data();
    const bool little = format.littleEndian;
    switch (format.bytesPerSample) {
    case 1:
        format.unsigned8 ? Fold<1, true, true>(bytes, count, frameAt, overview)
                         : Fold<1, true, false>(bytes, count, frameAt, overview);
        break;
    case 2:
        little ? Fold<2, true, false>(bytes, count, frameAt, overview)
               : Fold<2, false, false>(bytes, count, frameAt, overview);
        break;
    case 3:
        little ? Fold<3, true, false>(bytes, count, frameAt, overview)
               : Fold<3, false, false>(bytes, count, frameAt, overview);
        break;
    default:
        return;
    }
    frameAt += count;
}

WaveOverview WaveOverviewBuilder::Finish()
{
    for (std::size_t i = 0; i < overview.minima.size(); ++i) {
        if (overview.minima[i] > overview.maxima[i])
            overview.minima[i] = overview.maxima[i] = 0;
    }
    return std::move(overview);
}

std::optional<WaveOverview> BuildWaveOverview(const MSoundFile& sound, std::size_t maxBuckets)
{
    const SampleFormat format = sound.DataFormat();
    if (format.channelCount < 1 || format.channelCount > 2 || format.bytesPerSample < 1
        || format.bytesPerSample > 3)
        return std::nullopt;
    auto stream = sound.OpenSampleData();
    if (!stream)
        return std::nullopt;
    WaveOverviewBuilder builder(format, sound.GetFrameCount(), maxBuckets);
    // Blocks of whole frames, large enough that the system call costs nothing.
    const std::size_t blockFrames = (std::size_t { 1 } << 20) / builder.FrameBytes();
    std::vector<std::uint8_t> buffer(blockFrames * builder.FrameBytes());
    std::uint64_t left = std::uint64_t { sound.GetFrameCount() } * builder.FrameBytes();
    while (left > 0) {
        const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(left, buffer.size()));
        const std::size_t got = stream->Read(std::span(buffer).first(want));
        builder.Add(std::span<const std::uint8_t>(buffer).first(got));
        if (got != want)
            break; // a file shorter than its header says: the rest stays flat
        left -= got;
    }
    stream->Close();
    return builder.Finish();
}

} // namespace cardmill
