// Sample conversion into card words against a plain memcpy of the same bytes on this machine.
// Prints, after Google Benchmark's own table, each converter's speed as a ratio of memcpy's
// (the target is at least 0.5).

#include "model/MSoundFile.h"

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

namespace {

using cardmill::SampleFormat;

constexpr std::size_t kBytes = 64 * 1024; // one piece of work that stays in the cache

std::vector<std::uint8_t> Noise(std::size_t size)
{
    std::vector<std::uint8_t> bytes(size);
    std::uint32_t x = 12345;
    for (auto& b : bytes) {
        x = x * 1664525 + 1013904223;
        b = static_cast<std::uint8_t>(x >> 24);
    }
    return bytes;
}

void Memcpy(benchmark::State& state)
{
    const auto source = Noise(kBytes);
    std::vector<std::uint8_t> destination(kBytes);
    for (auto _ : state) {
        std::memcpy(destination.data(), source.data(), kBytes);
        benchmark::DoNotOptimize(destination.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kBytes));
}

/// Converts kBytes of source data into card words.
void Convert(benchmark::State& state, SampleFormat format)
{
    const std::size_t frameBytes = std::size_t { format.bytesPerSample } * format.channelCount;
    const std::size_t frames = kBytes / frameBytes;
    const auto source = Noise(kBytes);
    std::vector<std::uint8_t> words(2 * frames);
    const auto convert = cardmill::ChooseConverter(format);
    for (auto _ : state) {
        convert(source.data(), words.data(), frames);
        benchmark::DoNotOptimize(words.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * frames * frameBytes));
}

struct Named {
    const char* name;
    SampleFormat format;
};

const Named kFormats[] = {
    { "Little16Mono", { 2, 1, true, false, 0 } },
    { "Big16Mono", { 2, 1, false, false, 0 } },
    { "Little16Left", { 2, 2, true, false, 1 } },
    { "Little16Mix", { 2, 2, true, false, 0 } },
    { "Little24Mono", { 3, 1, true, false, 0 } },
    { "Big24Mix", { 3, 2, false, false, 0 } },
    { "Unsigned8Mono", { 1, 1, true, true, 0 } },
    { "Signed8Mix", { 1, 2, false, false, 0 } },
};

class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& run : runs)
            speeds[run.benchmark_name()] = run.counters.at("bytes_per_second");
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> speeds;
};

} // namespace

int main(int argc, char** argv)
{
    benchmark::RegisterBenchmark("memcpy", Memcpy);
    for (const Named& named : kFormats)
        benchmark::RegisterBenchmark(
            (std::string("convert/") + named.name).c_str(), Convert, named.format);
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const double memcpySpeed = reporter.speeds["memcpy"];
    std::printf("\nconversion speed / memcpy speed of the same bytes (target >= 0.50):\n");
    bool allMet = true;
    for (const Named& named : kFormats) {
        const double ratio = reporter.speeds[std::string("convert/") + named.name] / memcpySpeed;
        allMet = allMet && ratio >= 0.5;
        std::printf("  %-16s %.2f%s\n", named.name, ratio, ratio >= 0.5 ? "" : "  (below target)");
    }
    return allMet ? 0 : 1;
}
