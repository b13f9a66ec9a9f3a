#include "model/TextEncoding.h"

#include <gtest/gtest.h>

namespace cardmill {
namespace {

TEST(TextEncoding, EightBitTextIsReadInTheCharacterSetOfItsWriter)
{
    EXPECT_EQ(DecodeText("Sp\xE5r 1", Charset::Windows1252), "Spår 1");
    EXPECT_EQ(DecodeText("\x80 \x93q\x94 \x99", Charset::Windows1252), "€ “q” ™");
    EXPECT_EQ(DecodeText("Fl\x9Fgel d\x8E"
                         "but",
                  Charset::MacRoman),
        "Flügel début");
    EXPECT_EQ(DecodeText("\xA5\xDB\xF0", Charset::MacRoman), "•€\uF8FF");
    // Bytes Windows-1252 leaves undefined still give valid text.
    EXPECT_EQ(DecodeText("a\x81z", Charset::Windows1252), "a\uFFFDz");
    // Text a current program wrote in UTF-8 is kept as it is.
    EXPECT_EQ(DecodeText("Flügel", Charset::MacRoman), "Flügel");
}

TEST(TextEncoding, OnlyWellFormedUtf8IsTakenAsUtf8)
{
    EXPECT_TRUE(IsValidUtf8("plain"));
    EXPECT_TRUE(IsValidUtf8("ピアノ \xF0\x9F\x8E\xB9"));
    EXPECT_FALSE(IsValidUtf8("\xC3\x28")); // a lead byte without its continuation
    EXPECT_FALSE(IsValidUtf8("\xC0\xAF")); // an overlong "/"
    EXPECT_FALSE(IsValidUtf8("\xED\xA0\x80")); // a surrogate
    EXPECT_FALSE(IsValidUtf8("\xF4\x90\x80\x80")); // past U+10FFFF
    EXPECT_FALSE(IsValidUtf8("ab\xE2\x82")); // cut short
    for (const char* bytes : { "\xC3\x28", "\xC0\xAF", "\xED\xA0\x80", "ab\xE2\x82", "\xFF\xFE" })
        EXPECT_TRUE(IsValidUtf8(DisplayText(bytes))) << bytes;
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
    EXPECT_EQ(card.text, "Koto __");
    EXPECT_EQ(card.unshowable, "琴\t");
}

TEST(TextEncoding, TypedNamesAreRefusedOrToldHowTheyAppear)
{
    std::string message;
    EXPECT_EQ(TypedCardText("Piano", "card name", message), "Piano");
    EXPECT_EQ(message, "");
    EXPECT_EQ(TypedCardText("Bässe", "group name", message), "Basse");
    EXPECT_EQ(message,
        "The group name 'Bässe' appears as 'Basse' on the instrument, which shows no accents.");
    EXPECT_EQ(TypedCardText("ピアノ", "card name", message), std::nullopt);
    EXPECT_NE(message.find("can't hold 'ピアノ'"), std::string::npos);
}

} // namespace
} // namespace cardmill
