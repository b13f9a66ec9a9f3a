#include "synth/TransferJournal.h"

#include "platform/FileSystem.h"
#include "platform/ParseNumber.h"
#include "platform/Sha256.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <sstream>
#include <thread>

namespace cardmill {

std::string SectorCount(std::uint32_t sectors)
{
    return std::to_string(sectors) + (sectors == 1 ? " sector" : " sectors");
}

namespace {

constexpr const char* kHeader = "cardmill transfer journal 1";
constexpr std::uint32_t kBlockBytes = 1024;
// Far more than any record: 128 sectors of a 16 MB card, one line each.
constexpr std::uint64_t kLargestRecord = 64 * 1024;

std::string HexDigits(std::uint32_t value, int digits)
{
    char text[16];
    std::snprintf(text, sizeof text, "%0*x", digits, value);
    return text;
}

bool IsHash(const std::string& text)
{
    return text.size() == 64 && std::all_of(text.begin(), text.end(), [](char c) {
        return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
    });
}

constexpr const char* kWholeCard = ", so the whole card will be written.";

} // namespace

ImageDigest ImageDigest::Of(std::span<const std::uint8_t> image)
{
    ImageDigest digest;
    digest.size = image.size();
    digest.sectors.resize((image.size() + kSectorBytes - 1) / kSectorBytes);
    // The sectors are hashed on every core: a 16 MB card is hashed in well under 0.1 s.
    const auto hashEvery = [&](std::size_t first, std::size_t stride) {
        for (std::size_t s = first; s < digest.sectors.size(); s += stride)
            digest.sectors[s] = Sha256::Of(image.subspan(s * kSectorBytes,
                std::min<std::size_t>(kSectorBytes, image.size() - s * kSectorBytes)));
    };
    const std::size_t threads = std::clamp<std::size_t>(
        std::min<std::size_t>(std::thread::hardware_concurrency(), digest.sectors.size() / 4), 1,
        8);
    std::vector<std::thread> helpers;
    for (std::size_t t = 1; t < threads; ++t)
        helpers.emplace_back(hashEvery, t, threads);
    hashEvery(0, threads);
    for (auto& helper : helpers)
        helper.join();
    // The image's hash is taken over its size and its sectors' hashes.
    Sha256 whole;
    const std::string size = std::to_string(image.size()) + "\n";
    whole.Add({ reinterpret_cast<const std::uint8_t*>(size.data()), size.size() });
    for (const auto& sector : digest.sectors)
        whole.Add({ reinterpret_cast<const std::uint8_t*>(sector.data()), sector.size() });
    digest.hash = whole.HexDigest();
    return digest;
}

std::uint32_t ImageDigest::BlocksIn(std::uint32_t sector) const
{
    const std::uint64_t start = static_cast<std::uint64_t>(sector) * kSectorBytes;
    if (start >= size)
        return 0;
    const std::uint64_t bytes = std::min<std::uint64_t>(kSectorBytes, size - start);
    return static_cast<std::uint32_t>((bytes + kBlockBytes - 1) / kBlockBytes);
}

TransferRecord TransferRecord::Erased(std::uint64_t cardSize)
{
    return { cardSize, 0, ImageDigest::Of({}).hash, {} };
}

std::uint32_t TransferRecord::ImageSectors() const
{
    return static_cast<std::uint32_t>(
        (imageSize + ImageDigest::kSectorBytes - 1) / ImageDigest::kSectorBytes);
}

bool TransferRecord::Complete() const
{
    for (std::uint32_t sector = 0; sector < ImageSectors(); ++sector)
        if (!sectors.contains(sector))
            return false;
    return true;
}

TransferJournal::TransferJournal(std::string journalFolder)
    : folder(std::move(journalFolder))
{
}

TransferJournal TransferJournal::Beside(const std::string& settingsFolder)
{
    return TransferJournal(settingsFolder + "/transfers");
}

std::string TransferJournal::PathFor(const InstrumentIdentity& instrument) const
{
    return folder + "/family" + std::to_string(instrument.family) + "-model"
        + std::to_string(instrument.model) + "-firmware" + HexDigits(instrument.firmware, 8)
        + (instrument.virtualInstrument ? "-virtual" : "") + ".journal";
}

std::optional<TransferRecord> TransferJournal::Read(
    const InstrumentIdentity& instrument, std::string& problem) const
{
    problem.clear();
    const std::string path = PathFor(instrument);
    if (!StatFile(path))
        return std::nullopt;
    const auto bytes = ReadWholeFile(path, kLargestRecord);
    if (!bytes) {
        problem = "'" + path + "' can't be read";
        return std::nullopt;
    }
    auto record = Parse(std::string(bytes->begin(), bytes->end()));
    if (!record)
        problem = "'" + path + "' is damaged";
    return record;
}

bool TransferJournal::Write(
    const InstrumentIdentity& instrument, const TransferRecord& record, bool toDisk) const
{
    if (!MakeFolders(folder))
        return false;
    const std::string text = Format(record);
    return WriteFileAtomically(PathFor(instrument),
        { reinterpret_cast<const std::uint8_t*>(text.data()), text.size() }, toDisk);
}

FileLock::Result TransferJournal::Lock(const InstrumentIdentity& instrument, FileLock& lock) const
{
    const std::string path = PathFor(instrument) + ".lock";
    // Opened for appending, the file is made when missing and never replaced.
    if (!MakeFolders(folder) || !std::ofstream(path, std::ios::app))
        return FileLock::Result::Failed;
    return lock.Lock(path, std::chrono::milliseconds(0));
}

std::string TransferJournal::Format(const TransferRecord& record)
{
    std::string text = std::string(kHeader) + "\ncard-size " + std::to_string(record.cardSize)
        + "\nimage-size " + std::to_string(record.imageSize) + "\nimage-hash " + record.imageHash
        + "\n";
    if (record.writtenAt > 0)
        text += "written-at " + std::to_string(record.writtenAt) + "\n";
    for (const auto& [sector, hash] : record.sectors)
        text += "sector " + std::to_string(sector) + " " + hash + "\n";
    return text + "end\n";
}

std::optional<TransferRecord> TransferJournal::Parse(const std::string& text)
{
    // Anything unexpected makes the whole record untrusted: a record that says too much could
    // make a transfer skip a sector the card doesn't hold.
    std::istringstream lines(text);
    std::string line;
    if (!std::getline(lines, line) || line != kHeader)
        return std::nullopt;
    TransferRecord record;
    bool cardSize = false, imageSize = false, imageHash = false, writtenAt = false, ended = false;
    while (std::getline(lines, line)) {
        if (ended)
            return std::nullopt;
        std::istringstream words(line);
        std::string key, value, hash, extra;
        words >> key >> value >> hash >> extra;
        if (!extra.empty())
            return std::nullopt;
        if (key == "end" && value.empty()) {
            ended = true;
            continue;
        }
        const auto number = ParseNumber(value, 0, UINT64_MAX);
        if (key == "card-size" && number && hash.empty() && !cardSize) {
            record.cardSize = *number;
            cardSize = true;
        } else if (key == "image-size" && number && hash.empty() && !imageSize) {
            record.imageSize = *number;
            imageSize = true;
        } else if (key == "image-hash" && IsHash(value) && hash.empty() && !imageHash) {
            record.imageHash = value;
            imageHash = true;
        } else if (key == "written-at" && number && *number <= static_cast<std::uint64_t>(INT64_MAX)
            && hash.empty() && !writtenAt) {
            // Only words a question: a record without it (of an earlier version) is as good.
            record.writtenAt = static_cast<std::int64_t>(*number);
            writtenAt = true;
        } else if (key == "sector" && number && imageSize && IsHash(hash)
            && *number < record.ImageSectors()
            && !record.sectors.contains(static_cast<std::uint32_t>(*number))) {
            record.sectors[static_cast<std::uint32_t>(*number)] = hash;
        } else {
            return std::nullopt;
        }
    }
    // A record cut short (a disk that lost the end of it) is not trusted either.
    if (!ended || !cardSize || !imageSize || !imageHash)
        return std::nullopt;
    return record;
}

std::uint32_t TransferPlan::SectorsToWrite() const
{
    return static_cast<std::uint32_t>(std::count(write.begin(), write.end(), true));
}

std::string WhenWritten(std::int64_t at, std::int64_t now)
{
    const auto local = [](std::int64_t seconds) {
        const auto time = static_cast<std::time_t>(seconds);
        std::tm parts {};
        localtime_r(&time, &parts);
        return parts;
    };
    const std::tm when = local(at);
    const std::tm today = local(now);
    char clock[8];
    std::strftime(clock, sizeof clock, "%H:%M", &when);
    if (when.tm_year == today.tm_year && when.tm_yday == today.tm_yday)
        return std::string("at ") + clock;
    char day[32];
    std::strftime(day, sizeof day, when.tm_year == today.tm_year ? "%B" : "%B %Y", &when);
    return "on " + std::to_string(when.tm_mday) + " " + day + " at " + clock;
}

TransferPlan PlanTransfer(TransferMode mode, const std::optional<TransferRecord>& record,
    const std::string& problem, const ImageDigest& image, std::uint64_t cardSize,
    const ImageDigest* earlier, const std::string& earlierName, std::int64_t now)
{
    TransferPlan plan;
    if (mode == TransferMode::Whole || (mode == TransferMode::Since && !earlier))
        return plan;
    const bool asked = mode != TransferMode::Offer;
    auto refuse = [&](std::string why) {
        if (asked)
            plan.refusal = std::move(why) + kWholeCard;
        return plan;
    };
    if (!problem.empty())
        return refuse(
            "The record of the last transfer to this synthesizer can't be used (" + problem + ")");
    // What the card is known to hold, sector by sector.
    std::map<std::uint32_t, std::string> onCard;
    if (!record) {
        if (mode != TransferMode::Since)
            return refuse("There is no record of a transfer to this synthesizer to resume");
        // Nothing contradicts the user's word that the earlier image is on the card.
        for (std::uint32_t sector = 0; sector < earlier->sectors.size(); ++sector)
            onCard[sector] = earlier->sectors[sector];
    } else if (record->IsErased()) {
        return refuse("The card in this synthesizer was erased after the last transfer to it");
    } else {
        if (record->cardSize != 0 && cardSize != 0 && record->cardSize != cardSize)
            return refuse("The last transfer to this synthesizer went to a card of "
                + std::to_string(record->cardSize) + " bytes, not to this card of "
                + std::to_string(cardSize) + " bytes");
        const bool sameImage = record->imageHash == image.hash && record->imageSize == image.size;
        if (mode == TransferMode::Resume && !sameImage)
            return refuse("The last transfer to this synthesizer was of another card image");
        if (mode == TransferMode::Since
            && (record->imageHash != earlier->hash || record->imageSize != earlier->size))
            return refuse("The last transfer to this synthesizer was not of '" + earlierName
                + "' (the card may not hold it)");
        if (mode == TransferMode::Offer && !sameImage && !record->Complete())
            return plan;
        onCard = record->sectors;
    }
    const auto all = static_cast<std::uint32_t>(image.sectors.size());
    for (std::uint32_t sector = 0; sector < all; ++sector) {
        const auto held = onCard.find(sector);
        plan.write.push_back(held == onCard.end() || held->second != image.sectors[sector]);
    }
    // An empty image still erases sector 0, as a whole transfer would.
    if (all == 0)
        return TransferPlan {};
    if (mode == TransferMode::Offer) {
        const std::uint32_t changed = plan.SectorsToWrite();
        const std::string written = std::to_string(all - changed) + " of " + SectorCount(all);
        // The record knows the card it wrote, not the card in the slot now: each question says
        // what it rests on, and its default (No) writes the whole card.
        const std::string basis = ", if the card "
            + (record && record->writtenAt > 0 ? "written " + WhenWritten(record->writtenAt, now)
                                               : std::string("Cardmill wrote last"))
            + " is still in the synthesizer";
        if (record && !record->Complete())
            plan.question = "The last transfer of this card to the synthesizer stopped with "
                + written + " written.  Resume it, writing only the " + SectorCount(changed)
                + " left" + basis + "?  (No writes the whole card.)";
        else if (changed == 0)
            plan.question = "The card in the synthesizer already holds this card image" + basis
                + ".  Leave it as it is?  (No writes the whole card.)";
        else
            plan.question = "The card in the synthesizer holds a card image Cardmill sent "
                            "before, and only "
                + std::to_string(changed) + " of this card's " + SectorCount(all)
                + (changed == 1 ? " differs" : " differ") + " from it.  Write only those" + basis
                + "?  (No writes the whole card.)";
    }
    return plan;
}

} // namespace cardmill
