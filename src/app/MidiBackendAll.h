#pragma once

#include "platform/MidiBackend.h"
#include "sim/SimOptions.h"

#include <memory>
#include <string>
#include <vector>

namespace cardmill {

class MidiBackendSim;

/// Every port the desktop application offers in one list per direction, as its MIDI Setup shows
/// them: the ALSA sequencer's ports, the raw MIDI devices (a path typed into the preferences is
/// offered too), and last the virtual instrument "sim". Each side is opened on the back-end that
/// owns it; the two sides may belong to different back-ends.
class MidiBackendAll final : public MidiBackend {
public:
    /// `extraPaths`: raw device paths to offer besides the ones found (the stored port names
    /// that are paths). `simOptions`: the in-process instrument's.
    MidiBackendAll(std::vector<std::string> extraPaths, SimOptions simOptions);
    ~MidiBackendAll() override;
    MidiBackendAll(const MidiBackendAll&) = delete;
    MidiBackendAll& operator=(const MidiBackendAll&) = delete;

    std::vector<std::string> InputNames() const override { return names; }
    std::vector<std::string> OutputNames() const override { return names; }
    bool OpenInput(int index) override;
    bool OpenOutput(int index) override;
    void Close() override;
    bool Send(std::span<const std::uint8_t> message, std::chrono::milliseconds timeout) override;
    void OnInput(std::function<void(std::span<const std::uint8_t>)> handler) override;
    bool ReachesVirtualInstrument() const override
    {
        return output && output->ReachesVirtualInstrument();
    }

    /// Offers a raw device path (one typed into MIDI Setup, or stored by `cardmill prefs`) among
    /// the devices; false when it is no path or offered already. The ports after it move down
    /// one place: whoever keeps indexes finds them again by name.
    bool Offer(const std::string& path);

    /// The in-process instrument, once a side was opened on it.
    MidiBackendSim* Sim() const { return sim; }
    std::string LastError() const override { return lastError; }

private:
    struct Port {
        MidiBackend* backend;
        int index;
    };
    Port Resolve(int index);

    std::vector<std::string> names;
    std::size_t sequencerCount = 0;
    std::unique_ptr<MidiBackend> sequencer;
    std::vector<std::unique_ptr<MidiBackend>> devices; // one per raw path, made when opened
    std::vector<std::string> devicePaths;
    std::unique_ptr<MidiBackendSim> simBackend;
    MidiBackendSim* sim = nullptr;
    SimOptions simOptions;
    MidiBackend* input = nullptr;
    MidiBackend* output = nullptr;
    std::function<void(std::span<const std::uint8_t>)> handler;
    std::string lastError;
};

} // namespace cardmill
