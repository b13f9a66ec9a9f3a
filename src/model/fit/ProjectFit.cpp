#include "model/fit/ProjectFit.h"

#include "model/MCardmill.h"
#include "model/MProject.h"
#include "model/Services.h"
#include "model/fit/WavWriter.h"
#include "model/instrument/MInstFileCardmill.h"
#include "model/sound/MSoundFile.h"
#include "platform/Clock.h"
#include "platform/FileSystem.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <map>
#include <set>

namespace cardmill {

namespace {

std::vector<std::int16_t> ReadFrames(MSoundFile& sound)
{
    std::vector<std::int16_t> frames;
    if (!sound.BeginPreview())
        return frames;
    std::vector<std::int16_t> chunk(
        std::size_t { 8192 } * std::max<unsigned>(sound.ChannelCount(), 1));
    while (const std::size_t got = sound.ReadPreview(chunk))
        frames.insert(
            frames.end(), chunk.begin(), chunk.begin() + static_cast<std::ptrdiff_t>(got));
    sound.EndPreview();
    return frames;
}

/// New file names in a folder: a file's own name where it is free, numbered otherwise. A file of
/// the folder is never written over: an item that Undo brings back may still play it. The files
/// written are taken back when the whole can't be made.
class FolderNames {
public:
    explicit FolderNames(std::string folder)
        : folder(std::move(folder))
    {
        std::error_code ignored;
        for (const auto& entry : std::filesystem::directory_iterator(this->folder, ignored))
            taken.insert(entry.path().filename().string());
    }
    ~FolderNames()
    {
        if (!kept)
            for (const std::string& path : written)
                RemoveFile(path);
    }

    std::string For(const std::string& old, const std::string& extension)
    {
        const std::string stem = std::filesystem::path(old).stem().string();
        for (int n = 1;; ++n) {
            const std::string name = (n == 1 ? stem : stem + "-" + std::to_string(n)) + extension;
            if (taken.insert(name).second)
                return written.emplace_back(folder + "/" + name);
        }
    }
    void Keep() { kept = true; }

private:
    std::string folder;
    std::set<std::string> taken;
    std::vector<std::string> written;
    bool kept = false;
};

} // namespace

std::optional<ProjectSounds> GatherProjectSounds(MProject& project,
    const std::function<std::string(int)>& groupLabel, std::string& failure,
    const std::function<bool()>& stopped)
{
    ProjectSounds gathered;
    std::map<std::string, std::size_t> byPath;
    for (int group = 0; group < MProject::kSoundGroups; ++group)
        for (int index = 0; index < project.CountItems(group); ++index) {
            MReadableFile* item = project.GetItem(group, index);
            auto* voice = dynamic_cast<MInstFile*>(item);
            const std::vector<MSoundFile*> samples
                = voice ? voice->Samples() : std::vector<MSoundFile*> {};
            if (samples.empty()
                || std::any_of(samples.begin(), samples.end(),
                    [](const MSoundFile* sample) { return sample->IsRaw(); })) {
                gathered.leftAlone.push_back("'" + item->GetFileName() + "' (raw data)");
                continue;
            }
            for (MSoundFile* sample : samples) {
                if (stopped && stopped()) {
                    failure = "stopped";
                    return std::nullopt;
                }
                const auto [at, added] = byPath.emplace(sample->GetPath(), gathered.sounds.size());
                if (added) {
                    FitSound sound;
                    sound.name = sample->GetFileName();
                    sound.group = groupLabel(group);
                    sound.rate = sample->SampleRate();
                    sound.channels = std::max<unsigned>(sample->ChannelCount(), 1);
                    sound.frames = ReadFrames(*sample);
                    if (sound.FrameCount() != sample->GetFrameCount()) {
                        failure = "the sound file '" + sample->GetPath()
                            + "' could not be read to its end";
                        return std::nullopt;
                    }
                    gathered.sounds.push_back(std::move(sound));
                    gathered.places.emplace_back();
                }
                gathered.sounds[at->second].uses.push_back(
                    { sample->Params(), sample->GetSampleDataSize() });
                gathered.places[at->second].push_back({ item, sample });
            }
        }
    return gathered;
}

bool MakeFittedItems(MCardmill& controller, const ProjectSounds& gathered, const FitPlan& plan,
    const std::vector<bool>& chosen, const FitOptions& options, const std::string& folder,
    std::vector<FitSwap>& swaps, std::string& failure)
{
    if (!MakeFolders(folder)) {
        failure = "the folder '" + folder + "' can't be made";
        return false;
    }
    FolderNames names(folder);
    Services& services = controller.GetServices();
    const std::uint32_t now = SecondsSince1904(services.clock.Now());
    // The files are read back as a project's are: their settings are the ones the project had,
    // which the user has agreed to (a loop over a whole long sound), so nothing is asked again.
    struct Loading {
        Services& services;
        bool before = services.projectLoading;
        ~Loading() { services.projectLoading = before; }
    } loading { services };
    services.projectLoading = true;

    // The new sounds, each with the settings of one use, and the items they change.
    std::map<const MSoundFile*, std::unique_ptr<MSoundFile>> replacements;
    std::vector<MReadableFile*> changed;
    for (std::size_t i = 0; i < gathered.sounds.size(); ++i) {
        const FitSound& sound = gathered.sounds[i];
        if (!chosen[i] || !plan.choices[i].Changes(sound))
            continue;
        const auto& places = gathered.places[i];
        const FittedSound fitted = ApplyFit(sound, plan.choices[i], options);
        const std::string path = names.For(places.front().sample->GetPath(), ".wav");
        const auto bytes = BuildWav16(fitted.frames, sound.channels,
            static_cast<std::uint32_t>(std::lround(fitted.rate)), fitted.params.front());
        if (!WriteFileAtomically(path, bytes)) {
            failure = "'" + path + "' could not be written";
            return false;
        }
        for (std::size_t u = 0; u < places.size(); ++u) {
            auto file = controller.Recognise(path, MCardmill::AddFilter::Sound);
            std::unique_ptr<MSoundFile> fittedSound(dynamic_cast<MSoundFile*>(file.release()));
            if (!fittedSound || fittedSound->LoadStep() != 1
                || !fittedSound->SetParams(fitted.params[u])) {
                failure = "'" + path + "' could not be read back";
                return false;
            }
            fittedSound->SetSmoothing(places[u].sample->GetSmoothing());
            fittedSound->Deactivate();
            replacements[places[u].sample] = std::move(fittedSound);
            if (std::find(changed.begin(), changed.end(), places[u].item) == changed.end())
                changed.push_back(places[u].item);
        }
    }

    for (MReadableFile* item : changed) {
        std::unique_ptr<MReadableFile> file;
        if (auto* instrument = dynamic_cast<MInstFileInstrument*>(item)) {
            // An instrument is written anew, with its layout and the new samples in place.
            std::vector<const MSoundFile*> positions;
            for (int g = 0; g < instrument->GroupCount(); ++g)
                for (int layer = 0; layer < instrument->GroupSize(); ++layer) {
                    const MSoundFile* sample = instrument->SampleAt(g, layer);
                    const auto replaced = replacements.find(sample);
                    positions.push_back(
                        replaced != replacements.end() ? replaced->second.get() : sample);
                }
            if (std::find(positions.begin(), positions.end(), nullptr) != positions.end()) {
                failure = "'" + item->GetPath() + "' has a key group without a sample";
                return false;
            }
            const std::string path = names.For(item->GetPath(), ".cmt");
            if (!WriteFileAtomically(path, InstrumentFileBytes(*instrument, positions))) {
                failure = "'" + path + "' could not be written";
                return false;
            }
            file = controller.Recognise(path, MCardmill::AddFilter::Instrument);
            int step = 0;
            while (file && (step = file->LoadStep()) == 0) { }
            if (!file || step != 1) {
                failure = "'" + path + "' could not be read back";
                return false;
            }
            file->Deactivate();
        } else {
            file = std::move(replacements[dynamic_cast<MSoundFile*>(item)]);
        }
        auto* voice = dynamic_cast<MInstFile*>(file.get());
        // Settings that differ from the file's defaults are kept only for an item marked changed.
        voice->SetChangeTime(now);
        voice->SetShortName(item->GetShortName());
        voice->SetCategory(item->GetCategory());
        swaps.push_back({ item, std::move(file) });
    }
    names.Keep();
    return true;
}

void SwapItems(MProject& project, std::vector<FitSwap>& swaps)
{
    for (FitSwap& swap : swaps) {
        const int group = swap.current->GetCategory();
        int index = 0;
        while (index < project.CountItems(group) && project.GetItem(group, index) != swap.current)
            ++index;
        if (index == project.CountItems(group))
            continue; // no longer in the project: nothing to swap
        std::unique_ptr<MReadableFile> taken = project.RemoveItem(swap.current);
        taken->Deactivate();
        MReadableFile* placed = swap.other.get();
        placed->SetCategory(static_cast<std::int16_t>(group));
        placed->Activate();
        placed->UpdateCompiledSize();
        project.InsertItem(std::move(swap.other), index);
        swap.current = placed;
        swap.other = std::move(taken);
    }
}

} // namespace cardmill
