#include "synth/ACompileProgressDialog.h"

#include "compiler/AImageProgressDialog.h"
#include "compiler/MCompileEngine.h"
#include "model/MProject.h"
#include "platform/ProgressView.h"
#include "platform/Prompter.h"
#include "synth/MZeltaSysexHandler.h"

#include <algorithm>
#include <cmath>

namespace cardmill {

namespace {

constexpr std::uint32_t kBlocksPerSector = MZeltaSysexHandler::kBlocksPerSector;
constexpr std::size_t kBlockBytes = MZeltaSysexHandler::kBlockBytes;
// The image-file size question changes its words above this size.
constexpr std::int64_t kLargestSafeImage = 16777214;
// A last block is filled up with the value of erased memory, so the card past the image reads
// as if nothing had been written there, whichever way the card was sent.
constexpr std::uint8_t kErasedByte = 0xFF;

} // namespace

ACompileProgressDialog::ACompileProgressDialog(MProject& projectModel,
    MCompileEngine& compileEngine, AMidi& midiPorts, MZeltaSysexHandler& sysexHandler,
    Prompter& prompterService, Clock& clockService, ProgressView& progressView)
    : AProgressDialog(midiPorts, sysexHandler, prompterService, clockService, progressView)
    , project(&projectModel)
    , engine(&compileEngine)
{
}

ACompileProgressDialog::ACompileProgressDialog(AMidi& midiPorts, MZeltaSysexHandler& sysexHandler,
    Prompter& prompterService, Clock& clockService, ProgressView& progressView)
    : AProgressDialog(midiPorts, sysexHandler, prompterService, clockService, progressView)
{
}

ACompileProgressDialog::~ACompileProgressDialog()
{
    if (engineRunning)
        engine->End();
}

LinkOutcome ACompileProgressDialog::Run()
{
    block = 0;
    sector = 0;
    lastSendTime = 0;
    step = 0;
    project->ComputeTotalBytes();
    totalBytes = static_cast<std::int64_t>(project->GetTotalBytes());
    if (totalBytes > static_cast<std::int64_t>(project->GetCardSizeBytes())) {
        ReportFailure(
            prompter, "This project is too large for your memory card.  " + cardSizeAdvice);
        return LinkOutcome::NotStarted;
    }
    if (totalBytes > kLargestSendable) {
        // Sector 128 and beyond can't be named in a message: the card would be written wrong.
        ReportFailure(prompter,
            "This project can't be sent because it is larger than 16 megabytes ("
                + std::to_string(totalBytes)
                + " bytes), and sectors past the first 16 megabytes of a card can't be "
                  "addressed over MIDI.");
        return LinkOutcome::NotStarted;
    }
    if (!CheckMidi(kCompilePrefix))
        return LinkOutcome::NotStarted;
    if (!engine->Begin())
        return LinkOutcome::NotStarted;
    engineRunning = true;
    return RunTransfer();
}

LinkOutcome ACompileProgressDialog::RunTransfer()
{
    finished = false;
    RunSteps(*this, clock);
    if (stopped)
        return LinkOutcome::Stopped;
    return ready ? LinkOutcome::Done : LinkOutcome::Ended;
}

bool ACompileProgressDialog::Step()
{
    if (finished)
        return false;
    if (view.StopRequested()) {
        stopped = true;
        step = kFinish;
    }
    switch (step) {
    case 0:
        StartDeviceSearch(true);
        break;
    case 1:
        if (PollDeviceSearch(SearchPrefix()))
            view.SetBanner(handler.DeviceBanner());
        break;
    case 2:
        PrepareTransfer();
        break;
    case 3:
        TransferTick();
        break;
    case 4: {
        const std::uint16_t count = FinalByteCount();
        if (count == 0) {
            UpdatePercent();
            step = 6;
            break;
        }
        std::array<std::uint8_t, kBlockBytes> last {};
        last.fill(kErasedByte);
        const auto data = GetBlockData().first(std::min<std::size_t>(count, kBlockBytes));
        std::copy(data.begin(), data.end(), last.begin());
        SendBlock(last);
        step = 5;
        break;
    }
    case 5:
        if (!WaitForReply() && step == 5)
            step = 6;
        break;
    case 6:
        ShowPercent(100);
        view.SetTimeLeft(0);
        prompter.Beep();
        prompter.Show("The card is ready.", Icon::Information, Buttons::Ok);
        ready = true;
        Finish();
        return false;
    default:
        Finish();
        return false;
    }
    return true;
}

void ACompileProgressDialog::PrepareTransfer()
{
    blockInterval = kFirstBlockInterval;
    awaitingReply = false;
    needBlock = true;
    erasing = false;
    erasePending = eraseEachSector = erasePreference;
    ++step;
    lastSendTime = Now();
}

void ACompileProgressDialog::TransferTick()
{
    UpdatePercent();
    if (!FetchNextBlock())
        return;
    if (WaitForReply())
        return;
    if (step != 3)
        return; // the reply wait ended the run
    if (erasePending) {
        erasePending = false;
        SendErase();
    } else if (IsSourceFinished()) {
        ++step;
    } else if (!needBlock) {
        SendBlock(GetBlockData().first(kBlockBytes));
        needBlock = true;
    }
}

void ACompileProgressDialog::SendErase()
{
    view.SetSector("Erasing sector:  ", std::to_string(sector + 1));
    view.SetBlock("", "");
    const auto message = handler.MakeEraseSector(sector);
    if (!message) {
        // Only the sector just past a full 16 MB image gets here: there is nothing to erase,
        // and its number can't be sent.
        return;
    }
    Send(*message);
    retries = 2;
    SetDeadline(kEraseWaitMs);
    awaitingReply = true;
    erasing = true;
}

void ACompileProgressDialog::SendBlock(std::span<const std::uint8_t> data)
{
    if (block == 0)
        view.SetSector("Sector:  ", std::to_string(sector + 1));
    view.SetBlock("Block:  ", std::to_string(block + 1));
    handler.MakeBlock(sector, block, data);
    Send(handler.GetBlockMessage());
    ++block;
    awaitingReply = true;
    if (block == kBlocksPerSector) {
        ++sector;
        block = 0;
        erasePending = eraseEachSector;
    }
    const std::uint32_t now = Now();
    blockInterval = now - lastSendTime;
    lastSendTime = now;
    retries = 2;
    SetDeadline(kBlockWaitMs);
    if (totalBytes > 0 && blockInterval > 0) {
        const std::int64_t sent = static_cast<std::int64_t>(sector * kBlocksPerSector + block)
            * static_cast<std::int64_t>(kBlockBytes);
        const std::int64_t blocksLeft
            = std::max<std::int64_t>(0, (totalBytes - sent + 1023) / 1024);
        view.SetTimeLeft(blocksLeft * blockInterval / 1000);
    }
}

void ACompileProgressDialog::Resend()
{
    if (erasing) {
        if (const auto message = handler.MakeEraseSector(sector))
            Send(*message);
        SetDeadline(kEraseWaitMs);
    } else {
        Send(handler.GetBlockMessage());
        SetDeadline(kBlockWaitMs);
    }
}

bool ACompileProgressDialog::WaitForReply()
{
    UpdatePercent();
    if (!awaitingReply)
        return false;
    if (ReceiveCardReply()) {
        if (handler.WasAcknowledged()) {
            awaitingReply = false;
            erasing = false;
            return false;
        }
        if (erasing && sector == 0) {
            // An instrument without the erase command: the card is written over as it is.
            awaitingReply = false;
            erasing = false;
            eraseEachSector = false;
            return false;
        }
        return Refused(sector == 0 ? kCompilePrefix : kLaterPrefix);
    }
    if (!PastDeadline())
        return true;
    ResendOrAsk([this] { Resend(); },
        [this] {
            prompter.Beep();
            return prompter.Show("The synthesizer has stopped responding.  Check your MIDI and "
                                 "power connections.",
                       Icon::Error, Buttons::RetryCancel)
                == Answer::Retry;
        });
    return true;
}

bool ACompileProgressDialog::Refused(std::string_view prefix)
{
    ResendOrAsk([this] { Resend(); },
        [this, prefix] { return handler.ReportError(prompter, prefix, true); });
    return true;
}

void ACompileProgressDialog::UpdatePercent()
{
    const double fraction = blockInterval == 0
        ? 1.0
        : std::min(
            1.0, static_cast<double>(Now() - lastSendTime) / static_cast<double>(blockInterval));
    ShowPercent(CardPercent(sector, block, fraction, totalBytes));
}

bool ACompileProgressDialog::IsSourceFinished() const
{
    return engine->IsFinished();
}

std::span<const std::uint8_t> ACompileProgressDialog::GetBlockData() const
{
    return engine->GetBlockData();
}

bool ACompileProgressDialog::FetchNextBlock()
{
    if (!needBlock)
        return true;
    const int result = engine->Step(view);
    if (result == 0)
        return true;
    if (result == 1) {
        needBlock = false;
        return true;
    }
    failed = true;
    step = kFinish;
    needBlock = false;
    return false;
}

std::uint16_t ACompileProgressDialog::FinalByteCount() const
{
    return engine->GetFinalByteCount();
}

void ACompileProgressDialog::EndSource()
{
    if (engineRunning) {
        engine->End();
        engineRunning = false;
    }
}

void ACompileProgressDialog::Finish()
{
    finished = true;
    EndSource();
}

AImageSendProgressDialog::AImageSendProgressDialog(AMidi& midiPorts,
    MZeltaSysexHandler& sysexHandler, Prompter& prompterService, Clock& clockService,
    ProgressView& progressView)
    : ACompileProgressDialog(midiPorts, sysexHandler, prompterService, clockService, progressView)
{
}

AImageSendProgressDialog::~AImageSendProgressDialog()
{
    EndSource();
}

LinkOutcome AImageSendProgressDialog::Run(const std::string& imagePath)
{
    readCount = 0;
    endOfFile = false;
    totalBytes = 0;
    step = 0;
    EndSource();
    if (!CheckMidi(kImagePrefix))
        return LinkOutcome::NotStarted;
    path = imagePath;
    file = std::fopen(path.c_str(), "rb");
    if (!file) {
        ReportFailure(prompter, "The image file '" + path + "' can't be opened.");
        return LinkOutcome::NotStarted;
    }
    if (!ConfirmSize())
        return LinkOutcome::NotStarted;
    return RunTransfer();
}

bool AImageSendProgressDialog::ConfirmSize()
{
    long size = 0;
    if (std::fseek(file, 0, SEEK_END) == 0)
        size = std::max(0L, std::ftell(file));
    std::rewind(file);
    totalBytes = size;
    if (totalBytes > kLargestSendable) {
        ReportFailure(prompter,
            "The image file size is " + std::to_string(totalBytes)
                + " bytes, larger than 16 megabytes.  Sectors past the first 16 megabytes of a "
                  "card can't be addressed over MIDI, so this image file can't be sent.");
        return false;
    }
    prompter.Beep();
    std::string question;
    if (totalBytes <= kLargestSafeImage) {
        question = "The image file size is " + std::to_string(totalBytes)
            + " bytes.  Have you verified that the memory card is large enough for this amount "
              "of data and that this is a valid image file?";
    } else {
        question = "The image file size is larger than 16 megabytes.  The data in an image file "
                   "this large may be corrupt.  Do you wish to send the image file anyway?";
    }
    return prompter.Show(question, Icon::Warning, Buttons::OkCancel) == Answer::Ok;
}

bool AImageSendProgressDialog::FetchNextBlock()
{
    if (!needBlock)
        return true;
    readCount = std::fread(blockBuffer.data(), 1, blockBuffer.size(), file);
    const bool error = std::ferror(file) != 0;
    const bool atEnd = std::feof(file) != 0;
    std::clearerr(file);
    if (readCount == blockBuffer.size() && !error) {
        needBlock = false;
        return true;
    }
    if (atEnd && !error) {
        if (readCount == 0)
            endOfFile = true;
        std::fill(blockBuffer.begin() + static_cast<std::ptrdiff_t>(readCount), blockBuffer.end(),
            kErasedByte);
        needBlock = false;
        return true;
    }
    // The file can no longer be read: nothing half-read is sent.
    ReportFailure(prompter, "The image file '" + path + "' can't be read.");
    failed = true;
    step = kFinish;
    return false;
}

void AImageSendProgressDialog::EndSource()
{
    if (file) {
        std::fclose(file);
        file = nullptr;
    }
}

} // namespace cardmill
