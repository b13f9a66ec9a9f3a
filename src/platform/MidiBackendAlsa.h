#pragma once

#include "MidiBackend.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

class RtMidiIn;
class RtMidiOut;

namespace cardmill {

/// ALSA sequencer ports: RtMidi lists them and reads the input; the output is a sequencer client
/// of this back-end's own, since RtMidi sends only whole messages and a paced SysEx goes as
/// several events (the first starting with F0, the last ending with F7), as the kernel itself
/// splits a long one. Port names are given without ALSA's client and port numbers ("20:0"),
/// which change between boots, so a stored name finds its port again. Without a sequencer (no
/// /dev/snd/seq, or a client that can't be made) the back-end has no ports and Available() is
/// false; nothing here throws. The OnInput handler runs on RtMidi's thread.
class MidiBackendAlsa final : public MidiBackend {
public:
    static constexpr const char* kNoSequencerMessage = "no ALSA sequencer is available";

    explicit MidiBackendAlsa(
        std::string clientName = "Cardmill", std::string sequencerDevice = "/dev/snd/seq");
    ~MidiBackendAlsa() override;
    MidiBackendAlsa(const MidiBackendAlsa&) = delete;
    MidiBackendAlsa& operator=(const MidiBackendAlsa&) = delete;

    bool Available() const { return in && out; }
    /// Why the sequencer can't be used; empty while Available().
    const std::string& Error() const { return error; }

    std::vector<std::string> InputNames() const override;
    std::vector<std::string> OutputNames() const override;
    bool OpenInput(int index) override;
    bool OpenOutput(int index) override;
    void Close() override;
    /// Each call is one event: a whole message, or a piece of a SysEx.
    bool Send(std::span<const std::uint8_t> message, std::chrono::milliseconds timeout) override;
    void OnInput(std::function<void(std::span<const std::uint8_t>)> handler) override;

    /// A port name as RtMidi reports it ("Client:Port 20:0") without the trailing client and
    /// port numbers.
    static std::string StablePortName(std::string_view name);
    /// The client and port numbers at the end of such a name; nothing when it has none.
    static std::optional<std::pair<int, int>> PortAddress(std::string_view name);

private:
    struct Callbacks; // RtMidi's C-style callbacks, defined beside RtMidi's header
    friend struct Callbacks;

    std::string error;
    std::unique_ptr<RtMidiIn> in;
    std::unique_ptr<RtMidiOut> out;
    std::string client;
    struct Writer; // the output's own sequencer client, beside ALSA's header
    std::unique_ptr<Writer> writer;
    std::atomic<bool> failed { false };
    std::mutex handlerMutex;
    std::function<void(std::span<const std::uint8_t>)> inputHandler;
};

} // namespace cardmill
