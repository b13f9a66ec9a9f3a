// Fuzz target: the two readers of the MIDI link. The virtual instrument reads whatever arrives
// on its input (messages split anywhere, stray bytes, damaged blocks), and the protocol handler
// reads the instrument's replies. The first byte chooses the instrument's options and how the
// rest is split into arrivals.

#include "synth/MZeltaSysexHandler.h"
#include "sim/VirtualInstrument.h"

#include <algorithm>
#include <span>

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
    return 0;
}
