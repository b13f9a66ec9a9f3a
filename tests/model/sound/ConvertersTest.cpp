#include "model/sound/MSoundFile.h"
#include "model/sound/WaveOverview.h"

#include <tuple>

#include <gtest/gtest.h>

namespace cardmill {
namespace {

SampleFormat F(int bytes, int channels, bool little, bool unsigned8, std::uint16_t channel)
{
    return { static_cast<std::uint8_t>(bytes), static_cast<std::uint8_t>(channels), little,
        unsigned8, channel };
}

struct ConverterCase {
    const char* name;
    SampleFormat format;
    std::vector<std::uint8_t> input;
    std::vector<std::uint16_t> words;
};
using C = ConverterCase;

class Converter : public ::testing::TestWithParam<ConverterCase> { };

// The plain loops are pinned here; the vector loops are held to them below.
TEST_P(Converter, PlainLoopsGiveTheExactCardWords)
{
    const ConverterCase& c = GetParam();
    std::vector<std::uint8_t> buffer(2 * c.words.size() + 1, 0xEE);
    const SampleConverter convert = ChooseConverter(c.format, VectorUnits::kNone);
    ASSERT_NE(convert, nullptr);
    convert(c.input.data(), buffer.data(), c.words.size());
    std::vector<std::uint16_t> words;
    for (std::size_t i = 0; i < c.words.size(); ++i)
        words.push_back(static_cast<std::uint16_t>((buffer[2 * i] << 8) | buffer[2 * i + 1]));
    EXPECT_EQ(words, c.words);
    EXPECT_EQ(buffer.back(), 0xEE) << "wrote past the end";
}

// F(bytes, channels, little-endian, unsigned 8-bit, channel: 0 mix, 1 first, 2 second)
INSTANTIATE_TEST_SUITE_P(Table, Converter,
    ::testing::Values(
        C { "Unsigned8Mono", F(1, 1, 1, 1, 0), { 0, 0x80, 0xFF }, { 0x8000, 0, 0x7F00 } },
        C { "Unsigned8First", F(1, 2, 1, 1, 1), { 0x10, 0xF0, 0x80, 0x81 }, { 0x9000, 0 } },
        C { "Unsigned8Second", F(1, 2, 1, 1, 2), { 0x10, 0xF0, 0x80, 0x81 }, { 0x7000, 0x0100 } },
        C { "Unsigned8Mix", F(1, 2, 1, 1, 0), { 0x10, 0xF0, 0x80, 0x81, 0, 0 },
            { 0, 0x80, 0x8000 } },
        C { "Signed8Mono", F(1, 1, 0, 0, 0), { 0x7F, 0x80, 0x01 }, { 0x7F00, 0x8000, 0x0100 } },
        C { "Signed8Second", F(1, 2, 0, 0, 2), { 0x01, 0xFE }, { 0xFE00 } },
        C { "Signed8Mix", F(1, 2, 0, 0, 0), { 0x7F, 0x7F, 0x80, 0x80 }, { 0x7F00, 0x8000 } },
        C { "Big16Mono", F(2, 1, 0, 0, 0), { 0x12, 0x34, 0xFE, 0xDC }, { 0x1234, 0xFEDC } },
        C { "Big16First", F(2, 2, 0, 0, 1), { 0x12, 0x34, 0x56, 0x78 }, { 0x1234 } },
        C { "Big16Mix", F(2, 2, 0, 0, 0), { 0x7F, 0xFF, 0x7F, 0xFF, 0x80, 0, 0xFF, 0xFF },
            { 0x7FFF, 0xBFFF } },
        C { "Little16Mono", F(2, 1, 1, 0, 0), { 0x34, 0x12, 0xDC, 0xFE }, { 0x1234, 0xFEDC } },
        C { "Little16Second", F(2, 2, 1, 0, 2), { 0x01, 0, 0x02, 0 }, { 0x0002 } },
        C { "Little16Mix", F(2, 2, 1, 0, 0), { 0, 0x10, 0, 0x30 }, { 0x2000 } },
        C { "Big24Mono", F(3, 1, 0, 0, 0), { 0x12, 0x34, 0x56, 0x80, 0, 0x01 },
            { 0x1234, 0x8000 } },
        C { "Big24Second", F(3, 2, 0, 0, 2), { 1, 2, 3, 4, 5, 6 }, { 0x0405 } },
        C { "Little24Mono", F(3, 1, 1, 0, 0), { 0x56, 0x34, 0x12 }, { 0x1234 } },
        C { "Little24First", F(3, 2, 1, 0, 1), { 0x56, 0x34, 0x12, 0, 0, 0 }, { 0x1234 } },
        C { "Little24Mix", F(3, 2, 1, 0, 0), { 0, 0, 0x80, 0xFF, 0xFF, 0xFF }, { 0xBFFF } },
        C { "Little32Mono", F(4, 1, 1, 0, 0), { 0x78, 0x56, 0x34, 0x12 }, { 0x1234 } },
        C { "Big32Second", F(4, 2, 0, 0, 2), { 1, 2, 3, 4, 5, 6, 7, 8 }, { 0x0506 } },
        C { "Big32Mix", F(4, 2, 0, 0, 0), { 0x10, 0, 0, 0, 0x20, 0, 0, 0 }, { 0x1800 } }),
    [](const auto& tested) { return std::string(tested.param.name); });

TEST(Converter, EveryVectorLoopMatchesThePlainLoopAtEveryLengthAndAlignment)
{
    std::vector<std::uint8_t> noise(4096 + 64);
    std::uint32_t x = 2463534242u;
    for (auto& byte : noise) {
        x ^= x << 13, x ^= x >> 17, x ^= x << 5;
        byte = static_cast<std::uint8_t>(x);
    }
    // Extremes too, where a sum or a shift could overflow.
    for (std::size_t i = 0; i < 256; ++i)
        noise[i] = i % 4 < 2 ? 0x80 : 0x7F;
    int compared = 0;
    for (const VectorUnits units : { VectorUnits::kSse2, VectorUnits::kAvx2 })
        for (std::uint8_t bytes = 1; bytes <= 4; ++bytes)
            for (std::uint8_t channels = 1; channels <= 2; ++channels)
                for (const bool little : { true, false })
                    for (const bool unsigned8 : { true, false })
                        for (std::uint16_t channel = 0; channel <= (channels == 2 ? 2 : 0);
                             ++channel) {
                            const SampleFormat f = F(bytes, channels, little, unsigned8, channel);
                            const SampleConverter vector = ChooseConverter(f, units);
                            if ((unsigned8 && bytes != 1) || vector == nullptr)
                                continue; // not in this build or on this processor
                            const SampleConverter plain = ChooseConverter(f, VectorUnits::kNone);
                            ++compared;
                            // Lengths around the vector steps and their tails, at odd addresses.
                            for (std::size_t frames : { 1, 7, 8, 15, 16, 17, 33, 63, 64, 100, 511 })
                                for (std::size_t offset : { 0, 1, 5 }) {
                                    std::vector<std::uint8_t> want(2 * frames + 2, 0xEE);
                                    std::vector<std::uint8_t> got = want;
                                    plain(noise.data() + offset, want.data() + 1, frames);
                                    vector(noise.data() + offset, got.data() + 1, frames);
                                    ASSERT_EQ(got, want)
                                        << "units " << static_cast<int>(units) << ", "
                                        << int { bytes } << " bytes, " << int { channels }
                                        << " channels, little " << little << ", unsigned "
                                        << unsigned8 << ", channel " << channel << ", " << frames
                                        << " frames at +" << offset;
                                }
                        }
#if defined(__SSE2__)
    EXPECT_GT(compared, 0); // every x86-64 build has the SSE2 loops
#endif
    EXPECT_EQ(ChooseConverter(F(5, 1, true, false, 0)), nullptr); // no sample is wider than 4
}

using Extremes = std::vector<std::int16_t>;

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
    WaveOverviewBuilder builder(F(2, 2, true, false, 0), 6, 3);
    builder.Add(std::span(bytes).first(4));
    builder.Add(std::span(bytes).subspan(4));
    const WaveOverview o = builder.Finish();
    ASSERT_EQ(o.buckets, 3u);
    EXPECT_EQ(o.minima, (Extremes { -200, 50, 1, -5, -32768, 1 }));
    EXPECT_EQ(o.maxima, (Extremes { 100, 300, 32767, 7, 0, 2 }));
}

TEST(WaveOverview, ShortDataStaysFlatFewFramesMakeFewBucketsAndEverySizeTakesItsTop16Bits)
{
    WaveOverviewBuilder builder(F(2, 1, true, false, 0), 3, 4096);
    builder.Add(std::vector<std::uint8_t> { 0x00, 0x10 }); // one frame of 4096, then nothing
    const WaveOverview o = builder.Finish();
    ASSERT_EQ(o.buckets, 3u);
    EXPECT_EQ(o.minima, (Extremes { 4096, 0, 0 }));
    EXPECT_EQ(o.maxima, (Extremes { 4096, 0, 0 }));

    WaveOverviewBuilder eight(F(1, 1, true, true, 0), 2, 1);
    eight.Add(std::vector<std::uint8_t> { 0x00, 0xFF });
    const WaveOverview o8 = eight.Finish();
    EXPECT_EQ(std::tuple(o8.Min(0, 0), o8.Max(0, 0)), std::tuple(-128 * 256, 127 * 256));
    WaveOverviewBuilder wide(F(3, 1, false, false, 0), 1, 1);
    wide.Add(std::vector<std::uint8_t> { 0x80, 0x01, 0xFF });
    EXPECT_EQ(wide.Finish().Min(0, 0), static_cast<std::int16_t>(0x8001));
}

} // namespace
} // namespace cardmill
