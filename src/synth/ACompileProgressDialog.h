#pragma once

#include "synth/AProgressDialog.h"
#include "synth/TransferJournal.h"

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace cardmill {

class MCompileEngine;
class MProject;

/// Compiles the project into memory, then sends the card to the instrument block by block,
/// erasing each 128 KB sector first when asked. Every message is acknowledged before the next
/// goes out; a missing or refused reply is sent again twice before the user is asked. A run that
/// stops leaves the card as far as it got. With a journal, each sector whose blocks were all
/// acknowledged is recorded under the instrument's identity, and the journal's mode may leave
/// out the sectors the card is known to hold already.
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
    /// What ends the message of a refusal for an unknown reason, as the front end says it
    /// (empty: the desktop application's advice).
    void SetCardAdvice(std::string advice) { cardAdvice = std::move(advice); }
    /// The instrument refused an address past the end of its card: more of the card can't be
    /// written, whatever is resumed.
    bool CardTooSmall() const { return cardTooSmall; }
    /// Records the transfer in `journal` and plans it as `mode` says; for Since, `earlier` is
    /// the image the user says the card holds, known to the user as `earlierName`.
    void UseJournal(const TransferJournal& journal, TransferMode mode,
        std::optional<ImageDigest> earlier = std::nullopt, std::string earlierName = {});
    /// After a run with a journal: the sectors of the image the card is known to hold, and all
    /// of them; nothing when the run never reached the instrument's journal.
    std::optional<std::pair<std::uint32_t, std::uint32_t>> SectorsOnCard() const;
    /// After a run: whether anything was erased or written on the card.
    bool CardChanged() const { return cardChanged; }
    /// After a run that didn't end ready: how far it got, for the user ("The card holds 2 of the
    /// 6 sectors of this image, and 33 of the 128 blocks of sector 3." or "Nothing was written
    /// to the card.").
    std::string HowFarItGot() const;
    /// After a run planned from the journal or an earlier image: the sectors it wrote and the
    /// image's sectors; nothing when the whole card was written.
    std::optional<std::pair<std::uint32_t, std::uint32_t>> SectorsPlanned() const;

    /// The pre-checks, then the steps to the end.
    LinkOutcome Run();
    bool Step() override;

protected:
    /// Used by the image-file variant, which has no engine.
    ACompileProgressDialog(AMidi& midi, MZeltaSysexHandler& handler, Prompter& prompter,
        Clock& clock, ProgressView& view);

    /// Begins the messages about this run's link failures: before the first block and later.
    virtual const char* SearchPrefix() const { return kCompilePrefix; }
    virtual const char* LaterPrefix() const { return kLaterPrefix; }
    /// Sends `image` to the instrument.
    LinkOutcome RunTransfer();

    static constexpr const char* kCompilePrefix = "This project can't compile because ";
    static constexpr const char* kLaterPrefix = "The compile operation can't be completed because ";

    std::vector<std::uint8_t> image;
    /// The card's size when known (0: not known).
    std::uint64_t cardSize = 0;
    /// The instrument family the card was compiled for, when known.
    std::optional<std::uint16_t> cardTarget;

private:
    bool CompileImage();
    /// True when the card is for the instrument identified, or the user says to write it all the
    /// same: a card of the other family makes no sense to the instrument.
    bool TargetAgrees();
    bool PrepareTransfer();
    bool PlanFromJournal();
    void TransferTick();
    void SendBlock();
    void SendErase();
    void Resend();
    /// Whether a reply is still outstanding.
    bool WaitForReply();
    void Acknowledged();
    /// Before the first erase or block of the run goes out.
    void Changing();
    /// The message of a card written to the end.
    std::string ReadyText() const;
    bool Refused(std::string_view prefix);
    /// Ends the run on a card too small for the image (told).
    void PastTheCardsEnd();
    /// True when nothing more arrives after the last reply (see ExtraReplies).
    bool QuietAfterTheLastReply();
    /// Ends the run on a link that answers messages this program didn't send (told).
    void LinkShared();
    bool Writes(std::uint32_t sector) const;
    /// Bytes of the image this run writes, and of those the bytes before the block to send.
    std::int64_t BytesToWrite() const;
    std::int64_t BytesWritten() const;
    void UpdatePercent();

    MProject* project = nullptr;
    MCompileEngine* engine = nullptr;

    std::uint32_t block = 0;
    std::uint32_t sector = 0;
    std::uint32_t sentSector = 0;
    std::uint32_t sentBlock = 0;
    bool erasePending = false;
    bool eraseEachSector = false;
    bool erasePreference = true;
    bool anyReply = false;
    std::uint32_t lastSendTime = 0;
    std::uint32_t blockInterval = kFirstBlockInterval;
    std::uint32_t slowestReplyMs = 0;
    bool cardTooSmall = false;
    std::string cardAdvice;
    bool awaitingReply = false;
    bool cardChanged = false;
    /// The sector last acknowledged into and how many of its blocks are on the card.
    std::uint32_t ackedSector = 0;
    std::uint32_t ackedBlocks = 0;
    bool erasing = false;
    bool finished = false;
    bool ready = false;
    std::string cardSizeAdvice
        = "Make sure your card size setting is correct by selecting 'Card Info' from the Project "
          "menu, or make the project smaller by selecting 'Fit to Card' from the Project menu.";

    const TransferJournal* journal = nullptr;
    TransferMode mode = TransferMode::Whole;
    std::optional<ImageDigest> earlier;
    std::string earlierName;
    ImageDigest digest;
    TransferPlan plan;
    InstrumentIdentity instrument;
    std::optional<TransferRecord> record;
    FileLock transferLock;
};

/// Sends an existing image file instead of the compiled project, after asking whether the card
/// can hold it.
class AImageSendProgressDialog final : public ACompileProgressDialog {
public:
    AImageSendProgressDialog(AMidi& midi, MZeltaSysexHandler& handler, Prompter& prompter,
        Clock& clock, ProgressView& view);

    LinkOutcome Run(const std::string& path);

private:
    const char* SearchPrefix() const override { return kImagePrefix; }
    const char* LaterPrefix() const override
    {
        return "The image file can't be completely sent because ";
    }
    bool ConfirmSize(std::int64_t size);

    static constexpr const char* kImagePrefix
        = "This image file can't be sent to the synthesizer because ";
};

} // namespace cardmill
