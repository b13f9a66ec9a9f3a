#include "model/MSoundFile.h"

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

TEST(Converter, WiderSamplesThanFourBytesHaveNone)
{
    EXPECT_EQ(ChooseConverter(F(5, 1, true, false, 0)), nullptr);
}

} // namespace
} // namespace cardmill
