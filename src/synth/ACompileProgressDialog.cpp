#include "synth/ACompileProgressDialog.h"

#include "compiler/AImageProgressDialog.h"
#include "compiler/MCompileEngine.h"
#include "model/MProject.h"
#include "platform/FileSystem.h"
#include "platform/ProgressView.h"
#include "platform/Prompter.h"
#include "synth/AMidi.h"
#include "synth/MZeltaSysexHandler.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace cardmill {

namespace {

constexpr std::uint32_t kBlocksPerSector = MZeltaSysexHandler::kBlocksPerSector;
constexpr std::size_t kBlockBytes = MZeltaSysexHandler::kBlockBytes;
constexpr std::size_t kSectorBytes = kBlockBytes * kBlocksPerSector;
// The image-file size question changes its words above this size.
constexpr std::int64_t kLargestSafeImage = 16777214;
constexpr std::uint8_t kErasedByte = 0xFF;
// The instrument's refusal of a block whose bytes don't add up: bytes were lost on the way.
constexpr std::uint8_t kReasonChecksum = 3;

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

ACompileProgressDialog::~ACompileProgressDialog() = default;

void ACompileProgressDialog::UseJournal(const TransferJournal& transferJournal,
    TransferMode transferMode, std::optional<ImageDigest> earlierImage, std::string earlierFile)
{
    journal = &transferJournal;
    mode = transferMode;
    earlier = std::move(earlierImage);
    earlierName = std::move(earlierFile);
}

std::optional<std::pair<std::uint32_t, std::uint32_t>> ACompileProgressDialog::SectorsOnCard() const
{
    if (!record)
        return std::nullopt;
    return std::pair { static_cast<std::uint32_t>(record->sectors.size()), record->ImageSectors() };
}

std::optional<std::pair<std::uint32_t, std::uint32_t>>
ACompileProgressDialog::SectorsPlanned() const
{
    if (plan.write.empty())
        return std::nullopt;
    return std::pair { plan.SectorsToWrite(), static_cast<std::uint32_t>(plan.write.size()) };
}

std::string ACompileProgressDialog::HowFarItGot() const
{
    if (!cardChanged)
        return "Nothing was written to the card.";
    const auto blocksIn = [this](std::uint32_t at) {
        const std::uint64_t start = std::uint64_t { at } * kSectorBytes;
        const std::uint64_t bytes = start >= image.size()
            ? 0
            : std::min<std::uint64_t>(kSectorBytes, image.size() - start);
        return static_cast<std::uint32_t>((bytes + kBlockBytes - 1) / kBlockBytes);
    };
    std::string text;
    if (const auto onCard = SectorsOnCard())
        text = "The card holds " + std::to_string(onCard->first) + " of the "
            + SectorCount(onCard->second) + " of this image";
    else
        text = "The card is partly written";
    if (ackedBlocks > 0 && ackedBlocks < blocksIn(ackedSector))
        text += ", and " + std::to_string(ackedBlocks) + " of the "
            + std::to_string(blocksIn(ackedSector)) + " blocks of sector "
            + std::to_string(ackedSector + 1);
    return text + ".";
}

LinkOutcome ACompileProgressDialog::Run()
{
    project->ComputeTotalBytes();
    const auto totalBytes = static_cast<std::int64_t>(project->GetTotalBytes());
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
    cardSize = project->GetCardSizeBytes();
    cardTarget = project->GetTarget();
    if (!CompileImage())
        return stopped ? LinkOutcome::Stopped : LinkOutcome::NotStarted;
    if (image.size() > cardSize || image.size() > kLargestSendable) {
        // The compiled card came out larger than its size was reckoned: its end would be cut
        // off, or land in sectors no message can name.
        ReportFailure(prompter,
            "This project can't be sent because its card image came out at "
                + std::to_string(image.size()) + " bytes, larger than "
                + (image.size() > cardSize ? "the card" : "16 megabytes") + ".");
        return LinkOutcome::NotStarted;
    }
    return RunTransfer();
}

bool ACompileProgressDialog::CompileImage()
{
    // The whole card is compiled before anything is sent: a sound that can't be read then
    // stops the run before the card is touched, and the journal knows the image it records.
    image.clear();
    if (!engine->Begin())
        return false;
    bool compiled = true;
    while (true) {
        if (view.StopRequested()) {
            stopped = true;
            compiled = false;
            break;
        }
        const int result = engine->Step(view);
        if (result != 0 && result != 1) {
            compiled = false;
            break;
        }
        if (engine->IsFinished())
            break;
        if (result == 1) {
            const auto data = engine->GetBlockData().first(kBlockBytes);
            image.insert(image.end(), data.begin(), data.end());
        }
    }
    if (compiled) {
        const auto data = engine->GetBlockData().first(engine->GetFinalByteCount());
        image.insert(image.end(), data.begin(), data.end());
    }
    engine->End();
    return compiled;
}

LinkOutcome ACompileProgressDialog::RunTransfer()
{
    block = 0;
    sector = 0;
    lastSendTime = 0;
    step = 0;
    finished = false;
    record.reset();
    plan = {};
    cardChanged = false;
    ackedSector = 0;
    ackedBlocks = 0;
    if (journal)
        digest = ImageDigest::Of(image);
    // Replies to an earlier run (a late one after its last resend) are not this run's.
    midi.RestartReception();
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
        if (TargetAgrees() && PrepareTransfer())
            ++step;
        else
            step = kFinish;
        lastSendTime = Now();
        break;
    case 3:
        TransferTick();
        break;
    case 4:
        finished = true;
        if (!QuietAfterTheLastReply()) {
            LinkShared();
            return false;
        }
        ShowPercent(100);
        view.SetTimeLeft(0);
        prompter.Beep();
        prompter.Show(ReadyText(), Icon::Information, Buttons::Ok);
        ready = true;
        return false;
    default:
        finished = true;
        return false;
    }
    return true;
}

bool ACompileProgressDialog::TargetAgrees()
{
    const std::uint16_t family = handler.GetFamily();
    if (!cardTarget || *cardTarget == family)
        return true;
    // Enter keeps the card as it is: a card of the other family makes no sense to it.
    const Answer answer = prompter.Ask("This card was made for the " + GetFamilyName(*cardTarget)
            + ", but the instrument is a " + GetFamilyName(family)
            + ", which can't play it.  Write it to the card all the same?",
        Icon::Warning, Buttons::OkCancel, Answer::Cancel);
    if (answer == Answer::Ok)
        return true;
    failed = true;
    return false;
}

bool ACompileProgressDialog::PrepareTransfer()
{
    blockInterval = kFirstBlockInterval;
    awaitingReply = false;
    erasing = false;
    anyReply = false;
    slowestReplyMs = 0;
    eraseEachSector = erasePreference;
    if (journal && !PlanFromJournal())
        return false;
    // A sector written again holds older bytes: it is erased whatever the preference says.
    if (!plan.write.empty()) {
        eraseEachSector = true;
        view.SetPhase("Sectors to write:  ",
            std::to_string(plan.SectorsToWrite()) + " of " + std::to_string(digest.sectors.size()));
    }
    erasePending = eraseEachSector;
    return true;
}

bool ACompileProgressDialog::PlanFromJournal()
{
    instrument = IdentifiedInstrument();
    if (!HoldJournal(*journal, instrument, transferLock, "Nothing was sent")) {
        failed = true;
        return false;
    }
    std::string problem;
    const auto known = journal->Read(instrument, problem);
    plan = PlanTransfer(mode, known, problem, digest, cardSize, earlier ? &*earlier : nullptr,
        earlierName, clock.Now());
    if (!plan.refusal.empty())
        prompter.Show(plan.refusal, Icon::Warning, Buttons::Ok);
    if (!plan.question.empty()) {
        // Yes trusts the record, which can't see a card swapped in the slot since: Enter writes
        // the whole card.
        const Answer answer
            = prompter.Ask(plan.question, Icon::Information, Buttons::YesNoCancel, Answer::No);
        if (answer == Answer::No) {
            plan = {};
        } else if (!Accepts(answer)) {
            failed = true;
            return false;
        }
    }
    // Before the card is touched the journal stops claiming every sector this run writes: a
    // run that dies half-way must leave a journal that says less than the card holds, never more.
    // A sector left out of the plan is one the card is known to hold as this image has it.
    // Until this run changes the card, it was written when the record says.
    record = TransferRecord { cardSize, digest.size, digest.hash, {},
        known && !plan.write.empty() ? known->writtenAt : clock.Now() };
    for (std::uint32_t s = 0; s < plan.write.size(); ++s)
        if (!plan.write[s])
            record->sectors[s] = digest.sectors[s];
    switch (ClaimOnly(*journal, instrument, *record, "Nothing was sent")) {
    case Claims::Written:
        return true;
    case Claims::Dropped:
        prompter.Show("The transfer can't be recorded in '" + journal->PathFor(instrument)
                + "', so it can't be resumed if it stops.",
            Icon::Warning, Buttons::Ok);
        journal = nullptr;
        record.reset();
        return true;
    case Claims::Refused:
        break;
    }
    failed = true;
    return false;
}

bool ACompileProgressDialog::Writes(std::uint32_t at) const
{
    return plan.write.empty() || (at < plan.write.size() && plan.write[at]);
}

void ACompileProgressDialog::TransferTick()
{
    UpdatePercent();
    if (WaitForReply() || step != 3)
        return; // a reply is awaited, or the wait ended the run
    if (block == 0 && !Writes(sector)) {
        const auto sectors
            = static_cast<std::uint32_t>((image.size() + kSectorBytes - 1) / kSectorBytes);
        while (sector < sectors && !Writes(sector))
            ++sector;
        erasePending = eraseEachSector && Writes(sector);
    }
    if (erasePending) {
        erasePending = false;
        SendErase();
    } else if (static_cast<std::uint64_t>(sector) * kSectorBytes + block * kBlockBytes
        >= image.size()) {
        step = 4;
    } else {
        SendBlock();
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
    Changing();
    SendCardMessage(*message);
    retries = 2;
    SetDeadline(kEraseWaitMs);
    awaitingReply = true;
    erasing = true;
}

void ACompileProgressDialog::SendBlock()
{
    const std::size_t offset = sector * kSectorBytes + block * kBlockBytes;
    std::array<std::uint8_t, kBlockBytes> data {};
    // A last block is filled up with the value of erased memory, so the card past the image
    // reads as if nothing had been written there.
    data.fill(kErasedByte);
    std::copy_n(image.begin() + static_cast<std::ptrdiff_t>(offset),
        std::min(kBlockBytes, image.size() - offset), data.begin());
    if (block == 0)
        view.SetSector("Sector:  ", std::to_string(sector + 1));
    view.SetBlock("Block:  ", std::to_string(block + 1));
    if (!handler.MakeBlock(sector, block, data)) {
        // Sending the block before it again would put it in this one's place on the card.
        ReportFailure(prompter,
            std::string(LaterPrefix()) + "block " + std::to_string(block + 1) + " of sector "
                + std::to_string(sector + 1) + " can't be addressed over MIDI.");
        failed = true;
        step = kFinish;
        return;
    }
    Changing();
    SendCardMessage(handler.GetBlockMessage());
    sentSector = sector;
    sentBlock = block;
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
    if (blockInterval > 0) {
        const std::int64_t blocksLeft
            = std::max<std::int64_t>(0, (BytesToWrite() - BytesWritten() + 1023) / 1024);
        view.SetTimeLeft(blocksLeft * blockInterval / 1000);
    }
}

void ACompileProgressDialog::Resend()
{
    if (erasing) {
        if (const auto message = handler.MakeEraseSector(sector))
            SendCardMessage(*message);
        SetDeadline(kEraseWaitMs);
    } else {
        SendCardMessage(handler.GetBlockMessage());
        SetDeadline(kBlockWaitMs);
    }
}

bool ACompileProgressDialog::WaitForReply()
{
    UpdatePercent();
    if (Fencing())
        return PollFence();
    if (!awaitingReply)
        return false;
    if (ReceiveCardReply()) {
        if (ExtraReplies()) {
            LinkShared();
            return true;
        }
        const bool first = !anyReply;
        anyReply = true;
        slowestReplyMs = std::max(slowestReplyMs, Now() - lastSendTime);
        if (handler.WasAcknowledged()) {
            awaitingReply = false;
            if (!erasing) {
                PaceWorked();
                Acknowledged();
            }
            if (!NeedsFence()) {
                erasing = false;
                return false;
            }
            BeginFence(erasing ? kEraseWaitMs : kBlockWaitMs);
            erasing = false;
            return true;
        }
        if (erasing && first) {
            // An instrument without the erase command: the card is written over as it is.
            awaitingReply = false;
            erasing = false;
            eraseEachSector = false;
            return false;
        }
        if (handler.GetReason() == MZeltaSysexHandler::kReasonPastTheEnd) {
            PastTheCardsEnd();
            return true;
        }
        if (!erasing && handler.GetReason() == kReasonChecksum)
            PaceAfterFailure();
        return Refused(sector == 0 ? SearchPrefix() : LaterPrefix());
    }
    if (!PastDeadline())
        return true;
    if (!erasing)
        PaceAfterFailure();
    ResendOrAskResponding([this] { Resend(); });
    return true;
}

bool ACompileProgressDialog::QuietAfterTheLastReply()
{
    // Every message has had its reply: anything more, within the longest time a reply took,
    // answers messages this program didn't send. (Replies to another's messages shift ours, so
    // the last of ours may come that late.)
    clock.Sleep(
        std::chrono::milliseconds(std::clamp<std::uint32_t>(slowestReplyMs + 20, 20, 1000)));
    for (int replies = 0; replies < 16 && midi.HasInput(); ++replies)
        ReceiveCardReply();
    return !ExtraReplies();
}

void ACompileProgressDialog::LinkShared()
{
    // The acknowledgements can't be told from another's: the journal claims none of this run.
    if (journal && record) {
        record->sectors.clear();
        journal->Write(instrument, *record);
    }
    ReportFailure(prompter,
        "The card may not hold this image: the synthesizer answered more messages than were "
        "sent to it, so another program or device is using the same MIDI link, or the link is "
        "noisy.  Close the other program (or check the cables) and send the card again; nothing "
        "of this transfer was recorded.");
    failed = true;
    step = kFinish;
}

void ACompileProgressDialog::Changing()
{
    if (cardChanged)
        return;
    cardChanged = true;
    if (record)
        record->writtenAt = clock.Now();
}

std::string ACompileProgressDialog::ReadyText() const
{
    const auto planned = SectorsPlanned();
    if (!planned)
        return "The card is ready.";
    // Told, so that a card swapped since the record was made can't pass for written.
    return "The card is ready.  " + std::to_string(planned->first) + " of "
        + SectorCount(planned->second) + " needed writing"
        + (planned->first == 0 ? ": nothing was sent." : "; the others held this image already.");
}

void ACompileProgressDialog::Acknowledged()
{
    ackedSector = sentSector;
    ackedBlocks = sentBlock + 1;
    if (!record || sentBlock + 1 != digest.BlocksIn(sentSector))
        return;
    // Every block of the sector is on the card now.
    record->sectors[sentSector] = digest.sectors[sentSector];
    if (!journal->Write(instrument, *record, false)) {
        // The journal on disk claims less than the card holds: safe, only less useful.
        record->sectors.erase(sentSector);
    }
}

bool ACompileProgressDialog::Refused(std::string_view prefix)
{
    ResendOrAsk([this] { Resend(); },
        [this, prefix] { return handler.ReportError(prompter, prefix, true, cardAdvice); });
    return true;
}

void ACompileProgressDialog::PastTheCardsEnd()
{
    // Sent again, or resumed, the same address is refused again: the card is too small.
    const std::uint64_t holds = erasing
        ? std::uint64_t { sector } * kSectorBytes
        : std::uint64_t { sentSector } * kSectorBytes + std::uint64_t { sentBlock } * kBlockBytes;
    ReportFailure(prompter,
        std::string(holds == 0 ? SearchPrefix() : LaterPrefix()) + "the card holds "
            + std::to_string(holds) + " bytes; this image needs " + std::to_string(image.size())
            + ".  Use a card that holds at least " + std::to_string(image.size()) + " bytes.");
    cardTooSmall = true;
    failed = true;
    step = kFinish;
}

std::int64_t ACompileProgressDialog::BytesToWrite() const
{
    if (plan.write.empty())
        return static_cast<std::int64_t>(image.size());
    std::int64_t bytes = 0;
    for (std::uint32_t s = 0; s < plan.write.size(); ++s)
        if (plan.write[s])
            bytes += static_cast<std::int64_t>(
                std::min<std::size_t>(kSectorBytes, image.size() - s * kSectorBytes));
    return bytes;
}

std::int64_t ACompileProgressDialog::BytesWritten() const
{
    const auto written = plan.write.empty()
        ? sector
        : std::count(plan.write.begin(),
            plan.write.begin() + std::min<std::size_t>(sector, plan.write.size()), true);
    return static_cast<std::int64_t>(written) * kSectorBytes
        + static_cast<std::int64_t>(block) * kBlockBytes;
}

void ACompileProgressDialog::UpdatePercent()
{
    const double fraction = blockInterval == 0
        ? 1.0
        : std::min(
            1.0, static_cast<double>(Now() - lastSendTime) / static_cast<double>(blockInterval));
    ShowPercent(CardPercent(0, BytesWritten() / kBlockBytes, fraction, BytesToWrite()));
}

AImageSendProgressDialog::AImageSendProgressDialog(AMidi& midiPorts,
    MZeltaSysexHandler& sysexHandler, Prompter& prompterService, Clock& clockService,
    ProgressView& progressView)
    : ACompileProgressDialog(midiPorts, sysexHandler, prompterService, clockService, progressView)
{
}

LinkOutcome AImageSendProgressDialog::Run(const std::string& path)
{
    step = 0;
    image.clear();
    if (!CheckMidi(kImagePrefix))
        return LinkOutcome::NotStarted;
    const auto status = StatFile(path);
    if (!status || !status->regular || !CanOpenForReading(path)) {
        ReportFailure(prompter, "The image file '" + path + "' can't be opened.");
        return LinkOutcome::NotStarted;
    }
    if (status->size == 0) {
        ReportFailure(
            prompter, "The image file '" + path + "' is empty: it holds nothing to send.");
        return LinkOutcome::NotStarted;
    }
    if (!ConfirmSize(static_cast<std::int64_t>(status->size)))
        return LinkOutcome::NotStarted;
    auto bytes = ReadWholeFile(path, kLargestSendable);
    if (!bytes) {
        ReportFailure(prompter, "The image file '" + path + "' can't be read.");
        return LinkOutcome::NotStarted;
    }
    image = std::move(*bytes);
    cardTarget = MProject::TargetOfImage(image);
    return RunTransfer();
}

bool AImageSendProgressDialog::ConfirmSize(std::int64_t size)
{
    if (size > kLargestSendable) {
        ReportFailure(prompter,
            "The image file size is " + std::to_string(size)
                + " bytes, larger than 16 megabytes.  Sectors past the first 16 megabytes of a "
                  "card can't be addressed over MIDI, so this image file can't be sent.");
        return false;
    }
    prompter.Beep();
    std::string question;
    if (size <= kLargestSafeImage) {
        question = "The image file size is " + std::to_string(size)
            + " bytes.  Have you verified that the memory card is large enough for this amount "
              "of data and that this is a valid image file?";
    } else {
        question = "The image file size is larger than 16 megabytes.  The data in an image file "
                   "this large may be corrupt.  Do you wish to send the image file anyway?";
    }
    return prompter.Ask(question, Icon::Warning, Buttons::OkCancel, Answer::Cancel) == Answer::Ok;
}

} // namespace cardmill
