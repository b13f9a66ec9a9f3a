#pragma once

#include "model/ASafeFile.h"
#include "platform/StepRunner.h"

#include <cstdint>
#include <memory>
#include <span>
#include <string>

namespace cardmill {

class Clock;
class MCompileEngine;
class MProject;
class ProgressView;
class Prompter;

/// The progress bar of a card being written, image file or transfer: where the next block stands
/// (`sector`, `block`), `fraction` of the way through it, of `totalBytes` (0 when it is empty).
int CardPercent(std::int64_t sector, std::int64_t block, double fraction, std::int64_t totalBytes);

/// Compiles the project into an image file: the raw card image, the blocks in order and the
/// last partial block at its real length. The size questions come first; then each step asks
/// the engine for some work and appends at most one block. The image is written beside its path
/// and takes its place only when complete and on disk: a failure or Stop leaves whatever was
/// there before (or nothing), never a part of a card that could be sent later.
class AImageProgressDialog final : public SteppedOperation {
public:
    enum class Outcome { Ready, Stopped, Failed, NotStarted };

    AImageProgressDialog(MProject& project, MCompileEngine& engine, Prompter& prompter,
        Clock& clock, ProgressView& view);
    ~AImageProgressDialog() override;

    /// How the user changes the card size, as the front end says it (the desktop application's
    /// menu by default).
    void SetCardSizeAdvice(std::string advice) { cardSizeAdvice = std::move(advice); }
    /// The message that the image is ready also says where it is (the desktop's user typed a
    /// name in a dialog that is gone; the command line's named it on the line).
    void TellWhereWhenReady() { tellWhere = true; }
    /// The pre-checks (sizes, the file, the engine), then the steps to the end.
    Outcome Run(const std::string& path);
    bool Step() override;

private:
    bool PreChecks(const std::string& path);
    bool FetchNextBlock();
    bool WriteBlock();
    void ShowBlockLines();
    void UpdateProgressBar(std::uint32_t now);
    void Finish();
    bool Append(std::span<const std::uint8_t> bytes);

    static constexpr std::uint16_t kFinish = 0xFFFF;

    MProject& project;
    MCompileEngine& engine;
    Prompter& prompter;
    Clock& clock;
    ProgressView& view;

    std::uint32_t lastWriteTime = 0;
    int blockInSector = 0;
    int sector = 0;
    ASafeFile safeFile;
    std::unique_ptr<SafeOutput> imageFile;
    std::string backupName;
    std::int64_t totalBytes = 0;
    std::string imagePath;
    std::string cardSizeAdvice
        = "The card size setting may be changed by selecting 'Card Info' from the Project menu, "
          "and the project made smaller by selecting 'Fit to Card' from the Project menu.";
    std::uint32_t blockInterval = 2147483647;
    bool needBlock = true;
    std::uint16_t step = 0;
    int lastPercent = 0;
    bool engineRunning = false;
    bool failed = false;
    bool ready = false;
    bool finished = false;
    bool tellWhere = false;
};

} // namespace cardmill
