// Sample conversion into card words against a plain memcpy of the same bytes on this machine, on
// a block that stays in the cache and on one that has to come from memory. Prints, after Google
// Benchmark's own table, each converter's speed as a ratio of memcpy's (the target is at least
// 0.5).

#include "model/sound/MSoundFile.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>

#include <benchmark/benchmark.h>

namespace {

using cardmill::SampleFormat;

struct Size {
    const char* name;
    std::size_t bytes;
};

const Size kSizes[] = { { "cache", 96 * 1024 }, { "memory", 32 * 1024 * 1024 } };

/// Page-aligned, so neither side pays for a split cache line the other does not; written, so
/// every page is mapped before the clock starts.
struct Buffer {
    explicit Buffer(std::size_t size)
        : bytes(static_cast<std::uint8_t*>(std::aligned_alloc(4096, (size + 4095) / 4096 * 4096)))
    {
        std::memset(bytes.get(), 0, size);
    }
    struct Free {
        void operator()(std::uint8_t* p) const { std::free(p); }
    };
    std::unique_ptr<std::uint8_t, Free> bytes;
};

/// Noise to convert, made once per size.
const Buffer& Source(std::size_t size)
{
    static std::map<std::size_t, Buffer> sources;
    const auto [it, made] = sources.try_emplace(size, size);
    std::uint32_t x = 12345;
    for (std::size_t i = 0; made && i < size; ++i) {
        x = x * 1664525 + 1013904223;
        it->second.bytes.get()[i] = static_cast<std::uint8_t>(x >> 24);
    }
    return it->second;
}

void Memcpy(benchmark::State& state, std::size_t size)
{
    const Buffer& source = Source(size);
    Buffer destination(size);
    for (auto _ : state) {
        std::memcpy(destination.bytes.get(), source.bytes.get(), size);
        benchmark::DoNotOptimize(destination.bytes.get());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * size));
}

void Convert(benchmark::State& state, SampleFormat format, std::size_t size)
{
    const std::size_t frameBytes = std::size_t { format.bytesPerSample } * format.channelCount;
    const std::size_t frames = size / frameBytes;
    const Buffer& source = Source(size);
    Buffer words(2 * frames);
    const auto convert = cardmill::ChooseConverter(format);
    for (auto _ : state) {
        convert(source.bytes.get(), words.bytes.get(), frames);
        benchmark::DoNotOptimize(words.bytes.get());
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
    { "Big16Mix", { 2, 2, false, false, 0 } },
    { "Little24Mono", { 3, 1, true, false, 0 } },
    { "Little24Mix", { 3, 2, true, false, 0 } },
    { "Big24Mix", { 3, 2, false, false, 0 } },
    { "Unsigned8Mono", { 1, 1, true, true, 0 } },
    { "Signed8Mix", { 1, 2, false, false, 0 } },
};

class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& run : runs)
            if (run.aggregate_name == "median")
                speeds[run.run_name.function_name] = run.counters.at("bytes_per_second");
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> speeds;
};

std::string Key(const char* what, const Size& size)
{
    return std::string(what) + "/" + size.name;
}

} // namespace

int main(int argc, char** argv)
{
    for (const Size& size : kSizes) {
        // Medians of five: a shared machine has its moments.
        benchmark::RegisterBenchmark(Key("memcpy", size).c_str(), Memcpy, size.bytes)
            ->Repetitions(5)
            ->ReportAggregatesOnly(true);
        for (const Named& named : kFormats)
            benchmark::RegisterBenchmark(
                Key(named.name, size).c_str(), Convert, named.format, size.bytes)
                ->Repetitions(5)
                ->ReportAggregatesOnly(true);
    }
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::printf("\nconversion speed / memcpy speed of the same bytes (target >= 0.50):\n");
    std::printf("  %-16s", "");
    for (const Size& size : kSizes)
        std::printf(" %8s", size.name);
    std::printf("\n");
    bool allMet = true;
    for (const Named& named : kFormats) {
        std::printf("  %-16s", named.name);
        for (const Size& size : kSizes) {
            const double ratio
                = reporter.speeds[Key(named.name, size)] / reporter.speeds[Key("memcpy", size)];
            allMet = allMet && ratio >= 0.5;
            std::printf(" %7.2f%s", ratio, ratio >= 0.5 ? " " : "!");
        }
        std::printf("\n");
    }
    if (!allMet)
        std::printf("  (! marks a ratio below the target)\n");
    return allMet ? 0 : 1;
}
