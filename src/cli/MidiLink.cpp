#include "MidiLink.h"

#include "model/APrefs.h"
#include "platform/FileSystem.h"
#include "platform/MidiBackendAlsa.h"
#include "platform/MidiBackendRaw.h"
#include "sim/MidiBackendSim.h"
#include "sim/SimOptions.h"
#include "synth/LinkPace.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace cardmill {

namespace {

enum class PortKind { Sim, Device, Sequencer };

PortKind KindOf(const std::string& port)
{
    if (port == MidiBackendSim::kPortName
        || port.rfind(std::string(MidiBackendSim::kPortName) + " ", 0) == 0)
        return PortKind::Sim;
    if (port.find('/') != std::string::npos)
        return PortKind::Device;
    return PortKind::Sequencer;
}

/// Words split at blanks; quotes (single or double) keep blanks in a word.
std::vector<std::string> Words(const std::string& text)
{
    std::vector<std::string> words;
    std::string word;
    bool inWord = false;
    char quote = 0;
    for (const char c : text) {
        if (quote != 0) {
            if (c == quote)
                quote = 0;
            else
                word += c;
        } else if (c == '\'' || c == '"') {
            quote = c;
            inWord = true;
        } else if (std::isspace(static_cast<unsigned char>(c))) {
            if (inWord)
                words.push_back(word);
            word.clear();
            inWord = false;
        } else {
            word += c;
            inWord = true;
        }
    }
    if (inWord)
        words.push_back(word);
    return words;
}

std::string Lower(std::string text)
{
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

/// The port whose name is `wanted`, or the only one whose name holds it (case aside); -1 with
/// `error` set otherwise.
int FindPort(const std::vector<std::string>& names, const std::string& wanted, std::string& error)
{
    for (std::size_t i = 0; i < names.size(); ++i)
        if (names[i] == wanted)
            return static_cast<int>(i);
    std::vector<std::size_t> matches;
    for (std::size_t i = 0; i < names.size(); ++i)
        if (Lower(names[i]).find(Lower(wanted)) != std::string::npos)
            matches.push_back(i);
    if (matches.size() == 1)
        return static_cast<int>(matches.front());
    error = matches.empty() ? "there is no MIDI port '" + wanted + "'"
                            : "'" + wanted + "' names more than one MIDI port:";
    for (const std::size_t i : matches)
        error += "\n  " + names[i];
    return -1;
}

bool Refuse(const std::string& command, const std::string& message, int& status, int code)
{
    std::fprintf(stderr, "cardmill %s: %s\n", command.c_str(), message.c_str());
    status = code;
    return false;
}

} // namespace

bool OpenMidiLink(
    CliApp& app, const std::string& command, const ParsedArgs& args, MidiLink& link, int& status)
{
    // Refused before any port is opened, as any other usage error.
    if (const auto asked = args.Get("--pace")) {
        std::string error;
        if (!LinkPace::Parse(*asked, error)) {
            status = UsageError(command, error);
            return false;
        }
    }
    const auto port = args.Get("--port");
    std::string input = args.Get("--in").value_or(port.value_or(""));
    std::string output = args.Get("--out").value_or(port.value_or(""));
    const bool named = port || args.Has("--in") || args.Has("--out");
    if (!named) {
        const APrefs& prefs = app.controller->Prefs();
        input = prefs.midiInputPort;
        output = prefs.midiOutputPort;
    }
    const PortKind inKind = KindOf(input);
    const PortKind outKind = KindOf(output);
    const std::string advice = "see 'cardmill ports' and 'cardmill " + command + " --help'";
    // A file named by mistake is refused before anything opens it: SysEx written into a sound
    // or a project would destroy it.
    for (const std::string& name : { input, output }) {
        const auto file = KindOf(name) == PortKind::Sim ? std::nullopt : StatFile(name);
        if (file && (file->regular || file->directory))
            return Refuse(command,
                "'" + name + "' is not a MIDI port but a " + (file->regular ? "file" : "folder")
                    + " (" + advice + ")",
                status, kUsage);
    }

    if (inKind == PortKind::Sim || outKind == PortKind::Sim) {
        if (input != output)
            return Refuse(command,
                "the virtual instrument answers on its own output: name it for both directions "
                "with --port sim",
                status, kUsage);
        std::vector<std::string> words = Words(input);
        words.erase(words.begin());
        std::string error;
        auto options = ParseSimOptions(words, error, SimPlace::InProcess);
        if (!options)
            return Refuse(command, "--port sim: " + error, status, kUsage);
        options->instrument.makerId = app.controller->GetServices().makerId;
        auto sim = MidiBackendSim::Create(*options, error);
        if (!sim)
            return Refuse(command, error, status, kFailed);
        link.sim = sim.get();
        link.backend = std::move(sim);
    } else if (inKind == PortKind::Device || outKind == PortKind::Device) {
        if (input != output)
            return Refuse(command,
                "a raw MIDI device serves both directions: name it once with --port", status,
                kUsage);
        link.backend = std::make_unique<MidiBackendRaw>(input);
    } else {
        auto sequencer = std::make_unique<MidiBackendAlsa>();
        if (!sequencer->Available()) {
            const std::string why = std::string(MidiBackendAlsa::kNoSequencerMessage);
            return Refuse(command,
                named ? why + " for the port '" + input
                        + "': name a raw MIDI device by its path, or sim (" + advice + ")"
                      : why
                        + ", and no other port is chosen: name the instrument's port with --port "
                          "(a raw MIDI device such as /dev/snd/midiC1D0, or sim for the virtual "
                          "instrument; "
                        + advice + ")",
                status, kFailed);
        }
        int inIndex = 0;
        int outIndex = 0;
        if (named) {
            std::string error;
            inIndex = FindPort(sequencer->InputNames(), input, error);
            if (inIndex >= 0)
                outIndex = FindPort(sequencer->OutputNames(), output, error);
            if (inIndex < 0 || outIndex < 0)
                return Refuse(command, error + "\n(" + advice + ")", status, kUsage);
        }
        link.backend = std::move(sequencer);
        link.midi = std::make_unique<AMidi>(*link.backend, app.clock);
        if (named) {
            link.midi->OpenDevices(inIndex, outIndex);
        } else {
            // As the desktop application starts: the stored names, else the first ports.
            APrefs& prefs = app.controller->Prefs();
            std::string in = prefs.midiInputPort;
            std::string out = prefs.midiOutputPort;
            link.midi->StartUp(in, out);
        }
    }
    if (!link.midi) {
        link.midi = std::make_unique<AMidi>(*link.backend, app.clock);
        link.midi->OpenDevices(0, 0);
    }
    // The in-process instrument's options make another link of it: a pace one of them needed
    // says nothing about the others.
    link.paceKey = link.sim ? input : link.midi->OutputName();
    link.handler = std::make_unique<MZeltaSysexHandler>(app.controller->GetServices().makerId);
    return true;
}

bool PaceMidiLink(CliApp& app, const std::string& command, const ParsedArgs& args, MidiLink& link,
    AProgressDialog& dialog, int& status)
{
    PortPaces paces(*app.settings);
    std::uint32_t pace = LinkPace::kFullSpeed;
    if (const auto asked = args.Get("--pace")) {
        std::string error;
        const auto parsed = LinkPace::Parse(*asked, error);
        if (!parsed) {
            status = UsageError(command, error);
            return false;
        }
        pace = *parsed;
        if (!link.paceKey.empty() && !paces.Remember(link.paceKey, pace))
            app.Inform("cardmill " + command + ": the pace can't be remembered for the port "
                + link.paceKey + ": the settings file can't be written.");
    } else if (!link.paceKey.empty()) {
        pace = paces.Find(link.paceKey).value_or(LinkPace::kFullSpeed);
    }
    link.midi->SetPace(pace);
    dialog.OnPaceLearned([&app, command, key = link.paceKey](std::uint32_t learned) {
        if (!key.empty() && !PortPaces(*app.settings).Remember(key, learned))
            app.Inform("cardmill " + command + ": the pace can't be remembered for the port " + key
                + ": the settings file can't be written.");
    });
    return true;
}

bool CloseMidiLink(MidiLink& link)
{
    if (link.midi)
        link.midi->Close();
    if (!link.sim)
        return true;
    std::string error;
    if (link.sim->SaveCard(error))
        return true;
    std::fprintf(stderr, "cardmill: %s\n", error.c_str());
    return false;
}

} // namespace cardmill
