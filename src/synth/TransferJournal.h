#pragma once

#include "platform/FileLock.h"

#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace cardmill {

/// "1 sector", "4 sectors": a count of sectors in the transfer's messages.
std::string SectorCount(std::uint32_t sectors);

/// The card image cut into the card's 128 KB sectors, each known by the hash of its bytes (the
/// last one by the bytes the image has of it), with the whole image's hash and size.
struct ImageDigest {
    static constexpr std::uint32_t kSectorBytes = 128 * 1024;

    std::uint64_t size = 0;
    std::string hash;
    std::vector<std::string> sectors;

    static ImageDigest Of(std::span<const std::uint8_t> image);
    /// The blocks of 1024 bytes the image has in a sector (the last block may be partly filled).
    std::uint32_t BlocksIn(std::uint32_t sector) const;
};

/// What the instrument says it is: the journal's key, because the port's name can change
/// between runs (a pty's always does) while the instrument stays the same.
struct InstrumentIdentity {
    std::uint16_t family = 0;
    std::uint16_t model = 0;
    std::uint32_t firmware = 0;
    /// Reached through a pseudo-terminal or in-process: the virtual instrument, which says it is
    /// an instrument a musician may own and must not share that instrument's record.
    bool virtualInstrument = false;
};

/// The last transfer to one instrument: the image sent, the card it went to, and the sectors the
/// card is known to hold, by hash. A sector appears only once every one of its blocks was
/// acknowledged, and leaves before it is erased or written again.
struct TransferRecord {
    std::uint64_t cardSize = 0; ///< 0 when not known (an image file was sent)
    std::uint64_t imageSize = 0;
    std::string imageHash;
    std::map<std::uint32_t, std::string> sectors;
    /// When the card was last written to, in POSIX seconds (0: not known, a record of an
    /// earlier version). The questions that trust the record name it: the record can't see a
    /// card swapped in the slot since.
    std::int64_t writtenAt = 0;

    /// What is known after the card was erased (or changed outside a transfer): nothing of any
    /// image is on it.
    static TransferRecord Erased(std::uint64_t cardSize);
    bool IsErased() const { return imageSize == 0; }
    /// True when every sector of the image is known to be on the card.
    bool Complete() const;
    std::uint32_t ImageSectors() const;
};

/// The transfer records, one file per instrument identity, in a folder beside the settings.
/// Each write replaces the whole file atomically, so a kill or a crash leaves the record as it was
/// before or after, never a part of it.
class TransferJournal {
public:
    explicit TransferJournal(std::string folder);
    /// The journal kept beside the settings in `settingsFolder`.
    static TransferJournal Beside(const std::string& settingsFolder);

    std::string PathFor(const InstrumentIdentity& instrument) const;
    /// The record of an instrument; nothing when there is none, or (with `problem` set) when the
    /// file there can't be read or understood.
    std::optional<TransferRecord> Read(
        const InstrumentIdentity& instrument, std::string& problem) const;
    /// `toDisk` false for a record that only adds sectors: losing it to a power cut leaves the
    /// one before, which claims less.
    bool Write(const InstrumentIdentity& instrument, const TransferRecord& record,
        bool toDisk = true) const;
    /// Takes the lock a transfer to the instrument holds from its plan to its end, so that two
    /// transfers to one instrument (two windows, two commands) can't both run. It lives in a
    /// file of its own: the record is replaced by renaming, which would leave a lock behind.
    FileLock::Result Lock(const InstrumentIdentity& instrument, FileLock& lock) const;

    static std::string Format(const TransferRecord& record);
    static std::optional<TransferRecord> Parse(const std::string& text);

private:
    std::string folder;
};

/// How a transfer uses what the journal knows of the card.
enum class TransferMode {
    Whole, ///< every sector is written; the journal only records
    Resume, ///< the sectors the journal doesn't show on the card, for the same image and card
    Since, ///< the sectors that differ from an earlier image the user names
    Offer, ///< the desktop application's: resume or update when the journal allows, if asked
};

/// Which sectors a transfer writes, and why the journal was not used when it wasn't.
struct TransferPlan {
    /// One flag per sector of the image; empty: every sector, the sector past a full last one
    /// included, as the transfer comes.
    std::vector<bool> write;
    /// When the journal was not trusted for a resume or an update: why, for the user.
    std::string refusal;
    /// For Offer: the question to ask before writing only `write`; empty: nothing to ask.
    std::string question;

    /// The sectors `write` asks for.
    std::uint32_t SectorsToWrite() const;
};

/// The plan of a transfer of `image` to a card of `cardSize` bytes (0: not known), from the
/// instrument's record (`problem` when it could not be read) and, for Since, the earlier image.
/// `now` (POSIX seconds) words the time the record's card was written, as the Offer questions
/// name it.
TransferPlan PlanTransfer(TransferMode mode, const std::optional<TransferRecord>& record,
    const std::string& problem, const ImageDigest& image, std::uint64_t cardSize,
    const ImageDigest* earlier = nullptr, const std::string& earlierName = {},
    std::int64_t now = 0);

/// "at 14:02" for a time of the day of `now`, else "on 3 March at 14:02" (with the year when
/// it is another), in local time.
std::string WhenWritten(std::int64_t at, std::int64_t now);

} // namespace cardmill
