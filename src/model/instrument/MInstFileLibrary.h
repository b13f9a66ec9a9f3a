#pragma once

#include "model/MReadableFileDispatcher.h"
#include "model/instrument/InstrumentLibrary.h"
#include "model/instrument/MInstFileRegions.h"

#include <memory>

namespace cardmill {

/// One preset of an instrument library (SoundFont 2 or 3, DLS level 1 or 2): its zones or regions
/// become key groups and layers, its samples come out of the file (SF3's decoded). Its path is the
/// file's with the preset chosen ("#preset=BANK:PROGRAM"), its name the preset's.
class MInstFileLibrary final : public MInstFileRegions {
public:
    explicit MInstFileLibrary(Services& services);

    /// Reads the file's lists and the preset that the path names, or its one preset.
    bool OpenLibrary(const std::string& path);
    std::unique_ptr<MReadableFile> Duplicate() const override;
    std::string GetFormatName() const override { return formatName; }
    std::string GetInfoLine1() const override { return "Multi-Sample Instrument"; }
    std::string GetFileName() const override { return record.name; }
    /// Loads as every region instrument does, then lets the file go: the samples are in memory,
    /// and a project of many presets must not keep a file open for each.
    int LoadStep() override;

protected:
    std::unique_ptr<MSoundFile> OpenSample(const SfzRegion& region) override;
    std::string Described() const override;

private:
    std::string libraryPath;
    std::string formatName = "SoundFont 2";
    std::shared_ptr<const InstrumentLibrary> library;
};

/// Libraries by their names (.sf2, .sf3, .dls) or their first bytes ("RIFF" ... "sfbk" or
/// "DLS "), with or without a preset chosen.
class MLibraryFormatInterpreter final : public MFormatInterpreter {
public:
    using MFormatInterpreter::MFormatInterpreter;
    bool Recognises(const std::string& path) const override;
    std::unique_ptr<MReadableFile> Create(const std::string& path) const override;
};

/// One sample of a library, named by its path with the sample's key ("#sample=KEY"): how an
/// instrument file written from a library's preset names the samples it keeps in the library.
class MLibrarySampleInterpreter final : public MFormatInterpreter {
public:
    using MFormatInterpreter::MFormatInterpreter;
    bool Recognises(const std::string& path) const override;
    std::unique_ptr<MReadableFile> Create(const std::string& path) const override;
};

/// The sample `key` of a library as a sound; nothing, with the reason in `error`.
std::unique_ptr<MSoundFile> OpenLibrarySample(Services& services, const InstrumentLibrary& library,
    const std::string& libraryPath, const std::string& key, std::string& error);

} // namespace cardmill
