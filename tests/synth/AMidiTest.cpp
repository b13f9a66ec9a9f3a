#include "synth/AMidi.h"

#include "platform/Clock.h"
#include "platform/MidiBackend.h"

#include <functional>
#include <map>
#include <string>
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

    std::uint32_t ticks = 1000;
    std::multimap<std::uint32_t, Bytes> arrivals;
    FakeBackend* backend = nullptr;
};

struct Link {
    Link() { clock.backend = &backend; }
    FakeBackend backend;
    ScheduledClock clock;
};

struct Received {
    int result;
    Bytes bytes;
};

Received Receive(
    AMidi& midi, std::size_t capacity, std::uint8_t start = 0xF0, std::uint8_t end = 0xF7)
{
    Bytes destination(capacity);
    std::size_t count = 12345;
    const int result = midi.ReceiveSysex(destination, start, end, count);
    destination.resize(count);
    return { result, destination };
}

TEST(AMidi, StartUpNeedsAnInputAndAnOutputDevice)
{
    Link noInputs;
    noInputs.backend.inputs.clear();
    AMidi a(noInputs.backend, noInputs.clock, {});
    std::string in = "In A", out = "Out A";
    EXPECT_FALSE(a.StartUp(in, out));
    EXPECT_TRUE(noInputs.backend.openedOutputs.empty());
    EXPECT_FALSE(a.IsOpen());

    Link noOutputs;
    noOutputs.backend.outputs.clear();
    AMidi b(noOutputs.backend, noOutputs.clock, {});
    EXPECT_FALSE(b.StartUp(in, out));
    EXPECT_TRUE(noOutputs.backend.openedInputs.empty());
    EXPECT_FALSE(b.IsOpen());
}

TEST(AMidi, StartUpFindsStoredNamesOrFallsBackToDeviceZeroAndRemembersIt)
{
    Link link;
    AMidi midi(link.backend, link.clock, {});
    EXPECT_EQ(AMidi::Instance(), &midi);
    EXPECT_EQ(midi.PreferredInputIndex(), AMidi::kNoPreferredIndex);
    std::string in = "In B", out = "Unplugged synth";
    ASSERT_TRUE(midi.StartUp(in, out));
    EXPECT_EQ(midi.PreferredInputIndex(), 1);
    EXPECT_EQ(midi.PreferredOutputIndex(), 0);
    EXPECT_EQ(in, "In B");
    EXPECT_EQ(out, "Out A");
    EXPECT_TRUE(midi.IsOpen());
    EXPECT_EQ(link.backend.openedInputs, std::vector<int> { 1 });
    EXPECT_EQ(link.backend.openedOutputs, std::vector<int> { 0 });

    // Names compare exactly; of equal names the highest device is met first.
    link.backend.outputs = { "Out", "Out", "out" };
    std::string same = "Out";
    ASSERT_TRUE(midi.StartUp(in, same));
    EXPECT_EQ(midi.PreferredOutputIndex(), 1);
}

TEST(AMidi, OpenCodes)
{
    Link link;
    AMidi midi(link.backend, link.clock, {});
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
    AMidi midi(link.backend, link.clock, {});
    const Bytes message { 0xF0, 0x7E, 0x7F, 0x06, 0x01, 0xF7 };
    EXPECT_EQ(midi.SendSysex(message), AMidi::kNoOutputDevice);
    EXPECT_TRUE(link.backend.sent.empty());

    ASSERT_EQ(midi.OpenDevices(-1, 0), AMidi::kOpened);
    EXPECT_EQ(midi.SendSysex(message), AMidi::kSent);
    EXPECT_EQ(link.backend.sent.back(), message);
    EXPECT_EQ(link.backend.sendTimeout, std::chrono::milliseconds(500));
    link.backend.sendLeaves = false;
    EXPECT_EQ(midi.SendSysex(message), AMidi::kSendTimedOut);
    EXPECT_EQ(midi.SendSysex({}), AMidi::kSendFailed);
}

TEST(AMidi, ReceiveTakesOneMessageAtATimeFromBetweenStrayBytes)
{
    Link link;
    AMidi midi(link.backend, link.clock, {});
    const auto closed = Receive(midi, 16);
    EXPECT_EQ(closed.result, AMidi::kNoInput);
    EXPECT_TRUE(closed.bytes.empty());

    ASSERT_EQ(midi.OpenDevices(0, 0), AMidi::kOpened);
    link.backend.Deliver({ 0x90, 0x3C, 0x40, 0xF0, 0x01, 0x02, 0xF7, 0xF0, 0x09, 0xF7 });
    const auto first = Receive(midi, 16);
    EXPECT_EQ(first.result, AMidi::kEndSeen);
    EXPECT_EQ(first.bytes, (Bytes { 0xF0, 0x01, 0x02, 0xF7 }));
    // Two replies that came together are read one after the other.
    EXPECT_EQ(Receive(midi, 16).bytes, (Bytes { 0xF0, 0x09, 0xF7 }));
    EXPECT_EQ(Receive(midi, 16).result, AMidi::kSilence);

    // A stray end byte before any start ends the read empty.
    link.backend.Deliver({ 0x05, 0xF7, 0xF0, 0x01, 0xF7 });
    const auto stray = Receive(midi, 16);
    EXPECT_EQ(stray.result, AMidi::kEndSeen);
    EXPECT_TRUE(stray.bytes.empty());
    EXPECT_EQ(Receive(midi, 16).bytes, (Bytes { 0xF0, 0x01, 0xF7 }));

    // A restart throws away whatever waits.
    link.backend.Deliver({ 0xF0, 0x03, 0xF7 });
    midi.RestartReception();
    EXPECT_EQ(Receive(midi, 16).result, AMidi::kSilence);
}

TEST(AMidi, RealTimeBytesAreTakenOutAnywhereAndNeverKeepAReadWaiting)
{
    Link link;
    AMidi midi(link.backend, link.clock, {});
    ASSERT_EQ(midi.OpenDevices(0, 0), AMidi::kOpened);
    // Clock and Active Sensing inside a reply, and between replies.
    link.backend.Deliver({ 0xFE, 0xF0, 0x01, 0xF8, 0x02, 0xFE, 0xF7, 0xF8 });
    EXPECT_EQ(Receive(midi, 4).bytes, (Bytes { 0xF0, 0x01, 0x02, 0xF7 }));

    // An instrument sending Active Sensing every 300 ms and nothing else: the read ends after
    // half a second of no reply, not at the buffer's end an hour later.
    const std::uint32_t begin = link.clock.ticks;
    for (std::uint32_t at = 300; at < 5000; at += 300)
        link.clock.arrivals.insert({ begin + at, Bytes { 0xFE } });
    EXPECT_EQ(Receive(midi, 16).result, AMidi::kSilence);
    EXPECT_LE(link.clock.ticks - begin, 502u);

    // Nor do stray bytes between messages (another device's notes).
    const std::uint32_t later = link.clock.ticks;
    for (std::uint32_t at = 100; at < 5000; at += 100)
        link.clock.arrivals.insert({ later + at, Bytes { 0x3C } });
    EXPECT_EQ(Receive(midi, 16).result, AMidi::kSilence);
    EXPECT_LE(link.clock.ticks - later, 502u);
    link.clock.arrivals.clear();
}

TEST(AMidi, SilenceEndsTheReadHalfASecondAfterTheLastByte)
{
    Link link;
    AMidi midi(link.backend, link.clock, {});
    ASSERT_EQ(midi.OpenDevices(0, 0), AMidi::kOpened);

    const std::uint32_t begin = link.clock.ticks;
    auto got = Receive(midi, 16);
    EXPECT_EQ(got.result, AMidi::kSilence);
    EXPECT_TRUE(got.bytes.empty());
    EXPECT_GT(link.clock.ticks - begin, 500u);
    EXPECT_LE(link.clock.ticks - begin, 502u);

    // Pieces 400 ms apart keep the read going past 500 ms in all.
    midi.RestartReception();
    const std::uint32_t now = link.clock.ticks;
    link.clock.arrivals.insert({ now + 400, Bytes { 0xF0, 0x01 } });
    link.clock.arrivals.insert({ now + 800, Bytes { 0x02 } });
    link.clock.arrivals.insert({ now + 1200, Bytes { 0x03, 0xF7 } });
    got = Receive(midi, 16);
    EXPECT_EQ(got.result, AMidi::kEndSeen);
    EXPECT_EQ(got.bytes, (Bytes { 0xF0, 0x01, 0x02, 0x03, 0xF7 }));

    // A gap of more than 500 ms after a byte ends it with what came so far.
    midi.RestartReception();
    const std::uint32_t later = link.clock.ticks;
    link.clock.arrivals.insert({ later + 100, Bytes { 0xF0, 0x01 } });
    link.clock.arrivals.insert({ later + 700, Bytes { 0xF7 } });
    got = Receive(midi, 16);
    EXPECT_EQ(got.result, AMidi::kSilence);
    EXPECT_EQ(got.bytes, (Bytes { 0xF0, 0x01 }));
    link.clock.arrivals.clear();
}

TEST(AMidi, ALongerReplyKeepsTheFirstCapacityBytesAndTheNextReplyIsStillFound)
{
    Link link;
    AMidi midi(link.backend, link.clock, {});
    ASSERT_EQ(midi.OpenDevices(0, 0), AMidi::kOpened);
    link.backend.Deliver({ 0xF0, 0x01, 0x02, 0x03, 0x04, 0xF7, 0xF0, 0x05, 0xF7 });
    auto got = Receive(midi, 3);
    EXPECT_EQ(got.result, AMidi::kOverflow);
    EXPECT_EQ(got.bytes, (Bytes { 0xF0, 0x01, 0x02 }));
    // The rest of the long message ends like a stray end byte; then the next reply.
    EXPECT_TRUE(Receive(midi, 3).bytes.empty());
    got = Receive(midi, 3);
    EXPECT_EQ(got.result, AMidi::kEndSeen);
    EXPECT_EQ(got.bytes, (Bytes { 0xF0, 0x05, 0xF7 }));
}

TEST(AMidi, AnyStartAndNoEndCollectEverythingUntilSilence)
{
    Link link;
    AMidi midi(link.backend, link.clock, {});
    ASSERT_EQ(midi.OpenDevices(0, 0), AMidi::kOpened);
    link.backend.Deliver({ 0x01, 0xF7, 0xF0, 0x02 });
    const auto got = Receive(midi, 16, AMidi::kAnyByte, AMidi::kAnyByte);
    EXPECT_EQ(got.result, AMidi::kSilence);
    EXPECT_EQ(got.bytes, (Bytes { 0x01, 0xF7, 0xF0, 0x02 }));
}

TEST(AMidi, AFullReceiveBufferIsReportedAndWhatDidNotFitIsLost)
{
    Link link;
    AMidi midi(link.backend, link.clock, {});
    // Nothing is gathered while the input is closed.
    link.backend.Deliver({ 0xF0, 0x55, 0xF7 });
    ASSERT_EQ(midi.OpenDevices(0, 0), AMidi::kOpened);
    EXPECT_EQ(Receive(midi, 16).result, AMidi::kSilence);

    Bytes flood(AMidi::kReceiveBufferSize + 50, 0x10);
    flood.front() = 0xF0;
    link.backend.Deliver(flood);
    const std::uint32_t begin = link.clock.ticks;
    const auto got = Receive(midi, 20000);
    EXPECT_EQ(got.result, AMidi::kOverflow);
    EXPECT_EQ(got.bytes.size(), AMidi::kReceiveBufferSize);
    EXPECT_EQ(link.clock.ticks, begin); // no wait for silence once full

    // A complete reply at the front of a full buffer is still read whole.
    midi.RestartReception();
    Bytes full(AMidi::kReceiveBufferSize, 0x10);
    full[0] = 0xF0;
    full[3] = 0xF7;
    link.backend.Deliver(full);
    const auto reply = Receive(midi, 16);
    EXPECT_EQ(reply.result, AMidi::kEndSeen);
    EXPECT_EQ(reply.bytes.size(), 4u);
}

TEST(AMidi, CloseClosesBothSidesAndDropsWhatWasReceived)
{
    Link link;
    AMidi midi(link.backend, link.clock, {});
    ASSERT_EQ(midi.OpenDevices(1, 1), AMidi::kOpened);
    link.backend.Deliver({ 0xF0, 0xF7 });
    midi.Close();
    EXPECT_FALSE(midi.IsOpen());
    EXPECT_EQ(link.backend.closes, 1);
    EXPECT_EQ(Receive(midi, 4).result, AMidi::kNoInput);
    ASSERT_EQ(midi.OpenDevices(1, 1), AMidi::kOpened);
    EXPECT_EQ(Receive(midi, 4).result, AMidi::kSilence);
    // Opening again closes the old ports first.
    ASSERT_EQ(midi.OpenDevices(0, 0), AMidi::kOpened);
    EXPECT_EQ(link.backend.closes, 2);
}

} // namespace
} // namespace cardmill
