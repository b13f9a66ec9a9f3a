#include "Cli.h"
#include "model/instrument/MInstFileCardmill.h"
#include "model/sound/MSoundFile.h"
#include "platform/FileSystem.h"

#include <cstdio>

namespace cardmill {

int CommandInstrument(CliApp& app)
{
    const ParsedArgs args = ParseArgs(app.options.args, { "-o", "--output" }, {});
    if (!args.error.empty())
        return UsageError("instrument", args.error);
    const auto output = args.Get("-o") ? args.Get("-o") : args.Get("--output");
    if (!output || output->empty())
        return UsageError("instrument", "name the instrument file to write with -o INST.cmt");
    if (args.rest.empty())
        return UsageError("instrument", "name at least one sound file");

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
            *app.controller, app.prompter, AbsolutePath(*output), std::move(samples)))
        return app.Finish(false);
    std::fprintf(stderr, "Wrote %s: an instrument of %zu sample%s.\n", output->c_str(), count,
        count == 1 ? "" : "s");
    return app.Finish(true);
}

} // namespace cardmill
