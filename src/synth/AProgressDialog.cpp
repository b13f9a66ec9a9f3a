#include "synth/AProgressDialog.h"

#include "platform/Clock.h"
#include "platform/FileSystem.h"
#include "platform/ProgressView.h"
#include "platform/Prompter.h"
#include "synth/AMidi.h"
#include "synth/LinkPace.h"
#include "synth/MZeltaSysexHandler.h"

#include <algorithm>
#include <array>

namespace cardmill {

namespace {

constexpr std::uint8_t kSysexStart = 0xF0;
constexpr std::uint8_t kSysexEnd = 0xF7;

} // namespace

AProgressDialog::AProgressDialog(AMidi& midiPorts, MZeltaSysexHandler& sysexHandler,
    Prompter& prompterService, Clock& clockService, ProgressView& progressView)
    : midi(midiPorts)
    , handler(sysexHandler)
    , prompter(prompterService)
    , clock(clockService)
    , view(progressView)
{
}

AProgressDialog::~AProgressDialog()
{
    if (paceBeforeFailures)
        midi.SetPace(*paceBeforeFailures);
}

bool AProgressDialog::CheckMidi(std::string_view prefix, std::string_view busy)
{
    if (midi.IsOpen())
        return true;
    // The port's own reason when one didn't open: "busy" would send a musician looking at the
    // wrong thing when the interface was unplugged.
    const std::string& failure = midi.OpenFailure();
    ReportFailure(prompter,
        std::string(prefix) + (failure.empty() ? std::string(busy) : failure + ".  ") + midiAdvice);
    return false;
}

void AProgressDialog::StartDeviceSearch(bool hasBanner)
{
    if (hasBanner) {
        view.SetBanner("Searching for synth...");
        view.SetPhase("", "");
    } else {
        view.SetPhase("Searching for synth...", "");
    }
    view.SetSector("", "");
    extraReplies = false;
    Send(MZeltaSysexHandler::MakeIdentityRequest());
    retries = kRetries;
    SetDeadline(kIdentityWaitMs);
    ++step;
}

bool AProgressDialog::PollDeviceSearch(std::string_view prefix)
{
    if (ReceiveIdentityReply()) {
        ++step;
        return true;
    }
    if (!PastDeadline())
        return false;
    if (retries > 0) {
        --retries;
    } else {
        prompter.Beep();
        const Answer answer = prompter.Show(
            std::string(prefix) + "the synthesizer is not responding.  " + midiAdvice, Icon::Error,
            Buttons::RetryCancel);
        if (answer != Answer::Retry) {
            failed = true;
            step = kFinish;
            return false;
        }
        retries = 2;
    }
    Send(MZeltaSysexHandler::MakeIdentityRequest());
    SetDeadline(kIdentityWaitMs);
    return false;
}

void AProgressDialog::Send(std::span<const std::uint8_t> message)
{
    // A failed send shows as a missing reply, which the deadlines and resends deal with.
    midi.SendSysex(message);
}

void AProgressDialog::SendCardMessage(std::span<const std::uint8_t> message)
{
    Send(message);
    ++unanswered;
}

bool AProgressDialog::ReceiveIdentityReply()
{
    return ReceiveReply(true) == Reply::Identity;
}

bool AProgressDialog::ReceiveCardReply()
{
    return ReceiveReply(false) == Reply::Card;
}

AProgressDialog::Reply AProgressDialog::ReceiveReply(bool identity)
{
    // Room for the longest reply: a reply of the kind not awaited is taken whole and dropped,
    // and the one after it is read next.
    std::array<std::uint8_t, MZeltaSysexHandler::kIdentityReplyBytes> reply {};
    std::size_t count = 0;
    if (midi.ReceiveSysex(reply, kSysexStart, kSysexEnd, count) != AMidi::kEndSeen)
        return Reply::None;
    const auto message = std::span<const std::uint8_t>(reply).first(count);
    if (MZeltaSysexHandler::IsIdentityReply(message)) {
        // Not looked at during a transfer: another device's identity would make the handler
        // forget the family that every message carries.
        return identity && handler.ReceiveIdentityReply(message) ? Reply::Identity : Reply::None;
    }
    if (!handler.ReceiveCardReply(message))
        return Reply::None;
    if (unanswered > 0)
        --unanswered;
    else
        extraReplies = true;
    return Reply::Card;
}

void AProgressDialog::BeginFence(std::uint32_t messageWaitMs)
{
    fencing = true;
    Send(MZeltaSysexHandler::MakeIdentityRequest());
    retries = kRetries;
    // The instrument answers the fence only after the copies before it.
    SetDeadline(std::min<std::uint32_t>(unanswered, 3) * messageWaitMs + kIdentityWaitMs);
}

bool AProgressDialog::PollFence()
{
    if (!fencing)
        return false;
    if (ReceiveReply(true) == Reply::Identity) {
        fencing = false;
        unanswered = 0;
        return false;
    }
    if (PastDeadline())
        ResendOrAskResponding([this] {
            Send(MZeltaSysexHandler::MakeIdentityRequest());
            SetDeadline(kIdentityWaitMs);
        });
    return step != kFinish;
}

InstrumentIdentity AProgressDialog::IdentifiedInstrument() const
{
    return { handler.GetFamily(), handler.GetModel(), handler.GetVersion(),
        midi.ReachesVirtualInstrument() };
}

bool AProgressDialog::HoldJournal(const TransferJournal& journal,
    const InstrumentIdentity& instrument, FileLock& lock, std::string_view nothingDone)
{
    if (journal.Lock(instrument, lock) != FileLock::Result::Busy)
        return true;
    ReportFailure(prompter,
        std::string(nothingDone)
            + ", because another transfer to this synthesizer is running (in another window or "
              "command).");
    return false;
}

AProgressDialog::Claims AProgressDialog::ClaimOnly(const TransferJournal& journal,
    const InstrumentIdentity& instrument, const TransferRecord& record,
    std::string_view nothingDone)
{
    if (journal.Write(instrument, record))
        return Claims::Written;
    const std::string path = journal.PathFor(instrument);
    if (RemoveFile(path) || !StatFile(path))
        return Claims::Dropped;
    ReportFailure(prompter,
        std::string(nothingDone) + ", because the record of transfers to this synthesizer, '" + path
            + "', can't be updated and might then claim sectors the card no longer holds.");
    return Claims::Refused;
}

std::uint32_t AProgressDialog::Now() const
{
    return clock.TickCount();
}

bool AProgressDialog::PastDeadline() const
{
    return static_cast<std::int32_t>(Now() - deadline) > 0;
}

void AProgressDialog::SetDeadline(std::uint32_t ms)
{
    deadline = Now() + ms;
}

void AProgressDialog::ResendOrAsk(
    const std::function<void()>& resend, const std::function<bool()>& ask)
{
    if (retries > 0) {
        resend();
        --retries;
    } else if (ask()) {
        resend();
        retries = 2;
    } else {
        failed = true;
        step = kFinish;
    }
}

std::string AProgressDialog::PaceLearnedText(std::uint32_t from, std::uint32_t to)
{
    return "the link loses bytes at " + LinkPace::Text(from) + "; sending at " + LinkPace::Text(to);
}

void AProgressDialog::PaceAfterFailure()
{
    if (++failuresAtPace < LinkPace::kFailuresBeforeSlowing)
        return;
    const auto slower = LinkPace::Slower(midi.Pace());
    if (!slower)
        return; // as slow as any interface needs: the failure is something else
    if (!paceBeforeFailures)
        paceBeforeFailures = midi.Pace();
    midi.SetPace(*slower);
    failuresAtPace = 0;
    // The tries so far went at a pace that loses bytes; the new pace gets all of its own.
    retries = kRetries;
}

void AProgressDialog::PaceWorked()
{
    failuresAtPace = 0;
    if (!paceBeforeFailures)
        return;
    const std::uint32_t from = *paceBeforeFailures;
    paceBeforeFailures.reset();
    if (!paceTold)
        view.Note(PaceLearnedText(from, midi.Pace()));
    paceTold = true;
    if (paceLearned)
        paceLearned(midi.Pace());
}

void AProgressDialog::ResendOrAskResponding(
    const std::function<void()>& resend, std::string_view lead)
{
    ResendOrAsk(resend, [this, lead] {
        prompter.Beep();
        return prompter.Show(std::string(lead) + "Check your MIDI and power connections.",
                   Icon::Error, Buttons::RetryCancel)
            == Answer::Retry;
    });
}

void AProgressDialog::ShowPercent(int percent)
{
    if (percent > lastPercent) {
        lastPercent = percent;
        view.SetPercent(percent > 100 ? 100 : percent);
    }
}

} // namespace cardmill
