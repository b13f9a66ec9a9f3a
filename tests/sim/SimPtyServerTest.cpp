#include "sim/SimPtyServer.h"

#include "platform/Clock.h"
#include "platform/FileSystem.h"
#include "platform/MidiBackendRaw.h"
#include "support/TestEnv.h"
#include "synth/AMidi.h"
#include "synth/MZeltaSysexHandler.h"
#include "synth/SysexTestBytes.h"

#include <chrono>
#include <thread>

#include <gtest/gtest.h>

namespace cardmill {
namespace {

using test::Bytes;

/// The reply to a message sent through the port layer, or nothing after half a second.
Bytes Exchange(AMidi& midi, std::span<const std::uint8_t> message)
{
    midi.RestartReception();
    EXPECT_EQ(midi.SendSysex(message), AMidi::kSent);
    Bytes reply(32);
    std::size_t count = 0;
    midi.ReceiveSysex(reply, 0xF0, 0xF7, count);
    reply.resize(count);
    return reply;
}

TEST(SimPtyServer, ServesTheRawMidiBackEndOneProgramAfterAnother)
{
    test::TempDir dir;
    SimOptions options;
    options.instrument.cardBytes = 128 * 1024;
    options.cardPath = dir.File("card.img");
    std::string error;
    auto server = SimPtyServer::Create(options, error);
    ASSERT_TRUE(server) << error;
    std::atomic<bool> stop { false };
    bool served = false;
    std::string serveError;
    std::thread serving([&] { served = server->Serve(stop, serveError); });
    // A failed assertion returns early: the server still has to be stopped and joined.
    struct Joiner {
        SimPtyServer& server;
        std::thread& thread;
        ~Joiner()
        {
            if (thread.joinable()) {
                server.Stop();
                thread.join();
            }
        }
    } joiner { *server, serving };

    const Bytes data = test::PatternBlock(11);
    SystemClock clock;
    for (int program = 0; program < 2; ++program) {
        MidiBackendRaw backend(server->Path());
        AMidi midi(backend, clock);
        ASSERT_EQ(midi.OpenDevices(0, 0), AMidi::kOpened) << backend.LastError();
        MZeltaSysexHandler handler;
        ASSERT_TRUE(handler.ReceiveIdentityReply(
            Exchange(midi, MZeltaSysexHandler::MakeIdentityRequest())));
        ASSERT_TRUE(handler.MakeBlock(0, static_cast<std::uint32_t>(program), data));
        ASSERT_TRUE(handler.ReceiveCardReply(Exchange(midi, handler.GetBlockMessage())));
        EXPECT_TRUE(handler.WasAcknowledged());
        // The first program leaves without reading the reply to its last message, which the
        // next would take for the identity reply it waits for. (Bytes written in the last
        // microseconds before a close, while the next program opens, can't be told apart.)
        midi.RestartReception();
        EXPECT_EQ(midi.SendSysex(*handler.MakeEraseSector(1)), AMidi::kSent);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }

    server->Stop();
    serving.join();
    EXPECT_TRUE(served) << serveError;
    const auto card = ReadWholeFile(options.cardPath, 1 << 20);
    ASSERT_TRUE(card);
    ASSERT_EQ(card->size(), 128u * 1024);
    EXPECT_EQ(Bytes(card->begin(), card->begin() + 1024), data);
    EXPECT_EQ(Bytes(card->begin() + 1024, card->begin() + 2048), data);
}

} // namespace
} // namespace cardmill
