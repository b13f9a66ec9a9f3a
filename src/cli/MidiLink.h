#pragma once

#include "Cli.h"
#include "platform/MidiBackend.h"
#include "synth/AMidi.h"
#include "synth/MZeltaSysexHandler.h"

#include <memory>
#include <string>

namespace cardmill {

class MidiBackendSim;

/// The MIDI ports of one command: the back-end that --port (or --in and --out, or the
/// preferences) names, opened, with the protocol handler for the run's maker identifier.
struct MidiLink {
    std::unique_ptr<MidiBackend> backend;
    std::unique_ptr<AMidi> midi;
    std::unique_ptr<MZeltaSysexHandler> handler;
    /// The in-process virtual instrument, when that is the port.
    MidiBackendSim* sim = nullptr;
};

/// The options every MIDI command takes, for ParseArgs.
inline const std::vector<std::string> kPortOptions { "--port", "--in", "--out" };

/// Opens the ports; false when they can't be (the reason told), with `status` the exit status.
/// Ports that exist but fail to open are left closed: the operation's own check then tells the
/// user why, in its words.
bool OpenMidiLink(
    CliApp& app, const std::string& command, const ParsedArgs& args, MidiLink& link, int& status);

/// Ends the link; the in-process instrument keeps its card. False (told) when that failed.
bool CloseMidiLink(MidiLink& link);

} // namespace cardmill
