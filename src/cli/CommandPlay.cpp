// cardmill play: a voice as the card will play it, to the sound output or a WAV file.

#include "Cli.h"
#include "CommandOutput.h"
#include "ProjectCommands.h"
#include "PulseOutput.h"
#include "VoiceCommands.h"
#include "compiler/CardImageReader.h"
#include "compiler/MCompileEngine.h"
#include "compiler/VoicePlayer.h"
#include "model/CardInfoEdit.h"
#include "model/MCardmill.h"
#include "model/MProject.h"
#include "model/TextEncoding.h"
#include "model/TextFields.h"
#include "model/fit/WavWriter.h"
#include "model/instrument/KeyGroupEdit.h"
#include "platform/FileSystem.h"
#include "platform/ParseNumber.h"

#include <cstdio>

namespace cardmill {

namespace {

int Fail(const std::string& message)
{
    std::fprintf(stderr, "cardmill play: %s\n", message.c_str());
    return kFailed;
}

/// A group as the command line names groups: its token, or the name the card gives it.
std::optional<int> CardGroup(const CardContents& card, const std::string& text)
{
    if (const auto group = GroupOfToken(text); group && *group < 11)
        return group;
    std::optional<int> found;
    for (int g = 0; g < 11; ++g) {
        if (!card.groupNames[static_cast<std::size_t>(g)].empty()
            && EqualsIgnoringCase(card.groupNames[static_cast<std::size_t>(g)], text)) {
            if (found)
                return std::nullopt; // never the first of several
            found = g;
        }
    }
    return found;
}

std::optional<std::vector<int>> ParseKeys(const std::string& text)
{
    std::vector<int> keys;
    std::size_t from = 0;
    for (;;) {
        const std::size_t comma = text.find(',', from);
        const auto key = ParseKey(text.substr(from, comma - from));
        if (!key || *key > 127)
            return std::nullopt;
        keys.push_back(*key);
        if (comma == std::string::npos)
            return keys;
        from = comma + 1;
    }
}

std::string KeysText(const std::vector<NoteEvent>& events)
{
    std::string text;
    int shown = 0;
    for (const NoteEvent& e : events) {
        if (e.velocity == 0)
            continue;
        if (++shown > 12) {
            text += " ...";
            break;
        }
        text += (text.empty() ? "" : " ") + KeyName(e.key);
    }
    return text;
}

} // namespace

int CommandPlay(CliApp& app)
{
    const ParsedArgs args = ParseArgs(app.options.args,
        { "--card", "--keys", "--midi", "--velocity", "--hold", "-o", "--output" }, {});
    if (!args.error.empty())
        return UsageError("play", args.error);
    const auto cardPath = args.Get("--card");
    const std::size_t wanted = cardPath ? 2 : 3;
    if (args.rest.size() != wanted)
        return UsageError("play",
            cardPath ? "name a group and the voice's index in it: play --card CARD.img G INDEX"
                     : "name the project, a group and the voice's index in it: play "
                       "PROJECT.cmr G INDEX");
    if (args.Has("--keys") && args.Has("--midi"))
        return UsageError("play", "--keys and --midi can't be given together");
    const std::string& groupText = args.rest[wanted - 2];
    const std::string& indexText = args.rest[wanted - 1];

    int velocity = 127;
    if (const auto text = args.Get("--velocity")) {
        const auto value = ParseNumber(*text, 1, 127);
        if (!value)
            return UsageError("play", "--velocity takes a number from 1 to 127");
        velocity = static_cast<int>(*value);
    }
    double hold = 1.0;
    if (const auto text = args.Get("--hold")) {
        const auto value = ParseNumber(*text, 1, 60000);
        if (!value)
            return UsageError("play", "--hold takes the milliseconds each key is held, 1 to 60000");
        hold = static_cast<double>(*value) / 1000.0;
    }
    std::vector<NoteEvent> events;
    if (const auto text = args.Get("--keys")) {
        const auto keys = ParseKeys(*text);
        if (!keys)
            return UsageError(
                "play", "--keys takes keys separated by commas: numbers 0-127 or names such as C3");
        double at = 0;
        for (const int key : *keys) {
            events.push_back({ at, key, velocity });
            events.push_back({ at + hold, key, 0 });
            at += hold + VoicePlayer::kReleaseSeconds + 0.1;
        }
    }
    if (const auto midi = args.Get("--midi")) {
        const auto bytes = ReadWholeFile(*midi, 64u << 20);
        if (!bytes)
            return Fail("can't read the MIDI file '" + *midi + "'");
        std::string error;
        if (!ReadMidiNotes(*bytes, events, error))
            return Fail("'" + *midi + "': " + error);
        if (events.empty())
            return Fail("'" + *midi + "' plays no notes");
    }
    const auto output = args.Get("-o") ? args.Get("-o") : args.Get("--output");

    // The card as it will be: the image given, or the project compiled as `image` would.
    std::optional<std::vector<std::uint8_t>> image;
    std::vector<std::string> inputs;
    if (cardPath) {
        bool capture = false;
        image = ReadCard(app, *cardPath, true, capture);
        inputs.push_back(AbsolutePath(*cardPath));
    } else {
        if (!OpenProject(app, "play", args.rest[0], false))
            return kFailed;
        image = CompileToMemory(
            app.controller->Project(), app.link.CompileEngine(), app.progress, &gInterrupted);
        app.progress.Finish();
        inputs = FilesRead(app, args.rest[0]);
    }
    if (!image)
        return kFailed;
    std::string error;
    const auto card = ReadCardImage(*image, error);
    if (!card)
        return Fail(error);
    const auto group = CardGroup(*card, groupText);
    if (!group)
        return UsageError(
            "play", "no sound group '" + groupText + "' (k1-k8, d1-d3 or a group's name)");
    const auto index = ParseNumber(indexText, 1, 1000);
    if (!index)
        return UsageError("play", "INDEX takes the voice's number in its group, from 1");
    const CardVoice* voice = nullptr;
    int inGroup = 0;
    for (const CardVoice& v : card->voices) {
        if (v.group != *group)
            continue;
        ++inGroup;
        if (v.position == static_cast<int>(*index))
            voice = &v;
    }
    if (!voice)
        return Fail(Format("group %s has no voice %llu: %s", GroupToken(*group).c_str(),
            static_cast<unsigned long long>(*index),
            inGroup == 0
                ? "it is empty"
                : Format("it holds %d voice%s", inGroup, inGroup == 1 ? "" : "s").c_str()));

    VoicePlayer player(*image, *card, *voice);
    std::string keys = args.Has("--midi") ? "the notes of '" + *args.Get("--midi") + "'"
                                          : "keys " + KeysText(events);
    if (events.empty()) {
        events = PhraseAcross(player);
        keys = "a phrase across its key groups";
    }
    const auto frames = RenderEvents(player, events);
    const std::string what = Format("'%s' (%s, voice %d)", voice->name.c_str(),
        GroupToken(voice->group).c_str(), voice->position);

    if (output) {
        CommandOutput wav;
        int status = kSuccess;
        if (!wav.Prepare(
                app, "play", *output, inputs, { "a WAV file", "", { ".wav" }, true }, status))
            return status;
        SampleParams plain;
        plain.looping = 0;
        const auto bytes = BuildWav16(frames, 1, VoicePlayer::kRate, plain);
        if (!WriteFileAtomically(wav.Path(), bytes))
            return Fail("can't write '" + wav.Path() + "'");
        if (!wav.Deliver("play"))
            return kFailed;
        app.Inform(Format("Rendered %s, %s: %.1f seconds.", what.c_str(), keys.c_str(),
            static_cast<double>(frames.size()) / VoicePlayer::kRate));
        return app.Finish(true);
    }
    app.Inform("Playing " + what + ", " + keys + "...");
    if (!PlayOnSoundOutput(frames, VoicePlayer::kRate, gInterrupted, error))
        return Fail("no sound output to play on (" + error
            + "); -o OUT.wav writes what it would play to a file");
    return app.Finish(!gInterrupted);
}

} // namespace cardmill
