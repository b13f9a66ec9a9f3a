#pragma once

#include "model/sound/MSoundFile.h"

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace cardmill {

/// The lowest and highest 16-bit value of each channel over equal runs of frames ("buckets"),
/// enough to draw a waveform at any width up to the bucket count without reading the file
/// again. Values are the top 16 bits of each sample, as the card converters take them.
struct WaveOverview {
    int channels = 1;
    std::uint32_t frames = 0;
    std::uint32_t framesPerBucket = 1;
    std::size_t buckets = 0;
    /// Per channel, then per bucket: [channel * buckets + bucket].
    std::vector<std::int16_t> minima;
    std::vector<std::int16_t> maxima;

    std::int16_t Min(int channel, std::size_t bucket) const
    {
        return minima[static_cast<std::size_t>(channel) * buckets + bucket];
    }
    std::int16_t Max(int channel, std::size_t bucket) const
    {
        return maxima[static_cast<std::size_t>(channel) * buckets + bucket];
    }
};

/// Builds an overview from sample data handed over in pieces of whole frames, so a file can be
/// read in blocks and a test or benchmark can feed memory.
class WaveOverviewBuilder {
public:
    /// `format.channel` is ignored: every channel of the data is kept. At most `maxBuckets`
    /// buckets, fewer for short samples (a bucket never holds less than one frame).
    WaveOverviewBuilder(const SampleFormat& format, std::uint32_t frames, std::size_t maxBuckets);

    std::size_t FrameBytes() const { return frameBytes; }
    /// Takes the next frames; a trailing part frame is ignored.
    void Add(std::span<const std::uint8_t> data);
    /// The overview; buckets never reached (data shorter than announced) stay flat at 0.
    WaveOverview Finish();

private:
    SampleFormat format;
    std::size_t frameBytes;
    WaveOverview overview;
    std::uint64_t frameAt = 0;
};

/// The overview of a sound's data read from its file, or nothing when the file can't be read
/// or holds more than two channels.
std::optional<WaveOverview> BuildWaveOverview(const MSoundFile& sound, std::size_t maxBuckets);

} // namespace cardmill
