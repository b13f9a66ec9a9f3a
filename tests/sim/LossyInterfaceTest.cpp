#include "sim/SimTiming.h"

#include <gtest/gtest.h>

namespace cardmill {
namespace {

using Bytes = std::vector<std::uint8_t>;

/// A SysEx message of `size` bytes, its data counting up.
Bytes Message(std::size_t size)
{
    Bytes message(size, 0);
    message.front() = 0xF0;
    for (std::size_t i = 1; i + 1 < size; ++i)
        message[i] = static_cast<std::uint8_t>(i % 0x80);
    message.back() = 0xF7;
    return message;
}

TEST(LossyInterface, EveryNthByteOfALongMessageIsLostAndShortOnesPass)
{
    SimTiming wire(0);
    LossyInterface interface(0, 4);
    const auto now = SimTiming::TimePoint {};
    // Ten bytes: the 4th and the 8th go; the F7 at the 10th stays.
    Bytes expected = Message(10);
    expected.erase(expected.begin() + 7);
    expected.erase(expected.begin() + 3);
    EXPECT_EQ(interface.Pass(Message(10), now, wire), expected);
    // A message of exactly four bytes ends at the fourth: nothing of it is lost.
    EXPECT_EQ(interface.Pass(Message(4), now, wire), Message(4));
    // Real-time bytes between a message's bytes pass and are not counted in it; a message
    // handed over in pieces without a pause is counted across them.
    const Bytes first { 0xF0, 0x01, 0xF8, 0x02 };
    const Bytes second { 0x03, 0x04, 0xF7 };
    EXPECT_EQ(interface.Pass(first, now, wire), first);
    EXPECT_EQ(interface.Pass(second, now, wire), (Bytes { 0x04, 0xF7 }));
    EXPECT_EQ(interface.Lost(), 3u);
}

TEST(LossyInterface, APauseBetweenPiecesOfAMessageStartsTheCountAfresh)
{
    SimTiming wire(0);
    LossyInterface interface(0, 4);
    const auto start = SimTiming::TimePoint {} + std::chrono::seconds(1);
    const Bytes first { 0xF0, 0x01, 0x02 };
    const Bytes second { 0x03, 0x04, 0x05 };
    const Bytes third { 0x06, 0x07, 0xF7 };
    EXPECT_EQ(interface.Pass(first, start, wire), first);
    // Less than a USB frame later: still the same burst, whose 4th byte is lost.
    EXPECT_EQ(interface.Pass(second, start + std::chrono::microseconds(500), wire),
        (Bytes { 0x04, 0x05 }));
    // After a pause: three bytes of a new burst, none of them the 4th.
    EXPECT_EQ(interface.Pass(third, start + std::chrono::milliseconds(3), wire), third);
    EXPECT_EQ(interface.Lost(), 1u);
}

TEST(LossyInterface, BytesThatFindTheBufferFullAreLostUntilTheWireHasCarriedSome)
{
    SimTiming wire(31250); // 320 microseconds a byte
    LossyInterface interface(64, 0);
    const auto start = SimTiming::TimePoint {} + std::chrono::seconds(1);
    const Bytes block = Message(300);
    const Bytes passed = interface.Pass(block, start, wire);
    EXPECT_EQ(passed, Bytes(block.begin(), block.begin() + 64));
    wire.ToInstrument(passed.size(), start);
    // Half the buffer's time later, half of it is free again.
    const auto later = start + wire.WireTime(32);
    EXPECT_EQ(interface.Pass(block, later, wire).size(), 32u);
    EXPECT_EQ(interface.Lost(), (300u - 64) + (300u - 32));
    // Written no faster than the wire carries it, nothing is lost.
    SimTiming paced(31250);
    LossyInterface patient(64, 0);
    auto at = start;
    for (std::size_t piece = 0; piece < block.size(); piece += 32) {
        const Bytes part(block.begin() + piece, block.begin() + std::min(piece + 32, block.size()));
        EXPECT_EQ(patient.Pass(part, at, paced), part);
        at = paced.ToInstrument(part.size(), at);
    }
    EXPECT_EQ(patient.Lost(), 0u);
}

} // namespace
} // namespace cardmill
