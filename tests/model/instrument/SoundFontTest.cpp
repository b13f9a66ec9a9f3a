#include "model/instrument/SoundFont.h"

#include "model/instrument/DecentSamplerParser.h"
#include "model/instrument/InstrumentLibrary.h"
#include "platform/ByteReader.h"
#include "support/SoundFontBuilder.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

namespace cardmill {
namespace {

constexpr auto le = Endian::Little;
using test::SoundFontBuilder;

std::optional<SoundFont> Read(const std::vector<std::uint8_t>& bytes, std::string& error)
{
    return ReadSoundFont(MemoryRanges(bytes), bytes.size(), error);
}

enum Gen : std::uint16_t {
    kStart = 0,
    kLoopStart = 2,
    kLoopEnd = 3,
    kFilter = 8,
    kPan = 17,
    kInstrument = 41,
    kKeys = 43,
    kVelocities = 44,
    kAttenuation = 48,
    kCoarse = 51,
    kFine = 52,
    kSample = 53,
    kModes = 54,
    kRoot = 58,
};

/// A keyboard of two velocity layers over two key ranges, a global zone on both levels, one zone
/// whose sample lies in a synthesizer's memory; and a drum kit.
SoundFontBuilder Keyboard()
{
    using B = SoundFontBuilder;
    B font;
    std::vector<std::int16_t> frames(200);
    for (std::size_t i = 0; i < frames.size(); ++i)
        frames[i] = static_cast<std::int16_t>(i * 100 - 10000);
    font.samples = { { "Soft C4", frames, 50, 150, 22050, 60, -3 },
        { "Loud C4", frames, 20, 180, 44100, 61, 4 },
        { "ROM", frames, 0, 0, 22050, 60, 0, 0x8001 } };
    font.instruments = {
        { "Keys", 0, 0,
            { { { { kAttenuation, 100 }, { kFilter, 9000 } } },
                { { { kKeys, B::Range(0, 59) }, { kVelocities, B::Range(0, 90) }, { kRoot, 62 },
                    { kFine, B::Amount(-7) }, { kModes, 1 }, { kSample, 0 } } },
                { { { kKeys, B::Range(0, 59) }, { kVelocities, B::Range(91, 127) }, { kCoarse, 2 },
                      { kModes, 1 }, { kSample, 1 } },
                    1 },
                { { { kKeys, B::Range(60, 127) }, { kStart, 4 }, { kSample, 0 } } },
                { { { kKeys, B::Range(90, 96) }, { kSample, 2 } } } } },
        { "Drum", 0, 0, { { { { kKeys, B::Range(36, 36) }, { kPan, 200 }, { kSample, 1 } } } } },
    };
    font.presets = {
        { "Grand", 0, 0, { { { { kKeys, B::Range(24, 96) } } }, { { { kInstrument, 0 } } } } },
        { "Kit", 128, 0, { { { { kInstrument, 1 } } } } },
    };
    return font;
}

TEST(SoundFont, PresetZonesBecomeRegionsWithTheirKeysRootsTuningsLoopsAndLayers)
{
    const auto bytes = Keyboard().Build();
    std::string error;
    const auto font = Read(bytes, error);
    ASSERT_TRUE(font) << error;
    const auto catalog = font->Catalog();
    ASSERT_EQ(catalog.size(), 2u);
    EXPECT_EQ(catalog[0].name, "Grand");
    EXPECT_EQ(std::make_tuple(catalog[0].lokey, catalog[0].hikey), std::make_tuple(24, 96));
    EXPECT_EQ(std::tie(catalog[1].bank, catalog[1].lokey, catalog[1].hikey),
        std::make_tuple(128, 36, 36));

    const SfzDocument grand = SoundFontRegions(*font, 0, "k.sf2");
    ASSERT_EQ(grand.regions.size(), 3u); // the ROM sample's zone is left out
    const SfzRegion& soft = grand.regions[0];
    // The preset's key range cuts the instrument's; velocity 0 plays nothing.
    EXPECT_EQ(
        std::tie(soft.lokey, soft.hikey, soft.lovel, soft.hivel), std::make_tuple(24, 59, 1, 90));
    // The overriding root key stands over the sample's pitch; the fine tune and the sample's
    // correction add up; the loop is the sample's, its end inclusive.
    EXPECT_EQ(std::tie(soft.keycenter, soft.transpose, soft.tune), std::make_tuple(62, 0, -10));
    EXPECT_EQ(soft.loopMode, SfzLoopMode::Continuous);
    EXPECT_EQ(std::tie(*soft.loopStart, *soft.loopEnd), std::make_tuple(50, 149));
    // The global zone's attenuation, at the SFZ exports' scale.
    EXPECT_NEAR(soft.volume, -0.397 * 0.04 * 100, 1e-9);
    const SfzRegion& loud = grand.regions[1];
    EXPECT_EQ(std::tie(loud.keycenter, loud.transpose, loud.tune, loud.lovel),
        std::make_tuple(61, 2, 4, 91));
    const SfzRegion& high = grand.regions[2];
    EXPECT_EQ(std::tie(high.lokey, high.hikey, high.offset), std::make_tuple(60, 96, 4));
    EXPECT_EQ(high.loopMode, SfzLoopMode::NoLoop);

    std::string reports;
    for (const SfzDropped& report : grand.dropped)
        reports += report.Text() + "\n";
    for (const char* expected : { "k.sf2, instrument 'Keys': initialFilterFc: not on the card",
             "k.sf2, instrument 'Keys': modulators: not on the card",
             "the sample 'ROM' lies in a synthesizer's memory" })
        EXPECT_NE(reports.find(expected), std::string::npos) << expected << "\n" << reports;
    EXPECT_EQ(reports.find("attenuation"), std::string::npos) << reports;

    const SfzLayout layout = LayOutSfz(grand);
    ASSERT_EQ(layout.groups.size(), 2u);
    EXPECT_EQ(layout.groupSize, 2);
    EXPECT_EQ(layout.groups[0].upperKey, 59);

    EXPECT_EQ(FindPreset(catalog, "KIT"), 1u);
    EXPECT_EQ(FindPreset(catalog, "128:0"), 1u);
    EXPECT_EQ(FindPreset(catalog, "0:0"), 0u);
    EXPECT_FALSE(FindPreset(catalog, "0:1"));
    EXPECT_FALSE(FindPreset(catalog, "Gran"));
}

TEST(SoundFont, DamagedFilesAreRefusedWithTheirReason)
{
    auto at = [](std::vector<std::uint8_t>& bytes, std::string_view id) {
        return static_cast<std::size_t>(
            std::search(bytes.begin(), bytes.end(), id.begin(), id.end()) - bytes.begin());
    };
    struct Case {
        const char* name;
        std::function<void(SoundFontBuilder&)> before;
        std::function<void(std::vector<std::uint8_t>&)> after;
        const char* reason;
    };
    const std::vector<Case> cases {
        { "no RIFF", {}, [](auto& bytes) { bytes[0] = 'X'; }, "It is not a SoundFont." },
        { "version 1", [](auto& font) { font.major = 1; }, {}, "version 1" },
        { "cut in its lists", {}, [](auto& bytes) { bytes.resize(bytes.size() - 300); },
            "no preset list" },
        { "no sample list", {}, [&](auto& bytes) { bytes[at(bytes, "shdr")] = 'x'; },
            "no 'shdr' list" },
        { "generators past their list", {},
            [&](auto& bytes) {
                const std::size_t bag = at(bytes, "pbag") + 8 + 4;
                bytes[bag] = bytes[bag + 1] = 0xFF;
            },
            "lie outside their list" },
        { "no preset", [](auto& font) { font.presets.clear(); }, {}, "holds no preset" },
    };
    for (const Case& c : cases) {
        SoundFontBuilder builder = Keyboard();
        if (c.before)
            c.before(builder);
        auto bytes = builder.Build();
        if (c.after)
            c.after(bytes);
        std::string error;
        EXPECT_FALSE(Read(bytes, error)) << c.name;
        EXPECT_NE(error.find(c.reason), std::string::npos) << c.name << ": " << error;
    }
    // A zone naming an instrument the file doesn't hold is left out, and said so.
    SoundFontBuilder builder = Keyboard();
    builder.presets[1].zones[0].generators[0].second = 7;
    auto bytes = builder.Build();
    std::string error;
    auto font = Read(bytes, error);
    ASSERT_TRUE(font) << error;
    const SfzDocument kit = SoundFontRegions(*font, 1, "k.sf2");
    EXPECT_TRUE(kit.regions.empty());
    ASSERT_EQ(kit.dropped.size(), 1u);
    EXPECT_NE(
        kit.dropped[0].reason.find("names an instrument the file doesn't hold"), std::string::npos);
    // A sample whose frames lie past the sample data can't be read.
    font->samples[0].end = 1u << 30;
    EXPECT_FALSE(SoundFontSampleWav(*font, "0", MemoryRanges(bytes), error));
    EXPECT_NE(error.find("lies outside the file's sample data"), std::string::npos) << error;
}

TEST(SoundFont, ALoopThatStartsBeforeItsSampleStartsAtTheSamplesFirstFrame)
{
    SoundFontBuilder builder = Keyboard();
    builder.samples[1].loopStart = static_cast<std::uint32_t>(-4); // 4 frames before its start
    const auto bytes = builder.Build();
    std::string error;
    const auto font = Read(bytes, error);
    ASSERT_TRUE(font) << error;
    const SfzDocument grand = SoundFontRegions(*font, 0, "k.sf2");
    ASSERT_EQ(grand.regions.size(), 3u);
    const SfzRegion& loud = grand.regions[1];
    EXPECT_EQ(loud.loopMode, SfzLoopMode::Continuous);
    EXPECT_EQ(std::tuple(*loud.loopStart, *loud.loopEnd), std::tuple(0, 179));
    std::string reports;
    for (const SfzDropped& report : grand.dropped)
        reports += report.Text() + "\n";
    EXPECT_NE(reports.find("k.sf2, instrument 'Keys': sample 'Loud C4': its loop starts before "
                           "the sample; the loop starts at the sample's first frame"),
        std::string::npos)
        << reports;
}

TEST(SoundFont, SamplesBecomeWavFilesOf16BitsOr24WithTheLowBytesOfVersion204On)
{
    struct Case {
        bool sm24;
        std::uint16_t minor;
        std::uint16_t bits; // files older than 2.04 may hold an sm24 chunk of anything
    };
    for (const Case c : { Case { false, 4, 16 }, Case { true, 4, 24 }, Case { true, 1, 16 } }) {
        SCOPED_TRACE(testing::Message() << "sm24 " << c.sm24 << ", version 2.0" << c.minor);
        SoundFontBuilder builder = Keyboard();
        builder.sm24 = c.sm24;
        builder.minor = c.minor;
        const auto bytes = builder.Build();
        std::string error;
        const auto font = Read(bytes, error);
        ASSERT_TRUE(font) << error;
        const auto wav = SoundFontSampleWav(*font, "1", MemoryRanges(bytes), error);
        ASSERT_TRUE(wav) << error;
        const ByteReader file(*wav);
        ASSERT_TRUE(file.HasCodeAt(0, "RIFF"));
        EXPECT_EQ(file.U32At(24, le), 44100u);
        EXPECT_EQ(file.U16At(34, le), c.bits);
        // The frames of the second sample, after the first and its 46 frames of silence.
        const std::size_t width = c.bits / 8;
        const std::size_t data = 44;
        ASSERT_EQ(file.U32At(data - 4, le), 200u * width);
        const std::size_t third = data + 3 * width;
        EXPECT_EQ(
            file.U8At(third + width - 1), static_cast<std::uint8_t>((300 - 10000) >> 8 & 0xFF));
        if (c.bits == 24) { // the builder's low byte of frame 3
            EXPECT_EQ(file.U8At(third), 3 * 7);
        }
    }
}

TEST(DecentSampler, AttributesInheritAndLayersSplitAtTheirKeys)
{
    SfzDocument document = ParseDecentSampler(
        "<DecentSampler><groups volume=\"-6dB\" loopEnabled=\"true\" attack=\"0.2\">\n"
        "<group tuning=\"-0.5\" hiVel=\"64\">\n"
        "<sample path=\"a\\b.wav\" rootNote=\"C4\" hiNote=\"59\" tuning=\"1\" volume=\"0.5\"/>\n"
        "<sample path=\"c.wav\" rootNote=\"72\" loNote=\"60\" loopStart=\"5\" loopEnd=\"90\"/>\n"
        "</group><group loVel=\"65\" loopEnabled=\"false\">\n"
        "<sample path=\"d.wav\" rootNote=\"60\" enabled=\"true\"/><sample path=\"e.wav\" "
        "enabled=\"false\" rootNote=\"1\"/></group></groups></DecentSampler>",
        "p.dspreset");
    ASSERT_EQ(document.regions.size(), 3u);
    const SfzRegion& a = document.regions[0];
    EXPECT_EQ(a.sample, "a/b.wav");
    EXPECT_EQ(std::tie(a.keycenter, a.lokey, a.hikey, a.lovel, a.hivel, a.tune, a.line),
        std::make_tuple(60, 0, 59, 1, 64, 50, 3));
    EXPECT_NEAR(a.volume, -6.0 + 20 * std::log10(0.5), 1e-9);
    EXPECT_EQ(a.loopMode, SfzLoopMode::Continuous);
    EXPECT_EQ(std::tie(*document.regions[1].loopStart, *document.regions[1].loopEnd),
        std::make_tuple(5, 90));
    EXPECT_EQ(document.regions[2].loopMode, SfzLoopMode::NoLoop);
    ASSERT_EQ(document.dropped.size(), 1u);
    EXPECT_EQ(document.dropped[0].Text(), "p.dspreset:1: attack: not on the card");

    SplitLayeredRegions(document);
    const SfzLayout layout = LayOutSfz(document);
    ASSERT_EQ(layout.groups.size(), 2u);
    EXPECT_EQ(layout.groups[0].upperKey, 59);
    EXPECT_EQ(layout.groupSize, 2);
    EXPECT_TRUE(layout.dropped.empty());
}

} // namespace
} // namespace cardmill
