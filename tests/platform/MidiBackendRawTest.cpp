#include "platform/MidiBackendRaw.h"

#include "platform/RawTerminal.h"
#include "support/Pty.h"

#include <chrono>
#include <cstdint>
#include <future>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace cardmill {
namespace {

using namespace std::chrono_literals;

std::vector<std::uint8_t> AllByteValues()
{
    std::vector<std::uint8_t> bytes;
    for (int i = 0; i < 256; ++i)
        bytes.push_back(static_cast<std::uint8_t>(i));
    return bytes;
}

TEST(MidiBackendRaw, EveryByteValuePassesAPtyUntouchedBothWays)
{
    PtyPair pty;
    ASSERT_FALSE(pty.path.empty());
    MidiBackendRaw backend(pty.path);
    EXPECT_EQ(backend.InputNames(), std::vector<std::string> { pty.path });
    Collector collector;
    backend.OnInput([&](std::span<const std::uint8_t> bytes) { collector.Take(bytes); });
    ASSERT_TRUE(backend.OpenOutput(0));
    ASSERT_TRUE(backend.OpenInput(0));

    // 0x11 and 0x13 (XON / XOFF), 0x0D (CR), 0x03 (interrupt) and 0x7F (erase) among them.
    const auto all = AllByteValues();
    pty.Write(all);
    EXPECT_EQ(collector.WaitFor(all.size(), 5s), all);
    // No echo came back to the far end.
    EXPECT_TRUE(pty.Read(1, 50ms).empty());

    ASSERT_TRUE(backend.Send(all, 500ms));
    EXPECT_EQ(pty.Read(all.size(), 5s), all);
    // A pty is never a musician's instrument: its transfers keep a journal of their own.
    EXPECT_TRUE(backend.ReachesVirtualInstrument());

    backend.Close();
    EXPECT_FALSE(backend.Send(all, 10ms));
    EXPECT_FALSE(backend.ReachesVirtualInstrument());
}

TEST(MidiBackendRaw, OpenFailsOnAMissingDeviceOrAnotherIndex)
{
    MidiBackendRaw missing("/nonexistent/midiC9D9");
    EXPECT_FALSE(missing.OpenInput(0));
    EXPECT_FALSE(missing.OpenOutput(0));
    EXPECT_FALSE(missing.LastError().empty());

    PtyPair pty;
    MidiBackendRaw backend(pty.path);
    EXPECT_FALSE(backend.OpenInput(1));
    EXPECT_FALSE(backend.OpenOutput(-1));
}

TEST(MidiBackendRaw, BytesLeftFromBeforeTheOpenAreNotTakenForInput)
{
    PtyPair pty;
    ASSERT_TRUE(MakeTerminalRaw(pty.slave));
    // A reply that the program before this one left unread.
    pty.Write({ 0xF0, 0x00, 0x00, 0x0E, 0x0E, 0x14, 0xF7 });
    std::this_thread::sleep_for(20ms);

    MidiBackendRaw backend(pty.path);
    Collector collector;
    backend.OnInput([&](std::span<const std::uint8_t> bytes) { collector.Take(bytes); });
    ASSERT_TRUE(backend.OpenInput(0));
    const std::vector<std::uint8_t> fresh { 0xF0, 0x7E, 0xF7 };
    pty.Write(fresh);
    EXPECT_EQ(collector.WaitFor(fresh.size(), 5s), fresh);
    EXPECT_EQ(collector.WaitFor(fresh.size() + 1, 50ms), fresh);
}

TEST(MidiBackendRaw, CloseEndsTheReaderEvenAfterTheFarEndHasGone)
{
    PtyPair pty;
    MidiBackendRaw backend(pty.path);
    Collector collector;
    backend.OnInput([&](std::span<const std::uint8_t> bytes) { collector.Take(bytes); });
    ASSERT_TRUE(backend.OpenInput(0));
    pty.Write({ 0xF0, 0xF7 });
    EXPECT_EQ(collector.WaitFor(2, 5s).size(), 2u);
    pty.CloseMaster();
    std::this_thread::sleep_for(20ms);
    auto closed = std::async(std::launch::async, [&] { backend.Close(); });
    ASSERT_EQ(closed.wait_for(5s), std::future_status::ready) << "Close() waits on its reader";
    EXPECT_FALSE(backend.Send(std::vector<std::uint8_t> { 0xF0, 0xF7 }, 10ms));
    EXPECT_EQ(collector.WaitFor(3, 50ms).size(), 2u); // nothing arrived after the close
}

} // namespace
} // namespace cardmill
