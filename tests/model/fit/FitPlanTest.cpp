#include "model/fit/FitPlan.h"

#include "model/fit/SignalTools.h"

#include <cmath>
#include <numbers>
#include <tuple>

#include <gtest/gtest.h>

namespace cardmill {
namespace {

/// A mono sound of sines (frequency, amplitude of full scale), with silence around it.
FitSound Tone(const std::string& name, double rate, std::uint32_t frames,
    std::vector<std::pair<double, double>> partials, std::uint32_t silentBefore = 0,
    std::uint32_t silentAfter = 0)
{
    FitSound sound;
    sound.name = name;
    sound.rate = rate;
    sound.frames.assign(silentBefore, 0);
    for (std::uint32_t i = 0; i < frames; ++i) {
        double value = 0.0;
        for (const auto& [hz, amplitude] : partials)
            value += amplitude * std::sin(2.0 * std::numbers::pi * hz * i / rate);
        sound.frames.push_back(static_cast<std::int16_t>(std::lround(value * 32767.0)));
    }
    sound.frames.insert(sound.frames.end(), silentAfter, 0);
    sound.uses = { FitUse { {}, (sound.FrameCount() + 9 + 8) * 2 } };
    return sound;
}

TEST(FitPlan, RatesComeDownWhereTheLeastIsLostUntilTheProjectFits)
{
    // A low hum loses nothing at 22050 Hz; a bright sound loses its 20 kHz partial at any step.
    const std::vector<FitSound> sounds { Tone("bright", 44100, 44100,
                                             { { 440, 0.4 }, { 20000, 0.4 } }),
        Tone("hum", 44100, 44100, { { 100, 0.8 } }) };
    const std::uint64_t project = 1000 + sounds[0].CardBytes() + sounds[1].CardBytes();
    FitOptions options;
    options.cardBytes = project - 20000; // one step of one sound is enough
    FitPlan plan = PlanFit(sounds, project, options);
    EXPECT_TRUE(plan.fits);
    EXPECT_EQ(std::tuple(plan.choices[0].rate, plan.choices[1].rate), std::tuple(44100.0, 32000.0));
    EXPECT_LT(plan.choices[1].lossDb, -60.0);
    EXPECT_LE(plan.totalAfter, options.cardBytes);

    // Tighter: the hum goes to the lowest rate allowed before the bright sound loses anything.
    options.cardBytes = project - 60000;
    plan = PlanFit(sounds, project, options);
    EXPECT_EQ(std::tuple(plan.fits, plan.choices[0].rate, plan.choices[1].rate),
        std::tuple(true, 32000.0, 22050.0));
    EXPECT_GT(plan.choices[0].lossDb, -10.0); // half its energy is at 20 kHz

    // Not even at the lowest rate: said, and every sound is at its lowest.
    options.cardBytes = 50000;
    plan = PlanFit(sounds, project, options);
    EXPECT_EQ(std::tuple(plan.fits, plan.choices[0].rate, plan.choices[1].rate),
        std::tuple(false, 22050.0, 22050.0));
    options.minRate = 8000;
    EXPECT_TRUE(PlanFit(sounds, project, options).fits);

    // A project that fits is left as it is.
    options.cardBytes = project;
    plan = PlanFit(sounds, project, options);
    EXPECT_FALSE(plan.choices[0].Changes(sounds[0]) || plan.choices[1].Changes(sounds[1]));
}

TEST(FitPlan, TrimCutsSilenceButNeverPastTheStartFrameIntoALoopOrPastItsEnd)
{
    FitSound sound = Tone("t", 22050, 1000, { { 440, 0.5 } }, 300, 500);
    // The sine's own first frame is 0, silent too.
    EXPECT_EQ(std::tuple(SilentEnds(sound, -60).lead, SilentEnds(sound, -60).tail),
        std::tuple(301u, 500u));
    sound.uses[0].params.startFrame = 200; // the musician's start stays
    EXPECT_EQ(SilentEnds(sound, -60).lead, 200u);
    sound.uses[0].params.startFrame = 0;
    sound.uses[0].params.looping = 1;
    sound.uses[0].params.loopStart = 100; // a loop over silence is played, so it stays
    sound.uses[0].params.loopEnd = 1700;
    EXPECT_EQ(std::tuple(SilentEnds(sound, -60).lead, SilentEnds(sound, -60).tail),
        std::tuple(100u, 100u));
    // Silence itself says nothing of where a sound begins.
    EXPECT_EQ(SilentEnds(Tone("s", 22050, 100, {}), -60).lead, 0u);

    // Applied: the settings move with the frames, and a second trim finds nothing.
    FitOptions options;
    options.trimDb = -60;
    FitChoice choice;
    choice.rate = sound.rate;
    choice.trim = SilentEnds(sound, -60);
    const FittedSound fitted = ApplyFit(sound, choice, options);
    EXPECT_EQ(
        std::tuple(fitted.frames.size(), fitted.params[0].loopStart, fitted.params[0].loopEnd),
        std::tuple(std::size_t { 1600 }, 0u, 1600u));
    FitSound again = sound;
    again.frames = fitted.frames;
    again.uses[0].params = fitted.params[0];
    EXPECT_EQ(
        std::tuple(SilentEnds(again, -60).lead, SilentEnds(again, -60).tail), std::tuple(0u, 0u));
}

TEST(FitPlan, AFileUsedTwiceIsCutWithinBothUsesScaledForBothAndNotNormalised)
{
    FitSound shared = Tone("shared", 44100, 4000, { { 440, 0.3 } }, 1000, 1000);
    shared.uses.push_back(shared.uses[0]);
    shared.uses[0].params.startFrame = 500; // one use starts in the silence
    shared.uses[1].params.looping = 1; // the other loops over the silence at the end
    shared.uses[1].params.loopStart = 3000;
    shared.uses[1].params.loopEnd = 5800;
    shared.uses[1].cardBytes = 0; // and shares the first one's data
    FitOptions options;
    options.trimDb = -60;
    options.normalize = true;
    options.minRate = 22050;
    options.cardBytes = shared.CardBytes() - 3000; // the trim and one step
    const FitPlan plan = PlanFit(std::span(&shared, 1), shared.CardBytes(), options);
    const FitChoice& choice = plan.choices[0];
    EXPECT_EQ(std::tuple(choice.trim.lead, choice.trim.tail, choice.rate, choice.gainDb),
        std::tuple(500u, 200u, 32000.0, 0.0));
    const FittedSound fitted = ApplyFit(shared, choice, options);
    ASSERT_EQ(fitted.params.size(), 2u);
    EXPECT_EQ(fitted.params[0].startFrame, 0u);
    EXPECT_NEAR((fitted.params[1].loopEnd - fitted.params[1].loopStart) / 32000.0, 2800 / 44100.0,
        1.0 / 32000);
}

TEST(FitPlan, AFilePlayedInThreePlacesIsChargedOnceAndTheTotalIsWhatTheMadeSoundTakes)
{
    // Two regions of one 240,000-frame file and the file alone: one copy of its data on the card,
    // from the earliest start to the latest loop end. A 256 K card holds it at 24 kHz.
    FitSound sound = Tone("long", 48000, 240000, { { 300, 0.5 } });
    sound.uses = { FitUse { {}, (240000 + 9 + 8) * 2 }, FitUse { {}, 0 }, FitUse { {}, 0 } };
    sound.uses[1].params.startFrame = 1000;
    sound.uses[2].params = { 60, 0, 0, 0, 0.0f, 0, 20000, 30000, 1 };
    const std::uint64_t others = 5000;
    FitOptions options;
    options.cardBytes = 262144;
    options.minRate = 8000;
    const FitPlan plan = PlanFit(std::span(&sound, 1), others + sound.CardBytes(), options);
    EXPECT_TRUE(plan.fits);
    EXPECT_EQ(plan.choices[0].rate, 24000.0);
    EXPECT_EQ(plan.totalAfter, others + CardBytesOf(plan.fitted[0], 1, true));
    EXPECT_EQ(plan.choices[0].bytesAfter, (120000u + 9 + 8) * 2);
    // Without phantoms each place has a copy of its own.
    EXPECT_GT(CardBytesOf(plan.fitted[0], 1, false), 2 * plan.choices[0].bytesAfter);
}

TEST(FitPlan, AnOriginReadsBackAsWrittenAndDamagedOnesAreNone)
{
    const FitOrigin origin { "/music/kit.sf2#sample=12", 44100, 1234.5, 3.25, 99999, 0xABCDEF };
    const auto chunk = FitOriginChunk(origin);
    ASSERT_EQ(std::string(chunk.begin(), chunk.begin() + 4), "cmfo");
    const auto read = ReadFitOrigin(std::span(chunk).subspan(8));
    ASSERT_TRUE(read);
    EXPECT_EQ(std::tuple(
                  read->path, read->rate, read->offset, read->gainDb, read->frames, read->dataHash),
        std::tuple(origin.path, origin.rate, origin.offset, origin.gainDb, origin.frames,
            origin.dataHash));
    for (std::size_t cut = 0; cut + 8 < chunk.size() - 1; cut += 5)
        EXPECT_FALSE(ReadFitOrigin(std::span(chunk).subspan(8, cut))) << cut;
    FitOrigin odd = origin;
    odd.rate = -1;
    const auto oddChunk = FitOriginChunk(odd);
    EXPECT_FALSE(ReadFitOrigin(std::span(oddChunk).subspan(8)));
}

TEST(FitPlan, AResampledLoopStartsAtAZeroCrossingAndTheStartFollowsTheRate)
{
    FitSound sound = Tone("loop", 48000, 48000, { { 441, 0.7 } });
    sound.uses[0].params.looping = 1;
    sound.uses[0].params.loopStart = 10008; // 6672 at 32 kHz, 4 frames before the sine's crossing
    sound.uses[0].params.loopEnd = 40001;
    sound.uses[0].params.startFrame = 1000;
    FitChoice choice;
    choice.rate = 32000;
    const FittedSound fitted = ApplyFit(sound, choice, {});
    const std::uint32_t start = fitted.params[0].loopStart;
    EXPECT_EQ(start, 6676u);
    EXPECT_TRUE(fitted.frames[start - 1] < 0 && fitted.frames[start] >= 0);
    EXPECT_EQ(fitted.params[0].startFrame, 667u);
    EXPECT_EQ(fitted.frames.size(), std::size_t { 32000 });
}

TEST(FitPlan, NormaliseRaisesThePeakAsFarAsTheVolumeTakesItBack)
{
    FitSound quiet = Tone("q", 22050, 2000, { { 440, 0.25 } }); // -12 dBFS
    FitOptions options;
    options.normalize = true;
    options.cardBytes = 1 << 20;
    const FitPlan plan = PlanFit(std::span(&quiet, 1), 10000, options);
    // 252 / 10^(12/20) is 63.2: the volume byte goes to 64, the frames up by 252/64.
    EXPECT_EQ(plan.choices[0].volumeByte, 64u);
    EXPECT_NEAR(plan.choices[0].gainDb, 20 * std::log10(252.0 / 64), 1e-9);
    const FittedSound fitted = ApplyFit(quiet, plan.choices[0], options);
    EXPECT_EQ(VolumeByte(fitted.params[0].volume), 64u);
    EXPECT_NEAR(PeakDb(fitted.frames), -12.04 + plan.choices[0].gainDb, 0.05);
    EXPECT_LE(PeakDb(fitted.frames), 0.0);
    // Already at full scale, or at the lowest volume: nothing.
    quiet.frames = fitted.frames;
    quiet.uses[0].params = fitted.params[0];
    EXPECT_EQ(PlanFit(std::span(&quiet, 1), 10000, options).choices[0].gainDb, 0.0);
}

TEST(FitPlan, TheSpectrumPutsATonesEnergyWhereItIs)
{
    std::vector<float> tone(20000);
    for (std::size_t i = 0; i < tone.size(); ++i)
        tone[i] = static_cast<float>(0.5 * std::sin(2.0 * std::numbers::pi * 5000.0 * i / 44100));
    const EnergySpectrum spectrum(tone, 44100);
    EXPECT_GT(spectrum.LossAboveDb(4000), -0.1);
    EXPECT_LT(spectrum.LossAboveDb(6000), -60);
    EXPECT_EQ(EnergySpectrum(std::vector<float>(100), 44100).LossAboveDb(1000), -120);
}

} // namespace
} // namespace cardmill
