#include "Cli.h"
#include "VoiceCommands.h"
#include "model/instrument/MInstFileCardmill.h"
#include "model/sound/MSoundFile.h"
#include "platform/FileSystem.h"

#include <cstdio>

namespace cardmill {

int CommandInstrument(CliApp& app)
{
    const ParsedArgs args = ParseArgs(app.options.args, { "-o", "--output", "--keys" }, {});
    if (!args.error.empty())
        return UsageError("instrument", args.error);
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
            bool rising = list && list->size() == args.rest.size() && list->back() == 127;
            for (std::size_t i = 1; rising && i < list->size(); ++i)
                rising = (*list)[i - 1] < (*list)[i];
            if (!rising)
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
    std::vector<std::unique_ptr<MSoundFile>> samples;
    for (const std::string& given : args.rest) {
        const std::string path = AbsolutePath(given);
        if (!CanOpenForReading(path)) {
            std::fprintf(stderr, "cardmill instrument: can't read '%s'\n", given.c_str());
            return kFailed;
        }
        auto file = app.controller->CreateForAdding(path, MCardmill::AddFilter::Sound, true);
        if (!file) {
            std::fprintf(stderr, "cardmill instrument: '%s' is not used; nothing is written\n",
                given.c_str());
            return app.Finish(false);
        }
        samples.emplace_back(dynamic_cast<MSoundFile*>(file.release()));
    }
    const std::size_t count = samples.size();
    if (!WriteInstrumentFile(
            *app.controller, app.prompter, AbsolutePath(*output), std::move(samples), keys))
        return app.Finish(false);
    std::fprintf(stderr, "Wrote %s: an instrument of %zu sample%s.\n", output->c_str(), count,
        count == 1 ? "" : "s");
    return app.Finish(true);
}

} // namespace cardmill
