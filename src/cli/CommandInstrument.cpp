#include "Cli.h"
#include "CommandOutput.h"
#include "ProjectCommands.h"
#include "VoiceCommands.h"
#include "model/MReadableFileDispatcher.h"
#include "model/Services.h"
#include "model/TextFields.h"
#include "model/instrument/InstrumentLibrary.h"
#include "model/instrument/MInstFileCardmill.h"
#include "model/instrument/SfzWriter.h"
#include "model/sound/MSoundFile.h"
#include "platform/FileSystem.h"

#include <algorithm>
#include <cstdio>
#include <functional>

namespace cardmill {

namespace {

/// `instrument --sfz OUT.sfz INSTRUMENT`: any instrument read, written as an SFZ file.
int WriteSfz(CliApp& app, const ParsedArgs& args)
{
    const std::string output = *args.Get("--sfz");
    if (output.empty())
        return UsageError("instrument", "name the SFZ file to write with --sfz OUT.sfz");
    if (args.rest.size() != 1 || args.Has("-o") || args.Has("--output") || args.Has("--keys"))
        return UsageError("instrument", "--sfz takes one instrument file and no -o or --keys");
    std::string path = AbsolutePath(args.rest[0]);
    if (const int chosen = ChoosePreset("instrument", args.rest[0], args.Get("--preset"), path);
        chosen != kSuccess)
        return chosen;
    if (SameFile(AbsolutePath(output), SplitLibraryPath(path).file))
        return UsageError("instrument",
            "'" + output
                + "' is the instrument it is made of; nothing is written. Name another "
                  "output file.");
    CommandOutput sfz;
    int status = kSuccess;
    if (!sfz.Prepare(app, "instrument", output, {},
            { "an SFZ instrument", "SFZ", { ".sfz" }, false, false }, status))
        return status;
    if (const auto unreadable = UnreadableMessage(path)) {
        std::fprintf(stderr, "%s\n", unreadable->c_str());
        return kFailed;
    }
    Services& services = app.controller->GetServices();
    auto file = MInstFileDispatcher(services).Create(path);
    auto* instrument = dynamic_cast<MInstFileInstrument*>(file.get());
    if (!instrument) {
        std::fprintf(stderr,
            "cardmill instrument: '%s' is no instrument file (.cmt, SampleCell, SFZ, "
            "DecentSampler, SoundFont or DLS)%s%s\n",
            args.rest[0].c_str(), services.whyNotUnderstood.empty() ? "" : ": ",
            services.whyNotUnderstood.c_str());
        return kFailed;
    }
    int result = 0;
    while ((result = instrument->LoadStep()) == 0) { }
    if (result != 1)
        return app.Finish(false);
    for (MSoundFile* sound : instrument->Samples())
        if (SameFile(AbsolutePath(output), AbsolutePath(sound->GetPath())))
            return UsageError("instrument",
                "'" + output + "' is a sample of the instrument; nothing is written.");
    std::vector<std::string> notes;
    const SfzSamples samples
        = args.Has("--copy-samples") ? SfzSamples::Copy : SfzSamples::Reference;
    if (!WriteSfzFile(*app.controller, app.prompter, sfz.Path(), *instrument, samples, notes))
        return app.Finish(false);
    for (const std::string& note : notes)
        std::fprintf(stderr, "cardmill instrument: %s\n", note.c_str());
    app.Inform(Format("Wrote %s: %u key group%s of %u layer%s, samples %s.", output.c_str(),
        unsigned { instrument->GroupCount() }, instrument->GroupCount() == 1 ? "" : "s",
        unsigned { instrument->GroupSize() }, instrument->GroupSize() == 1 ? "" : "s",
        samples == SfzSamples::Copy || IsInstrumentLibrary(path) ? "written beside it"
                                                                 : "referred to where they are"));
    return app.Finish(true);
}

} // namespace

int CommandInstrument(CliApp& app)
{
    const ParsedArgs args = ParseArgs(app.options.args,
        { "-o", "--output", "--keys", "--sfz", "--preset" }, { "--copy-samples" });
    if (!args.error.empty())
        return UsageError("instrument", args.error);
    if (args.Has("--sfz"))
        return WriteSfz(app, args);
    if (args.Has("--copy-samples") || args.Has("--preset"))
        return UsageError("instrument", "--copy-samples and --preset go with --sfz");
    const auto output = args.Get("-o") ? args.Get("-o") : args.Get("--output");
    if (!output || output->empty())
        return UsageError("instrument", "name the instrument file to write with -o INST.cmt");
    if (args.rest.empty())
        return UsageError("instrument", "name at least one sound file");
    InstrumentKeys keys;
    if (const auto text = args.Get("--keys")) {
        if (*text == "auto") {
            keys.layout = InstrumentKeys::Layout::HalfWay;
        } else {
            const auto list = ParseKeyList(*text);
            const bool rising
                = list && std::is_sorted(list->begin(), list->end(), std::less_equal<>());
            if (!rising || list->size() != args.rest.size())
                return UsageError("instrument",
                    "--keys takes auto, or one upper key for each sound, rising, the last 127 "
                    "(note numbers or names such as C3)");
            keys.layout = InstrumentKeys::Layout::Given;
            keys.upperKeys = *list;
        }
    }

    for (const std::string& given : args.rest) {
        if (SameFile(AbsolutePath(*output), AbsolutePath(given)))
            return UsageError("instrument",
                "'" + *output
                    + "' is one of the sound files it is made of; nothing is written. "
                      "Name another output file.");
    }
    CommandOutput cmt;
    int status = kSuccess;
    if (!cmt.Prepare(app, "instrument", *output, {},
            { "a Cardmill instrument", "Cardmill (TM)", { ".cmt" }, true, false }, status))
        return status;
    std::vector<std::unique_ptr<MSoundFile>> samples;
    for (const std::string& given : args.rest) {
        const std::string path = AbsolutePath(given);
        auto file = app.controller->CreateForAdding(path, MCardmill::AddFilter::Sound, true);
        if (!file) {
            std::fprintf(stderr, "cardmill instrument: '%s' is not used; nothing is written\n",
                given.c_str());
            return app.Finish(false);
        }
        samples.emplace_back(dynamic_cast<MSoundFile*>(file.release()));
    }
    const std::size_t count = samples.size();
    if (!WriteInstrumentFile(*app.controller, app.prompter, cmt.Path(), std::move(samples), keys))
        return app.Finish(false);
    app.Inform(Format(
        "Wrote %s: an instrument of %zu sample%s.", output->c_str(), count, count == 1 ? "" : "s"));
    return app.Finish(true);
}

} // namespace cardmill
