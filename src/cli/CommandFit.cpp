#include "Cli.h"
#include "ProjectCommands.h"
#include "model/MCardmill.h"
#include "model/MProject.h"
#include "model/Services.h"
#include "model/TextFields.h"
#include "model/fit/FitPlan.h"
#include "model/fit/WavWriter.h"
#include "model/instrument/MInstFile.h"
#include "model/instrument/MInstFileCardmill.h"
#include "model/sound/MSoundFile.h"
#include "platform/Clock.h"
#include "platform/FileSystem.h"
#include "platform/ParseNumber.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>
#include <set>

namespace cardmill {

namespace {

int Fail(const std::string& message)
{
    std::fprintf(stderr, "cardmill fit: %s\n", message.c_str());
    return kFailed;
}

/// A place where the project plays a sound file: the item (a sound, or an instrument whose
/// sample it is), where the item stands, and the sound.
struct Use {
    MReadableFile* item;
    int group;
    int index;
    MSoundFile* sample;
};

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

/// The text padded with blanks to `width` characters (not bytes: names may be UTF-8).
std::string Padded(const std::string& text, std::size_t width)
{
    std::size_t characters = 0;
    for (const char c : text)
        characters += (static_cast<unsigned char>(c) & 0xC0) != 0x80 ? 1 : 0;
    return text + std::string(width > characters ? width - characters : 0, ' ');
}

std::string RateText(double rate)
{
    return Format("%.0f", rate);
}

void PrintPlan(const std::vector<FitSound>& sounds, const FitPlan& plan)
{
    std::printf("%-24s %-10s %15s %9s %8s %9s %9s\n", "Sound", "Group", "Rate (Hz)", "Trimmed",
        "Gain dB", "Saved", "Loss dB");
    for (std::size_t i = 0; i < sounds.size(); ++i) {
        const FitSound& sound = sounds[i];
        const FitChoice& choice = plan.choices[i];
        const std::string rate = choice.Resamples(sound)
            ? RateText(sound.rate) + " -> " + RateText(choice.rate)
            : RateText(sound.rate);
        const std::int64_t saved
            = std::int64_t { sound.CardBytes() } - std::int64_t { choice.bytesAfter };
        std::printf("%s %-10s %15s %9u %8s %9lld %9s\n", Padded(sound.name, 24).c_str(),
            sound.group.c_str(), rate.c_str(), choice.trim.lead + choice.trim.tail,
            choice.gainDb > 0 ? Format("+%.1f", choice.gainDb).c_str() : "-",
            static_cast<long long>(saved),
            choice.Resamples(sound) ? Format("%.1f", choice.lossDb).c_str() : "-");
    }
    std::printf("Total: %llu bytes before, %llu after; the card holds %llu.\n",
        static_cast<unsigned long long>(plan.totalBefore),
        static_cast<unsigned long long>(plan.totalAfter),
        static_cast<unsigned long long>(plan.cardBytes));
}

/// A new file name in the folder for each sound, the sound's own name where it is free.
std::string FittedPath(const std::string& folder, const std::string& path, const char* extension,
    std::set<std::string>& taken)
{
    const std::string stem = std::filesystem::path(path).stem().string();
    for (int n = 1;; ++n) {
        const std::string name = (n == 1 ? stem : stem + "-" + std::to_string(n)) + extension;
        if (taken.insert(name).second)
            return folder + "/" + name;
    }
}

} // namespace

int CommandFit(CliApp& app)
{
    const ParsedArgs args
        = ParseArgs(app.options.args, { "--card-size", "--min-rate", "--trim", "--dir" },
            { "--trim", "--normalize", "--dry-run" });
    const auto& given = app.options.args;
    for (std::size_t i = 0; i + 1 < given.size(); ++i)
        if (given[i] == "--trim" && given[i + 1].starts_with('-') && given[i + 1].size() > 1
            && std::isdigit(static_cast<unsigned char>(given[i + 1][1])))
            return UsageError("fit", "write the level joined to --trim: --trim=" + given[i + 1]);
    if (!args.error.empty())
        return UsageError("fit", args.error);
    if (args.rest.size() != 1)
        return UsageError("fit", "name one project file");
    FitOptions options;
    std::optional<std::uint16_t> cardSize;
    if (const auto text = args.Get("--card-size")) {
        cardSize = ParseCardSize(*text);
        if (!cardSize)
            return UsageError(
                "fit", "card sizes are 128K 256K 512K 1M 2M 4M 8M 16M 24M 32M (or 0 to 9)");
    }
    if (const auto text = args.Get("--min-rate")) {
        const auto rate = ParseNumber(*text, 8000, 48000);
        if (!rate)
            return UsageError("fit", "--min-rate takes a rate in Hz from 8000 to 48000");
        options.minRate = static_cast<double>(*rate);
    }
    if (const auto text = args.Get("--trim")) {
        options.trimDb = -60.0;
        if (!text->empty()) {
            char* end = nullptr;
            const double db = std::strtod(text->c_str(), &end);
            if (end == text->c_str() || *end != '\0' || !(db < 0.0 && db >= -120.0))
                return UsageError("fit",
                    "--trim=DB takes a level in dB below full scale, from -120 to below 0 (for "
                    "instance --trim=-60)");
            options.trimDb = db;
        }
    }
    options.normalize = args.Has("--normalize");
    const bool dryRun = args.Has("--dry-run");

    const std::string projectPath = AbsolutePath(args.rest.front());
    if (!OpenProject(app, "fit", args.rest.front(), !dryRun))
        return kFailed;
    MProject& project = app.controller->Project();
    options.cardBytes = MProject::CardSizeBytes(cardSize.value_or(project.GetCardSizeToken()));

    // Every sound file the project plays, once, with each place it is played: a sound of its own
    // or an instrument's sample.
    std::vector<FitSound> sounds;
    std::vector<std::vector<Use>> uses;
    std::map<std::string, std::size_t> byPath;
    std::vector<std::string> leftAlone;
    for (int group = 0; group < MProject::kSoundGroups; ++group)
        for (int index = 0; index < project.CountItems(group); ++index) {
            MReadableFile* item = project.GetItem(group, index);
            auto* voice = dynamic_cast<MInstFile*>(item);
            const std::vector<MSoundFile*> samples
                = voice ? voice->Samples() : std::vector<MSoundFile*> {};
            if (samples.empty()
                || std::any_of(samples.begin(), samples.end(),
                    [](MSoundFile* sample) { return sample->IsRaw(); })) {
                leftAlone.push_back("'" + item->GetFileName() + "' (raw data)");
                continue;
            }
            for (MSoundFile* sample : samples) {
                if (gInterrupted)
                    return app.Finish(false);
                const auto [at, added] = byPath.emplace(sample->GetPath(), sounds.size());
                if (added) {
                    FitSound fit;
                    fit.name = sample->GetFileName();
                    fit.group = GroupToken(group);
                    fit.rate = sample->SampleRate();
                    fit.channels = std::max<unsigned>(sample->ChannelCount(), 1);
                    fit.frames = ReadFrames(*sample);
                    if (fit.FrameCount() != sample->GetFrameCount())
                        return Fail("the sound file '" + sample->GetPath()
                            + "' could not be read to its end; nothing is changed");
                    sounds.push_back(std::move(fit));
                    uses.emplace_back();
                }
                sounds[at->second].uses.push_back(
                    { sample->Params(), sample->GetSampleDataSize() });
                uses[at->second].push_back({ item, group, index, sample });
            }
        }

    project.ComputeTotalBytes();
    const FitPlan plan = PlanFit(sounds, project.GetTotalBytes(), options);
    PrintPlan(sounds, plan);
    for (const std::string& what : leftAlone)
        std::printf("Left as it is: %s.\n", what.c_str());
    if (!plan.fits)
        std::printf("The project can't fit the card even with every sound at %s Hz or its own "
                    "lower rate: it needs %llu bytes and the card holds %llu. Lower --min-rate, "
                    "add --trim, or take sounds out.\n",
            RateText(options.minRate).c_str(), static_cast<unsigned long long>(plan.totalAfter),
            static_cast<unsigned long long>(plan.cardBytes));
    std::fflush(stdout);
    std::size_t changing = 0;
    for (std::size_t i = 0; i < sounds.size(); ++i)
        changing += plan.choices[i].Changes(sounds[i]) ? 1 : 0;
    if (dryRun)
        return app.Finish(true);
    if (!plan.fits) {
        Fail("nothing is changed");
        return app.Finish(false);
    }
    if (changing == 0) {
        app.Inform("Nothing to change: the project is left as it was.");
        return app.Finish(true);
    }

    const std::string folder = args.Get("--dir")
        ? AbsolutePath(*args.Get("--dir"))
        : std::filesystem::path(projectPath).replace_extension(".fit").string();
    if (!MakeFolders(folder))
        return Fail("the folder '" + folder + "' can't be made; nothing is changed");
    std::set<std::string> taken;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        taken.insert(entry.path().filename().string());
    // A file of an earlier fit is replaced in its place; in a folder the user named, which may
    // hold the originals, every new file gets a name of its own.
    const auto newPath = [&](const std::string& old, const char* extension) {
        return !args.Has("--dir") && SameFile(FolderOf(old), folder)
                && std::filesystem::path(old).extension() == extension
            ? old
            : FittedPath(folder, old, extension, taken);
    };
    const std::uint32_t now = SecondsSince1904(app.controller->GetServices().clock.Now());

    // The new sounds, each with the settings of one use; the items they change.
    std::map<const MSoundFile*, std::unique_ptr<MSoundFile>> replacements;
    std::vector<MReadableFile*> changed;
    for (std::size_t i = 0; i < sounds.size(); ++i) {
        if (gInterrupted)
            return app.Finish(false); // the project is left as it was
        if (!plan.choices[i].Changes(sounds[i]))
            continue;
        const FittedSound fitted = ApplyFit(sounds[i], plan.choices[i], options);
        const std::string path = newPath(uses[i].front().sample->GetPath(), ".wav");
        const auto bytes = BuildWav16(fitted.frames, sounds[i].channels,
            static_cast<std::uint32_t>(std::lround(fitted.rate)), fitted.params.front());
        if (!WriteFileAtomically(path, bytes))
            return Fail("'" + path + "' could not be written; the project is left as it was");
        for (std::size_t u = 0; u < uses[i].size(); ++u) {
            const Use& use = uses[i][u];
            auto file = app.controller->Recognise(path, MCardmill::AddFilter::Sound);
            std::unique_ptr<MSoundFile> sound(dynamic_cast<MSoundFile*>(file.release()));
            if (!sound || sound->LoadStep() != 1 || !sound->SetParams(fitted.params[u]))
                return Fail("'" + path + "' could not be read back; the project is left as it was");
            sound->SetSmoothing(use.sample->GetSmoothing());
            replacements[use.sample] = std::move(sound);
            if (std::find(changed.begin(), changed.end(), use.item) == changed.end())
                changed.push_back(use.item);
        }
    }

    for (MReadableFile* item : changed) {
        const int group = item->GetCategory();
        int index = 0;
        while (project.GetItem(group, index) != item)
            ++index;
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
            if (std::find(positions.begin(), positions.end(), nullptr) != positions.end())
                return Fail("'" + item->GetPath()
                    + "' has a key group without a sample; the project is left as it was");
            const std::string path = newPath(item->GetPath(), ".cmt");
            if (!WriteFileAtomically(path, InstrumentFileBytes(*instrument, positions)))
                return Fail("'" + path + "' could not be written; the project is left as it was");
            file = app.controller->Recognise(path, MCardmill::AddFilter::Instrument);
            int step = 0;
            while (file && (step = file->LoadStep()) == 0) { }
            if (!file || step != 1)
                return Fail("'" + path + "' could not be read back; the project is left as it was");
        } else {
            file = std::move(replacements[dynamic_cast<MSoundFile*>(item)]);
        }
        auto* voice = dynamic_cast<MInstFile*>(file.get());
        // Settings that differ from the file's defaults are kept only for an item marked changed.
        voice->SetChangeTime(now);
        voice->SetShortName(item->GetShortName());
        voice->SetCategory(static_cast<std::int16_t>(group));
        voice->UpdateCompiledSize();
        project.RemoveItem(item);
        project.InsertItem(std::move(file), index);
    }
    if (!SaveProject(app))
        return app.Finish(false);
    project.ComputeTotalBytes();
    app.Inform(
        Format("Fitted %zu sound file%s into %s; the project takes %llu bytes of the card's %llu.",
            changing, changing == 1 ? "" : "s", folder.c_str(),
            static_cast<unsigned long long>(project.GetTotalBytes()),
            static_cast<unsigned long long>(options.cardBytes)));
    return app.Finish(true);
}

} // namespace cardmill
