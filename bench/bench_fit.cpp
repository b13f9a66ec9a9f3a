// Fitting a project onto its card. Resampling 44.1 kHz to 22.05 kHz mono must run at 100 times
// real time or faster on one core (the counter "x_real_time"); the plan of a 128-sound project
// (2 s at 44.1 kHz each, every sound lowered to its last step, then made and counted as the card
// will hold it) must take under 1 s (the counter "of_target" is the time over 1 s: under 1.0
// passes).

#include "model/fit/FitPlan.h"
#include "model/fit/SignalTools.h"

#include <cmath>
#include <numbers>
#include <vector>

#include <benchmark/benchmark.h>

namespace {

using namespace cardmill;

std::vector<float> Music(std::size_t frames, double rate)
{
    std::vector<float> out(frames);
    for (std::size_t i = 0; i < frames; ++i) {
        const double t = static_cast<double>(i) / rate;
        out[i] = static_cast<float>(0.3 * std::sin(2 * std::numbers::pi * 220 * t)
            + 0.2 * std::sin(2 * std::numbers::pi * 3520 * t)
            + 0.1 * std::sin(2 * std::numbers::pi * 14080 * t));
    }
    return out;
}

void BM_Resample441To2205Mono(benchmark::State& state)
{
    constexpr std::size_t kSeconds = 10;
    const std::vector<float> input = Music(44100 * kSeconds, 44100);
    for (auto _ : state) {
        auto output = Resample(input, 1, 44100, 22050);
        benchmark::DoNotOptimize(output.data());
    }
    state.counters["x_real_time"] = benchmark::Counter(
        static_cast<double>(kSeconds), benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_Resample441To2205Mono)->Unit(benchmark::kMillisecond);

void BM_PlanOf128Sounds(benchmark::State& state)
{
    std::vector<FitSound> sounds(128);
    const std::vector<float> music = Music(88200, 44100);
    for (std::size_t n = 0; n < sounds.size(); ++n) {
        FitSound& sound = sounds[n];
        sound.name = "s" + std::to_string(n);
        sound.rate = 44100;
        for (const float s : music)
            sound.frames.push_back(static_cast<std::int16_t>(s * 32767.0f * (1.0f - n / 256.0f)));
        sound.uses = { FitUse { {}, (88200 + 17) * 2 } };
    }
    FitOptions options;
    options.trimDb = -60;
    options.normalize = true;
    options.cardBytes = 1 << 20; // too small for every sound at 22050 Hz: every step is taken
    for (auto _ : state) {
        const FitPlan plan = PlanFit(sounds, 128ull * (88200 + 17) * 2, options);
        benchmark::DoNotOptimize(plan.totalAfter);
    }
    state.counters["of_target"] = benchmark::Counter(
        1.0, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_PlanOf128Sounds)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
