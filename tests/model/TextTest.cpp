#include "model/TextEncoding.h"
#include "model/TextFields.h"

#include <tuple>

#include <gtest/gtest.h>

namespace cardmill {
namespace {

TEST(TextEncoding, EightBitTextIsReadInTheCharacterSetOfItsWriter)
{
    EXPECT_EQ(DecodeText("\x80 \x93q\x94 \x99", Charset::Windows1252), "€ “q” ™");
    EXPECT_EQ(DecodeText("\xA5\xDB\xF0", Charset::MacRoman), "•€\uF8FF");
    // Text a current program wrote in UTF-8 is kept as it is.
    EXPECT_EQ(DecodeText("Flügel", Charset::MacRoman), "Flügel");
}

TEST(TextEncoding, OnlyWellFormedUtf8IsTakenAsUtf8)
{
    EXPECT_TRUE(IsValidUtf8("plain"));
    EXPECT_TRUE(IsValidUtf8("ピアノ \xF0\x9F\x8E\xB9"));
    // A lead byte without its continuation, an overlong "/", a surrogate, past U+10FFFF, cut
    // short, bytes UTF-8 never uses.
    for (const char* bytes :
        { "\xC3\x28", "\xC0\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80", "ab\xE2\x82", "\xFF\xFE" }) {
        EXPECT_FALSE(IsValidUtf8(bytes)) << bytes;
        EXPECT_TRUE(IsValidUtf8(DisplayText(bytes))) << bytes;
    }
}

TEST(TextEncoding, CuttingNeverSplitsACharacter)
{
    EXPECT_EQ(CutText("Flügel", 3), "Fl");
    EXPECT_EQ(CutText("Flügel", 4), "Flü");
    EXPECT_EQ(CutText("abc", 10), "abc");
    // Bytes that are not UTF-8 are cut where asked.
    EXPECT_EQ(CutText("Fl\xFCgel", 3), "Fl\xFC");
}

TEST(TextEncoding, CardTextHoldsOnlyWhatTheInstrumentShows)
{
    EXPECT_EQ(CardCharacters("Flügel C3"), "Flugel C3");
    EXPECT_EQ(CardCharacters("Straße Œuvre Ærø"), "Strasse OEuvre AEro");
    EXPECT_EQ(CardCharacters("“Pad” – 1…"), "\"Pad\" - 1...");
    // 8-bit text stored by a Windows program reaches the card the same way.
    EXPECT_EQ(CardCharacters("Fl\xFCgel"), "Flugel");
    const CardText card = ToCardText("Koto 琴\t");
    EXPECT_EQ(std::tuple(card.text, card.unshowable), std::tuple("Koto __", "琴\t"));
}

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
    for (const char* name : { ".wav", "/sounds/.wav", "x.wave", "x_wav" })
        EXPECT_FALSE(EndsWithExtension(name, ".wav")) << name;
}

} // namespace
} // namespace cardmill
