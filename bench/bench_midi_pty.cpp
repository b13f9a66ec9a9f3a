// Throughput of the raw MIDI back-end over a pty, both ways: 1024-byte blocks in SysEx messages
// sent through AMidi, and replies of the same size collected by AMidi's receive.
#include "platform/Clock.h"
#include "platform/MidiBackendRaw.h"
#include "synth/AMidi.h"

#include <atomic>
#include <poll.h>
#include <pty.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include <benchmark/benchmark.h>

namespace {

using namespace cardmill;

std::vector<std::uint8_t> BlockMessage()
{
    std::vector<std::uint8_t> message { 0xF0, 0x00, 0x00, 0x0E, 0x02 };
    for (int i = 0; i < 1024; ++i)
        message.push_back(static_cast<std::uint8_t>(i & 0x7F));
    message.push_back(0xF7);
    return message;
}

struct Pty {
    Pty()
    {
        char name[256] = {};
        if (::openpty(&master, &slave, name, nullptr, nullptr) == 0)
            path = name;
    }
    ~Pty()
    {
        ::close(master);
        ::close(slave);
    }
    int master = -1;
    int slave = -1;
    std::string path;
};

void RawPtySend(benchmark::State& state)
{
    Pty pty;
    MidiBackendRaw backend(pty.path);
    SystemClock clock;
    AMidi midi(backend, clock);
    if (midi.OpenDevices(-1, 0) != AMidi::kOpened) {
        state.SkipWithError("pty not opened");
        return;
    }
    std::atomic<bool> done { false };
    std::thread drain([&] {
        std::uint8_t buffer[65536];
        while (!done) {
            pollfd wait { pty.master, POLLIN, 0 };
            if (::poll(&wait, 1, 50) > 0 && ::read(pty.master, buffer, sizeof buffer) <= 0)
                break;
        }
    });
    const auto message = BlockMessage();
    for (auto _ : state)
        if (midi.SendSysex(message) != AMidi::kSent)
            state.SkipWithError("send timed out");
    done = true;
    drain.join();
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * message.size()));
}
BENCHMARK(RawPtySend)->UseRealTime();

void RawPtyReceive(benchmark::State& state)
{
    Pty pty;
    MidiBackendRaw backend(pty.path);
    SystemClock clock;
    AMidi midi(backend, clock);
    if (midi.OpenDevices(0, -1) != AMidi::kOpened) {
        state.SkipWithError("pty not opened");
        return;
    }
    const auto message = BlockMessage();
    std::vector<std::uint8_t> reply(2048);
    for (auto _ : state) {
        if (::write(pty.master, message.data(), message.size())
            != static_cast<ssize_t>(message.size()))
            state.SkipWithError("write failed");
        std::size_t count = 0;
        if (midi.ReceiveSysex(reply, 0xF0, 0xF7, count) != AMidi::kEndSeen
            || count != message.size())
            state.SkipWithError("reply not received whole");
        midi.RestartReception();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * message.size()));
}
BENCHMARK(RawPtyReceive)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
