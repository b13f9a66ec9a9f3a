#include "Cli.h"
#include "sim/SimOptions.h"
#include "sim/SimPtyServer.h"

#include <cstdio>

namespace cardmill {

int CommandSim(CliApp& app)
{
    std::string error;
    auto options = ParseSimOptions(app.options.args, error);
    if (!options)
        return UsageError("sim", error);
    if (!options->pty)
        return UsageError("sim",
            "without --pty there is nothing to serve: the in-process instrument is the port sim "
            "of the MIDI commands (--port sim, or --port \"sim OPTIONS...\"); --pty serves it on "
            "a pseudo-terminal");
    options->instrument.makerId = app.controller->GetServices().makerId;

    auto server = SimPtyServer::Create(*options, error);
    if (!server) {
        std::fprintf(stderr, "cardmill sim: %s\n", error.c_str());
        return kFailed;
    }
    server->OnWarning([](const std::string& message) {
        std::fprintf(stderr, "cardmill sim: %s\n", message.c_str());
    });
    std::printf("%s\n", server->Path().c_str());
    std::fflush(stdout);
    if (!server->Serve(gInterrupted, error)) {
        std::fprintf(stderr, "cardmill sim: %s\n", error.c_str());
        return kFailed;
    }
    return kSuccess;
}

} // namespace cardmill
