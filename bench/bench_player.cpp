// The voice player renders at least 100 times faster than real time on one core: a phrase of
// melody and three-note chords over a piano-like voice of three looping key groups, keys up to
// two octaves from their roots. `x_real_time` is the ratio; under 100 the run is an error.

#include "compiler/VoicePlayer.h"

#include <chrono>
#include <cmath>

#include <benchmark/benchmark.h>

namespace {

using namespace cardmill;

constexpr double kTarget = 100.0;
constexpr std::uint32_t kFrames = 88200; // two seconds at 44100 Hz each

struct Card {
    std::vector<std::uint8_t> image;
    CardContents contents;
};

/// A card of one voice whose three key groups (roots C2, C3, C4) hold two-second sounds of a
/// few partials at 44100 Hz, each looping its last half second.
const Card& PianoCard()
{
    static const Card card = [] {
        Card c;
        CardVoice voice;
        voice.groupCount = 3;
        voice.upperKeys = { 53, 65, 127 };
        for (int g = 0; g < 3; ++g) {
            CardRegion region;
            region.wordAddress = c.image.size() / 2;
            region.words = kFrames + 8;
            region.frames = kFrames;
            const double frequency = 130.81 * std::exp2(g) / 44100;
            for (std::uint32_t i = 0; i < region.words; ++i) {
                double v = 0;
                for (int partial = 1; partial <= 6; ++partial)
                    v += std::sin(2 * 3.14159265358979 * frequency * partial * i) / partial;
                const auto s = static_cast<std::int16_t>(i < kFrames ? std::lround(v * 9000) : 0);
                c.image.push_back(static_cast<std::uint8_t>(s >> 8));
                c.image.push_back(static_cast<std::uint8_t>(s));
            }
            CardSample sample;
            sample.pitchWord = PitchWordOf(44100, static_cast<std::uint16_t>(48 + 12 * g), 0);
            sample.volumeByte = 252;
            sample.region = g;
            sample.startFrame = 0;
            sample.loopStart = kFrames - 22050;
            sample.loopEnd = kFrames - 1;
            voice.samples.push_back(sample);
            c.contents.regions.push_back(region);
        }
        c.contents.voices.push_back(voice);
        return c;
    }();
    return card;
}

/// Eight bars of a melody over chords, at 120 beats a minute: 16 seconds.
std::vector<NoteEvent> Phrase()
{
    std::vector<NoteEvent> events;
    const int melody[] = { 72, 74, 76, 79, 81, 79, 76, 74, 72, 84, 88, 91, 60, 64, 67, 96 };
    const int chords[][3] = { { 48, 52, 55 }, { 41, 45, 48 }, { 43, 47, 50 }, { 36, 40, 43 } };
    for (int beat = 0; beat < 32; ++beat) {
        const double at = beat * 0.5;
        const int key = melody[beat % 16];
        events.push_back({ at, key, 100 });
        events.push_back({ at + 0.45, key, 0 });
        if (beat % 4 == 0)
            for (const int chordKey : chords[(beat / 4) % 4]) {
                events.push_back({ at, chordKey, 80 });
                events.push_back({ at + 1.9, chordKey, 0 });
            }
    }
    return events;
}

void BM_RenderPhrase(benchmark::State& state)
{
    const Card& card = PianoCard();
    const auto events = Phrase();
    double rendered = 0;
    std::chrono::duration<double> busy {};
    for (auto _ : state) {
        VoicePlayer player(card.image, card.contents, card.contents.voices[0]);
        const auto start = std::chrono::steady_clock::now();
        const auto frames = RenderEvents(player, events);
        busy += std::chrono::steady_clock::now() - start;
        rendered += static_cast<double>(frames.size()) / VoicePlayer::kRate;
        benchmark::DoNotOptimize(frames.data());
    }
    const double ratio = rendered / busy.count();
    state.counters["x_real_time"] = ratio;
    if (ratio < kTarget)
        state.SkipWithError(
            ("renders " + std::to_string(ratio) + " times real time, under 100").c_str());
}
BENCHMARK(BM_RenderPhrase)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
