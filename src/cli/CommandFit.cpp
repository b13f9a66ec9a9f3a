#include "Cli.h"
#include "ProjectCommands.h"
#include "model/MCardmill.h"
#include "model/MProject.h"
#include "model/TextFields.h"
#include "model/fit/FitPlan.h"
#include "model/fit/ProjectFit.h"
#include "platform/FileSystem.h"
#include "platform/ParseNumber.h"

#include <cctype>
#include <cstdio>
#include <filesystem>

namespace cardmill {

namespace {

int Fail(const std::string& message)
{
    std::fprintf(stderr, "cardmill fit: %s\n", message.c_str());
    return kFailed;
}

std::string RateText(double rate)
{
    return Format("%.0f", rate);
}

/// The project as it was before its last fit, beside it: what `fit --undo` puts back.
std::string BeforeFitPath(const std::string& project)
{
    return std::filesystem::path(project).replace_extension(".before-fit.cmr").string();
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
        std::printf("%s %-10s %15s %9u %8s %9lld %9s\n", PadToColumns(sound.name, 24).c_str(),
            sound.group.c_str(), rate.c_str(), choice.trim.lead + choice.trim.tail,
            choice.gainDb > 0 ? Format("+%.1f", choice.gainDb).c_str() : "-",
            static_cast<long long>(choice.BytesSaved(sound)),
            choice.Resamples(sound) ? Format("%.1f", choice.lossDb).c_str() : "-");
    }
    std::printf("Total: %llu bytes before, %llu after; the card holds %llu.\n",
        static_cast<unsigned long long>(plan.totalBefore),
        static_cast<unsigned long long>(plan.totalAfter),
        static_cast<unsigned long long>(plan.cardBytes));
}

void RemoveFiles(const std::vector<std::string>& paths)
{
    for (const std::string& path : paths)
        RemoveFile(path);
}

/// `fit --undo`: the project file as it was before its last fit, asked first when the project
/// was saved again since.
int UndoFit(CliApp& app, const std::string& given)
{
    const std::string path = AbsolutePath(given);
    const std::string before = BeforeFitPath(path);
    if (!StatFile(path) || !app.controller->IsProjectFile(path))
        return Fail("no project file '" + given + "'");
    const auto saved = StatFile(before);
    if (!saved)
        return Fail("'" + given + "' has no fit to undo: '" + FileNameOf(before)
            + "', the project as it was before its last fit, is not beside it");
    if (app.projectLock.Lock(path, std::chrono::seconds(5)) != FileLock::Result::Locked)
        return Fail("the project '" + given
            + "' is in use by another program (another cardmill command, or Cardmill's "
              "window); try again when it is done");
    std::error_code error;
    const auto fitted = std::filesystem::last_write_time(path, error);
    if (error || fitted != std::filesystem::last_write_time(before, error) || error) {
        const Answer answer = app.prompter.Ask("The project '" + given
                + "' was saved again after its last fit.  Undoing the fit takes back those "
                  "changes too.  Undo it anyway?",
            Icon::Warning, Buttons::OkCancel, Answer::Cancel);
        if (answer != Answer::Ok) {
            std::fprintf(stderr, "cardmill fit: nothing is changed\n");
            return app.Finish(false);
        }
    }
    const auto bytes = ReadWholeFile(before, UINT64_MAX);
    if (!bytes || !WriteFileAtomically(path, *bytes))
        return Fail("'" + given + "' could not be written; it is left as it was");
    RemoveFile(before);
    app.Inform("The project '" + given + "' is as it was before its last fit.");
    return app.Finish(true);
}

} // namespace

int CommandFit(CliApp& app)
{
    const ParsedArgs args
        = ParseArgs(app.options.args, { "--card-size", "--min-rate", "--trim", "--dir" },
            { "--trim", "--normalize", "--dry-run", "--undo" });
    const auto& given = app.options.args;
    for (std::size_t i = 0; i + 1 < given.size(); ++i)
        if (given[i] == "--trim" && given[i + 1].starts_with('-') && given[i + 1].size() > 1
            && std::isdigit(static_cast<unsigned char>(given[i + 1][1])))
            return UsageError("fit", "write the level joined to --trim: --trim=" + given[i + 1]);
    if (!args.error.empty())
        return UsageError("fit", args.error);
    if (args.rest.size() != 1)
        return UsageError("fit", "name one project file");
    if (args.Has("--undo")) {
        for (const char* option :
            { "--card-size", "--min-rate", "--trim", "--dir", "--normalize", "--dry-run" })
            if (args.Has(option))
                return UsageError("fit",
                    std::string("--undo takes no other option than the "
                                "project (not ")
                        + option + ")");
        return UndoFit(app, args.rest.front());
    }
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

    std::string failure;
    const auto gathered
        = GatherProjectSounds(project, GroupToken, failure, [] { return gInterrupted.load(); });
    if (!gathered) {
        if (gInterrupted)
            return app.Finish(false);
        return Fail(failure + "; nothing is changed");
    }
    const std::vector<FitSound>& sounds = gathered->sounds;

    project.ComputeTotalBytes();
    const FitPlan plan = PlanFit(sounds, project.GetTotalBytes(), options);
    if (gInterrupted)
        return app.Finish(false);
    PrintPlan(sounds, plan);
    for (const std::string& what : gathered->leftAlone)
        std::printf("Left as it is: %s.\n", what.c_str());
    for (const std::string& note : gathered->notes)
        std::printf("Note: %s.\n", note.c_str());
    if (!plan.fits)
        std::printf("The project can't fit the card even with every sound at %s Hz or its own "
                    "lower rate: it needs %llu bytes and the card holds %llu. Lower --min-rate, "
                    "add --trim, or take sounds out.\n",
            RateText(options.minRate).c_str(), static_cast<unsigned long long>(plan.totalAfter),
            static_cast<unsigned long long>(plan.cardBytes));
    std::fflush(stdout);
    if (!plan.fits) {
        Fail("nothing is changed");
        return app.Finish(false);
    }
    std::size_t changing = 0;
    for (std::size_t i = 0; i < sounds.size(); ++i)
        changing += plan.choices[i].Changes(sounds[i]) ? 1 : 0;
    if (dryRun)
        return app.Finish(true);
    if (changing == 0) {
        app.Inform("Nothing to change: the project is left as it was.");
        return app.Finish(true);
    }

    const std::string folder = args.Get("--dir")
        ? AbsolutePath(*args.Get("--dir"))
        : std::filesystem::path(projectPath).replace_extension(".fit").string();
    std::vector<FitSwap> swaps;
    std::vector<std::string> written;
    if (!MakeFittedItems(*app.controller, *gathered, plan, std::vector<bool>(sounds.size(), true),
            folder, swaps, written, failure))
        return Fail(failure + "; the project is left as it was");
    // Whatever stops the fit from here on takes back the files it wrote.
    const auto takeBack = [&](bool swapped) {
        if (swapped)
            SwapItems(project, swaps);
        RemoveFiles(written);
    };
    if (gInterrupted) {
        takeBack(false);
        return app.Finish(false);
    }
    SwapItems(project, swaps);
    project.ComputeTotalBytes();
    if (project.GetTotalBytes() > options.cardBytes) {
        const std::uint64_t after = project.GetTotalBytes();
        takeBack(true);
        return Fail(Format("the fitted project would take %llu bytes, more than the card's %llu; "
                           "nothing is changed",
            static_cast<unsigned long long>(after),
            static_cast<unsigned long long>(options.cardBytes)));
    }
    // The project as it stands on disk before the fit, for `fit --undo`.
    const std::string before = BeforeFitPath(projectPath);
    const auto old = ReadWholeFile(projectPath, UINT64_MAX);
    if (!old || !WriteFileAtomically(before, *old)) {
        takeBack(true);
        return Fail("'" + before + "' could not be written; the project is left as it was");
    }
    if (!SaveProject(app)) {
        takeBack(true);
        RemoveFile(before);
        return app.Finish(false);
    }
    // The same date as the saved project: a later save tells `fit --undo` the project changed.
    std::error_code ignored;
    std::filesystem::last_write_time(
        before, std::filesystem::last_write_time(projectPath, ignored), ignored);
    app.Inform(
        Format("Fitted %zu sound file%s into %s; the project takes %llu bytes of the card's %llu. "
               "'cardmill fit --undo %s' gives back the project as it was.",
            changing, changing == 1 ? "" : "s", folder.c_str(),
            static_cast<unsigned long long>(project.GetTotalBytes()),
            static_cast<unsigned long long>(options.cardBytes), args.rest.front().c_str()));
    return app.Finish(true);
}

} // namespace cardmill
