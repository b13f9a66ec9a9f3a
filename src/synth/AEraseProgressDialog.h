#pragma once

#include "synth/AProgressDialog.h"

#include <array>
#include <cstdint>

namespace cardmill {

/// Erases the whole card sector by sector. An instrument that refuses the erase command gets the
/// start of the card written over instead (blocks 0 and 64 of sector 0), which is what such an
/// instrument reads as an empty card.
class AEraseProgressDialog final : public AProgressDialog {
public:
    static constexpr std::uint32_t kWaitMs = 10000;
    static constexpr std::uint32_t kSectorBytes = 131072;

    AEraseProgressDialog(AMidi& midi, MZeltaSysexHandler& handler, Prompter& prompter, Clock& clock,
        ProgressView& view);

    /// The journal of transfers, whose claims on the instrument's card go before it is erased.
    void UseJournal(const TransferJournal& transferJournal) { journal = &transferJournal; }
    /// Erases a card of `cardBytes` (its capacity, a multiple of 128 KB), once the user says so:
    /// NotStarted when the question was answered Cancel, its default.
    LinkOutcome Run(std::uint32_t cardBytes);
    /// After a run that ended Done: what was erased ("The card is erased: its first 4 Meg.").
    std::string Erased() const;
    /// After a run that didn't: how far it got ("3 of the 32 sectors ... were erased").
    std::string HowFarItGot() const;
    /// "4 Meg", "256 K": a size of card as Card Info names it.
    static std::string SizeText(std::uint32_t bytes);
    /// After a run: whether the card ended before the size asked for (all of it is erased), and
    /// whether the instrument, having no erase command, had the start of its card written over
    /// instead.
    bool CardEndedFirst() const { return cardEndedFirst; }
    bool WrittenOver() const { return overwriteMode; }
    bool Step() override;

private:
    void EraseTick(bool firstTick);
    /// The journal knows the card erased before the first message goes: false (told) when it
    /// can't be made to.
    bool ForgetCard();
    void PollReply();
    void SendCurrent();
    void Resend();

    static constexpr const char* kPrefix = "The card can't be erased because ";

    std::uint32_t capacity = 0;
    bool overwriteMode = false;
    bool cardEndedFirst = false;
    std::uint32_t fillBlock = 0;
    std::uint32_t sector = 0;
    std::uint32_t sectorCount = 0;
    int previousStep = -1;
    std::uint32_t sendTime = 0;
    std::uint32_t sectorTime = 2330;
    bool awaitingReply = false;
    bool finished = false;
    bool sentAny = false;
    std::array<std::uint8_t, 1024> fill {};
    const TransferJournal* journal = nullptr;
    FileLock journalLock;
};

/// Identifies the instrument and shows its banner: the check that the MIDI link works.
class AIOProgressDialog final : public AProgressDialog {
public:
    static constexpr const char* kPrefix = "The MIDI I/O test failed because ";

    AIOProgressDialog(AMidi& midi, MZeltaSysexHandler& handler, Prompter& prompter, Clock& clock,
        ProgressView& view);

    /// Ends once the instrument has answered (the desktop application then waits for its OK
    /// button itself).
    LinkOutcome Run();
    bool Step() override;

private:
    bool finished = false;
    bool identified = false;
};

} // namespace cardmill
