#include "model/instrument/MInstFileLibrary.h"

#include "model/Services.h"
#include "model/TextEncoding.h"
#include "model/instrument/InstrumentLibrary.h"
#include "model/sound/MSoundFileEmbedded.h"
#include "platform/FileSystem.h"
#include "platform/ProgressView.h"

namespace cardmill {

MInstFileLibrary::MInstFileLibrary(Services& services)
    : MInstFileRegions(services)
{
}

bool MInstFileLibrary::OpenLibrary(const std::string& path)
{
    const LibraryPath chosen = SplitLibraryPath(path);
    libraryPath = chosen.file;
    if (!SetFile(libraryPath))
        return false;
    std::string error;
    library = OpenInstrumentLibrary(libraryPath, error);
    if (!library)
        return Refuse(error);
    formatName = library->FormatName();
    const std::vector<LibraryPreset> catalog = library->Catalog();
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
    record.name = CutText(taken.name.empty() ? FileNameOf(libraryPath) : taken.name, kNameLimit);
    return TakeRegions(library->Regions(*preset, FileNameOf(libraryPath)),
        "Its preset '" + taken.name + "' holds no zone with a sample that a key plays.");
}

int MInstFileLibrary::LoadStep()
{
    const int step = MInstFileRegions::LoadStep();
    if (step != 0)
        library.reset();
    return step;
}

std::string MInstFileLibrary::Described() const
{
    return "the preset '" + GetFileName() + "' of " + FileNameOf(libraryPath);
}

std::unique_ptr<MSoundFile> MInstFileLibrary::OpenSample(const SfzRegion& region)
{
    std::string error;
    if (!library) // let go after an earlier load
        library = OpenInstrumentLibrary(libraryPath, error);
    if (!library) {
        services.prompter.Show(CantUnderstandMessage("instrument file", libraryPath) + "\n" + error,
            Icon::Error, Buttons::Ok);
        return nullptr;
    }
    services.Progress().SetSector("Opening Sound File:  ", library->SampleName(region.sample));
    auto sound = OpenLibrarySample(services, *library, libraryPath, region.sample, error);
    if (!sound)
        services.prompter.Show("The " + formatName + " file '" + FileNameOf(libraryPath)
                + "' can't give the sample of its preset '" + GetFileName() + "'.\n" + error,
            Icon::Error, Buttons::Ok);
    return sound;
}

std::unique_ptr<MSoundFile> OpenLibrarySample(Services& services, const InstrumentLibrary& library,
    const std::string& libraryPath, const std::string& key, std::string& error)
{
    const std::string name = library.SampleName(key);
    auto wav = library.SampleWav(key, error);
    if (!wav)
        return nullptr;
    auto sound = std::make_unique<MSoundFileEmbedded>(services);
    if (!sound->OpenEmbedded(
            std::move(*wav), libraryPath, key, name, library.FormatName() + " sample")) {
        error = "Its sample '" + name + "' can't be read as a sound.";
        return nullptr;
    }
    return sound;
}

std::unique_ptr<MReadableFile> MInstFileLibrary::Duplicate() const
{
    auto copy = std::make_unique<MInstFileLibrary>(services);
    if (!copy->CopyFrom(*this))
        return nullptr;
    copy->CopyRegionsFrom(*this);
    copy->libraryPath = libraryPath;
    copy->formatName = formatName;
    copy->library = library;
    return copy;
}

bool MLibraryFormatInterpreter::Recognises(const std::string& path) const
{
    return IsInstrumentLibrary(path) && SplitLibraryPath(path).sample.empty();
}

bool MLibrarySampleInterpreter::Recognises(const std::string& path) const
{
    return !SplitLibraryPath(path).sample.empty() && IsInstrumentLibrary(path);
}

std::unique_ptr<MReadableFile> MLibrarySampleInterpreter::Create(const std::string& path) const
{
    const LibraryPath place = SplitLibraryPath(path);
    std::string error;
    const auto library = OpenInstrumentLibrary(place.file, error);
    auto sound = library ? OpenLibrarySample(services, *library, place.file, place.sample, error)
                         : nullptr;
    if (!sound)
        services.whyNotUnderstood = error;
    return sound;
}

std::unique_ptr<MReadableFile> MLibraryFormatInterpreter::Create(const std::string& path) const
{
    auto instrument = std::make_unique<MInstFileLibrary>(services);
    if (!instrument->OpenLibrary(path))
        return nullptr;
    return instrument;
}

} // namespace cardmill
