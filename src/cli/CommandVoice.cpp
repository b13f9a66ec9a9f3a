// The commands that change what the information dialogs change: a voice's name and key groups,
// and a sample's settings.

#include "Json.h"
#include "ProjectCommands.h"
#include "VoiceCommands.h"
#include "model/MProject.h"
#include "model/TextFields.h"
#include "model/instrument/KeyGroupEdit.h"
#include "model/instrument/MInstFileInstrument.h"
#include "model/sound/MSoundFile.h"
#include "model/sound/SampleEdit.h"
#include "platform/ParseNumber.h"

#include <cctype>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

namespace cardmill {

namespace {

int Fail(const std::string& command, const std::string& message)
{
    std::fprintf(stderr, "cardmill %s: %s\n", command.c_str(), message.c_str());
    return kFailed;
}

/// The voice at INDEX (from 1) of sound group G of the open project, with `where` naming it as
/// `remove` does; or nothing with `status` set (told why).
MInstFile* FindVoice(CliApp& app, const std::string& command, const std::string& groupText,
    const std::string& indexText, std::string& where, int& status)
{
    MProject& project = app.controller->Project();
    std::string error;
    const auto group = ParseGroup(project, groupText, error);
    if (!group || *group >= MProject::kSoundGroups) {
        status = UsageError(command,
            group ? "no sound group '" + groupText + "' (k1-k8, d1-d3 or a group's name)" : error);
        return nullptr;
    }
    const int capacity = project.GetCapacity(*group);
    const auto index = ParseNumber(indexText, 1, static_cast<std::uint64_t>(capacity));
    if (!index) {
        status = UsageError(command,
            Format("INDEX takes a number from 1 to %d in group '%s'", capacity, groupText.c_str()));
        return nullptr;
    }
    auto* voice = dynamic_cast<MInstFile*>(project.GetItem(*group, static_cast<int>(*index - 1)));
    if (!voice) {
        status = Fail(command, NoFileMessage(project, *group, groupText, *index));
        return nullptr;
    }
    where = ItemWhere(project, *group, static_cast<int>(*index - 1));
    return voice;
}

/// The key groups of an instrument as ranges of note names: "C-2..B2 C3..G8".
std::string KeyGroupsText(MInstFile& voice)
{
    std::string text;
    if (const std::uint8_t* keys = voice.UpperKeys()) {
        int lower = 0;
        for (int g = 0; g < voice.GroupCount(); ++g) {
            if (g)
                text += ' ';
            text += KeyName(lower);
            if (keys[g] > lower)
                text += ".." + KeyName(keys[g]);
            lower = keys[g] + 1;
        }
    }
    return text;
}

/// The settings `sample` changes, each named and shown as the user types them.
std::vector<std::pair<const char*, std::string>> SampleSettings(const MSoundFile& sample)
{
    const SampleParams& params = sample.Params();
    std::vector<std::pair<const char*, std::string>> settings {
        { "root key", KeyName(params.rootKey) },
        { "volume", std::to_string(VolumeByte(params.volume)) },
        { "start frame", std::to_string(params.startFrame) },
        { "loop",
            params.looping ? std::to_string(params.loopStart) + "-" + std::to_string(params.loopEnd)
                           : "off" },
        { "smoothing", sample.GetSmoothing() ? "on" : "off" },
    };
    if (sample.ChannelCount() == 2)
        settings.emplace_back("channel", ChannelName(sample.GetChannel()));
    return settings;
}

/// "Changed WHAT: the root key from C3 to F#2, ..." for the settings that differ, or that
/// nothing did.
std::string ChangedText(const std::string& what,
    const std::vector<std::pair<const char*, std::string>>& before,
    const std::vector<std::pair<const char*, std::string>>& after)
{
    std::string changes;
    for (std::size_t i = 0; i < before.size() && i < after.size(); ++i) {
        if (before[i].second == after[i].second)
            continue;
        changes += changes.empty() ? ": the " : "; the ";
        changes += std::string(before[i].first) + " from " + before[i].second + " to "
            + after[i].second;
    }
    if (changes.empty())
        return "Nothing changed in " + what + ": it has those settings already.";
    return "Changed " + what + changes + ".";
}

} // namespace

std::optional<int> ParseKey(const std::string& text)
{
    constexpr int kHighestListed = 131; // B8: the end of the note and octave lists
    if (const auto number = ParseNumber(text, 0, 999))
        return static_cast<int>(*number);
    if (text.empty())
        return std::nullopt;
    static constexpr int kSteps[] = { 9, 11, 0, 2, 4, 5, 7 }; // A to G
    const char letter = static_cast<char>(std::toupper(static_cast<unsigned char>(text[0])));
    if (letter < 'A' || letter > 'G')
        return std::nullopt;
    int note = kSteps[letter - 'A'];
    std::size_t at = 1;
    if (at < text.size() && (text[at] == '#' || text[at] == 'b')) {
        note += text[at] == '#' ? 1 : -1;
        ++at;
    }
    bool negative = false;
    if (at < text.size() && text[at] == '-') {
        negative = true;
        ++at;
    }
    const auto octave = ParseNumber(std::string_view(text).substr(at), 0, 8);
    if (!octave || (negative && *octave > 2))
        return std::nullopt;
    const int key = (static_cast<int>(*octave) * (negative ? -1 : 1) + 2) * 12 + note;
    if (key < 0 || key > kHighestListed)
        return std::nullopt;
    return key;
}

std::optional<std::vector<int>> ParseKeyList(const std::string& text)
{
    std::vector<int> keys;
    std::size_t from = 0;
    while (true) {
        const auto comma = text.find(',', from);
        const auto key
            = ParseKey(text.substr(from, comma == std::string::npos ? comma : comma - from));
        if (!key)
            return std::nullopt;
        keys.push_back(*key);
        if (comma == std::string::npos)
            return keys.back() == KeyGroupEdit::kHighestKey ? std::optional(keys) : std::nullopt;
        from = comma + 1;
    }
}

const char* ChannelName(std::uint16_t channel)
{
    return channel == 1 ? "left" : channel == 2 ? "right" : "mix";
}

void WriteVoiceJson(JsonWriter& json, MInstFile& voice)
{
    const auto samples = voice.Samples();
    json.Field("stereo", voice.IsStereo());
    json.Field(
        "channel", ChannelName(samples.empty() ? voice.GetChannel() : samples[0]->GetChannel()));
    if (const std::uint8_t* keys = voice.UpperKeys()) {
        json.Key("upperKeys").BeginArray();
        for (int g = 0; g < voice.GroupCount(); ++g)
            json.Number(keys[g]);
        json.EndArray();
    }
    json.Key("samples").BeginArray();
    for (const MSoundFile* sample : samples) {
        const SampleParams& params = sample->Params();
        json.BeginObject()
            .Field("file", sample->GetFileName())
            .PathField("path", sample->GetPath())
            .Field("rate", static_cast<std::int64_t>(sample->SampleRate()))
            .Field("frames", sample->GetFrameCount())
            .Field("channel", ChannelName(sample->GetChannel()))
            .Field("rootKey", params.rootKey)
            .Field("fineTune", params.fineTune)
            .Field("volume", VolumeByte(params.volume))
            .Field("startFrame", params.startFrame)
            .Field("looping", params.looping != 0)
            .Field("loopStart", params.loopStart)
            .Field("loopEnd", params.loopEnd)
            .Field("smoothing", sample->GetSmoothing() != 0)
            .EndObject();
    }
    json.EndArray();
}

std::string VoiceSummary(MInstFile& voice)
{
    const auto samples = voice.Samples();
    std::string line = std::string("channel ")
        + ChannelName(samples.empty() ? voice.GetChannel() : samples[0]->GetChannel());
    if (voice.UpperKeys())
        line += ", keys " + KeyGroupsText(voice);
    return line;
}

int CommandVoice(CliApp& app)
{
    const ParsedArgs args = ParseArgs(app.options.args, { "--name", "--keys", "--lower" }, {});
    if (!args.error.empty())
        return UsageError("voice", args.error);
    if (args.rest.size() != 3)
        return UsageError("voice", "name the project, a group and the voice's index in it");
    const auto typedName = args.Get("--name");
    const auto keysText = args.Get("--keys");
    // --lower GROUP=KEY: a group's lower key, as chosen in Voice Info's Lower Key lists.
    std::vector<std::pair<int, int>> lowers;
    for (const std::string& assignment : args.All("--lower")) {
        const auto equals = assignment.find('=');
        const auto group = equals == std::string::npos
            ? std::nullopt
            : ParseNumber(assignment.substr(0, equals), 2, KeyGroupEdit::kMaxGroups);
        const auto key
            = equals == std::string::npos ? std::nullopt : ParseKey(assignment.substr(equals + 1));
        if (!group || !key)
            return UsageError("voice",
                "--lower takes GROUP=KEY: a key group from 2 (the first starts at C-2) and a "
                "note number 0-127 or a name such as C3");
        lowers.emplace_back(static_cast<int>(*group) - 1, *key);
    }
    if (!typedName && !keysText && lowers.empty())
        return UsageError("voice", "nothing to change: give --name, --keys or --lower");
    std::optional<std::vector<int>> keys;
    if (keysText) {
        keys = ParseKeyList(*keysText);
        if (!keys)
            return UsageError("voice",
                "--keys takes the upper key of every key group, separated by commas, the last "
                "127 (numbers 0-127 or note names such as C3)");
    }
    if (!OpenProject(app, "voice", args.rest[0], true))
        return kFailed;
    int status = kSuccess;
    std::string where;
    MInstFile* voice = FindVoice(app, "voice", args.rest[1], args.rest[2], where, status);
    if (!voice)
        return status;
    const auto settings = [](MInstFile& item) {
        return std::vector<std::pair<const char*, std::string>> {
            { "name", "'" + item.GetShortName() + "'" }, { "key groups", KeyGroupsText(item) }
        };
    };
    const auto before = settings(*voice);

    std::string name = voice->GetShortName();
    if (typedName) {
        if (!CheckVoiceName(*typedName, app.prompter))
            return app.Finish(false);
        const auto card = AcceptTyped(app, *typedName, "voice name");
        if (!card)
            return app.Finish(false);
        if (card->size() > 10)
            return UsageError("voice", "a voice name holds at most 10 characters");
        name = *card;
    }

    auto* instrument = dynamic_cast<MInstFileInstrument*>(voice);
    std::optional<KeyGroupEdit> edit;
    if (keys || !lowers.empty()) {
        if (!instrument)
            return Fail("voice",
                "a sound file is one key group over the whole keyboard; only an instrument's "
                "key groups can be changed");
        edit.emplace(instrument->UpperKeys(), instrument->GroupCount());
    }
    if (keys) {
        if (keys->size() != static_cast<std::size_t>(edit->GroupCount()))
            return UsageError("voice",
                Format("the instrument has %d key group%s: --keys takes %d upper key%s",
                    edit->GroupCount(), edit->GroupCount() == 1 ? "" : "s", edit->GroupCount(),
                    edit->GroupCount() == 1 ? "" : "s"));
        for (int g = 0; g < edit->GroupCount(); ++g) {
            if (edit->Apply(g, edit->Lower(g), (*keys)[static_cast<std::size_t>(g)], app.prompter)
                == KeyGroupEdit::Outcome::Refused)
                return Fail("voice",
                    Format("key group %d is refused; the project is left as it was", g + 1));
        }
    }
    for (const auto& [group, lower] : lowers) {
        if (group >= edit->GroupCount())
            return UsageError(
                "voice", Format("the instrument has %d key groups", edit->GroupCount()));
        if (edit->Apply(group, lower, edit->Upper(group), app.prompter)
            == KeyGroupEdit::Outcome::Refused)
            return Fail("voice",
                Format("key group %d is refused; the project is left as it was", group + 1));
    }

    voice->SetShortName(name);
    if (edit)
        instrument->SetUpperKeys(edit->Keys());
    MarkEdited(*voice, app.controller->Project(), app.clock);
    if (!SaveProject(app))
        return app.Finish(false);
    app.Inform(ChangedText(where, before, settings(*voice)));
    return app.Finish(true);
}

int CommandSample(CliApp& app)
{
    const ParsedArgs args = ParseArgs(app.options.args,
        { "--sample", "--root", "--volume", "--start", "--loop", "--smooth", "--channel" }, {});
    if (!args.error.empty())
        return UsageError("sample", args.error);
    if (args.rest.size() != 3)
        return UsageError("sample", "name the project, a group and the voice's index in it");
    if (args.options.empty() || (args.options.size() == 1 && args.Has("--sample")))
        return UsageError("sample",
            "nothing to change: give --root, --volume, --start, --loop, --smooth or --channel");

    // Every option is understood before the project is touched.
    std::optional<int> root;
    if (const auto text = args.Get("--root")) {
        root = ParseKey(*text);
        if (!root)
            return UsageError("sample", "--root takes a note number 0-127 or a name such as C3");
    }
    std::optional<std::uint64_t> volume, start, loopStart;
    bool loopOff = false;
    for (auto [option, value] :
        { std::pair { "--volume", &volume }, std::pair { "--start", &start } }) {
        if (const auto text = args.Get(option)) {
            *value = ParseNumber(*text, 0, UINT32_MAX);
            if (!*value)
                return UsageError("sample", std::string(option) + " takes a whole number");
        }
    }
    if (const auto text = args.Get("--loop")) {
        loopOff = *text == "off";
        if (!loopOff) {
            loopStart = ParseNumber(*text, 0, UINT32_MAX);
            if (!loopStart)
                return UsageError("sample", "--loop takes the loop start frame, or off");
        }
    }
    std::optional<bool> smooth;
    if (const auto text = args.Get("--smooth")) {
        if (*text != "on" && *text != "off")
            return UsageError("sample", "--smooth takes on or off");
        smooth = *text == "on";
    }
    std::optional<std::uint16_t> channel;
    if (const auto text = args.Get("--channel")) {
        for (std::uint16_t c = 0; c <= 2; ++c)
            if (*text == ChannelName(c))
                channel = c;
        if (!channel)
            return UsageError("sample", "--channel takes left, mix or right");
    }

    if (!OpenProject(app, "sample", args.rest[0], true))
        return kFailed;
    int status = kSuccess;
    std::string where;
    MInstFile* voice = FindVoice(app, "sample", args.rest[1], args.rest[2], where, status);
    if (!voice)
        return status;
    const auto samples = voice->Samples();
    std::uint64_t which = 1;
    if (const auto text = args.Get("--sample")) {
        const auto parsed = ParseNumber(*text, 1, samples.size());
        if (!parsed)
            return UsageError("sample",
                Format("--sample takes a number from 1 to %zu for this voice", samples.size()));
        which = *parsed;
    }
    if (samples.empty())
        return Fail("sample", "the voice has no sample");
    MSoundFile& sample = *samples[which - 1];
    // A sound file is its own one sample: it is named once.
    if (&sample != voice)
        where = Format("sample %llu ('%s') of ", static_cast<unsigned long long>(which),
                    sample.GetFileName().c_str())
            + where;
    const auto before = SampleSettings(sample);

    SampleEdit edit(sample);
    if (root && !edit.ChooseRoot(*root, app.prompter))
        return app.Finish(false);
    if (smooth)
        edit.smoothing = *smooth;
    if (channel) {
        if (sample.ChannelCount() != 2)
            return Fail("sample", "the channel is chosen only for a stereo sample");
        edit.channel = *channel;
    }
    if (loopOff)
        edit.looping = false;
    if (loopStart) {
        edit.looping = true;
        edit.loopStart = static_cast<std::int64_t>(*loopStart);
    }
    if (start)
        edit.startFrame = static_cast<std::int64_t>(*start);
    if (volume)
        edit.volume = static_cast<std::int64_t>(*volume);
    bool contentChanged = false;
    if (!edit.Apply(app.prompter, contentChanged))
        return app.Finish(false);
    voice->UpdateCompiledSize();
    MarkEdited(*voice, app.controller->Project(), app.clock);
    if (!SaveProject(app))
        return app.Finish(false);
    app.Inform(ChangedText(where, before, SampleSettings(sample)));
    return app.Finish(true);
}

} // namespace cardmill
