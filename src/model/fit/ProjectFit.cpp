#include "model/fit/ProjectFit.h"

#include "model/APrefs.h"
#include "model/MCardmill.h"
#include "model/MProject.h"
#include "model/MReadableFileDispatcher.h"
#include "model/Services.h"
#include "model/TextFields.h"
#include "model/fit/WavWriter.h"
#include "model/instrument/InstrumentLibrary.h"
#include "model/instrument/MInstFileCardmill.h"
#include "model/sound/MSoundFile.h"
#include "platform/Clock.h"
#include "platform/FileSystem.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <map>
#include <numeric>
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

/// The path that names a sound wherever it is: its file made absolute, with its place in it.
std::string IdentityPath(const SoundIdentity& identity)
{
    return JoinLibraryPath(identity.file, { {}, {}, identity.place });
}

/// The origin that a file made by an earlier fit keeps, when it is one.
std::optional<FitOrigin> StoredOrigin(MSoundFile& sound)
{
    std::optional<FitOrigin> origin;
    if (sound.FindForm(FourCC("RIFF"), FourCC("WAVE")))
        if (const auto chunk = sound.ReadChunk(FourCC("cmfo"), 0); chunk && chunk->size() >= 8)
            origin = ReadFitOrigin(std::span(*chunk).subspan(8));
    sound.CloseStream();
    return origin;
}

/// The frames of the original that an earlier fit made `sound` from, when it is still there
/// and the same; nothing otherwise.
std::optional<std::vector<std::int16_t>> OriginalFrames(
    Services& services, const MSoundFile& sound, const FitOrigin& origin)
{
    const MSoundFileDispatcher dispatcher(services);
    auto file = dispatcher.Create(origin.path);
    auto* original = dynamic_cast<MSoundFile*>(file.get());
    if (!original || original->ChannelCount() != sound.ChannelCount()
        || original->GetFrameCount() != origin.frames
        || std::fabs(original->SampleRate() - origin.rate) > 0.5
        || original->SampleDataHash() != origin.dataHash)
        return std::nullopt;
    std::vector<std::int16_t> frames = ReadFrames(*original);
    if (frames.size() != std::size_t { origin.frames } * sound.ChannelCount())
        return std::nullopt;
    return frames;
}

/// The places of the project's sounds, each group of places one sound: the places of one file
/// and place in it, and the places that share their card data. Places whose data another
/// place outside them holds (an item left as it is) come back in `tied`.
std::vector<std::vector<std::size_t>> SoundsOf(
    const std::vector<FitPlace>& places, std::set<std::size_t>& tied)
{
    std::vector<std::size_t> parent(places.size());
    std::iota(parent.begin(), parent.end(), std::size_t { 0 });
    const auto root = [&parent](std::size_t i) {
        while (parent[i] != i)
            i = parent[i] = parent[parent[i]];
        return i;
    };
    std::map<SoundIdentity, std::size_t> byIdentity;
    std::map<std::uint32_t, std::size_t> byId;
    for (std::size_t i = 0; i < places.size(); ++i) {
        const auto [at, added] = byIdentity.try_emplace(places[i].sample->Identity(), i);
        if (!added)
            parent[root(i)] = root(at->second);
        byId.emplace(places[i].sample->GetId(), i);
    }
    for (std::size_t i = 0; i < places.size(); ++i) {
        const std::uint32_t owner = places[i].sample->SharedWith();
        if (owner == 0)
            continue;
        if (const auto at = byId.find(owner); at != byId.end())
            parent[root(i)] = root(at->second);
        else
            tied.insert(i);
    }
    std::map<std::size_t, std::size_t> soundOfRoot;
    std::vector<std::vector<std::size_t>> sounds;
    for (std::size_t i = 0; i < places.size(); ++i) {
        const auto [at, added] = soundOfRoot.try_emplace(root(i), sounds.size());
        if (added)
            sounds.emplace_back();
        sounds[at->second].push_back(i);
    }
    return sounds;
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

    /// A name for a new file of the sound or file named `name` (a library's sample has a name
    /// of its own, which may hold any character).
    std::string For(const std::string& name, const std::string& extension)
    {
        std::string stem = std::filesystem::path(name).stem().string();
        for (char& c : stem)
            if (c == '/' || c == '\\' || static_cast<unsigned char>(c) < 0x20)
                c = '_';
        if (stem.empty() || stem == "." || stem == "..")
            stem = "sound";
        for (int n = 1;; ++n) {
            const std::string file = (n == 1 ? stem : stem + "-" + std::to_string(n)) + extension;
            if (taken.insert(file).second)
                return written.emplace_back(folder + "/" + file);
        }
    }
    /// The files written are the caller's from now on.
    std::vector<std::string> Keep()
    {
        kept = true;
        return written;
    }

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
    std::vector<FitPlace> places;
    std::vector<int> groupOf;
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
                places.push_back({ item, sample });
                groupOf.push_back(group);
            }
        }

    std::set<std::size_t> tied;
    for (const std::vector<std::size_t>& members : SoundsOf(places, tied)) {
        if (stopped && stopped()) {
            failure = "stopped";
            return std::nullopt;
        }
        MSoundFile& first = *places[members.front()].sample;
        if (std::any_of(members.begin(), members.end(),
                [&tied](std::size_t i) { return tied.contains(i); })) {
            gathered.leftAlone.push_back("'" + first.GetFileName()
                + "' (its data on the card is shared with an item left as it is)");
            continue;
        }
        Services& services = first.GetServices();
        FitSound sound;
        sound.name = first.GetFileName();
        sound.group = groupLabel(groupOf[members.front()]);
        sound.rate = first.SampleRate();
        sound.channels = std::max<unsigned>(first.ChannelCount(), 1);
        sound.frames = ReadFrames(first);
        const auto hash = first.SampleDataHash();
        if (sound.FrameCount() != first.GetFrameCount() || !hash) {
            failure = "the sound file '" + SplitLibraryPath(first.GetPath()).file
                + "' could not be read to its end";
            return std::nullopt;
        }
        sound.sharesData = services.prefs.allowPhantoms;
        sound.origin = { IdentityPath(first.Identity()), sound.rate, 0.0, 0.0,
            first.GetFrameCount(), *hash };
        if (const auto stored = StoredOrigin(first)) {
            if (auto frames = OriginalFrames(services, first, *stored)) {
                sound.origin = *stored;
                sound.originalFrames = std::move(*frames);
            } else {
                gathered.notes.push_back("'" + first.GetFileName()
                    + "' was made by an earlier fit from '" + stored->path
                    + "', which is gone or has changed: it is fitted as it is");
            }
        }
        std::vector<FitPlace> soundPlaces;
        for (const std::size_t i : members) {
            const MSoundFile& sample = *places[i].sample;
            sound.uses.push_back({ sample.Params(), sample.GetSampleDataSize() });
            soundPlaces.push_back(places[i]);
        }
        gathered.sounds.push_back(std::move(sound));
        gathered.places.push_back(std::move(soundPlaces));
    }
    return gathered;
}

bool MakeFittedItems(MCardmill& controller, const ProjectSounds& gathered, const FitPlan& plan,
    const std::vector<bool>& chosen, const std::string& folder, std::vector<FitSwap>& swaps,
    std::vector<std::string>& written, std::string& failure)
{
    if (!MakeFolders(folder)) {
        failure = "the folder '" + folder + "' can't be made";
        return false;
    }
    FolderNames names(folder);
    Services& services = controller.GetServices();
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
        const FittedSound& fitted = plan.fitted[i];
        const std::string path = names.For(places.front().sample->GetFileName(), ".wav");
        const auto bytes = BuildWav16(fitted.frames, sound.channels,
            static_cast<std::uint32_t>(std::lround(fitted.rate)), fitted.params.front(),
            &fitted.origin);
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

    std::vector<std::pair<MReadableFile*, std::unique_ptr<MReadableFile>>> made;
    for (MReadableFile* item : changed) {
        std::unique_ptr<MReadableFile> file;
        if (auto* instrument = dynamic_cast<MInstFileInstrument*>(item)) {
            // An instrument is written anew, with its layout and the new samples in place; the
            // samples it keeps are named as they are (a library's by its path and key).
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
            for (const MSoundFile* sample : positions)
                if (!sample->Record().Storable()) {
                    failure = "the path of '" + sample->GetPath()
                        + "' is longer than 255 characters, more than an instrument file can "
                          "store";
                    return false;
                }
            const std::string path = names.For(item->GetFileName(), ".cmt");
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
        made.emplace_back(item, std::move(file));
    }

    // Settings that differ from the file's defaults are kept only for an item marked changed,
    // and only while the file is not newer than the mark: the mark comes after every write.
    const std::uint32_t now = SecondsSince1904(services.clock.Now());
    for (auto& [item, file] : made) {
        auto* voice = dynamic_cast<MInstFile*>(file.get());
        voice->SetChangeTime(std::max(now, voice->Record().modDate));
        voice->SetShortName(item->GetShortName());
        voice->SetCategory(item->GetCategory());
        swaps.push_back({ item, std::move(file) });
    }
    written = names.Keep();
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
