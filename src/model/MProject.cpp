#include "model/MProject.h"

#include "model/APrefs.h"
#include "model/TextEncoding.h"
#include "model/TextFields.h"
#include "platform/ParseNumber.h"

#include <algorithm>

namespace cardmill {

namespace {

struct CardSize {
    const char* text;
    std::uint32_t bytes;
};

constexpr std::array<CardSize, 10> kCardSizes { {
    { "128 K", 131072 },
    { "256 K", 262144 },
    { "512 K", 524288 },
    { "1 Meg", 1048576 },
    { "2 Meg", 2097152 },
    { "4 Meg", 4194304 },
    { "8 Meg", 8388608 },
    { "16 Meg", 16777216 },
    { "24 Meg (NNL ROM)", 25165824 },
    { "32 Meg (NNL ROM)", 33554432 },
} };

bool IsSoundGroup(int group)
{
    return group >= 0 && group < MProject::kSoundGroups;
}

} // namespace

MProject::MProject(const APrefs& preferences)
    : prefs(preferences)
{
    Initialize();
}

MProject::~MProject()
{
    Clear();
}

std::string MProject::CardSizeText(int token)
{
    return token >= 0 && token < 10 ? kCardSizes[static_cast<std::size_t>(token)].text : "unknown";
}

std::uint32_t MProject::CardSizeBytes(int token)
{
    return token >= 0 && token < 10 ? kCardSizes[static_cast<std::size_t>(token)].bytes : 0;
}

std::optional<std::uint16_t> MProject::ParseCardSize(std::string_view text)
{
    static constexpr std::array<std::string_view, 10> kTyped { "128K", "256K", "512K", "1M", "2M",
        "4M", "8M", "16M", "24M", "32M" };
    if (const auto token = ParseNumber(text, 0, 9))
        return static_cast<std::uint16_t>(*token);
    const std::string upper = UpperAscii(text);
    for (std::uint16_t token = 0; token < kTyped.size(); ++token)
        if (upper == kTyped[token])
            return token;
    return std::nullopt;
}

void MProject::Initialize()
{
    cardSizeToken = prefs.defaultCardSizeToken;
    target = kZelta;
    cardName = "untitled";
    version = "1.00";
    groupNames.fill("empty");
    totalBytes = 0;
    sizeChanged = true;
    scanForceReport = true;
    namesChanged = true;
    dirty = false;
    untouched = true;
    RestartSizeScan();
}

void MProject::Clear()
{
    for (auto& group : groups)
        while (!group.empty())
            group.pop_back();
    RestartSizeScan();
    untouched = true;
}

void MProject::Reset()
{
    Clear();
    Initialize();
}

void MProject::MarkEdited()
{
    // Card information changed in a project whose file list was never touched does not make
    // it dirty.
    if (!untouched)
        dirty = true;
}

void MProject::SetCardName(std::string_view name)
{
    MarkEdited();
    cardName = CardCharacters(name).substr(0, kCardNameLimit);
}

void MProject::SetVersion(std::string_view text)
{
    MarkEdited();
    version = CardCharacters(text).substr(0, kVersionLimit);
}

std::string MProject::GetCardSizeText() const
{
    return CardSizeText(cardSizeToken);
}

std::uint32_t MProject::GetCardSizeBytes() const
{
    return CardSizeBytes(cardSizeToken);
}

void MProject::SetCardSizeToken(std::uint16_t token)
{
    if (token > 9)
        return;
    MarkEdited();
    cardSizeToken = token;
}

void MProject::SetTarget(std::uint16_t device)
{
    if (device != kZelta && device != kPercula)
        return;
    MarkEdited();
    target = device;
}

std::string MProject::GetGroupName(int group) const
{
    if (IsSoundGroup(group))
        return groupNames[static_cast<std::size_t>(group)];
    if (group == kSequenceGroup)
        return "Sequences";
    if (group == kProgramGroup)
        return "Programs";
    return {};
}

void MProject::SetGroupName(int group, std::string_view name)
{
    if (!IsSoundGroup(group))
        return;
    MarkEdited();
    // A name from a project file may be longer than the 7-character field: it is cut.
    groupNames[static_cast<std::size_t>(group)] = CardCharacters(name).substr(0, kGroupNameLimit);
}

bool MProject::IsGroupUnavailable(int group) const
{
    return target == kPercula && group >= 8 && group <= 10;
}

std::uint32_t MProject::CountSoundItems() const
{
    std::uint32_t count = 0;
    for (int group = 0; group < kSoundGroups; ++group)
        count += static_cast<std::uint32_t>(CountItems(group));
    return count;
}

int MProject::CountItems(int group) const
{
    if (group < 0 || group >= kGroupCount)
        return 0;
    return static_cast<int>(groups[static_cast<std::size_t>(group)].size());
}

int MProject::GetCapacity(int group) const
{
    return group == kSequenceGroup ? 50 : group == kProgramGroup ? 1 : 128;
}

bool MProject::Place(std::unique_ptr<MReadableFile> file, int position)
{
    if (!file)
        return false;
    const int group = file->GetCategory();
    if (group < 0 || group >= kGroupCount)
        return false;
    auto& list = groups[static_cast<std::size_t>(group)];
    const bool wasEmpty = list.empty();
    if (position >= 65535 || position < 0 || static_cast<std::size_t>(position) >= list.size())
        list.push_back(std::move(file));
    else
        list.insert(list.begin() + position, std::move(file));
    dirty = true;
    untouched = false;
    RestartSizeScan();
    if (IsSoundGroup(group) && wasEmpty && groupNames[static_cast<std::size_t>(group)] == "empty") {
        groupNames[static_cast<std::size_t>(group)] = "noname";
        namesChanged = true;
    }
    return true;
}

bool MProject::AddItem(std::unique_ptr<MReadableFile> file)
{
    return Place(std::move(file), 65535);
}

bool MProject::InsertItem(std::unique_ptr<MReadableFile> file, int position)
{
    return Place(std::move(file), position);
}

std::unique_ptr<MReadableFile> MProject::RemoveItem(const MReadableFile* file)
{
    dirty = true;
    untouched = false;
    std::unique_ptr<MReadableFile> removed;
    if (file) {
        const int group = file->GetCategory();
        if (group >= 0 && group < kGroupCount) {
            auto& list = groups[static_cast<std::size_t>(group)];
            auto found = std::find_if(
                list.begin(), list.end(), [file](const auto& item) { return item.get() == file; });
            if (found != list.end()) {
                removed = std::move(*found);
                list.erase(found);
            }
        }
    }
    RestartSizeScan();
    return removed;
}

MReadableFile* MProject::GetItem(int group, int index) const
{
    if (group < 0 || group >= kGroupCount || index < 0 || index >= CountItems(group))
        return nullptr;
    return groups[static_cast<std::size_t>(group)][static_cast<std::size_t>(index)].get();
}

bool MProject::CanPlace(const MReadableFile* file, int group) const
{
    if (!file || group < 0 || group >= kGroupCount)
        return false;
    if (CountItems(group) >= GetCapacity(group))
        return false;
    if (file->GetCategory() <= 10 && group <= 10)
        return true;
    return file->GetCategory() == group;
}

bool MProject::TakeNamesChanged()
{
    const bool changed = namesChanged;
    namesChanged = false;
    return changed;
}

bool MProject::HasZeltaBank() const
{
    return CountItems(kProgramGroup) > 0 && target != kPercula;
}

bool MProject::HasPerculaBank() const
{
    return CountItems(kProgramGroup) > 0 && target == kPercula;
}

bool MProject::HasSequences() const
{
    return CountItems(kSequenceGroup) > 0;
}

std::uint32_t MProject::GetHeaderBytes() const
{
    return HasSequences() ? kCardHeaderBytes + kSequenceTableBytes : kCardHeaderBytes;
}

void MProject::RestartSizeScan()
{
    ++sizeChanges;
    scanFirstCall = true;
    scanForceReport = true;
    scanGroup = 0;
    scanItem = 0;
    scanBytes = GetHeaderBytes();
}

bool MProject::SizeScanStep()
{
    if (MReadableFile* file = GetItem(scanGroup, scanItem)) {
        if (file->UpdateCompiledSizeStep(scanFirstCall)) {
            ++scanItem;
            scanFirstCall = true;
            scanBytes += file->GetCompiledSize();
        } else {
            scanFirstCall = false;
        }
        return sizeChanged;
    }
    ++scanGroup;
    scanFirstCall = true;
    scanItem = 0;
    if (scanGroup >= kGroupCount) {
        if (scanBytes != totalBytes || scanForceReport) {
            totalBytes = scanBytes;
            sizeChanged = true;
            scanForceReport = false;
        }
        scanGroup = 0;
        scanBytes = GetHeaderBytes();
    }
    return sizeChanged;
}

std::uint64_t MProject::GetGroupBytes(int group)
{
    std::uint64_t total = 0;
    for (int index = 0; index < CountItems(group); ++index) {
        MReadableFile* file = GetItem(group, index);
        file->UpdateCompiledSize();
        total += file->GetCompiledSize();
    }
    return total;
}

void MProject::ComputeTotalBytes()
{
    RestartSizeScan();
    std::uint64_t total = HasZeltaBank() ? kBankBytes : 0;
    for (int group = 0; group < kSoundGroups; ++group)
        total += GetGroupBytes(group);
    if (HasCardHeader() || HasSequences())
        total += kCardHeaderBytes;
    if (HasSequences()) {
        // A word address the card keeps in 32 bits; only an image far past any card reaches
        // the limit.
        sequenceAreaAddress
            = static_cast<std::uint32_t>(std::min<std::uint64_t>(total / 2, UINT32_MAX));
        total += kSequenceTableBytes;
    }
    total += GetGroupBytes(kSequenceGroup);
    if (HasPerculaBank())
        total += kBankBytes;
    totalBytes = total;
    sizeChanged = true;
}

std::uint64_t MProject::GetTotalBytes()
{
    sizeChanged = false;
    return totalBytes;
}

} // namespace cardmill
