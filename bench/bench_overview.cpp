// The waveform overview Sample Info draws, built for a 10-minute stereo 16-bit sound at
// 44.1 kHz (106 MB of sample data): once from memory, once read from a file in the blocks the
// dialog reads (the file comes from the page cache after the first run, as a sound just loaded
// into the project does). The target is under 200 ms for the whole build.

#include "model/sound/WaveOverview.h"
#include "platform/FileSystem.h"

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <vector>

#include <benchmark/benchmark.h>

namespace {

using namespace cardmill;

constexpr std::uint32_t kFrames = 10 * 60 * 44100;
constexpr std::size_t kBuckets = 4096;
constexpr std::size_t kBlockBytes = std::size_t { 1 } << 20;

SampleFormat Stereo16()
{
    SampleFormat format;
    format.bytesPerSample = 2;
    format.channelCount = 2;
    format.littleEndian = true;
    return format;
}

const std::vector<std::uint8_t>& SoundData()
{
    static const std::vector<std::uint8_t> data = [] {
        std::vector<std::uint8_t> bytes(std::size_t { kFrames } * 4);
        for (std::uint32_t i = 0; i < kFrames; ++i) {
            const auto left = static_cast<std::int16_t>(20000.0 * std::sin(i * 0.0313));
            const auto right = static_cast<std::int16_t>((i * 7919u) & 0x7FFF) - 16384;
            std::uint8_t* frame = &bytes[std::size_t { i } * 4];
            frame[0] = static_cast<std::uint8_t>(left);
            frame[1] = static_cast<std::uint8_t>(left >> 8);
            frame[2] = static_cast<std::uint8_t>(right);
            frame[3] = static_cast<std::uint8_t>(right >> 8);
        }
        return bytes;
    }();
    return data;
}

void BM_OverviewFromMemory(benchmark::State& state)
{
    const auto& data = SoundData();
    for (auto _ : state) {
        WaveOverviewBuilder builder(Stereo16(), kFrames, kBuckets);
        for (std::size_t at = 0; at < data.size(); at += kBlockBytes)
            builder.Add(std::span(data).subspan(at, std::min(kBlockBytes, data.size() - at)));
        WaveOverview overview = builder.Finish();
        benchmark::DoNotOptimize(overview.minima.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * data.size()));
}
BENCHMARK(BM_OverviewFromMemory)->Unit(benchmark::kMillisecond);

void BM_OverviewFromFile(benchmark::State& state)
{
    const auto path = std::filesystem::temp_directory_path() / "cardmill_bench_overview.raw";
    {
        const auto& data = SoundData();
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(data.data()),
                static_cast<std::streamsize>(data.size()));
    }
    std::vector<std::uint8_t> buffer(kBlockBytes);
    for (auto _ : state) {
        int error = 0;
        auto stream = ByteStream::OpenFile(path.string(), error);
        if (!stream) {
            state.SkipWithError("can't open the sound data");
            break;
        }
        WaveOverviewBuilder builder(Stereo16(), kFrames, kBuckets);
        while (const std::size_t got = stream->Read(buffer))
            builder.Add(std::span(buffer).first(got));
        WaveOverview overview = builder.Finish();
        benchmark::DoNotOptimize(overview.minima.data());
    }
    std::filesystem::remove(path);
    state.SetBytesProcessed(
        static_cast<std::int64_t>(state.iterations() * std::uint64_t { kFrames } * 4));
}
BENCHMARK(BM_OverviewFromFile)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
