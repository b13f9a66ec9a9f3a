#include "platform/MidiBackendAlsa.h"
#include "platform/MidiBackendRaw.h"
#include "platform/RawTerminal.h"
#include "support/Pty.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <future>
#include <tuple>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

namespace cardmill {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

TEST(MidiBackendAlsa, StablePortNameDropsOnlyTheClientAndPortNumbers)
{
    // Names that do not end in "N:N" are kept whole.
    for (const auto& [name, stable] : std::vector<std::pair<std::string, std::string>> {
             { "Midi Through:Midi Through Port-0 14:0", "Midi Through:Midi Through Port-0" },
             { "UM-ONE:UM-ONE MIDI 1 20:0", "UM-ONE:UM-ONE MIDI 1" },
             { "UM-ONE:UM-ONE MIDI 1 128:12", "UM-ONE:UM-ONE MIDI 1" },
             { "Synth Port 1", "Synth Port 1" }, { "Synth 1:a", "Synth 1:a" },
             { "Synth :0", "Synth :0" }, { "14:0", "14:0" }, { "", "" } })
        EXPECT_EQ(MidiBackendAlsa::StablePortName(name), stable) << name;
}

TEST(MidiBackendAlsa, PortAddressIsTheClientAndPortAtTheEndOfTheName)
{
    // The output's own sequencer client connects to the port by these numbers.
    using Address = std::optional<std::pair<int, int>>;
    EXPECT_EQ(MidiBackendAlsa::PortAddress("UM-ONE:UM-ONE MIDI 1 20:0"), Address({ 20, 0 }));
    EXPECT_EQ(MidiBackendAlsa::PortAddress("Synth 128:12"), Address({ 128, 12 }));
    for (const char* none : { "Synth Port 1", "Synth 1:a", "14:0", "", "Synth 99999999999:0" })
        EXPECT_EQ(MidiBackendAlsa::PortAddress(none), std::nullopt) << none;
}

TEST(MidiBackendAlsa, WithoutASequencerHasNoPortsAndSaysWhy)
{
    // With /dev/null the device check passes, so RtMidi itself tries the missing sequencer.
    for (const char* device : { "/nonexistent/snd/seq", "/dev/null" }) {
        SCOPED_TRACE(device);
        if (device == std::string("/dev/null") && std::filesystem::exists("/dev/snd/seq"))
            GTEST_SKIP() << "this machine has an ALSA sequencer";
        MidiBackendAlsa backend("Cardmill test", device);
        EXPECT_EQ(std::tuple(backend.Available(), backend.Error(), backend.InputNames().size(),
                      backend.OutputNames().size(), backend.OpenInput(0), backend.OpenOutput(0),
                      backend.Send(Bytes { 0xF0, 0x7E, 0xF7 }, 10ms)),
            std::tuple(false, "no ALSA sequencer is available", 0u, 0u, false, false, false));
        backend.OnInput([](std::span<const std::uint8_t>) {});
        backend.Close();
    }
}

/// The raw back-end on a fresh pty, what it reads collected.
struct RawPort {
    RawPort()
    {
        backend.OnInput([this](std::span<const std::uint8_t> bytes) { collector.Take(bytes); });
    }
    PtyPair pty;
    MidiBackendRaw backend { pty.path };
    Collector collector;
};

/// Waits until `events` (POLLIN, or 0 for a hang-up) show on the terminal's side.
void WaitForSlave(const PtyPair& pty, short events)
{
    pollfd wait { pty.slave, events, 0 };
    ASSERT_EQ(::poll(&wait, 1, 5000), 1);
}

TEST(MidiBackendRaw, EveryByteValuePassesAPtyUntouchedBothWays)
{
    RawPort port;
    ASSERT_FALSE(port.pty.path.empty());
    EXPECT_EQ(port.backend.InputNames(), std::vector<std::string> { port.pty.path });
    ASSERT_TRUE(port.backend.OpenOutput(0));
    ASSERT_TRUE(port.backend.OpenInput(0));

    // 0x11 and 0x13 (XON / XOFF), 0x0D (CR), 0x03 (interrupt) and 0x7F (erase) among them.
    Bytes all(256);
    for (int i = 0; i < 256; ++i)
        all[i] = static_cast<std::uint8_t>(i);
    port.pty.Write(all);
    EXPECT_EQ(port.collector.WaitFor(all.size(), 5s), all);
    // No echo came back to the far end.
    EXPECT_TRUE(port.pty.Read(1, 50ms).empty());

    ASSERT_TRUE(port.backend.Send(all, 500ms));
    EXPECT_EQ(port.pty.Read(all.size(), 5s), all);
    // A pty is never a musician's instrument: its transfers keep a journal of their own.
    EXPECT_TRUE(port.backend.ReachesVirtualInstrument());

    port.backend.Close();
    EXPECT_FALSE(port.backend.Send(all, 10ms));
    EXPECT_FALSE(port.backend.ReachesVirtualInstrument());
}

TEST(MidiBackendRaw, OpenFailsOnAMissingDeviceOrAnotherIndex)
{
    MidiBackendRaw missing("/nonexistent/midiC9D9");
    EXPECT_FALSE(missing.OpenInput(0));
    EXPECT_FALSE(missing.OpenOutput(0));
    EXPECT_FALSE(missing.LastError().empty());

    RawPort port;
    EXPECT_FALSE(port.backend.OpenInput(1));
    EXPECT_FALSE(port.backend.OpenOutput(-1));
}

TEST(MidiBackendRaw, BytesLeftFromBeforeTheOpenAreNotTakenForInput)
{
    RawPort port;
    ASSERT_TRUE(MakeTerminalRaw(port.pty.slave));
    // A reply that the program before this one left unread.
    port.pty.Write({ 0xF0, 0x00, 0x00, 0x0E, 0x0E, 0x14, 0xF7 });
    WaitForSlave(port.pty, POLLIN);

    ASSERT_TRUE(port.backend.OpenInput(0));
    const Bytes fresh { 0xF0, 0x7E, 0xF7 };
    port.pty.Write(fresh);
    EXPECT_EQ(port.collector.WaitFor(fresh.size(), 5s), fresh);
    EXPECT_EQ(port.collector.WaitFor(fresh.size() + 1, 50ms), fresh);
}

TEST(MidiBackendRaw, CloseEndsTheReaderEvenAfterTheFarEndHasGone)
{
    RawPort port;
    ASSERT_TRUE(port.backend.OpenInput(0));
    port.pty.Write({ 0xF0, 0xF7 });
    EXPECT_EQ(port.collector.WaitFor(2, 5s).size(), 2u);
    port.pty.CloseMaster();
    WaitForSlave(port.pty, 0);
    auto closed = std::async(std::launch::async, [&] { port.backend.Close(); });
    ASSERT_EQ(closed.wait_for(5s), std::future_status::ready) << "Close() waits on its reader";
    EXPECT_FALSE(port.backend.Send(Bytes { 0xF0, 0xF7 }, 10ms));
    EXPECT_EQ(port.collector.WaitFor(3, 50ms).size(), 2u); // nothing arrived after the close
}

} // namespace
} // namespace cardmill
