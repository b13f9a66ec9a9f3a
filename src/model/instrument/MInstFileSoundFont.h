#pragma once

#include "model/MReadableFileDispatcher.h"
#include "model/instrument/MInstFileRegions.h"
#include "model/instrument/SoundFont.h"

#include <map>

namespace cardmill {

/// One preset of a SoundFont 2 or 3 file: its zones become key groups and layers, its samples
/// come out of the file (SF3's decoded). Its path is the file's with the preset chosen
/// ("#preset=BANK:PROGRAM"), its name the preset's.
class MInstFileSoundFont final : public MInstFileRegions {
public:
    explicit MInstFileSoundFont(Services& services);

    /// Reads the file's lists and the preset that the path names, or its one preset.
    bool OpenSoundFont(const std::string& path);
    std::unique_ptr<MReadableFile> Duplicate() const override;
    std::string GetFormatName() const override { return formatName; }
    std::string GetInfoLine1() const override { return "Multi-Sample Instrument"; }
    std::string GetFileName() const override { return record.name; }

protected:
    std::unique_ptr<MSoundFile> OpenSample(const SfzRegion& region) override;
    std::string Described() const override;

private:
    std::string libraryPath;
    std::string formatName = "SoundFont 2";
    std::optional<SoundFont> font;
    RangeReader read;
};

/// SoundFonts by their names (.sf2, .sf3) or their first bytes ("RIFF" ... "sfbk"), with or
/// without a preset chosen.
class MSoundFontFormatInterpreter final : public MFormatInterpreter {
public:
    using MFormatInterpreter::MFormatInterpreter;
    bool Recognises(const std::string& path) const override;
    std::unique_ptr<MReadableFile> Create(const std::string& path) const override;
};

} // namespace cardmill
