#include "sim/MidiBackendSim.h"

#include "platform/Clock.h"
#include "platform/FileSystem.h"
#include "support/Pty.h"
#include "support/TestEnv.h"
#include "synth/AMidi.h"
#include "synth/MZeltaSysexHandler.h"
#include "synth/SysexTestBytes.h"

#include <chrono>
#include <thread>

#include <gtest/gtest.h>

namespace cardmill {
namespace {

using namespace std::chrono_literals;
using test::Bytes;

constexpr std::size_t kSector = 128 * 1024;

SimOptions SmallCard()
{
    SimOptions options;
    options.instrument.cardBytes = 2 * kSector;
    return options;
}

/// The program's side: the port layer over the in-process instrument, as a transfer drives it.
class Host {
public:
    explicit Host(const SimOptions& options)
    {
        std::string error;
        backend = MidiBackendSim::Create(options, error);
        EXPECT_TRUE(backend) << error;
        midi = std::make_unique<AMidi>(*backend, clock);
        EXPECT_EQ(midi->OpenDevices(0, 0), AMidi::kOpened);
    }

    /// The reply to a message, or nothing after half a second of silence.
    Bytes Exchange(const Bytes& message)
    {
        midi->RestartReception();
        EXPECT_EQ(midi->SendSysex(message), AMidi::kSent);
        Bytes reply(32);
        std::size_t count = 0;
        midi->ReceiveSysex(reply, 0xF0, 0xF7, count);
        reply.resize(count);
        return reply;
    }
    bool Identify()
    {
        return handler.ReceiveIdentityReply(Exchange(MZeltaSysexHandler::MakeIdentityRequest()));
    }
    /// "ack", "refused N", or "" for no reply.
    std::string Card(const Bytes& message)
    {
        const Bytes reply = Exchange(message);
        if (!handler.ReceiveCardReply(reply))
            return reply.empty() ? "" : "?";
        return handler.WasAcknowledged() ? "ack" : "refused " + std::to_string(handler.GetReason());
    }
    std::string Write(std::uint32_t sector, std::uint32_t block, const Bytes& data)
    {
        EXPECT_TRUE(handler.MakeBlock(sector, block, data));
        const auto kept = handler.GetBlockMessage();
        return Card(Bytes(kept.begin(), kept.end()));
    }

    SystemClock clock;
    std::unique_ptr<MidiBackendSim> backend;
    std::unique_ptr<AMidi> midi;
    MZeltaSysexHandler handler;
};

TEST(MidiBackendSim, IdentifiesErasesAndWritesThroughThePortLayer)
{
    SimOptions options = SmallCard();
    options.instrument.family = kPercula;
    Host host(options);
    EXPECT_EQ(host.backend->InputNames(), std::vector<std::string> { "sim" });
    EXPECT_EQ(host.backend->OutputNames(), std::vector<std::string> { "sim" });
    ASSERT_TRUE(host.Identify());
    EXPECT_EQ(host.handler.GetFamily(), kPercula);

    const Bytes data = test::PatternBlock(5);
    EXPECT_EQ(host.Card(*host.handler.MakeEraseSector(1)), "ack");
    EXPECT_EQ(host.Write(1, 2, data), "ack");
    EXPECT_EQ(host.Write(1, 2, test::PatternBlock(6)), "refused 4");
    const Bytes card = host.backend->Card();
    EXPECT_EQ(Bytes(card.begin() + kSector + 2048, card.begin() + kSector + 3072), data);
}

TEST(MidiBackendSim, RepliesComeOnTheBackEndsOwnThreadAndStopWithClose)
{
    SimOptions options = SmallCard();
    options.instrument.writeMs = 60000; // the reply would come a minute later
    std::string error;
    auto backend = MidiBackendSim::Create(options, error);
    ASSERT_TRUE(backend) << error;
    ASSERT_TRUE(backend->OpenInput(0));
    ASSERT_TRUE(backend->OpenOutput(0));
    EXPECT_FALSE(backend->OpenInput(1));
    Collector collector;
    std::thread::id deliveredOn;
    std::atomic<int> calls { 0 };
    backend->OnInput([&](std::span<const std::uint8_t> bytes) {
        deliveredOn = std::this_thread::get_id();
        ++calls;
        collector.Take(bytes);
    });

    ASSERT_TRUE(backend->Send(MZeltaSysexHandler::MakeIdentityRequest(), 500ms));
    EXPECT_EQ(collector.WaitFor(17, 5s).size(), 17u);
    EXPECT_NE(deliveredOn, std::this_thread::get_id());

    MZeltaSysexHandler handler;
    handler.ReceiveIdentityReply(collector.WaitFor(17, 0ms));
    ASSERT_TRUE(handler.MakeBlock(0, 0, test::PatternBlock(1)));
    const auto block = handler.GetBlockMessage();
    ASSERT_TRUE(backend->Send(block, 500ms));
    // Closing neither waits for the busy instrument nor lets its reply through afterwards.
    backend->Close();
    EXPECT_EQ(calls, 1);
    EXPECT_FALSE(backend->Send(block, 500ms));
    EXPECT_EQ(backend->Card()[0], test::PatternBlock(1)[0]); // the block was stored all the same
}

TEST(MidiBackendSim, SendsActiveSensingWhenAskedAndThePortLayerNeverSeesIt)
{
    SimOptions options = SmallCard();
    options.activeSensingMs = 300;
    std::string error;
    auto backend = MidiBackendSim::Create(options, error);
    ASSERT_TRUE(backend) << error;
    Collector collector;
    backend->OnInput([&](std::span<const std::uint8_t> bytes) { collector.Take(bytes); });
    ASSERT_TRUE(backend->OpenInput(0));
    EXPECT_EQ(collector.WaitFor(2, 5s), (Bytes { 0xFE, 0xFE }));
    backend->Close();
    backend->OnInput(nullptr);

    Host host(options);
    std::this_thread::sleep_for(700ms);
    ASSERT_TRUE(host.Identify());
    EXPECT_EQ(host.Write(0, 0, test::PatternBlock(2)), "ack");
}

TEST(MidiBackendSim, KeepsTheCardInItsFile)
{
    test::TempDir dir;
    const std::string path = dir.File("card.img");
    SimOptions options = SmallCard();
    options.cardPath = path;
    options.logPath = dir.File("sim.log");
    {
        Host host(options); // a missing file is an erased card
        ASSERT_TRUE(host.Identify());
        EXPECT_EQ(host.Write(0, 1, test::PatternBlock(7)), "ack");
        // Written through: the file holds the block once it is acknowledged, so a program
        // killed now loses nothing the instrument acknowledged.
        auto saved = ReadWholeFile(path, 4 * kSector);
        ASSERT_TRUE(saved);
        EXPECT_EQ(saved->size(), 2 * kSector);
        EXPECT_EQ(Bytes(saved->begin() + 1024, saved->begin() + 2048), test::PatternBlock(7));
        EXPECT_EQ(host.Write(0, 2, test::PatternBlock(8)), "ack");
        std::string error;
        EXPECT_TRUE(host.backend->SaveCard(error)) << error;
    }
    {
        Host host(options);
        ASSERT_TRUE(host.Identify());
        const Bytes card = host.backend->Card();
        EXPECT_EQ(Bytes(card.begin() + 2048, card.begin() + 3072), test::PatternBlock(8));
    }
    const auto log = ReadWholeFile(dir.File("sim.log"), 100000);
    ASSERT_TRUE(log);
    EXPECT_EQ(std::string(log->begin(), log->end()),
        "#1 received identity request (6 bytes)\n#1 sent identity reply\n");

    std::string error;
    SimOptions tooSmall = options;
    tooSmall.instrument.cardBytes = kSector;
    EXPECT_FALSE(MidiBackendSim::Create(tooSmall, error));
    EXPECT_NE(error.find("more than the card's"), std::string::npos) << error;
    SimOptions nowhere = options;
    nowhere.cardPath = dir.File("missing/card.img");
    EXPECT_FALSE(MidiBackendSim::Create(nowhere, error));
    EXPECT_NE(error.find("does not exist"), std::string::npos) << error;
    SimOptions folder = options;
    folder.cardPath = dir.Path();
    EXPECT_FALSE(MidiBackendSim::Create(folder, error));
    EXPECT_NE(error.find("can't read"), std::string::npos) << error;
    SimOptions badLog = SmallCard();
    badLog.logPath = dir.File("missing/sim.log");
    EXPECT_FALSE(MidiBackendSim::Create(badLog, error));
    EXPECT_NE(error.find("can't write the log file"), std::string::npos) << error;

    // A card that did not change is not written: no file appears.
    SimOptions untouched = SmallCard();
    untouched.cardPath = dir.File("untouched.img");
    {
        Host host(untouched);
        ASSERT_TRUE(host.Identify());
    }
    EXPECT_FALSE(StatFile(untouched.cardPath));
}

} // namespace
} // namespace cardmill
