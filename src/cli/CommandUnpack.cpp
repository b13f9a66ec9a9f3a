// unpack and the card image's part of info: a card image (or a captured transfer) read back.

#include "Cli.h"
#include "Json.h"
#include "compiler/CardImageReader.h"
#include "compiler/CardUnpacker.h"
#include "model/MCardmill.h"
#include "model/MProject.h"
#include "model/Services.h"
#include "model/TextEncoding.h"
#include "model/TextFields.h"
#include "platform/FileSystem.h"
#include "synth/CaptureReader.h"

#include <cstdio>

namespace cardmill {

namespace {

/// The first bytes of a file (all of a shorter one); nothing when it can't be read.
std::optional<std::vector<std::uint8_t>> ReadFileHead(const std::string& path, std::size_t count)
{
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file)
        return std::nullopt;
    std::vector<std::uint8_t> bytes(count);
    bytes.resize(std::fread(bytes.data(), 1, count, file));
    std::fclose(file);
    return bytes;
}

const char* const kGroupWords[]
    = { "k1", "k2", "k3", "k4", "k5", "k6", "k7", "k8", "d1", "d2", "d3" };

std::string NoteName(int key)
{
    static const char* const kNames[]
        = { "C", "C#", "D", "D#", "E", "F", "F#", "G", "G#", "A", "A#", "B" };
    return std::string(kNames[key % 12]) + std::to_string(key / 12 - 2);
}

/// The lowest key of each key group, from the upper keys.
int LowerKey(const CardVoice& voice, std::size_t group)
{
    return group == 0 ? 0 : voice.upperKeys[group - 1] + 1;
}

std::string CsvField(const std::string& text)
{
    if (text.find_first_of(",\"\n") == std::string::npos)
        return text;
    std::string out = "\"";
    for (const char c : text)
        out += c == '"' ? std::string("\"\"") : std::string(1, c);
    return out + "\"";
}

struct SampleLine {
    SampleTuning tuning;
    std::uint32_t frames = 0;
};

SampleLine LineOf(const CardContents& card, const CardSample& sample)
{
    SampleLine line;
    line.tuning = TuningOfPitchWord(sample.pitchWord);
    if (sample.region >= 0)
        line.frames = card.regions[std::size_t(sample.region)].frames;
    return line;
}

std::uint64_t FreeBytes(const CardContents& card)
{
    const std::uint64_t size = MProject::CardSizeBytes(CardSizeTokenFor(card.imageBytes));
    return size - card.imageBytes;
}

void PrintCardText(const std::string& path, const CardContents& card)
{
    std::printf("%s: card image\n", path.c_str());
    std::printf("  Card name:       %s\n", DisplayText(card.cardName).c_str());
    std::printf("  Version:         %s\n", DisplayText(card.version).c_str());
    std::printf("  Target:          %s\n",
        !card.target             ? "not said (no bank or sequences)"
            : *card.target == 25 ? "Percula"
                                 : "Zelta Synthesizer");
    std::printf("  Size:            %zu bytes (fits %s, %llu bytes free)\n", card.imageBytes,
        MProject::CardSizeText(CardSizeTokenFor(card.imageBytes)).c_str(),
        static_cast<unsigned long long>(FreeBytes(card)));
    std::printf("  Voices:          %zu, sample data %llu bytes in %zu sound files\n",
        card.voices.size(), static_cast<unsigned long long>(card.sampleDataBytes),
        card.regions.size());
    for (const CardVoice& voice : card.voices) {
        const std::string& group = card.groupNames[std::size_t(voice.group)];
        std::printf("  %s%s%s %3d  %-10s", kGroupWords[voice.group], group.empty() ? "" : " ",
            DisplayText(group).c_str(), voice.position, DisplayText(voice.name).c_str());
        if (voice.isSound)
            std::printf("  sound\n");
        else
            std::printf("  instrument, %d key group%s of %d layer%s\n", voice.groupCount,
                voice.groupCount == 1 ? "" : "s", voice.groupSize, voice.groupSize == 1 ? "" : "s");
        for (std::size_t k = 0; k < voice.samples.size(); ++k) {
            const CardSample& sample = voice.samples[k];
            const SampleLine line = LineOf(card, sample);
            std::string keys;
            if (!voice.upperKeys.empty()) {
                const std::size_t g = k / std::size_t(voice.groupSize);
                keys = NoteName(LowerKey(voice, g)) + "-" + NoteName(voice.upperKeys[g]) + " ";
            }
            std::printf("      %s%u frames, root %s, fine %d, %u Hz, start %u, loop %s\n",
                keys.c_str(), line.frames, NoteName(line.tuning.rootKey).c_str(),
                line.tuning.fineTune, line.tuning.rate, sample.startFrame,
                sample.looping ? Format("%u-%u", sample.loopStart, sample.loopEnd).c_str() : "off");
        }
    }
    for (std::size_t i = 0; i < card.sequences.size(); ++i)
        std::printf("  Sequence %zu:      %zu bytes%s\n", i + 1, card.sequences[i].data.size(),
            card.sequences[i].outPort ? ", via out port" : "");
    if (card.bank)
        std::printf("  Bank:            %s program bank\n",
            card.bank->family == 0x19 ? "Percula" : "Zelta");
    for (const std::string& sentence : card.notExact)
        std::printf("  Note:            %s\n", sentence.c_str());
}

void PrintCardJson(JsonWriter& json, const std::string& path, const CardContents& card)
{
    json.BeginObject();
    json.PathField("path", path).Field("kind", "card image");
    json.Field("cardName", card.cardName).Field("version", card.version);
    if (card.target)
        json.Field("target", *card.target);
    json.Field("imageBytes", card.imageBytes);
    json.Field("cardSize", MProject::CardSizeText(CardSizeTokenFor(card.imageBytes)));
    json.Field("freeBytes", FreeBytes(card));
    json.Field("sampleDataBytes", card.sampleDataBytes);
    json.Key("groupNames").BeginArray();
    for (const std::string& name : card.groupNames)
        json.String(name);
    json.EndArray();
    json.Key("voices").BeginArray();
    for (const CardVoice& voice : card.voices) {
        json.BeginObject();
        json.Field("group", voice.group).Field("position", voice.position);
        json.Field("name", voice.name).Field("sound", voice.isSound);
        json.Field("groupCount", voice.groupCount).Field("groupSize", voice.groupSize);
        if (!voice.upperKeys.empty()) {
            json.Key("upperKeys").BeginArray();
            for (const std::uint8_t key : voice.upperKeys)
                json.Number(key);
            json.EndArray();
        }
        json.Key("samples").BeginArray();
        for (const CardSample& sample : voice.samples) {
            const SampleLine line = LineOf(card, sample);
            json.BeginObject();
            json.Field("file", sample.region).Field("frames", line.frames);
            json.Field("rate", line.tuning.rate).Field("rootKey", line.tuning.rootKey);
            json.Field("fineTune", line.tuning.fineTune).Field("pitchWord", sample.pitchWord);
            json.Field("volume", sample.volumeByte).Field("startFrame", sample.startFrame);
            json.Field("looping", sample.looping);
            json.Field("loopStart", sample.loopStart).Field("loopEnd", sample.loopEnd);
            json.EndObject();
        }
        json.EndArray();
        json.EndObject();
    }
    json.EndArray();
    json.Key("sequences").BeginArray();
    for (const CardSequence& sequence : card.sequences)
        json.BeginObject()
            .Field("offset", sequence.offset)
            .Field("bytes", sequence.data.size())
            .Field("outPort", sequence.outPort)
            .EndObject();
    json.EndArray();
    json.Key("banks").BeginArray();
    if (card.bank)
        json.BeginObject()
            .Field("family", card.bank->family)
            .Field("offset", card.bank->offset)
            .EndObject();
    json.EndArray();
    json.Key("notExact").BeginArray();
    for (const std::string& sentence : card.notExact)
        json.String(sentence);
    json.EndArray();
    json.EndObject();
}

void PrintCardCsv(const CardContents& card)
{
    std::printf("group,position,voice,key group,layer,lower key,upper key,frames,rate,root key,"
                "fine tune,volume,start,looping,loop start,loop end\n");
    for (const CardVoice& voice : card.voices) {
        for (std::size_t k = 0; k < voice.samples.size(); ++k) {
            const CardSample& sample = voice.samples[k];
            const SampleLine line = LineOf(card, sample);
            const std::size_t g = k / std::size_t(voice.groupSize);
            const int lower = voice.upperKeys.empty() ? 0 : LowerKey(voice, g);
            const int upper = voice.upperKeys.empty() ? 127 : voice.upperKeys[g];
            std::printf("%s,%d,%s,%zu,%zu,%d,%d,%u,%u,%u,%d,%u,%u,%d,%u,%u\n",
                kGroupWords[voice.group], voice.position, CsvField(voice.name).c_str(), g + 1,
                k % std::size_t(voice.groupSize) + 1, lower, upper, line.frames, line.tuning.rate,
                unsigned { line.tuning.rootKey }, line.tuning.fineTune,
                unsigned { sample.volumeByte }, sample.startFrame, sample.looping ? 1 : 0,
                sample.loopStart, sample.loopEnd);
        }
    }
}

} // namespace

std::optional<std::vector<std::uint8_t>> ReadCard(
    CliApp& app, const std::string& path, bool acceptHoles, bool& wasCapture)
{
    std::string error;
    auto file = ReadCardFile(path, app.controller->GetServices().makerId, error);
    if (!file) {
        std::fprintf(stderr, "cardmill: %s\n", error.c_str());
        return std::nullopt;
    }
    wasCapture = file->wasCapture;
    for (const std::string& note : file->notes)
        app.Inform(note);
    if (!file->holes.empty()) {
        if (!acceptHoles) {
            std::fprintf(stderr,
                "cardmill: %s  Nothing is unpacked from a card with holes "
                "(--yes takes it as it is).\n",
                file->holes.c_str());
            return std::nullopt;
        }
        app.Inform(file->holes);
    }
    return std::move(file->image);
}

bool DescribeCardImage(
    CliApp& app, const std::string& path, JsonWriter* json, bool csv, bool& failed)
{
    std::string error;
    if (const auto status = StatFile(path); !status || !status->regular)
        return false;
    const auto head = ReadFileHead(path, 65536 + 8);
    if (!head || (!LooksLikeCardImage(*head) && !LooksLikeCapture(*head)))
        return false;
    bool capture = false;
    const auto bytes = ReadCard(app, path, true, capture);
    const auto card = bytes ? ReadCardImage(*bytes, error) : std::nullopt;
    if (!card) {
        failed = true;
        if (bytes) {
            if (json)
                json->BeginObject().PathField("path", path).Field("error", error).EndObject();
            else
                std::fprintf(stderr, "%s: %s\n", path.c_str(), error.c_str());
        }
        return true;
    }
    if (csv)
        PrintCardCsv(*card);
    else if (json)
        PrintCardJson(*json, path, *card);
    else
        PrintCardText(path, *card);
    return true;
}

int CommandUnpack(CliApp& app)
{
    const ParsedArgs args = ParseArgs(app.options.args, { "-o", "--output" }, {});
    if (!args.error.empty())
        return UsageError("unpack", args.error);
    if (args.rest.size() != 1)
        return UsageError("unpack", "name one card image or capture: unpack CARD.img [-o DIR]");
    const std::string& path = args.rest.front();
    const bool yes = app.options.answers == AnswerPolicy::Yes;
    bool capture = false;
    const auto bytes = ReadCard(app, path, yes, capture);
    if (!bytes)
        return kFailed;
    auto output = args.Get("-o") ? args.Get("-o") : args.Get("--output");

    if (capture && output && EndsWithExtension(*output, ".img")) {
        // The image of a capture, as send-image takes it.
        if (StatFile(*output) && !yes) {
            std::fprintf(stderr, "cardmill unpack: '%s' exists; it is replaced only with --yes\n",
                output->c_str());
            return kRefused;
        }
        if (!WriteFileAtomically(AbsolutePath(*output), *bytes)) {
            std::fprintf(stderr, "cardmill unpack: '%s' can't be written\n", output->c_str());
            return kFailed;
        }
        app.Inform(Format("Wrote the image of %zu bytes to %s.", bytes->size(), output->c_str()));
        return kSuccess;
    }

    std::string error;
    const auto card = ReadCardImage(*bytes, error);
    if (!card) {
        std::fprintf(stderr, "cardmill unpack: '%s': %s\n", path.c_str(), error.c_str());
        return kFailed;
    }
    if (!output) {
        // Beside the image, named after it.
        std::string base = FileNameOf(path);
        if (const auto dot = base.rfind('.'); dot != std::string::npos && dot > 0)
            base.resize(dot);
        output = FolderOf(AbsolutePath(path)) + base;
    }
    CardUnpacker unpacker(*app.controller, app.progress);
    std::string project;
    const bool done = unpacker.Unpack(*bytes, *card, *output, project);
    app.progress.Finish();
    if (!done)
        return app.Finish(false);
    app.Inform(Format("Unpacked %zu voice%s, %zu sound file%s, %zu sequence%s%s into %s.",
        card->voices.size(), card->voices.size() == 1 ? "" : "s", card->regions.size(),
        card->regions.size() == 1 ? "" : "s", card->sequences.size(),
        card->sequences.size() == 1 ? "" : "s", card->bank ? " and the program bank" : "",
        project.c_str()));
    return app.Finish(true);
}

} // namespace cardmill
