#pragma once

#include "MidiBackend.h"

#include <atomic>
#include <mutex>
#include <string>
#include <thread>

struct stat;

namespace cardmill {

/// A raw MIDI byte stream given by path: an ALSA rawmidi device (/dev/snd/midiC1D0) or a
/// terminal such as a pty, which is switched fully raw so that every byte passes untouched. One
/// descriptor serves both directions; a reader thread hands incoming bytes to the OnInput
/// handler. The handler is never called after Close() or OnInput() returns.
class MidiBackendRaw final : public MidiBackend {
public:
    explicit MidiBackendRaw(std::string devicePath);
    ~MidiBackendRaw() override;
    MidiBackendRaw(const MidiBackendRaw&) = delete;
    MidiBackendRaw& operator=(const MidiBackendRaw&) = delete;

    /// The one port of each direction is the device itself, named by its path.
    std::vector<std::string> InputNames() const override;
    std::vector<std::string> OutputNames() const override;
    bool OpenInput(int index) override;
    bool OpenOutput(int index) override;
    void Close() override;
    bool Send(std::span<const std::uint8_t> message, std::chrono::milliseconds timeout) override;
    void OnInput(std::function<void(std::span<const std::uint8_t>)> handler) override;
    bool ReachesVirtualInstrument() const override { return outputOpen && terminal; }

    std::string LastError() const override { return lastError; }

    /// Why `path` can't be a port (it doesn't exist, or it is a file or a folder), or nothing
    /// when it is a device or a pipe.
    static std::string WhyNotAPort(const std::string& path);

    /// The raw MIDI devices of the sound cards present (/dev/snd/midiC*D*), sorted.
    static std::vector<std::string> DevicePaths(const std::string& folder = "/dev/snd");

private:
    static constexpr const char* kWhatAPortIs
        = "a port is a MIDI device such as /dev/snd/midiC1D0, or a pty";
    static std::string NotAPort(const struct stat& status);
    bool OpenDevice();
    void ReadLoop();

    std::string path;
    std::string lastError;
    int fd = -1;
    int wakeFds[2] = { -1, -1 };
    bool outputOpen = false;
    bool terminal = false;
    std::thread reader;
    std::atomic<bool> stopping { false };
    std::mutex handlerMutex;
    std::function<void(std::span<const std::uint8_t>)> inputHandler;
};

} // namespace cardmill
