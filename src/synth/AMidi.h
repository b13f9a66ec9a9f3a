#pragma once

#include "platform/Clock.h"
#include "platform/MidiBackend.h"

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <span>
#include <string>
#include <vector>

namespace cardmill {

/// The program's one MIDI input and one MIDI output, over a MidiBackend: send one System
/// Exclusive message and wait until it has left, collect one incoming message with a time-out.
/// Input arrives on the back-end's thread into the receive buffer, the only structure shared
/// between threads (guarded by a mutex); every operation is called from one thread, the one that
/// drives the link. There is one object at a time, reachable through Instance().
///
/// Real-time bytes (0xF8 to 0xFF: clock, Active Sensing, ...) may come anywhere, even inside a
/// System Exclusive message; they are taken out as they arrive, whatever the back-end, so no
/// reader sees them and they never keep a wait for a reply going. A read takes the message it
/// returns out of the buffer, so a second reply that arrived with the first is read next.
class AMidi {
public:
    static constexpr std::size_t kReceiveBufferSize = 10000;
    static constexpr std::uint32_t kSendWaitMs = 500;
    static constexpr std::uint32_t kReceiveSilenceMs = 500;
    static constexpr std::uint16_t kNoPreferredIndex = 0xFFFF;
    /// Start and end byte that mean "any": collection starts at once, no end byte is looked for.
    static constexpr std::uint8_t kAnyByte = 0xFF;
    static constexpr const char* kStartupFailedMessage
        = "MIDI services could not be initialized, so some functions will be unavailable.";

    /// Results of the open operations and of sending.
    enum OpenCode : int {
        kOpened = 0,
        kNoDevices = 3,
        kInputFailed = 4,
        kOutputFailed = 5,
        kNoInputDevice = 6,
        kNoOutputDevice = 7,
        kSendFailed = 8,
    };
    enum SendResult : int { kSent = 0, kSendTimedOut = 1 };
    enum ReceiveResult : int { kEndSeen = 0, kSilence = 1, kOverflow = 2, kNoInput = 6 };

    /// The back-end and clock outlive this object. A receive that finds no new byte waits up to
    /// `inputWait` for the back-end's thread to bring one, then lets the clock tick 1 ms; tests
    /// whose manual clock alone moves time pass zero.
    AMidi(MidiBackend& backend, Clock& clock,
        std::chrono::microseconds inputWait = std::chrono::milliseconds(1));
    virtual ~AMidi();
    AMidi(const AMidi&) = delete;
    AMidi& operator=(const AMidi&) = delete;

    static AMidi* Instance() { return instance; }

    /// Chooses the ports whose names are stored (falling back to device 0, whose name then
    /// replaces the stored one) and opens them; false when there is no input or no output.
    bool StartUp(std::string& preferredInputName, std::string& preferredOutputName);
    int OpenPreferred();
    /// A negative index leaves that side closed.
    int OpenDevices(int inputIndex, int outputIndex);
    void Close();
    bool IsOpen() const { return inputId >= 0 && outputId >= 0; }
    /// After an open that failed on a port the back-end names: "the MIDI port 'NAME' can't be
    /// opened: WHY", the back-end's reason; empty when the last open worked or named no port.
    const std::string& OpenFailure() const { return openFailure; }
    /// The ports the back-end offers, in device order (the MIDI Setup lists).
    std::vector<std::string> InputNames() const { return backend.InputNames(); }
    std::vector<std::string> OutputNames() const { return backend.OutputNames(); }
    /// The virtual instrument (in-process or over a pty) is at the other end of the output.
    bool ReachesVirtualInstrument() const
    {
        return outputId >= 0 && backend.ReachesVirtualInstrument();
    }
    void SetPreferredInputIndex(std::uint16_t index) { preferredInputIndex = index; }
    void SetPreferredOutputIndex(std::uint16_t index) { preferredOutputIndex = index; }
    std::uint16_t PreferredInputIndex() const { return preferredInputIndex; }
    std::uint16_t PreferredOutputIndex() const { return preferredOutputIndex; }
    /// The names of the ports the preferred indexes choose now; empty where none is chosen.
    std::string PreferredInputName() const;
    std::string PreferredOutputName() const;
    /// The name of the open output; empty while it is closed.
    std::string OutputName() const;

    /// The complete message, F0 to F7: kSent, kSendTimedOut, kNoOutputDevice or kSendFailed.
    /// At a pace (SetPace) a message longer than a piece goes in pieces spaced to it, and the
    /// call returns when the last piece has left.
    int SendSysex(std::span<const std::uint8_t> message);
    /// Bytes a second (LinkPace); kFullSpeed, the default, writes each message whole.
    void SetPace(std::uint32_t bytesPerSecond) { pace = bytesPerSecond; }
    std::uint32_t Pace() const { return pace; }
    /// Collects into `destination` from the start byte to the end byte; `count` is always
    /// written. Blocks until the end byte, or for kReceiveSilenceMs after the last byte of the
    /// message (or since the call, before its start byte came). A message read whole, or one
    /// longer than `destination`, leaves the buffer with the stray bytes before it; one still
    /// arriving when the silence ends stays for the next read.
    int ReceiveSysex(std::span<std::uint8_t> destination, std::uint8_t startByte,
        std::uint8_t endByte, std::size_t& count);
    /// Discards everything received so far.
    void RestartReception();
    /// True when bytes have arrived that no read has taken yet.
    bool HasInput() const;

private:
    void Receive(std::span<const std::uint8_t> bytes);
    static int FindPort(const std::vector<std::string>& names, std::string& preferredName);

    static inline AMidi* instance = nullptr;

    MidiBackend& backend;
    Clock& clock;
    std::chrono::microseconds inputWait;
    /// Records why the port `index` of `names` didn't open.
    void Failed(const std::vector<std::string>& names, int index);

    int inputId = -1;
    int outputId = -1;
    std::uint32_t pace = 0;
    std::string openFailure;
    std::uint16_t preferredInputIndex = kNoPreferredIndex;
    std::uint16_t preferredOutputIndex = kNoPreferredIndex;

    mutable std::mutex receiveMutex;
    std::condition_variable received;
    std::vector<std::uint8_t> receiveBuffer; // guarded by receiveMutex, at most 10000 bytes, no
                                             // real-time bytes
    bool receiving = false; // guarded by receiveMutex
};

} // namespace cardmill
