#pragma once

#include "Cli.h"
#include "platform/MidiBackend.h"
#include "synth/AMidi.h"
#include "synth/AProgressDialog.h"
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
    /// The name the output's pace is remembered under: the port's name or path, or for the
    /// in-process instrument the whole --port word with its options.
    std::string paceKey;
};

/// The options every MIDI command takes, for ParseArgs.
inline const std::vector<std::string> kPortOptions { "--port", "--in", "--out", "--pace" };

/// Opens the ports; false when they can't be (the reason told), with `status` the exit status.
/// Ports that exist but fail to open are left closed: the operation's own check then tells the
/// user why, in its words.
bool OpenMidiLink(
    CliApp& app, const std::string& command, const ParsedArgs& args, MidiLink& link, int& status);

/// Sets the pace the run starts at: --pace (then remembered for the port; 0 forgets), else the
/// one remembered for the port, else full speed; and has a lowered pace that worked remembered.
/// False (told) for a --pace that is no pace, with `status` the exit status.
bool PaceMidiLink(CliApp& app, const std::string& command, const ParsedArgs& args, MidiLink& link,
    AProgressDialog& dialog, int& status);

/// Ends the link; the in-process instrument keeps its card. False (told) when that failed.
bool CloseMidiLink(MidiLink& link);

} // namespace cardmill
