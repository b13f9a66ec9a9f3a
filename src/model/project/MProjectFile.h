#pragma once

#include "model/FileLocator.h"
#include "model/MReadableFileDispatcher.h"
#include "model/MissingFileLocator.h"

#include <optional>
#include <vector>

namespace cardmill {

class MInstFile;

/// A project file (".cmr") being opened: rebuilds the whole project step by step as the loading
/// operation calls LoadStep, finding every file its records name (moved files included). It never
/// enters the project itself. Every count and length read from the file is checked against the
/// chunk it stands in; a damaged group is reported and the records that cannot be read left out.
class MProjectFile final : public MReadableFile {
public:
    explicit MProjectFile(Services& services);
    ~MProjectFile() override;

    bool OpenProjectFile(const std::string& path);
    int GetKind() const override { return 1; }
    std::string GetFormatName() const override { return "Cardmill project"; }
    /// Answers -1 both when loading stops and when it is complete (the loader discards the
    /// object either way); Completed() tells which.
    int LoadStep() override;
    bool Completed() const { return completed; }
    std::uint8_t FileMajor() const { return fileMajor; }

private:
    enum class Records { Sounds, Sequences, Programs };

    bool CheckVersion();
    int BeginLoad();
    int ReadCardHeader();
    int SoundGroupStep();
    int ListStep(Records kind);
    /// The object of a stored record, found by the locator: 1 skip the record, -1 stop, 0 found.
    int Resolve(
        const FileRecord& record, const MReadableFileDispatcher& dispatcher, bool rawFallback);
    /// Runs the current object's load step: 0 call again, 1 loaded, 2 failed (left out).
    int LoadCurrent();
    int AddSoundItem();
    void ReportDamage();
    /// Reports damage in the file's own words, once, and marks the document damaged, so that
    /// nothing saves over the file without asking.
    void ReportDamage(const std::string& what);
    /// True when every chunk lies whole within the file and the file holds all the form says.
    bool ChunksWhole();
    std::optional<std::vector<std::uint8_t>> ReadProjectChunk(std::uint32_t chunkId, int index);
    /// True (the records left out reported) when the project's group is full while records of
    /// it remain: a group holds what fits, as other damage leaves out what can't be read.
    bool GroupIsFull(int group);
    bool OldRecords() const { return fileMajor < 3 && fileMinor < 0x60; }
    FileLocator& Locator();
    /// The folder the project was saved in, when the file says.
    std::string SavedFolder();
    /// Whether an edited item's stored settings are for the file as it is now: its bytes are
    /// those of the stored fingerprint, or, where the record keeps none, the file is no newer
    /// than the settings.
    bool SettingsStillApply(
        const MInstFile& voice, const FileRecord& stored, std::uint32_t changeTime);
    /// Tells, in one message, the settings set aside and the files found by name elsewhere.
    void TellWhatWasNotAsSaved();

    int loadPhase = 0;
    int groupCounter = 0;
    int recordIndex = -1;
    std::size_t recordCursor = 0;
    std::uint8_t fileMajor = 0;
    std::uint8_t fileMinor = 0;
    std::optional<std::vector<std::uint8_t>> groupChunk, sequenceChunk, programChunk;
    int groupIndex = 0;
    int recordCount = 0;
    std::unique_ptr<MReadableFile> loading;
    std::size_t loadingRecord = 0; // where the current object's record starts in its chunk
    std::size_t loadingLength = 0; // the bytes of its record and sample records
    bool defaultOutPort = false;
    bool listOpened = false;
    bool active = false; // loading has started and not yet ended
    bool completed = false;
    bool damageReported = false;
    bool cutShort = false;
    bool pathsChanged = false; // a file was found elsewhere than its record says
    MissingFileLocator ownLocator; // without the application's
    std::vector<std::string> setAside; // the settings left out, a sentence a file
};

class MProjFileInterpreter final : public MFormatInterpreter {
public:
    using MFormatInterpreter::MFormatInterpreter;
    bool Recognises(const std::string& path) const override;
    std::unique_ptr<MReadableFile> Create(const std::string& path) const override;
};

} // namespace cardmill
