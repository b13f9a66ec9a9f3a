#pragma once

#include "model/DeviceFamily.h"
#include "model/MReadableFile.h"

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace cardmill {

class APrefs;
class MInstFile;
class ProgressView;

/// The one project: card information, thirteen ordered groups of files it owns, the names of the
/// eleven sound groups, the dirty state and the size accounting of the compiled card image.
/// Groups 0-7 are keyboard groups, 8-10 drum groups (128 files each), 11 sequences (50),
/// 12 the program bank (1). Single-threaded: whoever runs an operation on it owns it meanwhile.
class MProject {
public:
    static constexpr int kGroupCount = 13;
    static constexpr int kSoundGroups = 11;
    static constexpr int kSequenceGroup = 11;
    static constexpr int kProgramGroup = 12;
    static constexpr std::uint16_t kZelta = cardmill::kZelta;
    static constexpr std::uint16_t kPercula = cardmill::kPercula;
    static constexpr std::size_t kCardNameLimit = 10;
    static constexpr std::size_t kVersionLimit = 4;
    static constexpr std::size_t kGroupNameLimit = 7;
    static constexpr std::uint32_t kBankBytes = 65536;
    static constexpr std::uint32_t kCardHeaderBytes = 108;
    static constexpr std::uint32_t kSequenceTableBytes = 200;

    explicit MProject(const APrefs& preferences);
    virtual ~MProject();
    MProject(const MProject&) = delete;
    MProject& operator=(const MProject&) = delete;

    void Reset();
    bool IsDirty() const { return dirty; }
    bool IsUntouched() const { return untouched; }
    const std::string& GetCardName() const { return cardName; }
    void SetCardName(std::string_view name);
    const std::string& GetVersion() const { return version; }
    void SetVersion(std::string_view text);
    std::uint16_t GetCardSizeToken() const { return cardSizeToken; }
    std::string GetCardSizeText() const;
    std::uint32_t GetCardSizeBytes() const;
    void SetCardSizeToken(std::uint16_t token);
    std::uint16_t GetTarget() const { return target; }
    void SetTarget(std::uint16_t device);
    std::string GetGroupName(int group) const;
    void SetGroupName(int group, std::string_view name);
    bool IsGroupUnavailable(int group) const;
    std::uint32_t CountSoundItems() const;
    int CountItems(int group) const;
    int GetCapacity(int group) const;
    /// Appends the file to the group of its category; the project owns it from then on.
    bool AddItem(std::unique_ptr<MReadableFile> file);
    /// Inserts at `position` of the file's group (65535 appends).
    bool InsertItem(std::unique_ptr<MReadableFile> file, int position);
    /// Takes the file out of its group without destroying it.
    std::unique_ptr<MReadableFile> RemoveItem(const MReadableFile* file);
    void RestartSizeScan();
    bool TakeNamesChanged();
    bool SizeScanStep();
    /// Counts the changes that may change the card's size (files placed or taken away, a new
    /// project): a view keeping a total knows from it to count again.
    std::uint64_t SizeChanges() const { return sizeChanges; }
    void ComputeTotalBytes();
    /// Sizes are summed in 64 bits: files of up to 4 GiB each never wrap the totals, so a
    /// project that is far too large never looks small.
    std::uint64_t GetGroupBytes(int group);
    std::uint64_t GetTotalBytes();
    /// The file at (group, index), or none.
    MReadableFile* GetItem(int group, int index) const;
    bool CanPlace(const MReadableFile* file, int group) const;
    void SetDirty() { dirty = true; }
    void ClearDirty() { dirty = false; }
    bool HasZeltaBank() const;
    bool HasPerculaBank() const;
    bool HasSequences() const;
    bool HasCardHeader() const { return true; }
    std::uint32_t GetHeaderBytes() const;
    void Initialize();
    void Clear();

    // Compiling (the compile engine drives these).
    int CompileZeltaBank(ProgressView& progress, std::span<std::uint8_t> buffer);
    int CompilePerculaBank(ProgressView& progress, std::span<std::uint8_t> buffer);
    std::uint64_t GetVoiceTableBytes() const;
    std::uint64_t GetGroupVoiceTableBytes(int group) const;
    /// Card word addresses, counted in 64 bits; the card keeps their low 24 bits.
    std::uint64_t AssignSampleAddresses(std::uint64_t firstWordAddress);
    void BuildCardHeader(std::span<std::uint8_t> buffer) const;
    /// The target a card image was compiled for, where the image says (a program bank, or
    /// sequences, mark it); nothing for one that doesn't.
    static std::optional<std::uint16_t> TargetOfImage(std::span<const std::uint8_t> image);
    void WriteVoiceHeaders(std::span<std::uint8_t> buffer);
    void BeginSounds();
    /// Sample words of the next file into `destination`; `words` asks and then reports.
    int SoundStep(
        ProgressView& progress, std::uint32_t& words, std::span<std::uint8_t> destination);
    void BeginSequences();
    /// The next piece of sequence data (at most what `destination` holds), then the sequence
    /// table: 0 = more to come, 1 = the table was the last piece, -1 = a file is missing.
    int SequenceStep(
        ProgressView& progress, std::uint32_t& length, std::span<std::uint8_t> destination);

    /// Card capacity minus the bytes used: negative when the project does not fit.
    std::int64_t FreeBytes()
    {
        return std::int64_t { GetCardSizeBytes() } - static_cast<std::int64_t>(GetTotalBytes());
    }
    std::uint32_t SequenceAreaAddress() const { return sequenceAreaAddress; }
    static std::string CardSizeText(int token);
    static std::uint32_t CardSizeBytes(int token);
    /// A card size as typed: 128K 256K 512K 1M 2M 4M 8M 16M 24M 32M (any case), or the token 0
    /// to 9.
    static std::optional<std::uint16_t> ParseCardSize(std::string_view text);

private:
    void MarkEdited();
    bool Place(std::unique_ptr<MReadableFile> file, int position);

    const APrefs& prefs;
    std::uint16_t cardSizeToken = 1;
    std::uint16_t target = kZelta;
    int scanGroup = 0;
    int scanItem = 0;
    std::uint64_t totalBytes = 0;
    std::uint64_t scanBytes = 0;
    bool sizeChanged = true;
    bool scanFirstCall = true;
    bool namesChanged = true;
    bool dirty = false;
    std::uint64_t sizeChanges = 0;
    bool untouched = true;
    bool scanForceReport = true;
    std::array<std::vector<std::unique_ptr<MReadableFile>>, kGroupCount> groups;
    std::array<std::string, kSoundGroups> groupNames;
    std::string cardName;
    std::string version;
    std::uint32_t sequenceAreaAddress = 0;
    std::array<std::uint32_t, 50> sequenceTable {};
    int compileGroup = 0;
    int compileItem = 0;
    bool compileItemFirst = true;
    MInstFile* compileVoice = nullptr; // the file the sound step is compiling
    std::uint32_t sequenceOffset = 0; // bytes of the current sequence already handed out
};

} // namespace cardmill
