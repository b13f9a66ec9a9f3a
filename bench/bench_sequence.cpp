// Conversion time must not grow with the number of empty ticks: a file whose only two events
// lie 2^28 ticks apart converts in under 50 ms, byte for byte as the tick-by-tick walk does.
// Prints both times and whether the outputs are identical.

#include "model/APrefs.h"
#include "model/Services.h"
#include "model/sequence/MSeqFileMidi.h"
#include "platform/ScriptedPrompter.h"
#include "platform/SettingsStore.h"

#include <chrono>
#include <cstdio>
#include <vector>

namespace {

using namespace cardmill;

std::vector<std::uint8_t> VariableLength(std::uint64_t value)
{
    std::vector<std::uint8_t> out { static_cast<std::uint8_t>(value & 0x7F) };
    while (value >>= 7)
        out.insert(out.begin(), static_cast<std::uint8_t>(0x80 | (value & 0x7F)));
    return out;
}

std::vector<std::uint8_t> TwoNotesApart(std::uint32_t ticks, std::uint16_t division)
{
    std::vector<std::uint8_t> track { 0x00, 0x90, 60, 100 };
    const auto delta = VariableLength(ticks);
    track.insert(track.end(), delta.begin(), delta.end());
    track.insert(track.end(), { 0x80, 60, 0, 0x00, 0xFF, 0x2F, 0x00 });
    std::vector<std::uint8_t> file { 'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1,
        static_cast<std::uint8_t>(division >> 8), static_cast<std::uint8_t>(division), 'M', 'T',
        'r', 'k', 0, 0, 0, static_cast<std::uint8_t>(track.size()) };
    file.insert(file.end(), track.begin(), track.end());
    return file;
}

struct Result {
    double milliseconds;
    std::vector<std::uint8_t> bytes;
};

Result Convert(const std::vector<std::uint8_t>& file, bool skipEmptyTicks)
{
    ScriptedPrompter prompter;
    SystemClock clock;
    MemorySettingsStore settings;
    APrefs prefs(settings);
    Services services(prompter, clock, prefs);
    MSeqFileMidi sequence(services);
    sequence.AttachMemory(file);
    sequence.OpenSequence("apart.mid");
    sequence.SetSkipsEmptyTicks(skipEmptyTicks);
    const auto start = std::chrono::steady_clock::now();
    while (sequence.LoadStep() == 0) { }
    const std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - start;
    return { took.count(), { sequence.ConvertedData().begin(), sequence.ConvertedData().end() } };
}

} // namespace

int main()
{
    const auto file = TwoNotesApart(1u << 28, 96);
    const Result fast = Convert(file, true);
    std::printf("2^28 ticks apart at 96 ppq, 120 bpm: %zu bytes of sequence\n", fast.bytes.size());
    std::printf(
        "  empty ticks crossed in one step: %8.2f ms (target < 50 ms)\n", fast.milliseconds);
    const Result slow = Convert(file, false);
    std::printf("  tick-by-tick reference walk:     %8.2f ms\n", slow.milliseconds);
    const bool identical = fast.bytes == slow.bytes;
    std::printf("  outputs identical: %s; speed-up %.0fx\n", identical ? "yes" : "NO",
        slow.milliseconds / fast.milliseconds);
    return identical && fast.milliseconds < 50.0 ? 0 : 1;
}
