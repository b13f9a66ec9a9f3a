#include "Cli.h"
#include "Json.h"
#include "model/MReadableFile.h"
#include "model/MReadableFileDispatcher.h"
#include "model/instrument/InstrumentLibrary.h"
#include "platform/ProgressView.h"

#include <algorithm>
#include <cstdio>
#include <tuple>

namespace cardmill {

void DescribeDetails(MReadableFile& file, JsonWriter* json);

namespace {

/// Runs the file's load steps as the loader would, without questions (taken as OK) and without a
/// project to compare a bank's target with.
bool LoadForInspection(MReadableFile& file, Services& services)
{
    if (file.GetKind() == 1)
        return true; // opening a project file would replace the project: it is only recognised
    const bool wasLoading = services.projectLoading;
    MProject* project = services.project;
    ProgressView& progress = services.Progress();
    NullProgressView quiet;
    services.projectLoading = true;
    services.project = nullptr;
    services.SetProgress(&quiet);
    int result = 0;
    while ((result = file.LoadStep()) == 0) { }
    services.projectLoading = wasLoading;
    services.project = project;
    services.SetProgress(&progress);
    file.UpdateCompiledSize();
    return result == 1;
}

void PrintText(const std::string& path, const std::string& kind, MReadableFile& file)
{
    std::printf("%s: %s\n", path.c_str(), kind.c_str());
    std::printf("  Format:          %s\n", file.GetFormatName().c_str());
    std::string info;
    for (const std::string& line :
        { file.GetInfoLine1(), file.GetInfoLine2(), file.GetInfoLine3() })
        if (!line.empty())
            info += (info.empty() ? "" : " / ") + line;
    std::printf("  Info:            %s\n", info.c_str());
    std::printf("  Comment:         %s\n", file.GetComment().c_str());
    if (file.GetKind() != 1) {
        std::printf("  Short name:      %s\n", file.GetShortName().c_str());
        std::printf("  Compiled size:   %u bytes\n", file.GetCompiledSize());
    }
    DescribeDetails(file, nullptr);
}

void PrintJson(
    JsonWriter& json, const std::string& path, const std::string& kind, MReadableFile& file)
{
    json.BeginObject();
    json.PathField("path", path).Field("kind", kind).Field("format", file.GetFormatName());
    json.Key("info").BeginArray();
    json.String(file.GetInfoLine1()).String(file.GetInfoLine2()).String(file.GetInfoLine3());
    json.EndArray();
    json.Field("comment", file.Comment());
    json.Field("shortName", file.GetShortName()).Field("compiledSize", file.GetCompiledSize());
    DescribeDetails(file, &json);
    json.EndObject();
}

/// A library's presets, for the choice of one (`add --preset`).
void PrintCatalog(JsonWriter* json, const std::string& path, LibraryCatalog catalog)
{
    std::stable_sort(catalog.presets.begin(), catalog.presets.end(),
        [](const LibraryPreset& a, const LibraryPreset& b) {
            return std::tie(a.bank, a.program) < std::tie(b.bank, b.program);
        });
    if (json) {
        json->BeginObject();
        json->PathField("path", path).Field("kind", "instrument library");
        json->Field("format", catalog.formatName);
        json->Key("presets").BeginArray();
        for (const LibraryPreset& preset : catalog.presets) {
            json->BeginObject().Field("bank", preset.bank).Field("program", preset.program);
            json->Field("name", preset.name);
            if (preset.lokey <= preset.hikey)
                json->Field("lokey", preset.lokey).Field("hikey", preset.hikey);
            json->EndObject();
        }
        json->EndArray();
        json->EndObject();
        return;
    }
    std::printf("%s: instrument library\n", path.c_str());
    std::printf("  Format:          %s\n", catalog.formatName.c_str());
    std::printf("  Presets:         %zu (BANK:PROGRAM name, keys)\n", catalog.presets.size());
    for (const LibraryPreset& preset : catalog.presets) {
        const std::string keys = preset.lokey <= preset.hikey
            ? std::to_string(preset.lokey) + "-" + std::to_string(preset.hikey)
            : "no keys";
        std::printf("  %7s  %s (%s)\n",
            (std::to_string(preset.bank) + ":" + std::to_string(preset.program)).c_str(),
            preset.name.c_str(), keys.c_str());
    }
}

} // namespace

int CommandInfo(CliApp& app)
{
    const ParsedArgs args = ParseArgs(app.options.args, { "--preset" }, { "--csv" });
    if (!args.error.empty())
        return UsageError("info", args.error);
    if (args.rest.empty())
        return UsageError("info", "name at least one file");

    Services& services = app.controller->GetServices();
    bool allUnderstood = true;
    JsonWriter json;
    if (app.options.json)
        json.BeginArray();
    for (const std::string& path : args.rest) {
        std::string failure;
        std::string kind;
        std::string opened = path;
        // A damaged library is left to the reader, which says what is wrong with it.
        std::string damage;
        bool cardFailed = false;
        if (DescribeCardImage(
                app, path, app.options.json ? &json : nullptr, args.Has("--csv"), cardFailed)) {
            allUnderstood = allUnderstood && !cardFailed;
            continue;
        }
        if (const auto catalog
            = IsInstrumentLibrary(path) ? ReadLibraryCatalog(path, damage) : std::nullopt) {
            if (!args.Has("--preset")) {
                PrintCatalog(app.options.json ? &json : nullptr, path, *catalog);
                continue;
            }
            if (const auto preset = FindPreset(catalog->presets, *args.Get("--preset")))
                opened = JoinLibraryPath(path, catalog->presets[*preset]);
            else
                failure = "'" + path + "' holds no preset '" + *args.Get("--preset") + "'.";
        }
        auto file
            = failure.empty() ? app.controller->Creator().Create(opened, failure, &kind) : nullptr;
        if (file && !LoadForInspection(*file, services)) {
            // The file has said why (a sound it names is missing, a question was refused).
            failure = "The " + kind + " '" + path + "' could not be loaded.";
            file.reset();
        }
        if (!file) {
            allUnderstood = false;
            if (app.options.json)
                json.BeginObject().PathField("path", path).Field("error", failure).EndObject();
            else
                std::fprintf(stderr, "%s\n", failure.c_str());
            continue;
        }
        if (app.options.json)
            PrintJson(json, path, kind, *file);
        else
            PrintText(path, kind, *file);
    }
    if (app.options.json) {
        json.EndArray();
        std::fputs(json.Text().c_str(), stdout);
    }
    return allUnderstood ? kSuccess : kFailed;
}

} // namespace cardmill
