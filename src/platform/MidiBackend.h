#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

namespace cardmill {

/// One MIDI input and one output, as the port layer needs them. Implementations:
/// MidiBackendAlsa (sequencer ports), MidiBackendRaw (a device path or pty), and the
/// virtual instrument. Only MakeMidiBackend() knows which ones were built.
class MidiBackend {
public:
    virtual ~MidiBackend() = default;
    virtual std::vector<std::string> InputNames() const = 0;
    virtual std::vector<std::string> OutputNames() const = 0;
    virtual bool OpenInput(int index) = 0;
    virtual bool OpenOutput(int index) = 0;
    virtual void Close() = 0;
    /// Blocks until the bytes have left or `timeout` passes; false on timeout.
    virtual bool Send(std::span<const std::uint8_t> message, std::chrono::milliseconds timeout) = 0;
    /// Called on the back-end's own thread with each piece of input; must not block.
    virtual void OnInput(std::function<void(std::span<const std::uint8_t>)> handler) = 0;
    /// True when the open output surely reaches no instrument of the musician's: the virtual
    /// instrument in-process, or a pseudo-terminal (no MIDI interface is a terminal).
    virtual bool ReachesVirtualInstrument() const { return false; }
    /// Why the last open failed, in the system's words, when the back-end knows (a device
    /// path that is gone, a port another program holds); empty otherwise.
    virtual std::string LastError() const { return {}; }
};

} // namespace cardmill
