#include "Cli.h"
#include "Json.h"
#include "platform/MidiBackendAlsa.h"
#include "platform/MidiBackendRaw.h"
#include "synth/LinkPace.h"

#include <cstdio>

namespace cardmill {

namespace {

// The in-process virtual instrument is always there, and always listed last.
constexpr const char* kSimPort = "sim";

void PrintSide(const char* title, const std::vector<std::string>& ports, bool alsa)
{
    std::printf("%s:\n", title);
    if (!alsa)
        std::printf("  (%s)\n", MidiBackendAlsa::kNoSequencerMessage);
    for (const std::string& port : ports)
        std::printf("  %s\n", port.c_str());
}

} // namespace

int CommandPorts(CliApp& app)
{
    if (!app.options.args.empty())
        return UsageError("ports", "unexpected argument " + app.options.args.front());
    const MidiBackendAlsa sequencer;
    const bool alsa = sequencer.Available();
    std::vector<std::string> inputs = sequencer.InputNames();
    std::vector<std::string> outputs = sequencer.OutputNames();
    // Raw devices work in both directions, sequencer or not.
    for (const std::string& path : MidiBackendRaw::DevicePaths()) {
        inputs.push_back(path);
        outputs.push_back(path);
    }
    inputs.emplace_back(kSimPort);
    outputs.emplace_back(kSimPort);
    const auto paces = PortPaces(*app.settings).All();

    if (app.options.json) {
        JsonWriter json;
        json.BeginObject().Key("inputs").BeginArray();
        for (const std::string& port : inputs)
            json.String(port);
        json.EndArray().Key("outputs").BeginArray();
        for (const std::string& port : outputs)
            json.String(port);
        json.EndArray().Field("alsa", alsa).Key("paces").BeginObject();
        for (const auto& [port, pace] : paces)
            json.Field(port, static_cast<std::int64_t>(pace));
        json.EndObject().EndObject();
        std::fputs(json.Text().c_str(), stdout);
        return kSuccess;
    }
    PrintSide("MIDI inputs", inputs, alsa);
    PrintSide("MIDI outputs", outputs, alsa);
    std::printf("A raw MIDI device or a pty may also be given by path:\n"
                "  --port /dev/snd/midiC1D0, --port /dev/pts/7\n");
    if (!paces.empty()) {
        // Any port may be paced, listed now or not (a pty comes and goes).
        std::printf("Transfers start at the pace remembered for these ports (--pace 0 with the "
                    "port forgets it):\n");
        for (const auto& [port, pace] : paces)
            std::printf("  %s: %s\n", port.c_str(), LinkPace::Text(pace).c_str());
    }
    return kSuccess;
}

} // namespace cardmill
