#include "model/sound/MSoundFile.h"

#include <gtest/gtest.h>

namespace cardmill {
namespace {

struct ConverterCase {
    const char* name;
    SampleFormat format;
    std::vector<std::uint8_t> input;
    std::vector<std::uint16_t> words;
};

class Converter : public ::testing::TestWithParam<ConverterCase> { };

TEST_P(Converter, ProducesTheExactCardWords)
{
    const ConverterCase& c = GetParam();
    std::vector<std::uint8_t> buffer(2 * c.words.size(), 0xEE);
    const SampleConverter convert = ChooseConverter(c.format);
    ASSERT_NE(convert, nullptr);
    convert(c.input.data(), buffer.data(), c.words.size());
    for (std::size_t i = 0; i < c.words.size(); ++i)
        EXPECT_EQ((buffer[2 * i] << 8) | buffer[2 * i + 1], c.words[i]) << "word " << i;
}

SampleFormat F(
    std::uint8_t bytes, std::uint8_t channels, bool little, bool unsigned8, std::uint16_t channel)
{
    return { bytes, channels, little, unsigned8, channel };
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
            "Big32Mix", F(4, 2, false, false, 0), { 0x10, 0, 0, 0, 0x20, 0, 0, 0 }, { 0x1800 } }),
    [](const auto& tested) { return std::string(tested.param.name); });

/// The card word of one frame, straight from the definition: a sample's top 16 bits (an 8-bit
/// sample is its top byte), the chosen channel or the floor of the two channels' mean.
int ReferenceWord(const SampleFormat& f, const std::uint8_t* frame)
{
    const auto sample = [&](int channel) {
        const std::uint8_t* s = frame + channel * f.bytesPerSample;
        if (f.bytesPerSample == 1)
            return (f.unsigned8 ? s[0] - 128 : static_cast<std::int8_t>(s[0])) * 256;
        const int high = f.littleEndian ? s[f.bytesPerSample - 1] : s[0];
        const int low = f.littleEndian ? s[f.bytesPerSample - 2] : s[1];
        return static_cast<std::int16_t>((high << 8) | low) + 0;
    };
    if (f.channelCount == 1)
        return sample(0);
    if (f.channel == 1 || f.channel == 2)
        return sample(f.channel - 1);
    if (f.bytesPerSample == 1)
        return (sample(0) + sample(1)) / 2; // exact: both are multiples of 256
    return (sample(0) + sample(1)) >> 1;
}

/// Every length around the vector loops' steps and their tails, at odd addresses too.
void ExpectReferenceWords(const SampleFormat& f, SampleConverter convert)
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
    const std::size_t frameBytes = std::size_t { f.bytesPerSample } * f.channelCount;
    for (std::size_t frames : { 0, 1, 7, 8, 15, 16, 17, 33, 63, 64, 100, 511 })
        for (std::size_t offset : { 0, 1, 5 }) {
            SCOPED_TRACE(testing::Message() << frames << " frames at +" << offset);
            const std::uint8_t* in = noise.data() + offset;
            ASSERT_LE(offset + frames * frameBytes, noise.size());
            std::vector<std::uint8_t> out(2 * frames + 3, 0xEE);
            convert(in, out.data() + 1, frames);
            ASSERT_EQ(out[0], 0xEE);
            ASSERT_EQ(out[2 * frames + 1], 0xEE) << "wrote past the end";
            for (std::size_t i = 0; i < frames; ++i) {
                const int word = static_cast<std::int16_t>((out[1 + 2 * i] << 8) | out[2 + 2 * i]);
                ASSERT_EQ(word, ReferenceWord(f, in + i * frameBytes)) << "frame " << i;
            }
        }
}

TEST(Converter, EveryFormatOnEveryVectorUnitMatchesTheReference)
{
    for (const VectorUnits units : { VectorUnits::kNone, VectorUnits::kSse2, VectorUnits::kAvx2 })
        for (std::uint8_t bytes = 1; bytes <= 4; ++bytes)
            for (std::uint8_t channels = 1; channels <= 2; ++channels)
                for (const bool little : { true, false })
                    for (const bool unsigned8 : { true, false })
                        for (std::uint16_t channel = 0; channel <= (channels == 2 ? 2 : 0);
                             ++channel) {
                            if (unsigned8 && bytes != 1)
                                continue;
                            const SampleFormat f = F(bytes, channels, little, unsigned8, channel);
                            const SampleConverter convert = ChooseConverter(f, units);
                            if (convert == nullptr) {
                                ASSERT_NE(units, VectorUnits::kNone);
                                continue; // not in this build or on this processor
                            }
                            SCOPED_TRACE(testing::Message()
                                << "units " << static_cast<int>(units) << ", " << int { bytes }
                                << " bytes, " << int { channels } << " channels, little " << little
                                << ", unsigned " << unsigned8 << ", channel " << channel);
                            ExpectReferenceWords(f, convert);
                        }
}

TEST(Converter, WiderSamplesThanFourBytesHaveNone)
{
    EXPECT_EQ(ChooseConverter(F(5, 1, true, false, 0)), nullptr);
}

} // namespace
} // namespace cardmill
