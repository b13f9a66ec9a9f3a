#include "synth/AMidi.h"

#include "platform/Clock.h"
#include "platform/MidiBackend.h"

#include <functional>
#include <map>
#include <ostream>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

namespace cardmill {
namespace {

using Bytes = std::vector<std::uint8_t>;

/// Ports by name; input is handed to AMidi when the test says so, on the test's thread.
class FakeBackend final : public MidiBackend {
public:
    std::vector<std::string> InputNames() const override { return inputs; }
    std::vector<std::string> OutputNames() const override { return outputs; }
    bool OpenInput(int index) override
    {
        openedInputs.push_back(index);
        return index >= 0 && index < static_cast<int>(inputs.size()) && !inputFails;
    }
    bool OpenOutput(int index) override
    {
        openedOutputs.push_back(index);
        return index >= 0 && index < static_cast<int>(outputs.size()) && !outputFails;
    }
    void Close() override { ++closes; }
    bool Send(std::span<const std::uint8_t> message, std::chrono::milliseconds timeout) override
    {
        sent.emplace_back(message.begin(), message.end());
        if (duringSend)
            duringSend();
        sendTimeout = timeout;
        return sendLeaves;
    }
    void OnInput(std::function<void(std::span<const std::uint8_t>)> h) override { handler = h; }
    void Deliver(const Bytes& bytes)
    {
        if (handler)
            handler(bytes);
    }

    std::vector<std::string> inputs { "In A", "In B" };
    std::vector<std::string> outputs { "Out A", "Out B", "Out C" };
    bool inputFails = false;
    bool outputFails = false;
    bool sendLeaves = true;
    std::vector<int> openedInputs;
    std::vector<int> openedOutputs;
    int closes = 0;
    std::vector<Bytes> sent;
    std::chrono::milliseconds sendTimeout { 0 };
    std::function<void()> duringSend;
    std::function<void(std::span<const std::uint8_t>)> handler;
};

/// A manual clock on which the test schedules input: bytes arrive when time reaches their tick.
class ScheduledClock final : public Clock {
public:
    std::uint32_t TickCount() const override { return ticks; }
    std::int64_t Now() const override { return 0; }
    void Sleep(std::chrono::milliseconds duration) override
    {
        ticks += static_cast<std::uint32_t>(duration.count());
        while (!arrivals.empty() && arrivals.begin()->first <= ticks) {
            const Bytes bytes = arrivals.begin()->second;
            arrivals.erase(arrivals.begin());
            backend->Deliver(bytes);
        }
    }
    /// Each piece arrives its number of milliseconds from now.
    void Schedule(const std::vector<std::pair<std::uint32_t, Bytes>>& pieces)
    {
        for (const auto& [after, bytes] : pieces)
            arrivals.insert({ ticks + after, bytes });
    }

    std::uint32_t ticks = 1000;
    std::multimap<std::uint32_t, Bytes> arrivals;
    FakeBackend* backend = nullptr;
};

struct Received {
    int result;
    Bytes bytes;
    bool operator==(const Received&) const = default;
    friend void PrintTo(const Received& r, std::ostream* os)
    {
        *os << "result " << r.result << ", " << ::testing::PrintToString(r.bytes);
    }
};

struct Link {
    Link() { clock.backend = &backend; }
    Received Receive(std::size_t capacity, std::uint8_t start = 0xF0, std::uint8_t end = 0xF7)
    {
        Bytes destination(capacity);
        std::size_t count = 12345;
        const int result = midi.ReceiveSysex(destination, start, end, count);
        destination.resize(count);
        return { result, destination };
    }

    FakeBackend backend;
    ScheduledClock clock;
    AMidi midi { backend, clock, {} };
};

TEST(AMidi, StartUpFindsStoredNamesOrFallsBackToDeviceZeroAndNeedsAnInputAndAnOutput)
{
    for (const bool noInputs : { true, false }) {
        Link missing;
        (noInputs ? missing.backend.inputs : missing.backend.outputs).clear();
        std::string in = "In A", out = "Out A";
        EXPECT_FALSE(missing.midi.StartUp(in, out));
        EXPECT_TRUE(missing.backend.openedInputs.empty() && missing.backend.openedOutputs.empty());
        EXPECT_FALSE(missing.midi.IsOpen());
    }

    Link link;
    AMidi& midi = link.midi;
    EXPECT_EQ(AMidi::Instance(), &midi);
    std::string in = "In B", out = "Unplugged synth";
    ASSERT_TRUE(midi.StartUp(in, out));
    EXPECT_EQ(std::tuple(midi.PreferredInputIndex(), midi.PreferredOutputIndex(), in, out),
        std::tuple(1, 0, "In B", "Out A"));
    EXPECT_EQ(std::tuple(midi.IsOpen(), link.backend.openedInputs, link.backend.openedOutputs),
        std::tuple(true, std::vector<int> { 1 }, std::vector<int> { 0 }));

    // Names compare exactly; of equal names the highest device is met first.
    link.backend.outputs = { "Out", "Out", "out" };
    std::string same = "Out";
    ASSERT_TRUE(midi.StartUp(in, same));
    EXPECT_EQ(midi.PreferredOutputIndex(), 1);
}

TEST(AMidi, OpenCodes)
{
    Link link;
    AMidi& midi = link.midi;
    // Output first: when it fails the input is not tried.
    link.backend.outputFails = true;
    EXPECT_EQ(midi.OpenDevices(0, 0), AMidi::kOutputFailed);
    EXPECT_TRUE(link.backend.openedInputs.empty());
    EXPECT_FALSE(midi.IsOpen());

    link.backend.outputFails = false;
    link.backend.inputFails = true;
    EXPECT_EQ(midi.OpenDevices(0, 0), AMidi::kInputFailed);
    EXPECT_FALSE(midi.IsOpen());

    link.backend.inputFails = false;
    EXPECT_EQ(midi.OpenDevices(-1, 2), AMidi::kOpened);
    EXPECT_FALSE(midi.IsOpen());
    EXPECT_EQ(midi.OpenDevices(1, 2), AMidi::kOpened);
    EXPECT_TRUE(midi.IsOpen());

    // Indexes never chosen name no device.
    AMidi fresh(link.backend, link.clock, {});
    EXPECT_EQ(fresh.OpenPreferred(), AMidi::kOutputFailed);
    link.backend.inputs.clear();
    link.backend.outputs.clear();
    EXPECT_EQ(fresh.OpenPreferred(), AMidi::kNoDevices);
}

TEST(AMidi, SendWaitsHalfASecondAndReportsWhatLeft)
{
    Link link;
    const Bytes message { 0xF0, 0x7E, 0x7F, 0x06, 0x01, 0xF7 };
    EXPECT_EQ(link.midi.SendSysex(message), AMidi::kNoOutputDevice);
    EXPECT_TRUE(link.backend.sent.empty());

    ASSERT_EQ(link.midi.OpenDevices(-1, 0), AMidi::kOpened);
    EXPECT_EQ(link.midi.SendSysex(message), AMidi::kSent);
    EXPECT_EQ(link.backend.sent.back(), message);
    EXPECT_EQ(link.backend.sendTimeout, std::chrono::milliseconds(500));
    link.backend.sendLeaves = false;
    EXPECT_EQ(link.midi.SendSysex(message), AMidi::kSendTimedOut);
    EXPECT_EQ(link.midi.SendSysex({}), AMidi::kSendFailed);
}

TEST(AMidi, APacedMessageGoesInPiecesNeverFasterThanThePace)
{
    Link link;
    ASSERT_EQ(link.midi.OpenDevices(-1, 0), AMidi::kOpened);
    Bytes block(1181, 0x55);
    block.front() = 0xF0;
    block.back() = 0xF7;
    // How many pieces, and how long the send took; the pieces make up the message.
    const auto piecesAndTimes = [&](std::uint32_t pace) {
        link.backend.sent.clear();
        link.midi.SetPace(pace);
        const std::uint32_t start = link.clock.ticks;
        EXPECT_EQ(link.midi.SendSysex(block), AMidi::kSent);
        Bytes joined;
        for (const Bytes& piece : link.backend.sent)
            joined.insert(joined.end(), piece.begin(), piece.end());
        EXPECT_EQ(joined, block);
        return std::pair(link.backend.sent.size(), link.clock.ticks - start);
    };
    // Full speed: one write of the whole message, no wait.
    EXPECT_EQ(piecesAndTimes(0), std::pair(std::size_t { 1 }, 0u));
    // At the DIN rate 79 pieces of 15 bytes (the last of 11); the last leaves when the pace has
    // carried the 1170 bytes before it: 375 ms, never earlier.
    EXPECT_EQ(piecesAndTimes(3125), std::pair(std::size_t { 79 }, 375u));
    EXPECT_EQ(link.backend.sent.front().size(), 15u);
    // A machine too busy to wake in time: the pieces overdue are not sent in one burst, but
    // paced again from the piece that went late.
    std::vector<std::uint32_t> ticks;
    link.backend.duringSend = [&] {
        ticks.push_back(link.clock.ticks);
        if (ticks.size() == 3)
            link.clock.ticks += 100;
    };
    piecesAndTimes(3125);
    link.backend.duringSend = nullptr;
    ASSERT_GE(ticks.size(), 6u);
    for (std::size_t i = 3; i < 6; ++i)
        EXPECT_GE(ticks[i] - ticks[i - 1], 4u) << i;
    // 256-byte pieces at most; a message no longer than a piece goes whole at once.
    EXPECT_EQ(piecesAndTimes(1000000).first, 5u);
    const Bytes identity { 0xF0, 0x7E, 0x7F, 0x06, 0x01, 0xF7 };
    link.backend.sent.clear();
    link.midi.SetPace(3125);
    const std::uint32_t before = link.clock.ticks;
    EXPECT_EQ(link.midi.SendSysex(identity), AMidi::kSent);
    EXPECT_EQ(link.backend.sent, std::vector<Bytes> { identity });
    EXPECT_EQ(link.clock.ticks, before);
    // A piece that doesn't leave ends the message there.
    link.backend.sendLeaves = false;
    link.backend.sent.clear();
    EXPECT_EQ(link.midi.SendSysex(block), AMidi::kSendTimedOut);
    EXPECT_EQ(link.backend.sent.size(), 1u);
}

TEST(AMidi, ReceiveTakesOneMessageAtATimeFromBetweenStrayBytes)
{
    Link link;
    EXPECT_EQ(link.Receive(16), (Received { AMidi::kNoInput, {} }));

    ASSERT_EQ(link.midi.OpenDevices(0, 0), AMidi::kOpened);
    link.backend.Deliver({ 0x90, 0x3C, 0x40, 0xF0, 0x01, 0x02, 0xF7, 0xF0, 0x09, 0xF7 });
    EXPECT_EQ(link.Receive(16), (Received { AMidi::kEndSeen, { 0xF0, 0x01, 0x02, 0xF7 } }));
    // Two replies that came together are read one after the other.
    EXPECT_EQ(link.Receive(16), (Received { AMidi::kEndSeen, { 0xF0, 0x09, 0xF7 } }));
    EXPECT_EQ(link.Receive(16).result, AMidi::kSilence);

    // A stray end byte before any start ends the read empty.
    link.backend.Deliver({ 0x05, 0xF7, 0xF0, 0x01, 0xF7 });
    EXPECT_EQ(link.Receive(16), (Received { AMidi::kEndSeen, {} }));
    EXPECT_EQ(link.Receive(16).bytes, (Bytes { 0xF0, 0x01, 0xF7 }));

    // A restart throws away whatever waits.
    link.backend.Deliver({ 0xF0, 0x03, 0xF7 });
    link.midi.RestartReception();
    EXPECT_EQ(link.Receive(16).result, AMidi::kSilence);

    // A longer reply keeps the first bytes that fit; the rest of it ends like a stray end byte,
    // and the next reply is still found.
    link.backend.Deliver({ 0xF0, 0x01, 0x02, 0x03, 0x04, 0xF7, 0xF0, 0x05, 0xF7 });
    EXPECT_EQ(link.Receive(3), (Received { AMidi::kOverflow, { 0xF0, 0x01, 0x02 } }));
    EXPECT_TRUE(link.Receive(3).bytes.empty());
    EXPECT_EQ(link.Receive(3), (Received { AMidi::kEndSeen, { 0xF0, 0x05, 0xF7 } }));

    // Any start and no end collect everything until silence.
    link.backend.Deliver({ 0x01, 0xF7, 0xF0, 0x02 });
    EXPECT_EQ(link.Receive(16, AMidi::kAnyByte, AMidi::kAnyByte),
        (Received { AMidi::kSilence, { 0x01, 0xF7, 0xF0, 0x02 } }));
}

TEST(AMidi, RealTimeBytesAreTakenOutAnywhereAndNeverKeepAReadWaiting)
{
    Link link;
    ASSERT_EQ(link.midi.OpenDevices(0, 0), AMidi::kOpened);
    // Clock and Active Sensing inside a reply, and between replies.
    link.backend.Deliver({ 0xFE, 0xF0, 0x01, 0xF8, 0x02, 0xFE, 0xF7, 0xF8 });
    EXPECT_EQ(link.Receive(4).bytes, (Bytes { 0xF0, 0x01, 0x02, 0xF7 }));

    // An instrument sending Active Sensing and nothing else: the read ends after half a second
    // of no reply, not at the buffer's end an hour later. Nor do stray bytes between messages
    // (another device's notes) keep it going.
    for (const std::uint8_t stray : { 0xFE, 0x3C }) {
        const std::uint32_t begin = link.clock.ticks;
        for (std::uint32_t at = 100; at < 5000; at += 100)
            link.clock.Schedule({ { at, { stray } } });
        EXPECT_EQ(link.Receive(16).result, AMidi::kSilence);
        EXPECT_LE(link.clock.ticks - begin, 502u);
        link.clock.arrivals.clear();
    }
}

TEST(AMidi, SilenceEndsTheReadHalfASecondAfterTheLastByte)
{
    Link link;
    ASSERT_EQ(link.midi.OpenDevices(0, 0), AMidi::kOpened);
    const std::uint32_t begin = link.clock.ticks;
    EXPECT_EQ(link.Receive(16), (Received { AMidi::kSilence, {} }));
    EXPECT_GT(link.clock.ticks - begin, 500u);
    EXPECT_LE(link.clock.ticks - begin, 502u);

    // Pieces 400 ms apart keep the read going past 500 ms in all.
    link.midi.RestartReception();
    link.clock.Schedule({ { 400, { 0xF0, 0x01 } }, { 800, { 0x02 } }, { 1200, { 0x03, 0xF7 } } });
    EXPECT_EQ(link.Receive(16), (Received { AMidi::kEndSeen, { 0xF0, 0x01, 0x02, 0x03, 0xF7 } }));

    // A gap of more than 500 ms after a byte ends it with what came so far.
    link.midi.RestartReception();
    link.clock.Schedule({ { 100, { 0xF0, 0x01 } }, { 700, { 0xF7 } } });
    EXPECT_EQ(link.Receive(16), (Received { AMidi::kSilence, { 0xF0, 0x01 } }));
}

TEST(AMidi, AFullReceiveBufferIsReportedAndWhatDidNotFitIsLost)
{
    Link link;
    // Nothing is gathered while the input is closed.
    link.backend.Deliver({ 0xF0, 0x55, 0xF7 });
    ASSERT_EQ(link.midi.OpenDevices(0, 0), AMidi::kOpened);
    EXPECT_EQ(link.Receive(16).result, AMidi::kSilence);

    Bytes flood(AMidi::kReceiveBufferSize + 50, 0x10);
    flood.front() = 0xF0;
    link.backend.Deliver(flood);
    const std::uint32_t begin = link.clock.ticks;
    const auto got = link.Receive(20000);
    // No wait for silence once full.
    EXPECT_EQ(std::tuple(got.result, got.bytes.size(), link.clock.ticks),
        std::tuple(AMidi::kOverflow, AMidi::kReceiveBufferSize, begin));

    // A complete reply at the front of a full buffer is still read whole.
    link.midi.RestartReception();
    Bytes full(AMidi::kReceiveBufferSize, 0x10);
    full[0] = 0xF0;
    full[3] = 0xF7;
    link.backend.Deliver(full);
    EXPECT_EQ(link.Receive(16), (Received { AMidi::kEndSeen, { 0xF0, 0x10, 0x10, 0xF7 } }));
}

TEST(AMidi, CloseClosesBothSidesAndDropsWhatWasReceived)
{
    Link link;
    ASSERT_EQ(link.midi.OpenDevices(1, 1), AMidi::kOpened);
    link.backend.Deliver({ 0xF0, 0xF7 });
    link.midi.Close();
    EXPECT_EQ(std::tuple(link.midi.IsOpen(), link.backend.closes, link.Receive(4).result),
        std::tuple(false, 1, AMidi::kNoInput));
    ASSERT_EQ(link.midi.OpenDevices(1, 1), AMidi::kOpened);
    EXPECT_EQ(link.Receive(4).result, AMidi::kSilence);
    // Opening again closes the old ports first.
    ASSERT_EQ(link.midi.OpenDevices(0, 0), AMidi::kOpened);
    EXPECT_EQ(link.backend.closes, 2);
}

} // namespace
} // namespace cardmill
