#include "model/sound/WaveOverview.h"

#include <gtest/gtest.h>

namespace cardmill {
namespace {

SampleFormat Format(std::uint8_t bytes, std::uint8_t channels, bool little = true)
{
    SampleFormat format;
    format.bytesPerSample = bytes;
    format.channelCount = channels;
    format.littleEndian = little;
    format.unsigned8 = bytes == 1;
    return format;
}

TEST(WaveOverview, KeepsEachChannelsExtremesPerBucketAcrossPieces)
{
    // Stereo 16-bit little-endian, 6 frames into 3 buckets of 2 frames, fed one frame and then
    // five: a bucket spans the two pieces.
    const std::int16_t frames[6][2]
        = { { 100, -5 }, { -200, 7 }, { 300, 0 }, { 50, -32768 }, { 1, 1 }, { 32767, 2 } };
    std::vector<std::uint8_t> bytes;
    for (const auto& frame : frames)
        for (std::int16_t v : frame) {
            bytes.push_back(static_cast<std::uint8_t>(v));
            bytes.push_back(static_cast<std::uint8_t>(static_cast<std::uint16_t>(v) >> 8));
        }
    WaveOverviewBuilder builder(Format(2, 2), 6, 3);
    builder.Add(std::span(bytes).first(4));
    builder.Add(std::span(bytes).subspan(4));
    const WaveOverview o = builder.Finish();
    ASSERT_EQ(o.buckets, 3u);
    EXPECT_EQ(o.Min(0, 0), -200);
    EXPECT_EQ(o.Max(0, 0), 100);
    EXPECT_EQ(o.Min(1, 1), -32768);
    EXPECT_EQ(o.Max(0, 2), 32767);
    EXPECT_EQ(o.Min(1, 2), 1);
}

TEST(WaveOverview, ShortDataStaysFlatAndFewFramesMakeFewBuckets)
{
    WaveOverviewBuilder builder(Format(2, 1), 3, 4096);
    const std::vector<std::uint8_t> one = { 0x00, 0x10 }; // one frame of 4096, then nothing
    builder.Add(one);
    const WaveOverview o = builder.Finish();
    ASSERT_EQ(o.buckets, 3u);
    EXPECT_EQ(o.Max(0, 0), 4096);
    EXPECT_EQ(o.Min(0, 2), 0);
    EXPECT_EQ(o.Max(0, 2), 0);
}

TEST(WaveOverview, EightBitUnsignedAndTwentyFourBitBigEndianTakeTheirTop16Bits)
{
    WaveOverviewBuilder eight(Format(1, 1), 2, 1);
    eight.Add(std::vector<std::uint8_t> { 0x00, 0xFF });
    const WaveOverview o8 = eight.Finish();
    EXPECT_EQ(o8.Min(0, 0), -128 * 256);
    EXPECT_EQ(o8.Max(0, 0), 127 * 256);

    WaveOverviewBuilder wide(Format(3, 1, false), 1, 1);
    wide.Add(std::vector<std::uint8_t> { 0x80, 0x01, 0xFF });
    const WaveOverview o24 = wide.Finish();
    EXPECT_EQ(o24.Min(0, 0), static_cast<std::int16_t>(0x8001));
}

} // namespace
} // namespace cardmill
