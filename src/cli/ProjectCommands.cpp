// The commands that work on project files: new, add, remove, set, list, image and dump.

#include "ProjectCommands.h"

#include "CommandOutput.h"
#include "Json.h"
#include "VoiceCommands.h"
#include "compiler/AImageProgressDialog.h"
#include "compiler/MCompileEngine.h"
#include "model/ALoaderProgressDialog.h"
#include "model/APrefs.h"
#include "model/CardInfoEdit.h"
#include "model/DeviceFamily.h"
#include "model/MProject.h"
#include "model/MReadableFileDispatcher.h"
#include "model/TextEncoding.h"
#include "model/TextFields.h"
#include "model/instrument/InstrumentLibrary.h"
#include "model/instrument/MInstFile.h"
#include "model/sequence/MSeqFile.h"
#include "model/sound/MSoundFile.h"
#include "platform/FileSystem.h"
#include "platform/ParseNumber.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <tuple>
#include <unistd.h>

namespace cardmill {

namespace {

int Fail(const std::string& command, const std::string& message)
{
    std::fprintf(stderr, "cardmill %s: %s\n", command.c_str(), message.c_str());
    return kFailed;
}

/// Card name, version, size and target as Card Info takes them; false (told why) when refused.
bool ApplyCardOptions(CliApp& app, const std::string& command, const ParsedArgs& args, int& status)
{
    MProject& project = app.controller->Project();
    std::string name = project.GetCardName();
    std::string version = project.GetVersion();
    for (auto [option, what, text] : { std::tuple { "--name", "card name", &name },
             std::tuple { "--version", "version", &version } }) {
        if (const auto typed = args.Get(option)) {
            if (typed->empty()) {
                status = UsageError(command, std::string(option) + " needs at least one character");
                return false;
            }
            const auto card = AcceptTyped(app, *typed, what);
            if (!card) {
                status = kFailed;
                return false;
            }
            *text = *card;
        }
    }
    if (name.size() > MProject::kCardNameLimit || version.size() > MProject::kVersionLimit) {
        status = UsageError(command, "the card name holds at most 10 characters and the version 4");
        return false;
    }
    std::uint16_t token = project.GetCardSizeToken();
    if (const auto size = args.Get("--card-size")) {
        const auto parsed = ParseCardSize(*size);
        if (!parsed) {
            status = UsageError(
                command, "card sizes are 128K 256K 512K 1M 2M 4M 8M 16M 24M 32M (or 0 to 9)");
            return false;
        }
        token = *parsed;
    }
    std::uint16_t target = project.GetTarget();
    if (const auto text = args.Get("--target")) {
        const auto parsed = ParseTarget(*text);
        if (!parsed) {
            status = UsageError(command, "targets are zelta and percula");
            return false;
        }
        target = *parsed;
    }
    if (!ApplyCardInfo(project, { name, version, token, target }, app.prompter)) {
        status = kFailed;
        return false;
    }
    return true;
}

/// A name or comment on one line of a listing: line breaks and tabs shown as \n, \r and \t.
std::string OneLine(std::string_view text)
{
    std::string line;
    for (const char c : DisplayText(text)) {
        const char* escape = c == '\n' ? "\\n" : c == '\r' ? "\\r" : c == '\t' ? "\\t" : nullptr;
        if (escape)
            line += escape;
        else
            line += c;
    }
    return line;
}

/// Tells, after a change, when the project has become larger than its card.
void WarnIfOverTheCard(MProject& project, const std::string& path)
{
    project.ComputeTotalBytes();
    if (const std::uint64_t total = project.GetTotalBytes(); total > project.GetCardSizeBytes())
        std::fprintf(stderr,
            "Warning: the project (%llu bytes) no longer fits its %s card (%u bytes). %s\n",
            static_cast<unsigned long long>(total), project.GetCardSizeText().c_str(),
            project.GetCardSizeBytes(), CardSizeAdvice(path).c_str());
}

/// Why drum group `group`, named `typed` on the command line, is refused on a Percula card.
std::string NoDrumGroups(const std::string& typed, int group)
{
    const std::string which = EqualsIgnoringCase(typed, GroupToken(group))
        ? "a Percula card has no drum groups (d1-d3)"
        : "'" + typed + "' is " + GroupToken(group) + ", and a Percula card has no drum groups";
    return which + "; use a keyboard group, k1 to k8";
}

} // namespace

std::string PadToColumns(std::string text, std::size_t columns)
{
    const auto characters = static_cast<std::size_t>(std::count_if(text.begin(), text.end(),
        [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
    if (characters < columns)
        text.append(columns - characters, ' ');
    return text;
}

std::optional<std::string> AcceptTyped(CliApp& app, std::string_view typed, std::string_view what)
{
    return AcceptTyped(typed, what, app.prompter);
}

std::optional<int> ParseGroup(const MProject& project, const std::string& text, std::string& error)
{
    if (const auto group = GroupOfToken(text))
        return group;
    std::vector<int> named;
    for (int group = 0; group < MProject::kSoundGroups; ++group)
        if (EqualsIgnoringCase(project.GetGroupName(group), CardCharacters(text)))
            named.push_back(group);
    if (named.size() == 1)
        return named.front();
    if (named.empty()) {
        error = "no group '" + text + "' (k1-k8, d1-d3, seq, prog or a group's name)";
    } else {
        // Never the first of several: a file of the wrong group would be changed or removed.
        error = "'" + text + "' names " + std::to_string(named.size()) + " groups:";
        for (const int group : named)
            error += " " + GroupToken(group);
        error += "; name one of them by k1-k8 or d1-d3";
    }
    return std::nullopt;
}

std::string ItemWhere(const MProject& project, int group, int index)
{
    const MReadableFile* file = project.GetItem(group, index);
    return "'" + (file ? file->GetFileName() : std::string()) + "', file "
        + std::to_string(index + 1) + " of " + GroupToken(group) + " ("
        + project.GetGroupName(group) + ")";
}

std::string NoFileMessage(
    const MProject& project, int group, const std::string& typed, std::uint64_t index)
{
    const std::string named = EqualsIgnoringCase(typed, GroupToken(group))
        ? GroupToken(group)
        : "'" + typed + "' (" + GroupToken(group) + ")";
    const int count = project.CountItems(group);
    return Format("group %s has no file %llu: %s", named.c_str(),
        static_cast<unsigned long long>(index),
        count == 0 ? "it is empty"
                   : Format("it holds %d file%s", count, count == 1 ? "" : "s").c_str());
}

std::optional<std::uint16_t> ParseCardSize(const std::string& text)
{
    return MProject::ParseCardSize(text);
}

std::optional<std::uint16_t> ParseTarget(const std::string& text)
{
    const auto code = ParseNumber(text, 0, UINT16_MAX);
    if (EqualsIgnoringCase(text, "zelta") || code == MProject::kZelta)
        return MProject::kZelta;
    if (EqualsIgnoringCase(text, "percula") || code == MProject::kPercula)
        return MProject::kPercula;
    return std::nullopt;
}

bool OpenProject(CliApp& app, const std::string& command, const std::string& given, bool forChange)
{
    const std::string path = AbsolutePath(given);
    if (!StatFile(path)) {
        Fail(command, "no project file '" + given + "'");
        return false;
    }
    if (!app.controller->IsProjectFile(path)) {
        Fail(command, "'" + given + "' is not a project file (.cmr)");
        return false;
    }
    if (forChange) {
        switch (app.projectLock.Lock(path, std::chrono::seconds(5))) {
        case FileLock::Result::Locked:
            break;
        case FileLock::Result::Busy:
            Fail(command,
                "the project '" + given
                    + "' is in use by another program (another cardmill command, or Cardmill's "
                      "window); try again when it is done");
            return false;
        case FileLock::Result::Failed:
            Fail(command, "can't read the project '" + given + "'");
            return false;
        }
    }
    app.pending.Push(path);
    ALoaderProgressDialog loader(*app.controller, app.progress);
    loader.Run();
    app.progress.Finish();
    if (gInterrupted)
        return false;
    if (!loader.ProjectOpened()) {
        Fail(command, "the project '" + given + "' could not be opened");
        return false;
    }
    if (!app.finder.Missing().empty()) {
        Fail(command,
            Format("%zu file%s of the project could not be found; nothing is changed",
                app.finder.Missing().size(), app.finder.Missing().size() == 1 ? "" : "s"));
        return false;
    }
    return true;
}

bool SaveProject(CliApp& app)
{
    return !gInterrupted && app.controller->SaveProject();
}

int CommandNew(CliApp& app)
{
    const ParsedArgs args
        = ParseArgs(app.options.args, { "--name", "--version", "--card-size", "--target" }, {});
    if (!args.error.empty())
        return UsageError("new", args.error);
    if (args.rest.size() != 1)
        return UsageError("new", "name one project file to create");
    const std::string path = AbsolutePath(args.rest.front());
    if (!EndsWithExtension(path, ".cmr"))
        return UsageError("new", "a project file's name ends in .cmr");
    if (StatFile(path))
        return Fail("new", "'" + args.rest.front() + "' already exists; it is left as it is");
    int status = kSuccess;
    if (!ApplyCardOptions(app, "new", args, status))
        return status;
    app.ui.saveChoice = DocumentUi::SaveChoice { path, 1 };
    return app.Finish(app.controller->SaveProjectAs());
}

int ChoosePreset(const std::string& command, const std::string& named,
    const std::optional<std::string>& preset, std::string& path)
{
    if (!IsInstrumentLibrary(path))
        return kSuccess;
    std::string error;
    const auto catalog = ReadLibraryCatalog(path, error);
    if (!catalog && preset) {
        std::fprintf(stderr, "%s\n%s\n", CantUnderstandMessage("instrument file", named).c_str(),
            error.c_str());
        return kFailed;
    }
    if (!catalog)
        return kSuccess; // the loader names the damage, or reads what the file is
    const bool plain = std::all_of(named.begin(), named.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || std::strchr("/._-+", c);
    });
    const std::string listed
        = " (cardmill info " + (plain ? named : "\"" + named + "\"") + " lists them)";
    if (!preset) {
        if (catalog->presets.size() == 1)
            return kSuccess;
        return UsageError(command,
            "'" + named + "' holds " + std::to_string(catalog->presets.size())
                + " presets; name the one to add with --preset NAME or BANK:PROGRAM" + listed);
    }
    const auto index = FindPreset(catalog->presets, *preset);
    if (!index)
        return UsageError(command, "'" + named + "' holds no preset '" + *preset + "'" + listed);
    path = JoinLibraryPath(path, catalog->presets[*index]);
    return kSuccess;
}

int CommandAdd(CliApp& app)
{
    const ParsedArgs args
        = ParseArgs(app.options.args, { "--group", "--preset" }, { "--split-stereo" });
    if (!args.error.empty())
        return UsageError("add", args.error);
    if (args.rest.size() < 2)
        return UsageError("add", "name the project and at least one file to add");
    for (std::size_t i = 1; i < args.rest.size(); ++i) {
        if (EndsWithExtension(args.rest[i], ".cmr"))
            return UsageError(
                "add", "a project file can't be added to a project: '" + args.rest[i] + "'");
        if (const auto unreadable = UnreadableMessage(AbsolutePath(args.rest[i]))) {
            std::fprintf(stderr, "%s\n", unreadable->c_str());
            return kFailed;
        }
    }
    std::vector<std::string> paths;
    for (std::size_t i = 1; i < args.rest.size(); ++i) {
        std::string path = AbsolutePath(args.rest[i]);
        if (const int status = ChoosePreset("add", args.rest[i], args.Get("--preset"), path);
            status != kSuccess)
            return status;
        paths.push_back(std::move(path));
    }
    if (args.Has("--preset")
        && std::none_of(paths.begin(), paths.end(),
            [](const std::string& path) { return !SplitLibraryPath(path).preset.empty(); }))
        return UsageError(
            "add", "--preset chooses a preset of a SoundFont or DLS file; no file named is one");
    if (!OpenProject(app, "add", args.rest.front(), true))
        return kFailed;
    MProject& project = app.controller->Project();
    std::optional<int> group;
    if (const auto text = args.Get("--group")) {
        std::string error;
        group = ParseGroup(project, *text, error);
        if (!group)
            return UsageError("add", error);
        if (project.IsGroupUnavailable(*group))
            return Fail("add", NoDrumGroups(*text, *group));
    }

    WaitingFileList chosen;
    chosen.targetGroup = group;
    for (std::size_t i = 1; i < args.rest.size(); ++i) {
        auto file = app.controller->CreateForAdding(paths[i - 1], MCardmill::AddFilter::Any, true);
        if (!file) {
            Fail("add", "'" + args.rest[i] + "' is not added; the project is left as it was");
            return app.Finish(false);
        }
        // Sequences and banks go to their own groups whatever --group says; a sound can't go
        // there.
        if (group && *group > 10 && file->GetKind() == 2)
            return UsageError("add",
                "'" + args.rest[i] + "' is a sound or instrument file, which can't go to "
                    + project.GetGroupName(*group) + "; nothing is added");
        chosen.files.push_back(std::move(file));
    }
    if (group && *group > 10)
        chosen.targetGroup.reset();

    APrefs& prefs = app.controller->Prefs();
    const std::uint16_t split = prefs.splitStereoFiles;
    if (args.Has("--split-stereo"))
        prefs.splitStereoFiles = 1;
    const std::size_t before = project.CountSoundItems()
        + static_cast<std::size_t>(project.CountItems(11) + project.CountItems(12));
    ALoaderProgressDialog loader(*app.controller, app.progress);
    loader.SetWaitingFiles(&chosen);
    loader.Run();
    app.progress.Finish();
    const int notAdded = loader.NotAdded();
    prefs.splitStereoFiles = split;
    if (notAdded > 0 || !app.finder.Missing().empty()) {
        Fail("add",
            Format("%d file%s could not be added; the project is left as it was", notAdded,
                notAdded == 1 ? "" : "s"));
        return app.Finish(false);
    }
    const std::size_t after = project.CountSoundItems()
        + static_cast<std::size_t>(project.CountItems(11) + project.CountItems(12));
    if (!SaveProject(app))
        return app.Finish(false);
    app.Inform(Format("Added %zu item%s.", after - before, after - before == 1 ? "" : "s"));
    WarnIfOverTheCard(project, args.rest.front());
    return app.Finish(true);
}

int CommandRemove(CliApp& app)
{
    const ParsedArgs args = ParseArgs(app.options.args, {}, {});
    if (!args.error.empty())
        return UsageError("remove", args.error);
    if (args.rest.size() != 3)
        return UsageError("remove", "name the project, a group and the file's index in it");
    if (!OpenProject(app, "remove", args.rest[0], true))
        return kFailed;
    MProject& project = app.controller->Project();
    std::string error;
    const auto group = ParseGroup(project, args.rest[1], error);
    if (!group)
        return UsageError("remove", error);
    const int capacity = project.GetCapacity(*group);
    const auto index = ParseNumber(args.rest[2], 1, static_cast<std::uint64_t>(capacity));
    if (!index)
        return UsageError("remove",
            Format(
                "INDEX takes a number from 1 to %d in group '%s'", capacity, args.rest[1].c_str()));
    MReadableFile* file = project.GetItem(*group, static_cast<int>(*index - 1));
    if (!file)
        return Fail("remove", NoFileMessage(project, *group, args.rest[1], *index));
    const std::string what = ItemWhere(project, *group, static_cast<int>(*index - 1));
    auto removed = project.RemoveItem(file);
    removed->Deactivate();
    removed.reset();
    if (!SaveProject(app))
        return app.Finish(false);
    app.Inform("Removed " + what + ".");
    return app.Finish(true);
}

int CommandSet(CliApp& app)
{
    const ParsedArgs args = ParseArgs(app.options.args,
        { "--name", "--version", "--card-size", "--target", "--group-name", "--out-port" }, {});
    if (!args.error.empty())
        return UsageError("set", args.error);
    if (args.rest.size() != 1)
        return UsageError("set", "name one project file");
    if (!OpenProject(app, "set", args.rest.front(), true))
        return kFailed;
    MProject& project = app.controller->Project();
    int status = kSuccess;
    if (!ApplyCardOptions(app, "set", args, status))
        return status;
    for (const std::string& assignment : args.All("--group-name")) {
        const auto equals = assignment.find('=');
        const std::string usage = "--group-name takes GROUP=NAME for a keyboard or drum group";
        std::string error;
        const auto group = equals == std::string::npos
            ? std::nullopt
            : ParseGroup(project, assignment.substr(0, equals), error);
        if (!group || *group > 10)
            return UsageError("set", group || error.empty() ? usage : error);
        if (project.IsGroupUnavailable(*group))
            return Fail("set", NoDrumGroups(assignment.substr(0, equals), *group));
        const auto name = AcceptTyped(app, assignment.substr(equals + 1), "group name");
        if (!name)
            return kFailed;
        if (const auto refusal = GroupNameRefusal(project, *group, *name))
            return UsageError("set", *refusal);
        project.SetGroupName(*group, *name);
    }
    const int sequences = project.GetCapacity(MProject::kSequenceGroup);
    for (const std::string& assignment : args.All("--out-port")) {
        const auto equals = assignment.find('=');
        const std::string_view text(assignment);
        const auto index = equals == std::string::npos
            ? std::nullopt
            : ParseNumber(text.substr(0, equals), 1, static_cast<std::uint64_t>(sequences));
        const auto flag = equals == std::string::npos ? std::nullopt
                                                      : ParseNumber(text.substr(equals + 1), 0, 1);
        if (!index || !flag)
            return UsageError("set",
                Format("--out-port takes INDEX=0 or INDEX=1, INDEX from 1 to %d", sequences));
        auto* sequence = dynamic_cast<MSeqFile*>(
            project.GetItem(MProject::kSequenceGroup, static_cast<int>(*index - 1)));
        if (!sequence)
            return Fail("set", "there is no sequence " + assignment.substr(0, equals));
        sequence->SetOutPort(static_cast<std::uint16_t>(*flag));
    }
    if (!SaveProject(app))
        return app.Finish(false);
    WarnIfOverTheCard(project, args.rest.front());
    return app.Finish(true);
}

int CommandList(CliApp& app)
{
    const ParsedArgs args = ParseArgs(app.options.args, {}, {});
    if (!args.error.empty())
        return UsageError("list", args.error);
    if (args.rest.size() != 1)
        return UsageError("list", "name one project file");
    if (!OpenProject(app, "list", args.rest.front(), false))
        return kFailed;
    MProject& project = app.controller->Project();
    project.ComputeTotalBytes();
    const std::uint64_t total = project.GetTotalBytes();
    const std::int64_t free = project.FreeBytes();
    const std::string targetName = GetFamilyName(project.GetTarget());
    if (app.options.json) {
        JsonWriter json;
        json.BeginObject();
        json.Field("cardName", project.GetCardName()).Field("version", project.GetVersion());
        json.Field("cardSize", project.GetCardSizeText())
            .Field("cardSizeToken", project.GetCardSizeToken());
        json.Field("cardBytes", project.GetCardSizeBytes());
        json.Field("target", project.GetTarget()).Field("targetName", targetName);
        json.Key("groups").BeginArray();
        for (int group = 0; group < MProject::kGroupCount; ++group) {
            json.BeginObject().Field("group", group).Field("name", project.GetGroupName(group));
            json.Key("files").BeginArray();
            for (int index = 0; index < project.CountItems(group); ++index) {
                MReadableFile* file = project.GetItem(group, index);
                json.BeginObject()
                    .Field("index", index + 1)
                    .Field("file", file->GetFileName())
                    .PathField("path", file->GetPath())
                    .Field("name", file->GetShortName())
                    .Field("size", file->GetCompiledSize())
                    .Field("comment", file->Comment());
                if (auto* voice = dynamic_cast<MInstFile*>(file))
                    WriteVoiceJson(json, *voice);
                if (const auto* sequence = dynamic_cast<const MSeqFile*>(file))
                    json.Field("outPort", sequence->GetOutPort() != 0);
                json.EndObject();
            }
            json.EndArray().EndObject();
        }
        json.EndArray();
        json.Field("totalBytes", total).Field("freeBytes", free);
        json.EndObject();
        std::fputs(json.Text().c_str(), stdout);
        return kSuccess;
    }
    std::printf("Card name:  %s\nVersion:    %s\nCard size:  %s\nTarget:     %s\n",
        project.GetCardName().c_str(), project.GetVersion().c_str(),
        project.GetCardSizeText().c_str(), targetName.c_str());
    for (int group = 0; group < MProject::kGroupCount; ++group) {
        if (project.CountItems(group) == 0)
            continue;
        std::printf(
            "\n%s (%s)\n", OneLine(project.GetGroupName(group)).c_str(), GroupToken(group).c_str());
        for (int index = 0; index < project.CountItems(group); ++index) {
            MReadableFile* file = project.GetItem(group, index);
            std::printf("  %3d  %s %s %10u  %s\n", index + 1,
                PadToColumns(OneLine(file->GetFileName()), 24).c_str(),
                PadToColumns(OneLine(file->GetShortName()), 10).c_str(), file->GetCompiledSize(),
                OneLine(file->GetComment()).c_str());
            if (auto* voice = dynamic_cast<MInstFile*>(file))
                std::printf("       %s\n", VoiceSummary(*voice).c_str());
            if (const auto* sequence = dynamic_cast<const MSeqFile*>(file))
                std::printf("       out port %s\n", sequence->GetOutPort() ? "on" : "off");
        }
    }
    std::printf("\nTotal bytes:            %llu\n", static_cast<unsigned long long>(total));
    if (free >= 0)
        std::printf("Free bytes remaining:   %lld\n", static_cast<long long>(free));
    else
        std::printf("Over the card by:       %lld bytes (the card holds %u)\n",
            static_cast<long long>(-free), project.GetCardSizeBytes());
    return kSuccess;
}

/// Every file a command on the open project reads: the project and the files it names.
std::vector<std::string> FilesRead(CliApp& app, const std::string& projectPath)
{
    std::vector<std::string> files { AbsolutePath(projectPath) };
    MProject& project = app.controller->Project();
    for (int group = 0; group < MProject::kGroupCount; ++group) {
        for (int index = 0; index < project.CountItems(group); ++index) {
            MReadableFile* item = project.GetItem(group, index);
            // A library's preset or sample is read from the library's file.
            files.push_back(SplitLibraryPath(item->GetPath()).file);
            if (auto* voice = dynamic_cast<MInstFile*>(item))
                for (const MSoundFile* sample : voice->Samples())
                    files.push_back(SplitLibraryPath(sample->GetPath()).file);
        }
    }
    return files;
}

int CommandImage(CliApp& app)
{
    const ParsedArgs args = ParseArgs(app.options.args, { "-o", "--output" }, {});
    if (!args.error.empty())
        return UsageError("image", args.error);
    const auto output = args.Get("-o") ? args.Get("-o") : args.Get("--output");
    if (args.rest.size() != 1 || !output || output->empty())
        return UsageError(
            "image", "name one project and the image file: image PROJECT.cmr -o CARD.img");
    if (!OpenProject(app, "image", args.rest.front(), false))
        return kFailed;
    CommandOutput image;
    int status = kSuccess;
    if (!image.Prepare(app, "image", *output, FilesRead(app, args.rest.front()),
            { "a card image", "", { ".img" }, true }, status))
        return status;
    AImageProgressDialog dialog(
        app.controller->Project(), app.link.CompileEngine(), app.prompter, app.clock, app.progress);
    dialog.SetCardSizeAdvice(CardSizeAdvice(args.rest.front()));
    const auto outcome = dialog.Run(image.Path());
    app.progress.Finish();
    if (outcome == AImageProgressDialog::Outcome::Stopped)
        return kFailed; // Ctrl-C: told as the command ends
    return app.Finish(outcome == AImageProgressDialog::Outcome::Ready && image.Deliver("image"));
}

int CommandDump(CliApp& app)
{
    const ParsedArgs args = ParseArgs(app.options.args, { "-o", "--output" }, {});
    if (!args.error.empty())
        return UsageError("dump", args.error);
    const auto output = args.Get("-o") ? args.Get("-o") : args.Get("--output");
    if (args.rest.size() != 1 || !output || output->empty())
        return UsageError(
            "dump", "name one project and the dump file: dump PROJECT.cmr -o DUMP.xls");
    if (!OpenProject(app, "dump", args.rest.front(), false))
        return kFailed;
    CommandOutput dump;
    int status = kSuccess;
    if (!dump.Prepare(app, "dump", *output, FilesRead(app, args.rest.front()),
            { "a text dump", "", { ".xls", ".txt", ".tsv" }, false }, status))
        return status;
    return app.Finish(app.controller->WriteTextDump(dump.Path()) && dump.Deliver("dump"));
}

std::string CardSizeAdvice(const std::string& project)
{
    return "The card size may be changed with 'cardmill set " + project
        + " --card-size SIZE' (128K 256K 512K 1M 2M 4M 8M 16M 24M 32M), and the project made "
          "smaller with 'cardmill fit "
        + project + "'.";
}

} // namespace cardmill
