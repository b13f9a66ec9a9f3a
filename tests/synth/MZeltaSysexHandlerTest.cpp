#include "synth/MZeltaSysexHandler.h"

#include "platform/ScriptedPrompter.h"
#include "synth/SysexTestBytes.h"

#include <numeric>

#include <gtest/gtest.h>

namespace cardmill {
namespace {

using test::Bytes;

constexpr MakerId kMaker { 0x00, 0x21, 0x09 };

Bytes IdentityReply(std::uint8_t device, MakerId maker, std::uint8_t family, std::uint8_t modelLow,
    std::uint8_t modelHigh, const char* version = "0100")
{
    Bytes reply { 0xF0, 0x7E, device, 0x06, 0x02, maker[0], maker[1], maker[2], family, 0x00,
        modelLow, modelHigh };
    for (int i = 0; i < 4; ++i)
        reply.push_back(static_cast<std::uint8_t>(version[i]));
    reply.push_back(0xF7);
    return reply;
}

Bytes Span(std::span<const std::uint8_t> bytes)
{
    return Bytes(bytes.begin(), bytes.end());
}

TEST(MZeltaSysexHandler, BuildsIdentityRequestAndEraseByteForByte)
{
    MZeltaSysexHandler handler(kMaker);
    EXPECT_EQ(
        MZeltaSysexHandler::MakeIdentityRequest(), (Bytes { 0xF0, 0x7E, 0x7F, 0x06, 0x01, 0xF7 }));
    ASSERT_TRUE(handler.ReceiveIdentityReply(IdentityReply(0x7F, kMaker, 0x19, 0, 0)));

    EXPECT_EQ(
        handler.MakeEraseSector(5), (Bytes { 0xF0, 0x00, 0x21, 0x09, 0x19, 0x11, 0x05, 0xF7 }));
    EXPECT_EQ(handler.MakeEraseSector(127)->at(6), 0x7F);
    // Sector 128 would need a status byte: a card over 16 MB cannot be addressed.
    EXPECT_FALSE(handler.MakeEraseSector(128));
    EXPECT_FALSE(handler.MakeEraseSector(0x10000));
    EXPECT_EQ(MZeltaSysexHandler().GetMakerId(), kMakerId);
}

TEST(MZeltaSysexHandler, BuildsBlockWithPackedDataAndChecksum)
{
    MZeltaSysexHandler handler(kMaker);
    ASSERT_TRUE(handler.ReceiveIdentityReply(IdentityReply(0x7F, kMaker, 0x0E, 1, 0)));
    const Bytes data = test::PatternBlock(3);
    ASSERT_TRUE(handler.MakeBlock(3, 126, data));

    const Bytes packed = test::ReferencePack(data);
    ASSERT_EQ(packed.size(), 1171u);
    Bytes expected { 0xF0, 0x00, 0x21, 0x09, 0x0E, 0x12, 3, 126 };
    expected.insert(expected.end(), packed.begin(), packed.end());
    expected.push_back(
        static_cast<std::uint8_t>(std::accumulate(packed.begin(), packed.end(), 3 + 126) % 128));
    expected.push_back(0xF7);
    EXPECT_EQ(Span(handler.GetBlockMessage()), expected);

    // A block that cannot be addressed, or is not a whole block, leaves the kept one for resending.
    EXPECT_FALSE(handler.MakeBlock(128, 0, data));
    EXPECT_FALSE(handler.MakeBlock(0, 128, data));
    EXPECT_FALSE(handler.MakeBlock(0, 0, Bytes(1023)));
    EXPECT_EQ(Span(handler.GetBlockMessage()), expected);
    EXPECT_TRUE(MZeltaSysexHandler().GetBlockMessage().empty());
}

TEST(MZeltaSysexHandler, PackingAndChecksumKnownValues)
{
    MZeltaSysexHandler handler;
    ASSERT_TRUE(handler.MakeBlock(0, 0, Bytes(1024, 0xFF)));
    const Bytes all = Span(handler.GetBlockMessage());
    Bytes packed(all.begin() + 8, all.end() - 2);
    Bytes expected(1170, 0x7F);
    expected.push_back(0x03);
    EXPECT_EQ(packed, expected);

    ASSERT_TRUE(handler.MakeBlock(0, 0, Bytes(1024, 0)));
    EXPECT_EQ(handler.GetBlockMessage()[1179], 0);
    ASSERT_TRUE(handler.MakeBlock(1, 2, Bytes(1024, 0)));
    EXPECT_EQ(handler.GetBlockMessage()[1179], 3);
    // Each bit of the last group lands where the term-by-term form puts it.
    for (unsigned bit = 0; bit < 16; ++bit) {
        Bytes data(1024, 0);
        data[1022 + bit / 8] = static_cast<std::uint8_t>(1u << (bit % 8));
        ASSERT_TRUE(handler.MakeBlock(0, 0, data));
        const Bytes message = Span(handler.GetBlockMessage());
        EXPECT_EQ(Bytes(message.begin() + 8, message.end() - 2), test::ReferencePack(data)) << bit;
    }
}

TEST(MZeltaSysexHandler, ParsesIdentityRepliesAndRejectsDamagedOnes)
{
    MZeltaSysexHandler handler(kMaker);
    ASSERT_TRUE(handler.ReceiveIdentityReply(IdentityReply(0x7F, kMaker, 0x0E, 1, 0, "0123")));
    EXPECT_EQ(handler.GetFamily(), 0x0E);
    EXPECT_EQ(handler.GetModel(), 1);
    EXPECT_EQ(handler.GetVersion(), 0x30313233u);
    EXPECT_EQ(handler.DeviceBanner(), "Orvane Device: Zelta Grand v01.23");

    // Longer than a reply: not parsed at all, the last identification stands.
    Bytes longer = IdentityReply(0x7F, kMaker, 0x19, 0, 0);
    longer.insert(longer.end() - 1, 0x00);
    EXPECT_FALSE(handler.ReceiveIdentityReply(longer));
    EXPECT_EQ(handler.GetFamily(), 0x0E);

    const Bytes damaged[] = {
        IdentityReply(0x10, kMaker, 0x0E, 1, 0), // device byte not 7F
        IdentityReply(0x7F, kMakerId, 0x0E, 1, 0), // another maker
        IdentityReply(0x7F, kMaker, 0x20, 0, 0), // unknown family
        { 0xF0, 0x7E, 0x7F, 0x06, 0x02, 0x00, 0x21, 0x09, 0x0E, 0x00, 0xF7 }, // cut short
        {},
    };
    for (const Bytes& reply : damaged) {
        ASSERT_TRUE(handler.ReceiveIdentityReply(IdentityReply(0x7F, kMaker, 0x0E, 1, 0)));
        EXPECT_FALSE(handler.ReceiveIdentityReply(reply));
        EXPECT_EQ(handler.GetFamily(), 0);
    }

    ASSERT_TRUE(handler.ReceiveIdentityReply(IdentityReply(0x7F, kMaker, 0x17, 0, 0, "2001")));
    EXPECT_EQ(handler.DeviceBanner(), "Orvane Device: Tinyloop v20.01");
    // The model comes low byte first.
    ASSERT_TRUE(handler.ReceiveIdentityReply(IdentityReply(0x7F, kMaker, 0x0E, 0x0D, 0)));
    EXPECT_EQ(handler.GetModel(), 13);
    ASSERT_TRUE(handler.ReceiveIdentityReply(IdentityReply(0x7F, kMaker, 0x0E, 0x00, 0x01)));
    EXPECT_EQ(handler.GetModel(), 256);
    EXPECT_EQ(handler.DeviceBanner(), "Orvane Device: unknown v01.00");
    // The version comes off the wire: only printable characters reach the screen.
    ASSERT_TRUE(handler.ReceiveIdentityReply(IdentityReply(0x7F, kMaker, 0x0E, 1, 0, "\x1B[2J")));
    EXPECT_EQ(handler.DeviceBanner(), "Orvane Device: Zelta Grand v?[.2J");
}

TEST(MZeltaSysexHandler, ParsesCardRepliesOfTheIdentifiedFamily)
{
    MZeltaSysexHandler handler(kMaker);
    ASSERT_TRUE(handler.ReceiveIdentityReply(IdentityReply(0x7F, kMaker, 0x19, 0, 0)));

    EXPECT_TRUE(handler.ReceiveCardReply(Bytes { 0xF0, 0x00, 0x21, 0x09, 0x19, 0x15, 0x04, 0xF7 }));
    EXPECT_FALSE(handler.WasAcknowledged());
    EXPECT_EQ(handler.GetReason(), 4);
    EXPECT_TRUE(handler.ReceiveCardReply(Bytes { 0xF0, 0x00, 0x21, 0x09, 0x19, 0x14, 0xF7 }));
    EXPECT_TRUE(handler.WasAcknowledged());

    const Bytes unrecognised[] = {
        { 0xF0, 0x00, 0x21, 0x09, 0x0E, 0x15, 0x01, 0xF7 }, // another family
        { 0xF0, 0x00, 0x21, 0x08, 0x19, 0x15, 0x01, 0xF7 }, // another maker
        { 0xF0, 0x00, 0x21, 0x09, 0x19, 0x15, 0xF7 }, // refusal without its reason
        { 0xF0, 0x00, 0x21, 0x09, 0x19, 0x15, 0x01, 0x00, 0xF7 }, // longer than a reply
        { 0xF0, 0x00, 0x21, 0x09, 0x19, 0x14 }, // acknowledgement without its end
        { 0xF0, 0x00, 0x21, 0x09, 0x19, 0x13, 0xF7 }, // no such reply
        {},
    };
    for (const Bytes& reply : unrecognised) {
        EXPECT_FALSE(handler.ReceiveCardReply(reply));
        EXPECT_TRUE(handler.WasAcknowledged()); // the fields stay as they were
    }
}

TEST(MZeltaSysexHandler, ReportsTheLastRefusal)
{
    MZeltaSysexHandler handler;
    ASSERT_TRUE(handler.ReceiveIdentityReply(IdentityReply(0x7F, kMakerId, 0x0E, 1, 0)));
    ASSERT_TRUE(handler.ReceiveCardReply(Bytes { 0xF0, 0x00, 0x00, 0x0E, 0x0E, 0x15, 0x03, 0xF7 }));

    ScriptedPrompter retry({ Answer::Retry });
    EXPECT_TRUE(handler.ReportError(retry, "This project can't compile because ", true));
    ASSERT_EQ(retry.shown.size(), 1u);
    EXPECT_EQ(retry.shown[0].text, "This project can't compile because of a MIDI checksum error.");
    EXPECT_EQ(retry.shown[0].buttons, Buttons::RetryCancel);
    EXPECT_EQ(retry.shown[0].icon, Icon::Error);

    ScriptedPrompter cancel({ Answer::Cancel });
    EXPECT_FALSE(handler.ReportError(cancel, "x because ", true));
    ScriptedPrompter ok;
    EXPECT_FALSE(handler.ReportError(ok, "x because ", false));
    EXPECT_EQ(ok.shown.at(0).buttons, Buttons::Ok);
}

} // namespace
} // namespace cardmill
