#pragma once

#include "synth/AProgressDialog.h"

#include <array>
#include <cstdint>
#include <cstdio>
#include <span>
#include <string>

namespace cardmill {

class MCompileEngine;
class MProject;

/// Compiles the project and streams the card to the instrument block by block as the engine
/// produces them (never more than one block ahead), erasing each 128 KB sector first when asked.
/// Every message is acknowledged before the next goes out; a missing or refused reply is sent
/// again twice before the user is asked. A run that stops leaves the card as far as it got.
class ACompileProgressDialog : public AProgressDialog {
public:
    static constexpr std::uint32_t kBlockWaitMs = 3000;
    static constexpr std::uint32_t kEraseWaitMs = 10000;
    static constexpr std::uint32_t kFirstBlockInterval = 2330;
    /// Sector numbers travel as one data byte: 128 sectors of 128 KB.
    static constexpr std::int64_t kLargestSendable = 128LL * 128 * 1024;

    ACompileProgressDialog(MProject& project, MCompileEngine& engine, AMidi& midi,
        MZeltaSysexHandler& handler, Prompter& prompter, Clock& clock, ProgressView& view);
    ~ACompileProgressDialog() override;

    /// The preference "EraseSectorBeforeWriting", as this run should see it.
    void SetEraseSectorBeforeWriting(bool erase) { erasePreference = erase; }
    /// How the user changes the card size, as the front end says it.
    void SetCardSizeAdvice(std::string advice) { cardSizeAdvice = std::move(advice); }

    /// The pre-checks, then the steps to the end.
    LinkOutcome Run();
    bool Step() override;

protected:
    /// Used by the image-file variant, which has no engine.
    ACompileProgressDialog(AMidi& midi, MZeltaSysexHandler& handler, Prompter& prompter,
        Clock& clock, ProgressView& view);

    /// True when no more full blocks will come.
    virtual bool IsSourceFinished() const;
    /// The 1024 bytes to send next.
    virtual std::span<const std::uint8_t> GetBlockData() const;
    /// Produces the next block when one is needed; false (the step set to finish) on failure.
    virtual bool FetchNextBlock();
    /// Bytes of a last, partly filled block still to send; 0 = none.
    virtual std::uint16_t FinalByteCount() const;
    /// Lets go of the source, in every way the run ends.
    virtual void EndSource();
    /// Begins the first message about this run's link failures.
    virtual const char* SearchPrefix() const { return kCompilePrefix; }
    LinkOutcome RunTransfer();

    static constexpr const char* kCompilePrefix = "This project can't compile because ";
    static constexpr const char* kLaterPrefix = "The compile operation can't be completed because ";

    std::int64_t totalBytes = 0;
    bool needBlock = true;

private:
    void PrepareTransfer();
    void TransferTick();
    void SendBlock(std::span<const std::uint8_t> data);
    void SendErase();
    void Resend();
    /// Whether a reply is still outstanding.
    bool WaitForReply();
    bool Refused(std::string_view prefix);
    void UpdatePercent();
    void Finish();

    MProject* project = nullptr;
    MCompileEngine* engine = nullptr;
    bool engineRunning = false;

    std::uint32_t block = 0;
    std::uint32_t sector = 0;
    bool erasePending = false;
    bool eraseEachSector = false;
    bool erasePreference = true;
    std::uint32_t lastSendTime = 0;
    std::uint32_t blockInterval = kFirstBlockInterval;
    bool awaitingReply = false;
    bool erasing = false;
    bool finished = false;
    bool ready = false;
    std::string cardSizeAdvice
        = "Make sure your card size setting is correct by selecting 'Card Info' from the Project "
          "menu.";
};

/// Streams an existing image file instead of the engine's output, after asking whether the
/// card can hold it.
class AImageSendProgressDialog final : public ACompileProgressDialog {
public:
    AImageSendProgressDialog(AMidi& midi, MZeltaSysexHandler& handler, Prompter& prompter,
        Clock& clock, ProgressView& view);
    ~AImageSendProgressDialog() override;

    LinkOutcome Run(const std::string& path);

private:
    bool IsSourceFinished() const override { return endOfFile; }
    std::span<const std::uint8_t> GetBlockData() const override { return blockBuffer; }
    bool FetchNextBlock() override;
    std::uint16_t FinalByteCount() const override { return static_cast<std::uint16_t>(readCount); }
    void EndSource() override;
    const char* SearchPrefix() const override { return kImagePrefix; }
    bool ConfirmSize();

    static constexpr const char* kImagePrefix
        = "This image file can't be sent to the synthesizer because ";

    std::array<std::uint8_t, 1024> blockBuffer {};
    std::size_t readCount = 0;
    bool endOfFile = false;
    std::FILE* file = nullptr;
    std::string path;
};

} // namespace cardmill
