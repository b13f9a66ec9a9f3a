#include "sim/VirtualInstrument.h"

#include "platform/FileSystem.h"
#include "support/TestEnv.h"
#include "synth/MZeltaSysexHandler.h"
#include "synth/SysexTestBytes.h"

#include <algorithm>

#include <gtest/gtest.h>

namespace cardmill {
namespace {

using test::Bytes;

constexpr std::size_t kSector = 128 * 1024;

/// The program's side of the link, talking to one virtual instrument.
class Link {
public:
    explicit Link(VirtualInstrumentOptions options = {})
        : instrument(std::move(options))
    {
        instrument.SetLog([this](const std::string& line) { log.push_back(line); });
    }

    Bytes Feed(const Bytes& bytes) { return instrument.Receive(bytes); }
    bool Identify()
    {
        return handler.ReceiveIdentityReply(Feed(MZeltaSysexHandler::MakeIdentityRequest()));
    }
    /// The card reply to a message: "ack", "refused N", or "" for none or one not understood.
    std::string Exchange(const Bytes& message)
    {
        const Bytes reply = Feed(message);
        if (!handler.ReceiveCardReply(reply))
            return reply.empty() ? "" : "?";
        return handler.WasAcknowledged() ? "ack" : "refused " + std::to_string(handler.GetReason());
    }
    std::string Erase(std::uint32_t sector) { return Exchange(*handler.MakeEraseSector(sector)); }
    std::string Write(std::uint32_t sector, std::uint32_t block, const Bytes& data)
    {
        EXPECT_TRUE(handler.MakeBlock(sector, block, data));
        return Exchange(BlockMessage());
    }
    Bytes BlockMessage() const
    {
        const auto kept = handler.GetBlockMessage();
        return Bytes(kept.begin(), kept.end());
    }
    Bytes CardBytes(std::size_t offset, std::size_t count) const
    {
        const auto card = instrument.Card().subspan(offset, count);
        return Bytes(card.begin(), card.end());
    }

    VirtualInstrument instrument;
    MZeltaSysexHandler handler;
    std::vector<std::string> log;
};

VirtualInstrumentOptions SmallCard()
{
    VirtualInstrumentOptions options;
    options.cardBytes = 2 * kSector;
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
    const Bytes replies = whole.Feed(stream);
    ASSERT_EQ(replies.size(), 3 * 17u);
    EXPECT_TRUE(whole.handler.ReceiveIdentityReply(Bytes(replies.begin(), replies.begin() + 17)));
    EXPECT_EQ(whole.handler.DeviceBanner(), "Orvane Device: Zelta Grand v01.00");
    EXPECT_EQ(whole.instrument.MessagesReceived(), 3u);

    Link bytewise;
    Bytes pieced;
    for (const std::uint8_t byte : stream) {
        const Bytes reply = bytewise.Feed({ byte });
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
    Bytes reply = other.Feed(MZeltaSysexHandler::MakeIdentityRequest());
    ASSERT_EQ(reply.size(), 18u);
    EXPECT_EQ(reply[2], 0xF8);
    reply.erase(reply.begin() + 2);
    ASSERT_TRUE(other.handler.ReceiveIdentityReply(reply));
    EXPECT_EQ(other.handler.DeviceBanner(), "Orvane Device: Percula v02.03");
}

TEST(VirtualInstrument, WritesAWholeSectorAndReadsItBack)
{
    Link link(SmallCard());
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

TEST(VirtualInstrument, RefusesToWriteOverDataUnlessTheBytesAreTheSame)
{
    const Bytes a = test::PatternBlock(1);
    const Bytes b = test::PatternBlock(2);
    Link link(SmallCard());
    ASSERT_TRUE(link.Identify());
    EXPECT_EQ(link.Write(0, 5, a), "ack");
    EXPECT_EQ(link.Write(0, 5, a), "ack"); // resent after a lost acknowledgement
    EXPECT_EQ(link.Write(0, 5, b), "refused 4");
    EXPECT_EQ(link.CardBytes(5 * 1024, 1024), a);
    EXPECT_EQ(link.Erase(0), "ack");
    EXPECT_EQ(link.Write(0, 5, b), "ack");
    EXPECT_EQ(link.CardBytes(5 * 1024, 1024), b);

    VirtualInstrumentOptions noErase = SmallCard();
    noErase.noEraseCommand = true;
    Link old(noErase);
    ASSERT_TRUE(old.Identify());
    EXPECT_EQ(old.Erase(0), "refused 6");
    EXPECT_EQ(old.Write(0, 5, a), "ack");
    EXPECT_EQ(old.Write(0, 5, b), "ack");
    EXPECT_EQ(old.CardBytes(5 * 1024, 1024), b);
}

TEST(VirtualInstrument, RefusesWithTheCardsReasons)
{
    const Bytes data = test::PatternBlock(0);
    VirtualInstrumentOptions noCard = SmallCard();
    noCard.noCard = true;
    Link empty(noCard);
    ASSERT_TRUE(empty.Identify());
    EXPECT_EQ(empty.Erase(0), "refused 0");
    EXPECT_EQ(empty.Write(0, 0, data), "refused 0");

    VirtualInstrumentOptions locked = SmallCard();
    locked.writeProtected = true;
    Link protectedCard(locked);
    ASSERT_TRUE(protectedCard.Identify());
    EXPECT_EQ(protectedCard.Erase(0), "refused 1");
    EXPECT_EQ(protectedCard.Write(0, 0, data), "refused 1");
    EXPECT_EQ(protectedCard.CardBytes(0, 1024), Bytes(1024, 0xFF));

    Link link(SmallCard());
    ASSERT_TRUE(link.Identify());
    ASSERT_TRUE(link.handler.MakeBlock(0, 0, data));
    Bytes badSum = link.BlockMessage();
    badSum[1179] ^= 0x01;
    EXPECT_EQ(link.Exchange(badSum), "refused 3");
    Bytes truncated = link.BlockMessage();
    truncated.erase(truncated.begin() + 500);
    EXPECT_EQ(link.Exchange(truncated), "refused 3");
    EXPECT_EQ(link.CardBytes(0, 1024), Bytes(1024, 0xFF));

    // Messages for another maker or family are not answered.
    MZeltaSysexHandler stranger({ 0x00, 0x21, 0x09 });
    EXPECT_TRUE(link.Feed(*stranger.MakeEraseSector(0)).empty());
    Bytes oversized(2000, 0x01);
    oversized.front() = 0xF0;
    oversized.back() = 0xF7;
    EXPECT_TRUE(link.Feed(oversized).empty());
    EXPECT_EQ(link.Write(0, 0, data), "ack");
}

TEST(VirtualInstrument, StagesFaultsAtTheirMessages)
{
    VirtualInstrumentOptions options = SmallCard();
    for (const char* text : { "drop:2", "corrupt:3", "refuse:2:4", "silent:6" })
        options.faults.push_back(*InstrumentFault::Parse(text));
    Link link(options);
    const Bytes data = test::PatternBlock(9);

    ASSERT_TRUE(link.Identify()); // 1
    EXPECT_EQ(link.Write(0, 0, data), ""); // 2: carried out, reply lost
    EXPECT_EQ(link.CardBytes(0, 1024), data);
    EXPECT_EQ(link.Exchange(link.BlockMessage()), "refused 3"); // 3: a bit flipped on the way
    EXPECT_EQ(link.Exchange(link.BlockMessage()), "refused 2"); // 4
    EXPECT_EQ(link.Exchange(link.BlockMessage()), "ack"); // 5: the same bytes again
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
    VirtualInstrumentOptions options = SmallCard();
    options.writeMs = 7;
    options.eraseMs = 300;
    Link link(options);
    ASSERT_TRUE(link.Identify());
    EXPECT_EQ(link.instrument.TakeBusyMs(), 0u);

    ASSERT_EQ(link.Erase(0), "ack");
    ASSERT_EQ(link.Write(0, 0, test::PatternBlock(1)), "ack");
    ASSERT_EQ(link.Write(0, 1, test::PatternBlock(2)), "ack");
    EXPECT_EQ(link.instrument.TakeBusyMs(), 314u);
    EXPECT_EQ(link.instrument.TakeBusyMs(), 0u); // taken once

    // A block sent again is stored again; a refused one, or the erase past the end that is only
    // acknowledged, costs nothing.
    ASSERT_EQ(link.Exchange(link.BlockMessage()), "ack");
    EXPECT_EQ(link.instrument.TakeBusyMs(), 7u);
    ASSERT_EQ(link.Write(0, 1, test::PatternBlock(3)), "refused 4");
    ASSERT_EQ(link.Erase(2), "ack");
    EXPECT_EQ(link.instrument.TakeBusyMs(), 0u);

    // Several messages in one piece of input add up.
    Bytes both = *link.handler.MakeEraseSector(1);
    ASSERT_TRUE(link.handler.MakeBlock(1, 0, test::PatternBlock(4)));
    const Bytes block = link.BlockMessage();
    both.insert(both.end(), block.begin(), block.end());
    EXPECT_EQ(link.Feed(both).size(), 14u);
    EXPECT_EQ(link.instrument.TakeBusyMs(), 307u);
}

TEST(VirtualInstrument, ToldItsStoreOfEachChangeAndReadsItsCardFromAFile)
{
    test::TempDir dir;
    Link link(SmallCard());
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

    VirtualInstrument again(SmallCard());
    std::string error;
    ASSERT_TRUE(again.LoadCard(path, error)) << error;
    EXPECT_TRUE(std::ranges::equal(again.Card(), link.instrument.Card()));

    // A shorter file fills the start of the card; the rest is erased.
    const std::string part = dir.Write("part.bin", Bytes(10, 0x00));
    ASSERT_TRUE(again.LoadCard(part, error));
    EXPECT_EQ(again.Card()[9], 0x00);
    EXPECT_EQ(again.Card()[10], 0xFF);
    EXPECT_EQ(again.Card()[kSector + 3 * 1024], 0xFF);

    VirtualInstrumentOptions tiny;
    tiny.cardBytes = kSector;
    VirtualInstrument small(tiny);
    EXPECT_FALSE(small.LoadCard(path, error));
    EXPECT_NE(error.find("more than the card's"), std::string::npos);
    EXPECT_FALSE(small.LoadCard(dir.File("missing.bin"), error));
    EXPECT_EQ(small.Card()[0], 0xFF);
}

} // namespace
} // namespace cardmill
