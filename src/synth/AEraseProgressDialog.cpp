#include "synth/AEraseProgressDialog.h"

#include "model/MProject.h"
#include "platform/ProgressView.h"
#include "platform/Prompter.h"
#include "synth/AMidi.h"
#include "synth/MZeltaSysexHandler.h"

namespace cardmill {

namespace {

// What the instrument is given in place of an erase: its content means nothing to it, only that
// the start of the card no longer holds a card header.
constexpr std::uint8_t kFillByte = 0xFF;
constexpr std::uint32_t kSecondFillBlock = 64;

} // namespace

AEraseProgressDialog::AEraseProgressDialog(AMidi& midiPorts, MZeltaSysexHandler& sysexHandler,
    Prompter& prompterService, Clock& clockService, ProgressView& progressView)
    : AProgressDialog(midiPorts, sysexHandler, prompterService, clockService, progressView)
{
    fill.fill(kFillByte);
}

LinkOutcome AEraseProgressDialog::Run(std::uint32_t cardBytes)
{
    capacity = cardBytes;
    step = 0;
    previousStep = -1;
    finished = false;
    if (capacity / kSectorBytes > 128) {
        // Sector numbers travel as one data byte: erasing sector 128 would send a status byte
        // inside the message and erase who knows what.
        ReportFailure(prompter,
            std::string(kPrefix)
                + "sectors past the first 16 megabytes of a card can't be addressed over MIDI.  "
                  "Only cards of up to 16 megabytes can be erased.");
        return LinkOutcome::NotStarted;
    }
    if (!CheckMidi(kPrefix, "the MIDI system is busy (or doesn't exist).  "))
        return LinkOutcome::NotStarted;
    sentAny = false;
    sector = 0;
    // Nothing brings an erased card back: Enter keeps it.
    if (prompter.Ask("Erase the card in the synthesizer?  Everything in its first "
                + SizeText(capacity) + " will be lost.",
            Icon::Warning, Buttons::OkCancel, Answer::Cancel)
        != Answer::Ok)
        return LinkOutcome::NotStarted;
    midi.RestartReception();
    RunSteps(*this, clock);
    if (stopped)
        return LinkOutcome::Stopped;
    return failed ? LinkOutcome::Ended : LinkOutcome::Done;
}

std::string AEraseProgressDialog::SizeText(std::uint32_t bytes)
{
    // As Card Info names the card sizes.
    for (int token = 0; token < 10; ++token)
        if (MProject::CardSizeBytes(token) == bytes)
            return MProject::CardSizeText(token);
    return std::to_string(bytes / 1024) + " K";
}

std::string AEraseProgressDialog::Erased() const
{
    if (overwriteMode)
        return "The instrument has no erase command: the start of its card was written over (two "
               "blocks), which it reads as an empty card.";
    if (cardEndedFirst)
        return "The card is erased: all of it, since it ends before the " + SizeText(capacity)
            + " asked for.";
    return "The card is erased: its first " + SizeText(capacity) + ".";
}

std::string AEraseProgressDialog::HowFarItGot() const
{
    if (!sentAny)
        return "Nothing was erased.";
    if (overwriteMode)
        return "The start of the card may be written over in part: erase it again.";
    return std::to_string(sector) + " of the " + std::to_string(sectorCount)
        + " sectors to erase were erased; the rest of the card is as it was.";
}

bool AEraseProgressDialog::Step()
{
    if (finished)
        return false;
    const int before = previousStep;
    previousStep = step;
    if (view.StopRequested()) {
        stopped = true;
        step = kFinish;
    }
    switch (step) {
    case 0:
        StartDeviceSearch(false);
        break;
    case 1:
        if (PollDeviceSearch(kPrefix))
            view.SetPhase(handler.DeviceBanner(), "");
        break;
    case 2:
        EraseTick(before != 2);
        break;
    default:
        previousStep = -2;
        finished = true;
        return false;
    }
    return true;
}

void AEraseProgressDialog::EraseTick(bool firstTick)
{
    if (firstTick) {
        overwriteMode = false;
        cardEndedFirst = false;
        fillBlock = 0;
        sector = 0;
        awaitingReply = false;
        sectorTime = 2330;
        sectorCount = capacity / kSectorBytes;
        if (!ForgetCard()) {
            failed = true;
            step = kFinish;
            return;
        }
    }
    if (Fencing() && PollFence())
        return;
    if (awaitingReply)
        PollReply();
    if (step != 2 || Fencing())
        return;
    if (sector == sectorCount) {
        ++step;
        return;
    }
    if (awaitingReply) {
        if (PastDeadline())
            ResendOrAskResponding([this] { Resend(); },
                "The card can't be completely erased because the synthesizer has stopped "
                "responding.  ");
        return;
    }
    SendCurrent();
}

bool AEraseProgressDialog::ForgetCard()
{
    if (!journal)
        return true;
    const InstrumentIdentity instrument = IdentifiedInstrument();
    constexpr const char* kNothingErased = "Nothing was erased";
    return HoldJournal(*journal, instrument, journalLock, kNothingErased)
        && ClaimOnly(*journal, instrument, TransferRecord::Erased(capacity), kNothingErased)
        != Claims::Refused;
}

void AEraseProgressDialog::SendCurrent()
{
    view.SetSector("Erasing Sector: ", std::to_string(sector + 1));
    sentAny = true;
    if (overwriteMode) {
        handler.MakeBlock(sector, fillBlock, fill);
        SendCardMessage(handler.GetBlockMessage());
    } else if (const auto message = handler.MakeEraseSector(sector)) {
        SendCardMessage(*message);
    }
    sendTime = Now();
    retries = 2;
    SetDeadline(kWaitMs);
    if (sectorCount > 0)
        ShowPercent(static_cast<int>((sector + 1) * 100 / sectorCount));
    awaitingReply = true;
}

void AEraseProgressDialog::PollReply()
{
    if (!ReceiveCardReply())
        return;
    if (handler.WasAcknowledged()) {
        awaitingReply = false;
        sectorTime = Now() - sendTime;
        if (overwriteMode && fillBlock == 0)
            fillBlock = kSecondFillBlock;
        else
            ++sector;
        if (NeedsFence())
            BeginFence(kWaitMs);
        return;
    }
    if (sector == 0 && !overwriteMode) {
        awaitingReply = false;
        overwriteMode = true;
        sectorCount = 1;
        SetDeadline(kWaitMs);
        return;
    }
    if (sector > 0 && !overwriteMode
        && handler.GetReason() == MZeltaSysexHandler::kReasonPastTheEnd) {
        // A card smaller than the size asked for: all of it is erased.
        awaitingReply = false;
        cardEndedFirst = true;
        sectorCount = sector;
        return;
    }
    ResendOrAsk(
        [this] { Resend(); }, [this] { return handler.ReportError(prompter, kPrefix, true); });
}

void AEraseProgressDialog::Resend()
{
    if (overwriteMode) {
        SendCardMessage(handler.GetBlockMessage());
    } else if (const auto message = handler.MakeEraseSector(sector)) {
        SendCardMessage(*message);
    }
    SetDeadline(kWaitMs);
}

AIOProgressDialog::AIOProgressDialog(AMidi& midiPorts, MZeltaSysexHandler& sysexHandler,
    Prompter& prompterService, Clock& clockService, ProgressView& progressView)
    : AProgressDialog(midiPorts, sysexHandler, prompterService, clockService, progressView)
{
}

LinkOutcome AIOProgressDialog::Run()
{
    step = 0;
    finished = false;
    identified = false;
    if (!CheckMidi(kPrefix))
        return LinkOutcome::NotStarted;
    midi.RestartReception();
    RunSteps(*this, clock);
    if (identified)
        return LinkOutcome::Done;
    return stopped ? LinkOutcome::Stopped : LinkOutcome::Ended;
}

bool AIOProgressDialog::Step()
{
    if (finished)
        return false;
    view.Pulse();
    if (view.StopRequested()) {
        stopped = true;
        step = kFinish;
    }
    switch (step) {
    case 0:
        StartDeviceSearch(false);
        break;
    case 1:
        if (PollDeviceSearch(kPrefix)) {
            identified = true;
            view.SetPhase("Success!", "");
            view.SetSector(handler.DeviceBanner(), "");
        }
        break;
    default:
        // The desktop application hides its bar and relabels Stop as OK here; there is nothing
        // further to wait for once the instrument has answered.
        finished = true;
        return false;
    }
    return true;
}

} // namespace cardmill
