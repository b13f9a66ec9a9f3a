// Fuzz target: the readers of the MIDI link. The virtual instrument reads whatever arrives on
// its input (messages split anywhere, stray bytes, damaged blocks); the port layer takes the
// instrument's replies one message at a time out of what arrives (real-time bytes anywhere,
// messages too long, ends without starts), and the protocol handler reads them. The first byte
// chooses the instrument's options and how the rest is split into arrivals.

#include "platform/Clock.h"
#include "platform/MidiBackend.h"
#include "sim/VirtualInstrument.h"
#include "synth/AMidi.h"
#include "synth/MZeltaSysexHandler.h"

#include <algorithm>
#include <array>
#include <span>

namespace {

/// One port each way; input arrives when the fuzzer says, on its own thread.
class FuzzBackend final : public cardmill::MidiBackend {
public:
    std::vector<std::string> InputNames() const override { return { "fuzz" }; }
    std::vector<std::string> OutputNames() const override { return { "fuzz" }; }
    bool OpenInput(int) override { return true; }
    bool OpenOutput(int) override { return true; }
    void Close() override { }
    bool Send(std::span<const std::uint8_t>, std::chrono::milliseconds) override { return true; }
    void OnInput(std::function<void(std::span<const std::uint8_t>)> h) override { handler = h; }
    std::function<void(std::span<const std::uint8_t>)> handler;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace cardmill;
    if (size < 1)
        return 0;
    const std::uint8_t choice = data[0];
    const std::span<const std::uint8_t> bytes(data + 1, size - 1);

    VirtualInstrumentOptions options;
    options.cardBytes = 256 * 1024;
    options.noEraseCommand = (choice & 1) != 0;
    options.writeProtected = (choice & 2) != 0;
    options.noCard = (choice & 4) != 0;
    options.family = (choice & 8) != 0 ? kPercula : kZelta;
    if ((choice & 16) != 0)
        options.faults.push_back({ InstrumentFault::Kind::Corrupt, 2, 0 });
    VirtualInstrument instrument(options);
    instrument.SetLog([](const std::string&) {});
    const std::size_t piece = 1 + (choice >> 5) * 97;
    std::vector<std::uint8_t> replies;
    for (std::size_t at = 0; at < bytes.size(); at += piece) {
        const auto reply
            = instrument.Receive(bytes.subspan(at, std::min(piece, bytes.size() - at)));
        replies.insert(replies.end(), reply.begin(), reply.end());
    }

    MZeltaSysexHandler handler;
    handler.ReceiveIdentityReply(bytes);
    handler.ReceiveCardReply(bytes);
    handler.ReceiveIdentityReply(replies);
    handler.ReceiveCardReply(replies);
    handler.DeviceBanner();

    // The same bytes as input, read as the transfer reads replies, until nothing is left.
    FuzzBackend backend;
    ManualClock clock;
    AMidi midi(backend, clock, {});
    midi.OpenDevices(0, 0);
    for (std::size_t at = 0; at < bytes.size(); at += piece)
        backend.handler(bytes.subspan(at, std::min(piece, bytes.size() - at)));
    std::array<std::uint8_t, MZeltaSysexHandler::kIdentityReplyBytes> reply {};
    for (std::size_t reads = 0; reads <= bytes.size(); ++reads) {
        std::size_t count = 0;
        const int result = midi.ReceiveSysex(reply, 0xF0, 0xF7, count);
        if (count > reply.size())
            __builtin_trap();
        if (result == AMidi::kSilence)
            break;
        const auto message = std::span<const std::uint8_t>(reply).first(count);
        if (MZeltaSysexHandler::IsIdentityReply(message))
            handler.ReceiveIdentityReply(message);
        else
            handler.ReceiveCardReply(message);
    }
    return 0;
}
