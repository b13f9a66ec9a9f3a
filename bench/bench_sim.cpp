// Card data through AMidi to the virtual instrument, one 1024-byte block a message, each
// acknowledged before the next is sent, as a transfer does it: in-process (the port sim) and over
// a pty served by the sim command's server, as fast as possible and over an emulated 31250 baud
// cable. Speeds count card data. Targets: in-process at least 20 MB/s, over the pty at least
// 5 MB/s, and over the emulated cable at least 97% of what it carries at best (1024 data bytes
// per 1181-byte message and 7-byte acknowledgement: about 2694 bytes/s).
#include "platform/Clock.h"
#include "platform/MidiBackendRaw.h"
#include "sim/MidiBackendSim.h"
#include "sim/SimPtyServer.h"
#include "synth/AMidi.h"
#include "synth/MZeltaSysexHandler.h"

#include <chrono>
#include <cstdio>
#include <map>
#include <memory>
#include <thread>
#include <vector>

#include <benchmark/benchmark.h>

namespace {

using namespace cardmill;

constexpr double kCableBaud = 31250;
constexpr double kWireLimit
    = 1024.0 / ((MZeltaSysexHandler::kBlockMessageBytes + 7) * 10.0 / kCableBaud);

/// The write messages of the card's first megabyte, built once.
const std::vector<std::vector<std::uint8_t>>& BlockMessages()
{
    static const auto messages = [] {
        std::vector<std::vector<std::uint8_t>> built;
        MZeltaSysexHandler handler;
        // Messages carry the family the handler learnt from the identity reply.
        VirtualInstrument instrument({});
        handler.ReceiveIdentityReply(instrument.Receive(MZeltaSysexHandler::MakeIdentityRequest()));
        std::vector<std::uint8_t> data(MZeltaSysexHandler::kBlockBytes);
        for (std::uint32_t block = 0; block < 1024; ++block) {
            for (std::size_t i = 0; i < data.size(); ++i)
                data[i] = static_cast<std::uint8_t>(i * 7 + block);
            handler.MakeBlock(block / 128, block % 128, data);
            const auto message = handler.GetBlockMessage();
            built.emplace_back(message.begin(), message.end());
        }
        return built;
    }();
    return messages;
}

/// Sends blocks until the benchmark has enough, each after the previous one's acknowledgement.
void Transfer(benchmark::State& state, MidiBackend& backend)
{
    SystemClock clock;
    AMidi midi(backend, clock);
    if (midi.OpenDevices(0, 0) != AMidi::kOpened) {
        state.SkipWithError("ports not opened");
        return;
    }
    const auto& messages = BlockMessages();
    std::vector<std::uint8_t> reply(16);
    std::size_t next = 0;
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        midi.RestartReception();
        if (midi.SendSysex(messages[next]) != AMidi::kSent) {
            state.SkipWithError("send failed");
            break;
        }
        std::size_t count = 0;
        if (midi.ReceiveSysex(reply, 0xF0, 0xF7, count) != AMidi::kEndSeen || count != 7
            || reply[5] != MZeltaSysexHandler::kAcknowledge) {
            state.SkipWithError("no acknowledgement");
            break;
        }
        next = (next + 1) % messages.size();
    }
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    const auto data = static_cast<double>(state.iterations() * MZeltaSysexHandler::kBlockBytes);
    state.SetBytesProcessed(static_cast<std::int64_t>(data));
    state.counters["MB_per_second"] = data / elapsed.count() / 1e6;
    if (state.range(0) == static_cast<std::int64_t>(kCableBaud))
        state.counters["of_wire_limit"] = data / elapsed.count() / kWireLimit;
}

SimOptions Options(std::uint32_t baud)
{
    SimOptions options;
    options.baud = baud;
    return options;
}

void SimInProcess(benchmark::State& state)
{
    std::string error;
    auto backend
        = MidiBackendSim::Create(Options(static_cast<std::uint32_t>(state.range(0))), error);
    Transfer(state, *backend);
}

void SimPty(benchmark::State& state)
{
    std::string error;
    auto server = SimPtyServer::Create(Options(static_cast<std::uint32_t>(state.range(0))), error);
    if (!server) {
        state.SkipWithError(error.c_str());
        return;
    }
    std::atomic<bool> stop { false };
    std::thread serving([&] { server->Serve(stop, error); });
    {
        MidiBackendRaw backend(server->Path());
        Transfer(state, backend);
    }
    server->Stop();
    serving.join();
}
class TargetReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& run : runs)
            for (const auto& [name, counter] : run.counters)
                results[run.benchmark_name()][name] = counter.value;
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, std::map<std::string, double>> results;
};

struct Target {
    const char* what;
    const char* run;
    const char* counter;
    double least;
};

} // namespace

int main(int argc, char** argv)
{
    benchmark::RegisterBenchmark("in-process", SimInProcess)->Arg(0)->UseRealTime()->MinTime(0.5);
    benchmark::RegisterBenchmark("pty", SimPty)->Arg(0)->UseRealTime()->MinTime(0.5);
    // Twelve blocks take about 4.6 s over the emulated cable.
    benchmark::RegisterBenchmark("in-process-31250", SimInProcess)
        ->Arg(31250)
        ->UseRealTime()
        ->Iterations(12);
    benchmark::RegisterBenchmark("pty-31250", SimPty)->Arg(31250)->UseRealTime()->Iterations(12);
    benchmark::Initialize(&argc, argv);
    TargetReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);

    const Target targets[] = {
        { "in-process, MB/s", "in-process/0/min_time:0.500/real_time", "MB_per_second", 20 },
        { "pty, MB/s", "pty/0/min_time:0.500/real_time", "MB_per_second", 5 },
        { "in-process at 31250 baud, share of the wire's limit",
            "in-process-31250/31250/iterations:12/real_time", "of_wire_limit", 0.97 },
        { "pty at 31250 baud, share of the wire's limit", "pty-31250/31250/iterations:12/real_time",
            "of_wire_limit", 0.97 },
    };
    std::printf("\nvirtual instrument link speeds (targets in brackets):\n");
    bool allMet = true;
    for (const Target& target : targets) {
        const auto run = reporter.results.find(target.run);
        const bool measured = run != reporter.results.end() && run->second.contains(target.counter);
        if (!measured) {
            std::printf("  %-54s not measured\n", target.what);
            continue;
        }
        const double value = run->second.at(target.counter);
        allMet = allMet && value >= target.least;
        std::printf("  %-54s %8.3f (>= %g)%s\n", target.what, value, target.least,
            value >= target.least ? "" : " !");
    }
    return allMet ? 0 : 1;
}
