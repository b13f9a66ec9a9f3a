#pragma once

#include "platform/StepRunner.h"
#include "synth/TransferJournal.h"

#include <cstdint>
#include <functional>
#include <optional>
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
    /// A pace lowered in this run that never carried a block is taken back: the failures were
    /// not lost bytes (a cable pulled, the power off), and the next run needn't crawl.
    ~AProgressDialog() override;
    AProgressDialog(const AProgressDialog&) = delete;
    AProgressDialog& operator=(const AProgressDialog&) = delete;

    /// The advice that ends the messages about the link, as the front end puts it (the desktop
    /// application's menu by default).
    void SetMidiAdvice(std::string advice) { midiAdvice = std::move(advice); }
    const std::string& MidiAdvice() const { return midiAdvice; }
    /// Called when a pace lowered after failures has carried a block, with that pace: the front
    /// end remembers it for the port. The first time in a run the user is told, as a note of the
    /// progress view (PaceLearnedText: the pace the run started at and the one that worked).
    using PaceListener = std::function<void(std::uint32_t pace)>;
    void OnPaceLearned(PaceListener listener) { paceLearned = std::move(listener); }
    /// "the link loses bytes at full speed; sending at 3,125 bytes a second".
    static std::string PaceLearnedText(std::uint32_t from, std::uint32_t to);

protected:
    /// True when both ports are open; otherwise the failure box: prefix, the port's reason (or
    /// `busy` when there is none), advice.
    bool CheckMidi(std::string_view prefix,
        std::string_view busy = "the MIDI system is busy or doesn't exist.  ");
    /// State 0: the identity request goes out. The search message goes to the banner line when
    /// the operation has one, else to the phase line.
    void StartDeviceSearch(bool hasBanner);
    /// State 1: true once the instrument has identified itself; after the resends the question.
    bool PollDeviceSearch(std::string_view prefix);

    void Send(std::span<const std::uint8_t> message);
    /// Sends an erase or a block (again, for a resend); its reply is counted as awaited.
    void SendCardMessage(std::span<const std::uint8_t> message);
    /// Reads one message from the link and hands it to the handler when it is the kind asked
    /// for; false when none was complete or it was of the other kind (it is then dropped).
    bool ReceiveIdentityReply();
    bool ReceiveCardReply();

    /// After a card message was acknowledged: true when copies of it sent after a time-out may
    /// still be answered, which would be taken for the next message's reply. The identity request
    /// then goes out as a fence: the instrument answers in order, so once its reply is in, every
    /// late reply is in too and was dropped.
    bool NeedsFence() const { return unanswered > 0; }
    /// `messageWaitMs`: how long the instrument may take over each copy still to be answered.
    void BeginFence(std::uint32_t messageWaitMs);
    /// While fencing: true until the identity reply came; a time-out sends the request again and
    /// then asks, as a missing acknowledgement does.
    bool PollFence();
    bool Fencing() const { return fencing; }
    /// A card reply came that no message sent was waiting for: another program or device shares
    /// the link, or it is noisy, and the replies can't be told apart.
    bool ExtraReplies() const { return extraReplies; }

    /// The instrument identified last, as the transfer journal knows it.
    InstrumentIdentity IdentifiedInstrument() const;
    /// Takes the lock a run that changes the instrument's card holds to its end; false (told,
    /// `nothingDone` leading the message) when another run holds it.
    bool HoldJournal(const TransferJournal& journal, const InstrumentIdentity& instrument,
        FileLock& lock, std::string_view nothingDone);
    enum class Claims { Written, Dropped, Refused };
    /// Before the card is changed: writes `record` (what the card is known to hold whatever
    /// happens next) through to the disk, so that the journal never claims what the card no
    /// longer holds. Dropped: it couldn't be written and is gone, the run goes on without it;
    /// Refused (told): the journal can't be made to claim less.
    Claims ClaimOnly(const TransferJournal& journal, const InstrumentIdentity& instrument,
        const TransferRecord& record, std::string_view nothingDone);

    /// Tick count comparisons that survive the counter's wrap.
    std::uint32_t Now() const;
    bool PastDeadline() const;
    void SetDeadline(std::uint32_t ms);
    /// Moves the bar to `percent` when that is further than it has been.
    void ShowPercent(int percent);
    /// A reply that did not come, or a refusal: `resend` while retries last; then `ask` (true
    /// for Retry) decides between two more retries and the end of the run.
    void ResendOrAsk(const std::function<void()>& resend, const std::function<bool()>& ask);
    /// A block failed (no reply, or refused for a checksum, which is bytes lost on the way):
    /// after the second failure at one pace the next tries go at a slower one (LinkPace::Slower),
    /// with the retries given afresh, so a link that loses bytes at speed comes to a pace that
    /// works before anyone is asked. Call before ResendOrAsk.
    void PaceAfterFailure();
    /// A block was acknowledged at the pace in use.
    void PaceWorked();
    /// ResendOrAsk with the question of a missing acknowledgement, worded by `lead`.
    void ResendOrAskResponding(const std::function<void()>& resend,
        std::string_view lead = "The synthesizer has stopped responding.  ");

    AMidi& midi;
    MZeltaSysexHandler& handler;
    Prompter& prompter;
    Clock& clock;
    ProgressView& view;

    std::uint16_t step = 0;
    /// Tries of a message after its first before the user is asked.
    static constexpr std::uint8_t kRetries = 3;
    std::uint8_t retries = 0;
    std::uint32_t deadline = 0;
    int lastPercent = 0;
    bool stopped = false;
    bool failed = false;

private:
    enum class Reply { None, Identity, Card };
    /// One message from the link, handed to the handler when it is a card reply, or an identity
    /// reply that `identity` asks for; what it was.
    Reply ReceiveReply(bool identity);

    /// Copies of card messages sent whose reply has not come.
    std::uint32_t unanswered = 0;
    bool fencing = false;
    int failuresAtPace = 0;
    std::optional<std::uint32_t> paceBeforeFailures; // set while a lowered pace is unproven
    bool paceTold = false;
    PaceListener paceLearned;
    bool extraReplies = false;

    std::string midiAdvice
        = "Make sure your MIDI settings are correct by selecting 'MIDI Setup' from the Project "
          "menu.";
};

} // namespace cardmill
