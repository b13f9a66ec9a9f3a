#include "platform/Clock.h"
#include "platform/MidiBackendRaw.h"
#include "support/Pty.h"
#include "synth/AMidi.h"

#include <thread>

#include <gtest/gtest.h>

namespace cardmill {
namespace {

using namespace std::chrono_literals;

TEST(AMidi, ASysexMessageSentInPiecesOverAPtyArrivesWhole)
{
    PtyPair pty;
    MidiBackendRaw backend(pty.path);
    SystemClock clock;
    AMidi midi(backend, clock);
    ASSERT_EQ(midi.OpenDevices(0, 0), AMidi::kOpened);

    std::vector<std::uint8_t> message { 0xF0, 0x00, 0x00, 0x0E, 0x11, 0x13, 0x0D, 0x0A };
    for (int i = 0; i < 300; ++i)
        message.push_back(static_cast<std::uint8_t>(i & 0x7F));
    message.push_back(0xF7);

    std::thread farEnd([&] {
        pty.Write({ 0xFE, 0x42 }); // stray bytes before the message
        const std::size_t cuts[] = { 0, 3, 5, 120, 250, message.size() };
        for (std::size_t i = 0; i + 1 < std::size(cuts); ++i) {
            pty.Write(std::vector<std::uint8_t>(message.begin() + static_cast<long>(cuts[i]),
                message.begin() + static_cast<long>(cuts[i + 1])));
            std::this_thread::sleep_for(30ms);
        }
    });
    std::vector<std::uint8_t> received(1024);
    std::size_t count = 0;
    const int result = midi.ReceiveSysex(received, 0xF0, 0xF7, count);
    farEnd.join();
    EXPECT_EQ(result, AMidi::kEndSeen);
    received.resize(count);
    EXPECT_EQ(received, message);

    // And the other way, through the 500 ms send.
    EXPECT_EQ(midi.SendSysex(message), AMidi::kSent);
    EXPECT_EQ(pty.Read(message.size(), 5s), message);
}

} // namespace
} // namespace cardmill
