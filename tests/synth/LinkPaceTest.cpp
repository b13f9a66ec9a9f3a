#include "synth/LinkPace.h"

#include "platform/IniSettingsStore.h"
#include "support/TestEnv.h"

#include <gtest/gtest.h>

namespace cardmill {
namespace {

TEST(LinkPace, FailuresHalveThePaceFromTheFirstPacedRateDownToTheDinRateAndNoFurther)
{
    std::vector<std::uint32_t> paces;
    for (auto pace = LinkPace::Slower(LinkPace::kFullSpeed); pace; pace = LinkPace::Slower(*pace))
        paces.push_back(*pace);
    EXPECT_EQ(paces, (std::vector<std::uint32_t> { 31250, 15625, 7812, 3906, 3125 }));
    // A pace the user chose is halved too, but never below the DIN rate, and one below it is
    // kept: slower than the cable's own rate helps no interface.
    EXPECT_EQ(LinkPace::Slower(5000), 3125u);
    EXPECT_EQ(LinkPace::Slower(2000), std::nullopt);
}

TEST(LinkPace, PiecesCarryFiveMillisecondsOfThePaceFrom8To256Bytes)
{
    EXPECT_EQ(LinkPace::PieceBytes(LinkPace::kFullSpeed), SIZE_MAX);
    EXPECT_EQ(LinkPace::PieceBytes(3125), 15u);
    EXPECT_EQ(LinkPace::PieceBytes(31250), 156u);
    EXPECT_EQ(LinkPace::PieceBytes(51200), 256u);
    EXPECT_EQ(LinkPace::PieceBytes(1000000), 256u);
    EXPECT_EQ(LinkPace::PieceBytes(1000), 8u);
}

TEST(LinkPace, TextsAndTheOptionsValues)
{
    EXPECT_EQ(LinkPace::Text(3125), "3,125 bytes a second");
    EXPECT_EQ(LinkPace::Text(1000000), "1,000,000 bytes a second");
    EXPECT_EQ(LinkPace::Text(LinkPace::kFullSpeed), "full speed");
    std::string error;
    EXPECT_EQ(LinkPace::Parse("0", error), 0u);
    EXPECT_EQ(LinkPace::Parse("1000", error), 1000u);
    EXPECT_EQ(LinkPace::Parse("1000000", error), 1000000u);
    for (const char* wrong : { "999", "1000001", "", "3,125", "-1", "3125 ", "fast" }) {
        error.clear();
        EXPECT_EQ(LinkPace::Parse(wrong, error), std::nullopt) << wrong;
        EXPECT_NE(
            error.find("--pace takes bytes a second from 1,000 to 1,000,000"), std::string::npos)
            << error;
    }
}

TEST(PortPaces, EachPortKeepsItsOwnPaceInTheSettingsFileAndFullSpeedForgetsIt)
{
    test::TempDir dir;
    const std::string path = dir.File("Cardmill.conf");
    // Names the settings file can't hold as they are: an '=', blanks at the ends, a '%'.
    const std::string odd = " USB=MIDI 100% ";
    {
        IniSettingsStore store(path);
        PortPaces paces(store);
        EXPECT_EQ(paces.Find("/dev/snd/midiC1D0"), std::nullopt);
        EXPECT_TRUE(paces.Remember("/dev/snd/midiC1D0", 3125));
        EXPECT_TRUE(paces.Remember(odd, 15625));
        EXPECT_TRUE(paces.Remember("sim --lose-every 255", 31250));
    }
    IniSettingsStore store(path);
    PortPaces paces(store);
    EXPECT_EQ(paces.Find("/dev/snd/midiC1D0"), 3125u);
    EXPECT_EQ(paces.Find(odd), 15625u);
    EXPECT_EQ(paces.Find("USB=MIDI 100%"), std::nullopt);
    EXPECT_TRUE(paces.Remember("sim --lose-every 255", LinkPace::kFullSpeed));
    EXPECT_EQ(paces.Find("sim --lose-every 255"), LinkPace::kFullSpeed);
    // The list shows the ports whose transfers are paced, as they are named.
    using Entry = std::pair<std::string, std::uint32_t>;
    EXPECT_EQ(paces.All(), (std::vector<Entry> { { "/dev/snd/midiC1D0", 3125 }, { odd, 15625 } }));
    // A value edited into something that is no pace counts as none.
    store.SetText(PortPaces::kSection, "/dev/pts/3", "fast");
    EXPECT_EQ(paces.Find("/dev/pts/3"), std::nullopt);
}

} // namespace
} // namespace cardmill
