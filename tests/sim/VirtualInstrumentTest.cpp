#include "sim/VirtualInstrument.h"

#include "platform/Clock.h"
#include "platform/FileSystem.h"
#include "sim/MidiBackendSim.h"
#include "support/Pty.h"
#include "support/TestEnv.h"
#include "synth/AMidi.h"
#include "synth/InstrumentLink.h"
#include "synth/MZeltaSysexHandler.h"

#include <algorithm>
#include <chrono>
#include <thread>
#include <tuple>

#include <gtest/gtest.h>

namespace cardmill {
namespace {

using namespace std::chrono_literals;
using test::Bytes;
using Options = VirtualInstrumentOptions;

constexpr std::size_t kSector = 128 * 1024;

const VirtualInstrumentOptions kSmallCard = test::With(&Options::cardBytes, 2 * kSector);

/// The program's side of the link: the handler builds the messages and reads the replies that
/// Exchange() brings back (none: empty).
class Talk {
public:
    virtual ~Talk() = default;
    virtual Bytes Exchange(const Bytes& message) = 0;

    bool Identify()
    {
        return handler.ReceiveIdentityReply(Exchange(MZeltaSysexHandler::MakeIdentityRequest()));
    }
    /// The card reply to a message: "ack", "refused N", "?" for one not understood, "" for none.
    std::string Card(const Bytes& message)
    {
        const Bytes reply = Exchange(message);
        if (!handler.ReceiveCardReply(reply))
            return reply.empty() ? "" : "?";
        return handler.WasAcknowledged() ? "ack" : "refused " + std::to_string(handler.GetReason());
    }
    std::string Erase(std::uint32_t sector) { return Card(*handler.MakeEraseSector(sector)); }
    std::string Write(std::uint32_t sector, std::uint32_t block, const Bytes& data)
    {
        EXPECT_TRUE(handler.MakeBlock(sector, block, data));
        return Card(BlockMessage());
    }
    Bytes BlockMessage() const
    {
        const auto kept = handler.GetBlockMessage();
        return Bytes(kept.begin(), kept.end());
    }

    MZeltaSysexHandler handler;
};

/// Talking to one virtual instrument directly.
class Link final : public Talk {
public:
    explicit Link(VirtualInstrumentOptions options = kSmallCard)
        : instrument(std::move(options))
    {
        instrument.SetLog([this](const std::string& line) { log.push_back(line); });
    }
    Bytes Exchange(const Bytes& message) override { return instrument.Receive(message); }
    Bytes CardBytes(std::size_t offset, std::size_t count) const
    {
        const auto card = instrument.Card().subspan(offset, count);
        return Bytes(card.begin(), card.end());
    }

    VirtualInstrument instrument;
    std::vector<std::string> log;
};

/// Talking through the port layer to the in-process instrument, as a transfer does.
class Host final : public Talk {
public:
    explicit Host(const SimOptions& options)
    {
        std::string error;
        backend = MidiBackendSim::Create(options, error);
        EXPECT_TRUE(backend) << error;
        midi = std::make_unique<AMidi>(*backend, clock);
        EXPECT_EQ(midi->OpenDevices(0, 0), AMidi::kOpened);
    }
    /// The reply, or nothing after half a second of silence.
    Bytes Exchange(const Bytes& message) override
    {
        midi->RestartReception();
        EXPECT_EQ(midi->SendSysex(message), AMidi::kSent);
        Bytes reply(32);
        std::size_t count = 0;
        midi->ReceiveSysex(reply, 0xF0, 0xF7, count);
        reply.resize(count);
        return reply;
    }

    SystemClock clock;
    std::unique_ptr<MidiBackendSim> backend;
    std::unique_ptr<AMidi> midi;
};

SimOptions SmallSim(const std::string& cardPath = "", const std::string& logPath = "")
{
    SimOptions options;
    options.instrument = kSmallCard;
    options.cardPath = cardPath;
    options.logPath = logPath;
    return options;
}

TEST(VirtualInstrument, AnswersWhateverTheInputIsSplitInto)
{
    const Bytes request = MZeltaSysexHandler::MakeIdentityRequest();
    Bytes stream { 0x90, 0x3C, 0x40, 0xF7,
        0x12 }; // a note and stray bytes before the first message
    stream.insert(stream.end(), request.begin(), request.end());
    stream.insert(stream.begin() + 8, 0xF8); // a clock tick inside the message
    stream.insert(stream.end(), request.begin(), request.end());
    stream.insert(stream.end(), { 0xF0, 0x7E, 0x7F, 0x06 }); // cut short by the next start
    stream.insert(stream.end(), request.begin(), request.end());
    stream.insert(stream.end(), { 0xF0, 0x7E, 0x80, 0x06, 0x01, 0xF7 }); // a status byte inside

    Link whole;
    const Bytes replies = whole.Exchange(stream);
    ASSERT_EQ(replies.size(), 3 * 17u);
    EXPECT_TRUE(whole.handler.ReceiveIdentityReply(Bytes(replies.begin(), replies.begin() + 17)));
    EXPECT_EQ(whole.handler.DeviceBanner(), "Orvane Device: Zelta Grand v01.00");
    EXPECT_EQ(whole.instrument.MessagesReceived(), 3u);

    Link bytewise;
    Bytes pieced;
    for (const std::uint8_t byte : stream) {
        const Bytes reply = bytewise.Exchange({ byte });
        pieced.insert(pieced.end(), reply.begin(), reply.end());
    }
    EXPECT_EQ(pieced, replies);

    VirtualInstrumentOptions percula;
    percula.family = *VirtualInstrumentOptions::ParseFamily("percula");
    percula.model = 0;
    percula.firmware = *VirtualInstrumentOptions::ParseFirmware("0203");
    // One that sends MIDI clock puts a clock byte inside its replies too.
    percula.clockInReplies = true;
    Link other(percula);
    Bytes reply = other.Exchange(MZeltaSysexHandler::MakeIdentityRequest());
    ASSERT_EQ(reply.size(), 18u);
    EXPECT_EQ(reply[2], 0xF8);
    reply.erase(reply.begin() + 2);
    ASSERT_TRUE(other.handler.ReceiveIdentityReply(reply));
    EXPECT_EQ(other.handler.DeviceBanner(), "Orvane Device: Percula v02.03");
}

TEST(VirtualInstrument, WritesAWholeSectorAndReadsItBack)
{
    Link link;
    ASSERT_TRUE(link.Identify());
    ASSERT_EQ(link.Erase(1), "ack");
    Bytes written;
    for (std::uint32_t block = 0; block < 128; ++block) {
        const Bytes data = test::PatternBlock(block);
        ASSERT_EQ(link.Write(1, block, data), "ack") << block;
        written.insert(written.end(), data.begin(), data.end());
    }
    EXPECT_EQ(link.CardBytes(kSector, kSector), written);
    EXPECT_EQ(link.CardBytes(0, kSector), Bytes(kSector, 0xFF));

    // The driver asks for the next sector's erase before it sees that the image has ended.
    EXPECT_EQ(link.Erase(2), "ack");
    EXPECT_EQ(link.Erase(3), "refused 5");
    EXPECT_EQ(link.Write(2, 0, Bytes(1024, 0)), "refused 5");
    EXPECT_EQ(link.CardBytes(kSector, kSector), written);
}

TEST(VirtualInstrument, RefusesWithTheCardsReasonsAndWritesOverDataOnlyWithTheSameBytes)
{
    const Bytes a = test::PatternBlock(1);
    const Bytes b = test::PatternBlock(2);
    Link link;
    ASSERT_TRUE(link.Identify());
    EXPECT_EQ(link.Write(0, 5, a), "ack");
    EXPECT_EQ(link.Write(0, 5, a), "ack"); // resent after a lost acknowledgement
    EXPECT_EQ(link.Write(0, 5, b), "refused 4");
    EXPECT_EQ(link.CardBytes(5 * 1024, 1024), a);
    EXPECT_EQ(link.Erase(0), "ack");
    EXPECT_EQ(link.Write(0, 5, b), "ack");
    EXPECT_EQ(link.CardBytes(5 * 1024, 1024), b);

    Link old(test::With(&Options::noEraseCommand, true));
    ASSERT_TRUE(old.Identify());
    EXPECT_EQ(old.Erase(0), "refused 6");
    EXPECT_EQ(old.Write(0, 5, a), "ack");
    EXPECT_EQ(old.Write(0, 5, b), "ack");
    EXPECT_EQ(old.CardBytes(5 * 1024, 1024), b);

    const Bytes data = test::PatternBlock(0);
    for (const auto& [flag, refusal] : { std::pair(&Options::noCard, "refused 0"),
             std::pair(&Options::writeProtected, "refused 1") }) {
        Link card(test::With(flag, true));
        ASSERT_TRUE(card.Identify());
        EXPECT_EQ(card.Erase(0), refusal);
        EXPECT_EQ(card.Write(0, 0, data), refusal);
        EXPECT_EQ(card.CardBytes(0, 1024), Bytes(1024, 0xFF));
    }

    ASSERT_TRUE(link.handler.MakeBlock(0, 0, data));
    Bytes badSum = link.BlockMessage();
    badSum[1179] ^= 0x01;
    EXPECT_EQ(link.Card(badSum), "refused 3");
    Bytes truncated = link.BlockMessage();
    truncated.erase(truncated.begin() + 500);
    EXPECT_EQ(link.Card(truncated), "refused 3");
    EXPECT_EQ(link.CardBytes(0, 1024), Bytes(1024, 0xFF));

    // Messages for another maker or family are not answered.
    MZeltaSysexHandler stranger({ 0x00, 0x21, 0x09 });
    EXPECT_TRUE(link.Exchange(*stranger.MakeEraseSector(0)).empty());
    Bytes oversized(2000, 0x01);
    oversized.front() = 0xF0;
    oversized.back() = 0xF7;
    EXPECT_TRUE(link.Exchange(oversized).empty());
    EXPECT_EQ(link.Write(0, 0, data), "ack");
}

TEST(VirtualInstrument, StagesFaultsAtTheirMessages)
{
    Link link(test::Faults({ "drop:2", "corrupt:3", "refuse:2:4", "silent:6" }));
    const Bytes data = test::PatternBlock(9);

    ASSERT_TRUE(link.Identify()); // 1
    EXPECT_EQ(link.Write(0, 0, data), ""); // 2: carried out, reply lost
    EXPECT_EQ(link.CardBytes(0, 1024), data);
    EXPECT_EQ(link.Card(link.BlockMessage()), "refused 3"); // 3: a bit flipped on the way
    EXPECT_EQ(link.Card(link.BlockMessage()), "refused 2"); // 4
    EXPECT_EQ(link.Card(link.BlockMessage()), "ack"); // 5: the same bytes again
    EXPECT_EQ(link.Erase(0), ""); // 6: silent from here on
    EXPECT_FALSE(link.Identify());
    EXPECT_EQ(link.CardBytes(0, 1024), data);

    // One line per message received and per reply sent (or lost).
    ASSERT_EQ(link.log.size(), 12u);
    EXPECT_EQ(link.log[0], "#1 received identity request (6 bytes)");
    EXPECT_EQ(link.log[1], "#1 sent identity reply");
    EXPECT_EQ(link.log[2], "#2 received write block 0 of sector 0 (1181 bytes)");
    EXPECT_EQ(link.log[3], "#2 lost acknowledgement (fault: drop)");
    EXPECT_EQ(link.log[5], "#3 sent refusal, reason 3");
    EXPECT_EQ(link.log[10], "#6 received erase sector 0 (8 bytes) (fault: silent from here on)");
}

TEST(VirtualInstrument, CountsTheTimeItIsBusyForWhatItStoredOrErased)
{
    Link link(test::With(&Options::writeMs, 7, test::With(&Options::eraseMs, 300, kSmallCard)));
    ASSERT_TRUE(link.Identify());
    EXPECT_EQ(link.instrument.TakeBusyMs(), 0u);

    ASSERT_EQ(link.Erase(0), "ack");
    ASSERT_EQ(link.Write(0, 0, test::PatternBlock(1)), "ack");
    ASSERT_EQ(link.Write(0, 1, test::PatternBlock(2)), "ack");
    EXPECT_EQ(link.instrument.TakeBusyMs(), 314u);
    EXPECT_EQ(link.instrument.TakeBusyMs(), 0u); // taken once

    // A block sent again is stored again; a refused one, or the erase past the end that is only
    // acknowledged, costs nothing.
    ASSERT_EQ(link.Card(link.BlockMessage()), "ack");
    EXPECT_EQ(link.instrument.TakeBusyMs(), 7u);
    ASSERT_EQ(link.Write(0, 1, test::PatternBlock(3)), "refused 4");
    ASSERT_EQ(link.Erase(2), "ack");
    EXPECT_EQ(link.instrument.TakeBusyMs(), 0u);

    // Several messages in one piece of input add up.
    Bytes both = *link.handler.MakeEraseSector(1);
    ASSERT_TRUE(link.handler.MakeBlock(1, 0, test::PatternBlock(4)));
    const Bytes block = link.BlockMessage();
    both.insert(both.end(), block.begin(), block.end());
    EXPECT_EQ(link.Exchange(both).size(), 14u);
    EXPECT_EQ(link.instrument.TakeBusyMs(), 307u);
}

TEST(VirtualInstrument, ToldItsStoreOfEachChangeAndReadsItsCardFromAFile)
{
    test::TempDir dir;
    Link link;
    std::vector<std::pair<std::size_t, std::size_t>> stored;
    link.instrument.SetStore([&](std::size_t offset, std::span<const std::uint8_t> bytes) {
        stored.emplace_back(offset, bytes.size());
        // Before the reply: the card already holds the bytes it is told of.
        EXPECT_TRUE(
            std::ranges::equal(bytes, link.instrument.Card().subspan(offset, bytes.size())));
    });
    ASSERT_TRUE(link.Identify());
    ASSERT_EQ(link.Erase(1), "ack");
    ASSERT_EQ(link.Write(1, 3, test::PatternBlock(4)), "ack");
    // A block sent again changes nothing and stores nothing.
    ASSERT_EQ(link.Write(1, 3, test::PatternBlock(4)), "ack");
    EXPECT_EQ(stored,
        (std::vector<std::pair<std::size_t, std::size_t>> {
            { kSector, kSector }, { kSector + 3 * 1024, 1024 } }));
    const std::string path = dir.Write(
        "card.bin", Bytes(link.instrument.Card().begin(), link.instrument.Card().end()));

    VirtualInstrument again(kSmallCard);
    std::string error;
    ASSERT_TRUE(again.LoadCard(path, error)) << error;
    EXPECT_TRUE(std::ranges::equal(again.Card(), link.instrument.Card()));

    // A shorter file fills the start of the card; the rest is erased.
    ASSERT_TRUE(again.LoadCard(dir.Write("part.bin", Bytes(10, 0x00)), error));
    EXPECT_EQ(std::tuple(again.Card()[9], again.Card()[10], again.Card()[kSector + 3 * 1024]),
        std::tuple(0x00, 0xFF, 0xFF));

    VirtualInstrument small(test::With(&Options::cardBytes, kSector));
    EXPECT_FALSE(small.LoadCard(path, error));
    EXPECT_NE(error.find("more than the card's"), std::string::npos);
    EXPECT_FALSE(small.LoadCard(dir.File("missing.bin"), error));
    EXPECT_EQ(small.Card()[0], 0xFF);
}

TEST(MidiBackendSim, RepliesComeOnTheBackEndsOwnThreadAndStopWithClose)
{
    SimOptions options = SmallSim();
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
    SimOptions options = SmallSim();
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

    // Half a second of nothing but Active Sensing reads as silence, and nothing of it is read.
    Host host(options);
    Bytes nothing(16);
    std::size_t count = 1;
    EXPECT_EQ(
        host.midi->ReceiveSysex(nothing, AMidi::kAnyByte, AMidi::kAnyByte, count), AMidi::kSilence);
    EXPECT_EQ(count, 0u);
    ASSERT_TRUE(host.Identify());
    EXPECT_EQ(host.Write(0, 0, test::PatternBlock(2)), "ack");
}

TEST(MidiBackendSim, IdentifiesErasesAndWritesThroughThePortLayerAndKeepsTheCardInItsFile)
{
    test::TempDir dir;
    const std::string path = dir.File("card.img");
    SimOptions options = SmallSim(path, dir.File("sim.log"));
    options.instrument.family = kPercula;
    {
        Host host(options); // a missing file is an erased card
        ASSERT_TRUE(host.Identify());
        EXPECT_EQ(host.handler.GetFamily(), kPercula);
        EXPECT_EQ(host.Erase(0), "ack");
        EXPECT_EQ(host.Write(0, 1, test::PatternBlock(7)), "ack");
        EXPECT_EQ(host.Write(0, 1, test::PatternBlock(6)), "refused 4");
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
    EXPECT_EQ(test::ReadText(dir.File("sim.log")),
        "#1 received identity request (6 bytes)\n#1 sent identity reply\n");

    // Files the instrument can't use are refused, saying why.
    const auto refusal = [](const SimOptions& refused) {
        std::string error;
        EXPECT_FALSE(MidiBackendSim::Create(refused, error));
        return error;
    };
    using ::testing::IsSubstring;
    EXPECT_PRED_FORMAT2(IsSubstring, "can't read", refusal(SmallSim(dir.Path())));
    EXPECT_PRED_FORMAT2(IsSubstring, "can't write the log file",
        refusal(SmallSim("", dir.File("missing/sim.log"))));

    // A card that did not change is not written: no file appears.
    {
        Host host(SmallSim(dir.File("untouched.img")));
        ASSERT_TRUE(host.Identify());
    }
    EXPECT_FALSE(StatFile(dir.File("untouched.img")));
}

} // namespace
} // namespace cardmill
