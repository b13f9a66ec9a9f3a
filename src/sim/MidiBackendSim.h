#pragma once

#include "platform/MidiBackend.h"
#include "sim/SimInstrument.h"
#include "sim/SimOptions.h"
#include "sim/SimTiming.h"

#include <atomic>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

namespace cardmill {

/// The virtual instrument inside the program: one input and one output, both named "sim".
/// Send() hands the bytes to the instrument once they have left (after their wire time when a
/// baud rate is emulated); its replies come back through the OnInput handler on the back-end's
/// own thread, after the time the instrument is busy and their own wire time, with Active
/// Sensing between them when asked for. Send() is called from one thread at a time; the handler
/// is never called after Close() or OnInput() returns. The card is written through to its file
/// as it changes; SaveCard() (also on destruction) flushes it to disk.
class MidiBackendSim final : public MidiBackend {
public:
    static constexpr const char* kPortName = "sim";

    /// Nothing, with `error` set, when the instrument's files can't be used (see SimInstrument).
    static std::unique_ptr<MidiBackendSim> Create(const SimOptions& options, std::string& error);
    ~MidiBackendSim() override;
    MidiBackendSim(const MidiBackendSim&) = delete;
    MidiBackendSim& operator=(const MidiBackendSim&) = delete;

    std::vector<std::string> InputNames() const override { return { kPortName }; }
    std::vector<std::string> OutputNames() const override { return { kPortName }; }
    bool OpenInput(int index) override;
    bool OpenOutput(int index) override;
    void Close() override;
    /// Returns once the bytes have left: at once without a baud rate, after their wire time
    /// with one; false when that is longer than `timeout` (only what left by then arrives).
    bool Send(std::span<const std::uint8_t> message, std::chrono::milliseconds timeout) override;
    void OnInput(std::function<void(std::span<const std::uint8_t>)> handler) override;
    bool ReachesVirtualInstrument() const override { return true; }

    /// Writes the card to its file when it changed; false with `error` set when that failed.
    bool SaveCard(std::string& error);
    /// A copy of the card's contents.
    std::vector<std::uint8_t> Card() const;

private:
    struct Reply {
        SimTiming::TimePoint due;
        std::vector<std::uint8_t> bytes;
    };

    MidiBackendSim(std::unique_ptr<SimInstrument> instrument, const SimOptions& options);
    void DeliveryLoop();

    mutable std::mutex instrumentMutex;
    std::unique_ptr<SimInstrument> sim; // guarded by instrumentMutex
    SimTiming timing; // guarded by instrumentMutex
    LossyInterface interface; // guarded by instrumentMutex

    std::atomic<bool> outputOpen { false };
    const std::chrono::milliseconds activeSensing; // 0: none

    std::mutex queueMutex;
    std::condition_variable queueChanged;
    std::deque<Reply> queue; // guarded by queueMutex, in the order of `due`
    bool stopping = false; // guarded by queueMutex
    bool delivering = false; // guarded by queueMutex: the input is open
    std::thread deliverer;

    std::mutex handlerMutex;
    std::function<void(std::span<const std::uint8_t>)> inputHandler; // guarded by handlerMutex
};

} // namespace cardmill
