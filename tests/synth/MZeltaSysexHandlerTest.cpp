#include "synth/MZeltaSysexHandler.h"

#include "platform/ScriptedPrompter.h"
#include "synth/InstrumentLink.h"

#include <numeric>
#include <tuple>

#include <gtest/gtest.h>

namespace cardmill {
namespace {

using test::Bytes;

constexpr MakerId kMaker { 0x00, 0x21, 0x09 };

/// The 7-bit form of a 1024-byte block written out term by term, as the instrument's manual
/// gives it, so the packer under test is checked against something it does not share.
Bytes ReferencePack(const Bytes& d)
{
    Bytes out;
    auto add = [&out](int value) { out.push_back(static_cast<std::uint8_t>(value)); };
    for (std::size_t g = 0; g < 146; ++g) {
        const std::uint8_t* b = &d[g * 7];
        add(b[0] & 0x7F);
        add(((b[1] & 0x3F) << 1) | (b[0] >> 7));
        add(((b[2] & 0x1F) << 2) | (b[1] >> 6));
        add(((b[3] & 0x0F) << 3) | (b[2] >> 5));
        add(((b[4] & 0x07) << 4) | (b[3] >> 4));
        add(((b[5] & 0x03) << 5) | (b[4] >> 3));
        add(((b[6] & 0x01) << 6) | (b[5] >> 2));
        add(b[6] >> 1);
    }
    add(d[1022] & 0x7F);
    add(((d[1023] & 0x3F) << 1) | (d[1022] >> 7));
    add(d[1023] >> 6);
    return out;
}

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

TEST(MZeltaSysexHandler, BuildsIdentityRequestEraseAndBlockWithPackedDataByteForByte)
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

    ASSERT_TRUE(handler.ReceiveIdentityReply(IdentityReply(0x7F, kMaker, 0x0E, 1, 0)));
    const Bytes data = test::PatternBlock(3);
    ASSERT_TRUE(handler.MakeBlock(3, 126, data));

    const Bytes packed = ReferencePack(data);
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
        EXPECT_EQ(Bytes(message.begin() + 8, message.end() - 2), ReferencePack(data)) << bit;
    }
}

TEST(MZeltaSysexHandler, ParsesIdentityRepliesAndRejectsDamagedOnes)
{
    MZeltaSysexHandler handler(kMaker);
    ASSERT_TRUE(handler.ReceiveIdentityReply(IdentityReply(0x7F, kMaker, 0x0E, 1, 0, "0123")));
    EXPECT_EQ(std::tuple(handler.GetFamily(), handler.GetModel(), handler.GetVersion()),
        std::tuple(0x0E, 1, 0x30313233u));
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

    // The model comes low byte first.
    ASSERT_TRUE(handler.ReceiveIdentityReply(IdentityReply(0x7F, kMaker, 0x0E, 0x0D, 0x01)));
    EXPECT_EQ(handler.GetModel(), 0x010D);
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
    EXPECT_EQ(std::tuple(handler.WasAcknowledged(), handler.GetReason()), std::tuple(false, 4));
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
    EXPECT_EQ(std::tie(retry.shown[0].text, retry.shown[0].buttons, retry.shown[0].icon),
        std::tuple("This project can't compile because of a MIDI checksum error.",
            Buttons::RetryCancel, Icon::Error));

    ScriptedPrompter cancel({ Answer::Cancel });
    EXPECT_FALSE(handler.ReportError(cancel, "x because ", true));
    ScriptedPrompter ok;
    EXPECT_FALSE(handler.ReportError(ok, "x because ", false));
    EXPECT_EQ(ok.shown.at(0).buttons, Buttons::Ok);
}

} // namespace
} // namespace cardmill
