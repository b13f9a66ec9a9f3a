#pragma once

#include "platform/StepRunner.h"

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace cardmill {

class AMidi;
class Clock;
class MZeltaSysexHandler;
class ProgressView;
class Prompter;

/// What ended a run of one of the instrument operations.
enum class LinkOutcome {
    Done, ///< the work is complete
    Stopped, ///< Stop was pressed (Ctrl-C on the command line)
    Ended, ///< a failure was reported, or a question answered Cancel; the user has been told
    NotStarted, ///< a pre-check failed (told) and nothing was sent
};

/// The base of the operations that talk to the instrument: the status lines, the stop flag, the
/// check that the MIDI ports are open and the search for the instrument (identity request, up to
/// four times 3 s apart, then a Retry/Cancel question). Each Step is a bounded piece of work; a
/// poll for a reply waits for the link's own bounds (at most 500 ms of silence), so the runner
/// never needs a tick in between. Used from one thread, the one that drives the run.
class AProgressDialog : public SteppedOperation {
public:
    static constexpr std::uint16_t kFinish = 0xFFFF;
    static constexpr std::uint32_t kIdentityWaitMs = 3000;

    AProgressDialog(AMidi& midi, MZeltaSysexHandler& handler, Prompter& prompter, Clock& clock,
        ProgressView& view);

    /// The advice that ends the messages about the link, as the front end puts it (the desktop
    /// application's menu by default).
    void SetMidiAdvice(std::string advice) { midiAdvice = std::move(advice); }
    const std::string& MidiAdvice() const { return midiAdvice; }

protected:
    /// True when both ports are open; otherwise the failure box (prefix + `busy` + advice).
    bool CheckMidi(std::string_view prefix,
        std::string_view busy = "the MIDI system is busy or doesn't exist.  ");
    /// State 0: the identity request goes out. The search message goes to the banner line when
    /// the operation has one, else to the phase line.
    void StartDeviceSearch(bool hasBanner);
    /// State 1: true once the instrument has identified itself; after the resends the question.
    bool PollDeviceSearch(std::string_view prefix);

    void Send(std::span<const std::uint8_t> message);
    /// Reads one reply from the link and hands it to the handler; false when none was complete.
    bool ReceiveIdentityReply();
    bool ReceiveCardReply();

    /// Tick count comparisons that survive the counter's wrap.
    std::uint32_t Now() const;
    bool PastDeadline() const;
    void SetDeadline(std::uint32_t ms);
    /// Moves the bar to `percent` when that is further than it has been.
    void ShowPercent(int percent);
    /// A reply that did not come, or a refusal: `resend` while retries last; then `ask` (true
    /// for Retry) decides between two more retries and the end of the run.
    void ResendOrAsk(const std::function<void()>& resend, const std::function<bool()>& ask);

    AMidi& midi;
    MZeltaSysexHandler& handler;
    Prompter& prompter;
    Clock& clock;
    ProgressView& view;

    std::uint16_t step = 0;
    std::uint8_t retries = 0;
    std::uint32_t deadline = 0;
    int lastPercent = 0;
    bool stopped = false;
    bool failed = false;

private:
    bool ReceiveReply(std::size_t capacity, bool identity);

    std::string midiAdvice
        = "Make sure your MIDI settings are correct by selecting 'MIDI Setup' from the Project "
          "menu.";
};

} // namespace cardmill
