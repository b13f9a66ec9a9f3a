#include "compiler/VoicePlayer.h"

#include "compiler/MCompileEngine.h"
#include "model/MProject.h"
#include "model/instrument/MInstFileCardmill.h"
#include "support/Fakes.h"
#include "support/Instruments.h"
#include "support/Midi.h"
#include "support/SoundHelpers.h"
#include "support/Steps.h"

#include <cmath>
#include <numbers>

#include <gtest/gtest.h>

namespace cardmill {
namespace {

using test::Bytes;
using test::CmtBuilder;
using test::WavBuilder;

/// One cycle of a sine every `period` frames, at half scale.
Bytes SineData(std::uint32_t frames, double period, double frequencyShare = 0)
{
    Bytes data;
    for (std::uint32_t i = 0; i < frames; ++i) {
        const double phase = 2 * std::numbers::pi * i / period;
        double v = 0.5 * std::sin(phase);
        if (frequencyShare > 0)
            v = 0.5 * std::sin(2 * std::numbers::pi * frequencyShare * i);
        const auto s = static_cast<std::int16_t>(std::lround(v * 32767));
        data.push_back(static_cast<std::uint8_t>(s & 0xFF));
        data.push_back(static_cast<std::uint8_t>((s >> 8) & 0xFF));
    }
    return data;
}

/// The frequency of a steady tone, in cycles per output frame: upward zero crossings,
/// interpolated between frames, counted from the first to the last.
double MeasuredFrequency(const std::vector<std::int16_t>& frames, std::size_t from, std::size_t to)
{
    double first = -1, last = -1;
    int cycles = -1;
    for (std::size_t i = from; i + 1 < to; ++i) {
        if (frames[i] < 0 && frames[i + 1] >= 0) {
            const double at = static_cast<double>(i)
                + static_cast<double>(-frames[i]) / (frames[i + 1] - frames[i]);
            if (first < 0)
                first = at;
            last = at;
            ++cycles;
        }
    }
    return cycles > 0 ? cycles / (last - first) : 0;
}

double Cents(double measured, double expected)
{
    return 1200 * std::log2(measured / expected);
}

class Player : public ::testing::Test {
protected:
    struct Sound {
        std::uint32_t rate;
        double period; // frames of the file per cycle
        std::uint8_t root;
        std::uint32_t loopStart, loopEnd; // the loop's last frame
    };

    /// The voice of a project holding one instrument of these sounds, one key group each, as
    /// the card holds it after compiling.
    void MakeVoice(const std::vector<Sound>& sounds, const std::vector<std::uint8_t>& upperKeys)
    {
        CmtBuilder cmt;
        cmt.Groups(static_cast<std::uint8_t>(sounds.size()), 1, upperKeys);
        for (std::size_t i = 0; i < sounds.size(); ++i) {
            const Sound& s = sounds[i];
            const auto frames = static_cast<std::uint32_t>(s.loopEnd + 2000);
            const std::string path = dir.Write("s" + std::to_string(i) + ".wav",
                WavBuilder()
                    .Format(1, 1, s.rate, 16)
                    .Data(SineData(frames, s.period))
                    .Smpl(s.root, 0, {})
                    .Build());
            cmt.Add({ .path = path,
                .rootKey = s.root,
                .looping = 1,
                .loopStart = s.loopStart,
                .loopEnd = s.loopEnd });
        }
        Compile(cmt.Build());
    }
    void Compile(const Bytes& cmt)
    {
        auto instrument = std::make_unique<MInstFileCardmill>(env.services);
        ASSERT_TRUE(instrument->OpenInstrument(dir.Write("inst.cmt", cmt)));
        ASSERT_EQ(test::LoadFully(*instrument), 1);
        instrument->SetCategory(0);
        instrument->UpdateCompiledSize();
        project.AddItem(std::move(instrument));
        MCompileEngine engine(project, env.prompter);
        auto compiled = CompileToMemory(project, engine, env.progress);
        ASSERT_TRUE(compiled);
        image = std::move(*compiled);
        std::string error;
        auto read = ReadCardImage(image, error);
        ASSERT_TRUE(read) << error;
        card = std::move(*read);
        ASSERT_EQ(card.voices.size(), 1u);
    }
    std::vector<std::int16_t> Held(VoicePlayer& player, int key, double seconds)
    {
        return RenderEvents(player, { { 0, key, 127 }, { seconds, key, 0 } }, 1.0);
    }

    test::TempDir dir;
    test::TestEnv env;
    MProject project { env.prefs };
    std::vector<std::uint8_t> image;
    CardContents card;
};

TEST_F(Player, EachKeyPlaysItsKeyGroupsSampleAtThePitchTheCardsPitchWordGives)
{
    // Three key groups of sines at different rates and roots, each looping whole cycles.
    const std::vector<Sound> sounds { { 44100, 100, 48, 1000, 1000 + 40 * 100 - 1 },
        { 22050, 50, 60, 500, 500 + 60 * 50 - 1 }, { 32000, 64, 72, 640, 640 + 50 * 64 - 1 } };
    MakeVoice(sounds, { 55, 66, 127 });
    VoicePlayer player(image, card, card.voices[0]);
    ASSERT_EQ(player.GroupCount(), 3);
    for (int key = 36; key <= 90; key += 3) {
        const int group = key <= 55 ? 0 : key <= 66 ? 1 : 2;
        EXPECT_EQ(player.KeyGroupOf(key), group) << key;
        const int sample = player.SampleFor(key, 127);
        EXPECT_EQ(sample, group) << key;
        const std::uint16_t word
            = card.voices[0].samples[static_cast<std::size_t>(group)].pitchWord;
        // The card plays a word a frame at 48000 Hz when the key equals the pitch word.
        const double expected = std::exp2((key * 256.0 - word) / 3072.0)
            / sounds[static_cast<std::size_t>(group)].period;
        const auto frames = Held(player, key, 0.6);
        const double measured = MeasuredFrequency(frames, 2400, 26400);
        EXPECT_NEAR(Cents(measured, expected), 0, 1.0) << "key " << key;
        player.Silence();
    }
    // At its root a 22,050 Hz sample sounds at its own frequency, 441 Hz here.
    const auto atRoot = Held(player, 60, 0.6);
    EXPECT_NEAR(Cents(MeasuredFrequency(atRoot, 2400, 26400) * VoicePlayer::kRate, 441.0), 0, 1.0);
}

TEST_F(Player, AHeldNoteLoopsWithoutAJumpAndFadesWhenLetGo)
{
    const std::vector<Sound> sounds { { 44100, 100, 60, 1000, 1000 + 4 * 100 - 1 } };
    MakeVoice(sounds, { 127 });
    for (const int key : { 60, 48, 72, 84 }) {
        VoicePlayer player(image, card, card.voices[0]);
        // 1.5 s holds the loop of 400 frames many times over.
        const auto frames = Held(player, key, 1.5);
        // The sound's own largest step at this pitch, from its steady part before the loop.
        const std::size_t beforeLoop = static_cast<std::size_t>(900 / player.StepFor(0, key));
        int ownLargest = 0;
        for (std::size_t i = 200; i + 1 < beforeLoop; ++i)
            ownLargest = std::max(ownLargest, std::abs(frames[i + 1] - frames[i]));
        int largest = 0;
        const auto held = static_cast<std::size_t>(1.5 * VoicePlayer::kRate);
        for (std::size_t i = 200; i + 1 < held; ++i)
            largest = std::max(largest, std::abs(frames[i + 1] - frames[i]));
        EXPECT_LE(largest, ownLargest + ownLargest / 50) << "key " << key;
        // Let go, it fades within the release and stops.
        EXPECT_LE(frames.size(),
            held + static_cast<std::size_t>(VoicePlayer::kReleaseSeconds * VoicePlayer::kRate)
                + 512);
        EXPECT_FALSE(player.Sounding());
    }
}

TEST_F(Player, TwoOctavesUpATopOctaveToneIsFilteredNotFoldedBack)
{
    // 17 kHz at 48 kHz: two octaves up it would be 68 kHz, which no output can carry; a plain
    // interpolation folds it back into the audible range.
    const std::string path = dir.Write("high.wav",
        WavBuilder().Format(1, 1, 48000, 16).Data(SineData(48000, 1, 17000.0 / 48000)).Build());
    ASSERT_NO_FATAL_FAILURE(Compile(CmtBuilder().Add({ .path = path }).Build()));
    VoicePlayer player(image, card, card.voices[0]);
    const auto root = Held(player, 60, 0.3);
    player.Silence();
    const auto up = Held(player, 84, 0.3);
    const auto rms = [](const std::vector<std::int16_t>& f, std::size_t from, std::size_t to) {
        double sum = 0;
        for (std::size_t i = from; i < to; ++i)
            sum += static_cast<double>(f[i]) * f[i];
        return std::sqrt(sum / static_cast<double>(to - from));
    };
    EXPECT_GT(rms(root, 1000, 10000), 10000);
    EXPECT_LT(20 * std::log10(rms(up, 500, 2500) / rms(root, 1000, 10000)), -60);
}

TEST(ReadMidiNotes, NotesOfEveryTrackAndChannelAtTheirTimesThroughTempoChanges)
{
    using test::TrackBuilder;
    // 96 ticks a quarter; 500000 us a quarter, then from tick 192 twice as fast.
    const Bytes tempo = TrackBuilder().Tempo(0, 500000).Tempo(192, 250000).End(0).Build();
    // Running status, a note-on of velocity 0 as note-off, another channel.
    const Bytes notes = TrackBuilder()
                            .Event(0, { 0x90, 60, 100 })
                            .Event(96, { 64, 90 })
                            .Event(96, { 60, 0 })
                            .Event(96, { 0x81, 64, 0 })
                            .Event(0, { 0x93, 67, 80 })
                            .End(0)
                            .Build();
    std::vector<NoteEvent> events;
    std::string error;
    ASSERT_TRUE(ReadMidiNotes(test::MidiFile(1, 96, { tempo, notes }), events, error)) << error;
    ASSERT_EQ(events.size(), 5u);
    const double expected[] = { 0, 0.5, 1.0, 1.25, 1.25 };
    const int keys[] = { 60, 64, 60, 64, 67 };
    const int velocities[] = { 100, 90, 0, 0, 80 };
    for (std::size_t i = 0; i < 5; ++i) {
        EXPECT_NEAR(events[i].seconds, expected[i], 1e-9) << i;
        EXPECT_EQ(events[i].key, keys[i]) << i;
        EXPECT_EQ(events[i].velocity, velocities[i]) << i;
    }
    EXPECT_FALSE(ReadMidiNotes(Bytes { 'R', 'I', 'F', 'F', 0, 0, 0, 0 }, events, error));
    EXPECT_NE(error.find("no standard MIDI file"), std::string::npos);
}

} // namespace
} // namespace cardmill
