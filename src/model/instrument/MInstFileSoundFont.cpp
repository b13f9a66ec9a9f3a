#include "model/instrument/MInstFileSoundFont.h"

#include "model/Services.h"
#include "model/TextEncoding.h"
#include "model/instrument/InstrumentLibrary.h"
#include "model/sound/MSoundFileEmbedded.h"
#include "platform/FileSystem.h"
#include "platform/ProgressView.h"

namespace cardmill {

MInstFileSoundFont::MInstFileSoundFont(Services& services)
    : MInstFileRegions(services)
{
}

bool MInstFileSoundFont::OpenSoundFont(const std::string& path)
{
    const LibraryPath chosen = SplitLibraryPath(path);
    libraryPath = chosen.file;
    if (!SetFile(libraryPath))
        return false;
    std::uint64_t size = 0;
    read = FileRanges(libraryPath, size);
    std::string error;
    font = ReadSoundFont(read, size, error);
    if (!font)
        return Refuse(error);
    formatName = font->Compressed() ? "SoundFont 3" : "SoundFont 2";
    const std::vector<LibraryPreset> catalog = font->Catalog();
    std::optional<std::size_t> preset;
    if (!chosen.preset.empty()) {
        preset = FindPreset(catalog, chosen.preset);
        if (!preset)
            return Refuse("It holds no preset '" + chosen.preset + "'.");
    } else if (catalog.size() == 1) {
        preset = 0;
    } else {
        return Refuse("It holds " + std::to_string(catalog.size())
            + " presets; one of them is taken as an instrument, so choose it (by name or as "
              "BANK:PROGRAM).");
    }
    const LibraryPreset& taken = catalog[*preset];
    // The project keeps the preset with the file.
    record.path = JoinLibraryPath(libraryPath, taken);
    record.name = CutText(taken.name.empty() ? GetFileName() : taken.name, kNameLimit);
    return TakeRegions(SoundFontRegions(*font, *preset, FileNameOf(libraryPath)),
        "Its preset '" + taken.name + "' holds no zone with a sample that a key plays.");
}

std::string MInstFileSoundFont::Described() const
{
    return "the preset '" + GetFileName() + "' of " + FileNameOf(libraryPath);
}

std::unique_ptr<MSoundFile> MInstFileSoundFont::OpenSample(const SfzRegion& region)
{
    const std::size_t index = std::stoul(region.sample);
    const SoundFontSample& sample = font->samples[index];
    services.Progress().SetSector("Opening Sound File:  ", sample.name);
    std::string error;
    auto wav = SoundFontSampleWav(*font, index, read, error);
    if (!wav) {
        services.prompter.Show("The " + formatName + " file '" + FileNameOf(libraryPath)
                + "' can't give the sample of its preset '" + GetFileName() + "'.\n" + error,
            Icon::Error, Buttons::Ok);
        return nullptr;
    }
    auto sound = std::make_unique<MSoundFileEmbedded>(services);
    if (!sound->OpenEmbedded(std::move(*wav), libraryPath, sample.name, formatName + " sample")) {
        services.prompter.Show("The " + formatName + " file '" + FileNameOf(libraryPath)
                + "' gives a sample '" + sample.name + "' that can't be read.",
            Icon::Error, Buttons::Ok);
        return nullptr;
    }
    return sound;
}

std::unique_ptr<MReadableFile> MInstFileSoundFont::Duplicate() const
{
    auto copy = std::make_unique<MInstFileSoundFont>(services);
    if (!copy->CopyFrom(*this))
        return nullptr;
    copy->CopyRegionsFrom(*this);
    copy->libraryPath = libraryPath;
    copy->formatName = formatName;
    copy->font = font;
    copy->read = read;
    return copy;
}

bool MSoundFontFormatInterpreter::Recognises(const std::string& path) const
{
    return IsInstrumentLibrary(path);
}

std::unique_ptr<MReadableFile> MSoundFontFormatInterpreter::Create(const std::string& path) const
{
    auto instrument = std::make_unique<MInstFileSoundFont>(services);
    if (!instrument->OpenSoundFont(path))
        return nullptr;
    return instrument;
}

} // namespace cardmill
