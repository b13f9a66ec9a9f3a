#include "model/sound/MSoundFile.h"

#include <gtest/gtest.h>

namespace cardmill {
namespace {

SampleFormat F(
    std::uint8_t bytes, std::uint8_t channels, bool little, bool unsigned8, std::uint16_t channel)
{
    return { bytes, channels, little, unsigned8, channel };
}

struct ConverterCase {
    const char* name;
    SampleFormat format;
    std::vector<std::uint8_t> input;
    std::vector<std::uint16_t> words;
};

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

INSTANTIATE_TEST_SUITE_P(Table, Converter,
    ::testing::Values(ConverterCase { "Unsigned8Mono", F(1, 1, true, true, 0), { 0x00, 0x80, 0xFF },
                          { 0x8000, 0x0000, 0x7F00 } },
        ConverterCase { "Unsigned8First", F(1, 2, true, true, 1), { 0x10, 0xF0, 0x80, 0x81 },
            { 0x9000, 0x0000 } },
        ConverterCase { "Unsigned8Second", F(1, 2, true, true, 2), { 0x10, 0xF0, 0x80, 0x81 },
            { 0x7000, 0x0100 } },
        ConverterCase { "Unsigned8Mix", F(1, 2, true, true, 0), { 0x10, 0xF0, 0x80, 0x81, 0, 0 },
            { 0x0000, 0x0080, 0x8000 } },
        ConverterCase { "Signed8Mono", F(1, 1, false, false, 0), { 0x7F, 0x80, 0x01 },
            { 0x7F00, 0x8000, 0x0100 } },
        ConverterCase { "Signed8Second", F(1, 2, false, false, 2), { 0x01, 0xFE }, { 0xFE00 } },
        ConverterCase { "Signed8Mix", F(1, 2, false, false, 0), { 0x7F, 0x7F, 0x80, 0x80 },
            { 0x7F00, 0x8000 } },
        ConverterCase {
            "Big16Mono", F(2, 1, false, false, 0), { 0x12, 0x34, 0xFE, 0xDC }, { 0x1234, 0xFEDC } },
        ConverterCase {
            "Big16First", F(2, 2, false, false, 1), { 0x12, 0x34, 0x56, 0x78 }, { 0x1234 } },
        ConverterCase { "Big16Mix", F(2, 2, false, false, 0),
            { 0x7F, 0xFF, 0x7F, 0xFF, 0x80, 0x00, 0xFF, 0xFF }, { 0x7FFF, 0xBFFF } },
        ConverterCase { "Little16Mono", F(2, 1, true, false, 0), { 0x34, 0x12, 0xDC, 0xFE },
            { 0x1234, 0xFEDC } },
        ConverterCase {
            "Little16Second", F(2, 2, true, false, 2), { 0x01, 0x00, 0x02, 0x00 }, { 0x0002 } },
        ConverterCase {
            "Little16Mix", F(2, 2, true, false, 0), { 0x00, 0x10, 0x00, 0x30 }, { 0x2000 } },
        ConverterCase { "Big24Mono", F(3, 1, false, false, 0),
            { 0x12, 0x34, 0x56, 0x80, 0x00, 0x01 }, { 0x1234, 0x8000 } },
        ConverterCase { "Big24Second", F(3, 2, false, false, 2), { 1, 2, 3, 4, 5, 6 }, { 0x0405 } },
        ConverterCase { "Little24Mono", F(3, 1, true, false, 0), { 0x56, 0x34, 0x12 }, { 0x1234 } },
        ConverterCase {
            "Little24First", F(3, 2, true, false, 1), { 0x56, 0x34, 0x12, 0, 0, 0 }, { 0x1234 } },
        ConverterCase { "Little24Mix", F(3, 2, true, false, 0),
            { 0x00, 0x00, 0x80, 0xFF, 0xFF, 0xFF }, { 0xBFFF } },
        ConverterCase {
            "Little32Mono", F(4, 1, true, false, 0), { 0x78, 0x56, 0x34, 0x12 }, { 0x1234 } },
        ConverterCase {
            "Big32Second", F(4, 2, false, false, 2), { 1, 2, 3, 4, 5, 6, 7, 8 }, { 0x0506 } },
        ConverterCase {
            "Big32Mix", F(4, 2, false, false, 0), { 0x10, 0, 0, 0, 0x20, 0, 0, 0 }, { 0x1800 } }),
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

} // namespace
} // namespace cardmill
