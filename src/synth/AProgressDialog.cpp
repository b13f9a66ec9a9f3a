#include "synth/AProgressDialog.h"

#include "platform/Clock.h"
#include "platform/ProgressView.h"
#include "platform/Prompter.h"
#include "synth/AMidi.h"
#include "synth/MZeltaSysexHandler.h"

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

bool AProgressDialog::CheckMidi(std::string_view prefix, std::string_view busy)
{
    if (midi.IsOpen())
        return true;
    ReportFailure(prompter, std::string(prefix) + std::string(busy) + midiAdvice);
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
    Send(MZeltaSysexHandler::MakeIdentityRequest());
    retries = 3;
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

bool AProgressDialog::ReceiveIdentityReply()
{
    return ReceiveReply(MZeltaSysexHandler::kIdentityReplyBytes, true);
}

bool AProgressDialog::ReceiveCardReply()
{
    return ReceiveReply(MZeltaSysexHandler::kCardReplyCapacity, false);
}

bool AProgressDialog::ReceiveReply(std::size_t capacity, bool identity)
{
    std::array<std::uint8_t, MZeltaSysexHandler::kIdentityReplyBytes> reply {};
    std::size_t count = 0;
    const int result
        = midi.ReceiveSysex(std::span(reply).first(capacity), kSysexStart, kSysexEnd, count);
    if (result == AMidi::kOverflow) {
        // A message longer than any reply (another device's, or noise) would otherwise stay at
        // the front of the buffer and hide every reply after it.
        midi.RestartReception();
        return false;
    }
    if (result != AMidi::kEndSeen)
        return false;
    const auto message = std::span<const std::uint8_t>(reply).first(count);
    const bool recognised
        = identity ? handler.ReceiveIdentityReply(message) : handler.ReceiveCardReply(message);
    midi.RestartReception();
    return recognised;
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

void AProgressDialog::ShowPercent(int percent)
{
    if (percent > lastPercent) {
        lastPercent = percent;
        view.SetPercent(percent > 100 ? 100 : percent);
    }
}

} // namespace cardmill
