#pragma once

#include "model/FileLocator.h"
#include "model/instrument/MInstFile.h"

#include <array>
#include <memory>
#include <vector>

namespace cardmill {

class MReadableFileDispatcher;

/// A multi-sample instrument: key groups spread over the keyboard, each holding one to three
/// samples (layers). It owns its samples (sound files) and turns the whole into one voice record
/// and the concatenated sample data of its samples. The format classes only read their files
/// into it.
class MInstFileInstrument : public MInstFile {
public:
    static constexpr int kMaxGroups = 128;
    static constexpr int kMaxLayers = 3;

    explicit MInstFileInstrument(Services& services);
    ~MInstFileInstrument() override;

    bool Deactivate() override;
    void Activate() override;
    bool UpdateCompiledSize() override;
    bool UpdateCompiledSizeStep(bool restart) override;
    void SetChannel(std::uint16_t value) override;
    bool RestoreFromRecord(const ByteReader& record) override;
    std::uint32_t GetVoiceHeaderSize() const override;
    std::uint64_t AssignCardAddress(std::uint64_t address) override;
    void WriteVoiceHeader(std::span<std::uint8_t>& cursor, std::uint8_t b) override;
    void BeginCompile(ProgressView& progress) override;
    int CompileChunk(
        ProgressView& progress, std::uint32_t& count, std::span<std::uint8_t> buffer) override;
    std::vector<MSoundFile*> Samples() override;
    const std::uint8_t* UpperKeys() const override { return upperKeys.data(); }
    /// Takes an edited key table (the upper key of each group, checked by KeyGroupEdit).
    void SetUpperKeys(const std::array<std::uint8_t, kMaxGroups>& keys) { upperKeys = keys; }

    /// Resets the walk over the samples and returns the first (none when it is missing).
    MSoundFile* FirstSample();
    /// The sample at the walk position (none when missing), then advances; none after the end.
    MSoundFile* NextSample();
    std::uint16_t GetLoadedCount() const { return loadedCount; }
    /// The copy of a loaded instrument: its fields and a duplicate of every sample.
    bool CopyFrom(const MInstFileInstrument& source);
    std::int16_t AverageKeySpan() const;
    std::array<std::uint8_t, kMaxGroups> KeyWidths() const;
    bool IsLoaded() const { return isLoaded; }

    /// The sound of a key group's layer, or none when it is missing.
    MSoundFile* SampleAt(int group, int layer) const;

protected:
    struct Position {
        int group = 0;
        int layer = 0;
    };
    /// Starts loading: the progress line, the short name, the locator told about the file.
    void BeginLoad();
    /// Layer + 1; past the group's size, layer 0 of the next group; false past the last group.
    bool AdvanceGroup(Position& position) const;
    /// Takes a loaded sound into the instrument at a position.
    void Adopt(std::unique_ptr<MSoundFile> sound, Position at);
    /// The sound that a stored record names, found by the locator through the sound dispatcher;
    /// none when it is not found (`status` says whether it was skipped or the search cancelled).
    std::unique_ptr<MSoundFile> LocateSample(const FileRecord& record, FileLocator::Status& status);
    void CopyInstrumentFrom(const MInstFileInstrument& source);
    /// Keeps what the sample's parameters had changed (MSoundFile::SetParams), so that the whole
    /// file's changes are told at once.
    void NoteSampleChanges(MSoundFile& sample);
    /// Tells the changes kept, in one warning whose first sentence begins with `where` ("In the
    /// instrument file 'x.cmt', "), and forgets them.
    void TellSampleChanges(const std::string& where);
    /// The same for the changes a load made, unless the file is being looked at or a project
    /// opens it again: they are told once, when the file is added.
    void TellLoadChanges(const std::string& where);

    Position walk;
    Position sizePosition;
    std::uint32_t sizeTotal = 0;
    std::uint16_t loadedCount = 0;
    MSoundFile* currentSample = nullptr;
    bool walkDone = false;
    bool isLoaded = false;
    bool isLoading = false;
    std::array<std::uint8_t, kMaxGroups> upperKeys {};
    std::array<std::uint8_t, kMaxGroups> groupTable {};
    std::array<std::array<std::uint32_t, kMaxLayers>, kMaxGroups> sampleIds {};

private:
    /// A sample that an earlier position of the walk already holds (repeated layers) gives its
    /// data and size once.
    bool SeenBefore(Position at) const;

    std::vector<std::unique_ptr<MSoundFile>> owned;
    std::vector<std::pair<std::string, std::string>> sampleChanges; // sample's name, change
};

} // namespace cardmill
