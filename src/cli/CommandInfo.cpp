#include "Cli.h"
#include "Json.h"
#include "model/MReadableFile.h"
#include "model/MReadableFileDispatcher.h"
#include "platform/ProgressView.h"

#include <cstdio>

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

} // namespace

int CommandInfo(CliApp& app)
{
    const ParsedArgs args = ParseArgs(app.options.args, {}, {});
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
        auto file = app.controller->Creator().Create(path, failure, &kind);
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
