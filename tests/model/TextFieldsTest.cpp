#include "model/TextFields.h"

#include <gtest/gtest.h>

namespace cardmill {
namespace {

TEST(TextFields, CompactNameRemovesBlanksCapitalisingThenCuts)
{
    EXPECT_EQ(CompactName("Piano", 10), "Piano");
    EXPECT_EQ(CompactName("Electric Piano 2", 10), "ElectricPi");
    EXPECT_EQ(CompactName("grand piano cee3", 10), "grandPiano");
    EXPECT_EQ(CompactName("Grand Piano.wav", 10), "GrandPiano");
    EXPECT_EQ(CompactName("kick.wav", 10), "kick.wav");
    EXPECT_EQ(CompactName("short one   ", 10), "short one");
    // Only as many blanks go as needed: "a b c d e f" (11) loses one.
    EXPECT_EQ(CompactName("a b c d e f", 10), "aB c d e f");
    EXPECT_EQ(CompactName("x 1 2", 3), "x12");
}

TEST(TextFields, LengthPrefixedAndBlankFilledFields)
{
    ByteWriter out;
    WriteLengthPrefixed(out, "abc", 6);
    WriteBlankFilled(out, "toolongname", 4);
    WriteBlankFilled(out, "ab", 4);
    const std::vector<std::uint8_t> expected { 3, 'a', 'b', 'c', 0, 0, 't', 'o', 'o', 'l', 'a', 'b',
        ' ', ' ' };
    EXPECT_EQ(out.Bytes(), expected);

    // A length byte larger than its field is limited to the field.
    const std::uint8_t damaged[] = { 200, 'x', 'y', 'z' };
    EXPECT_EQ(ReadLengthPrefixed(ByteReader(damaged), 0, 4), "xyz");
    EXPECT_EQ(ReadLengthPrefixed(ByteReader(damaged), 0, 40), "");
    EXPECT_TRUE(FitsLengthPrefixed(std::string(255, 'p'), 260));
    EXPECT_FALSE(FitsLengthPrefixed(std::string(256, 'p'), 260));
    EXPECT_FALSE(FitsLengthPrefixed("toolong", 6));
}

TEST(TextFields, ExtensionMatchNeedsSomethingBeforeIt)
{
    EXPECT_TRUE(EndsWithExtension("x.WAV", ".wav"));
    EXPECT_TRUE(EndsWithExtension("/a/b.Aif", ".aif"));
    EXPECT_FALSE(EndsWithExtension(".wav", ".wav"));
    EXPECT_FALSE(EndsWithExtension("/sounds/.wav", ".wav"));
    EXPECT_FALSE(EndsWithExtension("x.wave", ".wav"));
    EXPECT_FALSE(EndsWithExtension("x_wav", ".wav"));
}

} // namespace
} // namespace cardmill
