#include "AImageProgressDialog.h"

#include "MCompileEngine.h"
#include "model/ASafeFile.h"
#include "model/MProject.h"
#include "model/TextFields.h"
#include "platform/ProgressView.h"
#include "platform/Prompter.h"

#include <algorithm>

namespace cardmill {

namespace {

constexpr std::int64_t kLargestSafeImage = 16777214;
constexpr int kBlocksPerSector = 128;

} // namespace

int CardPercent(std::int64_t sector, std::int64_t block, double fraction, std::int64_t totalBytes)
{
    if (totalBytes <= 0)
        return 0;
    const double done
        = static_cast<double>(sector * kBlocksPerSector + block) * 1024 + fraction * 1024;
    return static_cast<int>(done / static_cast<double>(totalBytes) * 100);
}

AImageProgressDialog::AImageProgressDialog(MProject& projectModel, MCompileEngine& compileEngine,
    Prompter& prompterService, Clock& clockService, ProgressView& progressView)
    : project(projectModel)
    , engine(compileEngine)
    , prompter(prompterService)
    , clock(clockService)
    , view(progressView)
    , safeFile(prompterService)
{
}

AImageProgressDialog::~AImageProgressDialog()
{
    Finish();
}

AImageProgressDialog::Outcome AImageProgressDialog::Run(const std::string& path)
{
    if (!PreChecks(path))
        return Outcome::NotStarted;
    RunSteps(*this, clock);
    if (failed)
        return Outcome::Failed;
    return ready ? Outcome::Ready : Outcome::Stopped;
}

bool AImageProgressDialog::PreChecks(const std::string& path)
{
    blockInSector = 0;
    sector = 0;
    imageFile.reset();
    imagePath.clear();
    step = 0;
    project.ComputeTotalBytes();
    totalBytes = project.GetTotalBytes();
    if (totalBytes > kLargestSafeImage) {
        prompter.Beep();
        if (prompter.Ask("The project size is larger than 16 megabytes.  The data in an image "
                         "file this large "
                         "will be corrupt.  Do you wish to create the image file anyway?",
                Icon::Exclamation, Buttons::OkCancel, Answer::Cancel)
            != Answer::Ok)
            return false;
    } else if (totalBytes > project.GetCardSizeBytes()) {
        prompter.Beep();
        if (prompter.Ask("The project size is too large for the memory card specified.  "
                    + cardSizeAdvice + "  Do you wish to create the image file anyway?",
                Icon::Exclamation, Buttons::OkCancel, Answer::Cancel)
            != Answer::Ok)
            return false;
    }
    imagePath = path;
    if (!safeFile.CreateSafely(path, false, imageFile, backupName))
        return false;
    if (!engine.Begin()) {
        Finish();
        return false;
    }
    engineRunning = true;
    finished = false;
    return true;
}

bool AImageProgressDialog::Step()
{
    if (finished)
        return false;
    // Once the image has taken its place it is ready: a stop then comes too late to undo it.
    if (view.StopRequested() && step < 3)
        step = kFinish;
    switch (step) {
    case 0:
        blockInterval = 2147483647;
        needBlock = true;
        lastWriteTime = clock.TickCount();
        step = 1;
        break;
    case 1:
        if (!FetchNextBlock())
            break;
        if (engine.IsFinished())
            step = 2;
        else if (!needBlock && !WriteBlock())
            step = kFinish;
        break;
    case 2: {
        const std::uint16_t count = engine.GetFinalByteCount();
        if (count != 0) {
            if (!Append(engine.GetBlockData().first(count))) {
                step = kFinish;
                break;
            }
            ShowBlockLines();
            UpdateProgressBar(clock.TickCount());
        }
        // The image takes its place once it is complete on disk, and only then is it ready.
        if (!safeFile.CommitSafely(imagePath, false, imageFile, backupName)) {
            failed = true;
            step = kFinish;
            break;
        }
        step = 3;
        break;
    }
    case 3:
        prompter.Beep();
        prompter.Show("The image file is ready."
                + (tellWhere ? "  It was written to '" + imagePath + "'." : std::string()),
            Icon::Information, Buttons::Ok);
        ready = true;
        Finish();
        return false;
    default:
        Finish();
        return false;
    }
    return true;
}

bool AImageProgressDialog::FetchNextBlock()
{
    if (!needBlock)
        return true;
    const int result = engine.Step(view);
    if (result == 0)
        return true;
    if (result == 1) {
        needBlock = false;
        return true;
    }
    step = kFinish;
    needBlock = false;
    failed = true;
    return false;
}

bool AImageProgressDialog::Append(std::span<const std::uint8_t> bytes)
{
    if (imageFile->Write(bytes))
        return true;
    // The run ends; unlike the original, the user hears why and the run counts as failed.
    safeFile.ReportWriteError(imageFile.get());
    failed = true;
    return false;
}

bool AImageProgressDialog::WriteBlock()
{
    const std::uint32_t now = clock.TickCount();
    blockInterval = std::max<std::uint32_t>(now - lastWriteTime, 1);
    lastWriteTime = now;
    needBlock = true;
    if (!Append(engine.GetBlockData().first(MCompileEngine::kBlockBytes)))
        return false;
    ShowBlockLines();
    if (++blockInSector == kBlocksPerSector) {
        blockInSector = 0;
        ++sector;
    }
    UpdateProgressBar(now);
    return true;
}

void AImageProgressDialog::ShowBlockLines()
{
    if (blockInSector == 0)
        view.SetSector("Sector:  ", std::to_string(sector + 1));
    view.SetBlock("Block:  ", std::to_string(blockInSector + 1));
}

void AImageProgressDialog::UpdateProgressBar(std::uint32_t now)
{
    // Moved on as each block is written (the original moved it on every timer tick; with the
    // steps run back to back a tick's worth is one block).
    if (totalBytes <= 0)
        return;
    const double fraction = std::min(
        1.0, static_cast<double>(now - lastWriteTime) / static_cast<double>(blockInterval));
    const int percent = CardPercent(sector, blockInSector, fraction, totalBytes);
    if (percent > lastPercent) {
        lastPercent = percent;
        view.SetPercent(std::min(percent, 100));
    }
}

void AImageProgressDialog::Finish()
{
    finished = true;
    // Still open: the run failed or was stopped before the image was complete.
    if (imageFile)
        safeFile.AbortSafely(imagePath, false, imageFile, backupName);
    if (engineRunning) {
        engine.End();
        engineRunning = false;
    }
}

} // namespace cardmill
