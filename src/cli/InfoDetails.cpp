// What `cardmill info` shows beyond the lines every readable file has.

#include "Json.h"
#include "VoiceCommands.h"
#include "model/DeviceFamily.h"
#include "model/bank/MParamFileRawSex.h"
#include "model/instrument/InstrumentLibrary.h"
#include "model/instrument/MInstFileInstrument.h"
#include "model/sequence/MSeqFileMidi.h"
#include "model/sound/MSoundFile.h"
#include "platform/FileSystem.h"

#include <cstdio>

namespace cardmill {

namespace {

/// A sample's file, and its name when the file holds many (a SoundFont's sample).
std::string SampleWhere(const MSoundFile& sample)
{
    const std::string name = sample.GetFileName();
    const std::string file = SplitLibraryPath(sample.GetPath()).file;
    return FileNameOf(file) == name ? file : file + ": " + name;
}

void DescribeSound(const MSoundFile& sound, JsonWriter* json)
{
    const SampleParams& params = sound.Params();
    if (json) {
        json->Key("sound").BeginObject();
        json->Field("rate", static_cast<std::int64_t>(sound.SampleRate()))
            .Field("bits", 8 * sound.BytesPerSample())
            .Field("channels", sound.ChannelCount())
            .Field("frames", sound.GetFrameCount())
            .Field("rootKey", params.rootKey)
            .Field("fineTune", params.fineTune);
        json->Key("loops").BeginArray();
        for (int i = 0; i < sound.LoopCount(); ++i) {
            SoundLoop loop;
            sound.GetLoop(loop, i);
            json->BeginObject()
                .Field("start", loop.start)
                .Field("end", loop.end)
                .Field("valid", loop.valid)
                .Field("alternating", loop.alternating)
                .EndObject();
        }
        json->EndArray();
        json->Key("markers").BeginArray();
        for (int i = 0; i < sound.MarkerCount(); ++i) {
            const SoundMarker& marker = sound.Marker(i);
            json->BeginObject()
                .Field("frame", marker.frame)
                .Field("id", marker.id)
                .Field("named", marker.named)
                .Field("name", marker.name)
                .EndObject();
        }
        json->EndArray();
        json->Field("startFrame", params.startFrame)
            .Field("looping", params.looping != 0)
            .Field("loopStart", params.loopStart)
            .Field("loopEnd", params.loopEnd);
        json->EndObject();
        return;
    }
    std::printf("  Rate:            %.0f Hz\n", static_cast<double>(sound.SampleRate()));
    std::printf("  Bits:            %d\n", 8 * sound.BytesPerSample());
    std::printf("  Channels:        %d\n", sound.ChannelCount());
    std::printf("  Frames:          %u\n", sound.GetFrameCount());
    std::printf("  Root key:        %u\n", params.rootKey);
    std::printf("  Fine tune:       %d (1/256 cent)\n", params.fineTune);
    for (int i = 0; i < sound.LoopCount(); ++i) {
        SoundLoop loop;
        sound.GetLoop(loop, i);
        std::printf("  Loop %d:          %u-%u%s%s\n", i, loop.start, loop.end,
            loop.alternating ? " forward-backward" : "", loop.valid ? "" : " (not used)");
    }
    for (int i = 0; i < sound.MarkerCount(); ++i) {
        const SoundMarker& marker = sound.Marker(i);
        std::printf("  Marker %u:        frame %u%s%s%s\n", marker.id, marker.frame,
            marker.name.empty() ? "" : " \"", marker.name.c_str(),
            marker.name.empty() ? "" : (marker.named ? "\"" : "\" (unnamed)"));
    }
    std::printf("  Start frame:     %u\n", params.startFrame);
    if (params.looping)
        std::printf("  Default loop:    %u-%u\n", params.loopStart, params.loopEnd);
    else
        std::printf("  Default loop:    none (silent loop %u-%u after the end)\n", params.loopStart,
            params.loopEnd);
}

void DescribeSequence(const MSeqFileMidi& sequence, JsonWriter* json)
{
    if (json) {
        json->Key("sequence").BeginObject();
        json->Field("ppq", sequence.TicksPerQuarter())
            .Field("format", sequence.Format())
            .Field("tracks", sequence.TrackCount())
            .Field("convertedSize", sequence.ConvertedData().size())
            .Field("events", sequence.EventCount());
        json->EndObject();
        return;
    }
    std::printf("  Converted size:  %zu bytes, %u events\n", sequence.ConvertedData().size(),
        sequence.EventCount());
}

void DescribeBank(const MParamFileRawSex& bank, JsonWriter* json)
{
    const std::string source = bank.GetInfoLine1().substr(std::string("Source: ").size());
    if (json) {
        json->Key("bank").BeginObject();
        json->Field("family", bank.Family())
            .Field("source", source)
            .Field("bankBytes", bank.CompiledBankBytes());
        json->EndObject();
        return;
    }
    std::printf(
        "  For:             %s (family %u)\n", GetFamilyName(bank.Family()).c_str(), bank.Family());
    std::printf("  Bank data:       %zu bytes in the card's 65536-byte bank area\n",
        bank.CompiledBankBytes());
}

void DescribeInstrument(MInstFileInstrument& instrument, JsonWriter* json)
{
    const auto samples = instrument.Samples();
    if (json) {
        json->Key("instrument").BeginObject();
        json->Field("groupCount", instrument.GroupCount())
            .Field("groupSize", instrument.GroupSize());
        json->Key("upperKeys").BeginArray();
        for (int g = 0; g < instrument.GroupCount(); ++g)
            json->Number(instrument.UpperKeys()[g]);
        json->EndArray();
        json->Key("samples").BeginArray();
        for (const MSoundFile* sample : samples) {
            const SampleParams& params = sample->Params();
            json->BeginObject()
                .PathField("path", sample->GetPath())
                .Field("name", sample->GetFileName())
                .Field("rootKey", params.rootKey)
                .Field("fineTune", params.fineTune)
                .Field("volume", VolumeByte(params.volume))
                .Field("channels", sample->ChannelCount())
                .Field("channel", ChannelName(sample->GetChannel()))
                .Field("startFrame", params.startFrame)
                .Field("looping", params.looping != 0)
                .Field("loopStart", params.loopStart)
                .Field("loopEnd", params.loopEnd)
                .Field("phantom", sample->IsPhantom())
                .EndObject();
        }
        json->EndArray();
        json->EndObject();
        return;
    }
    std::printf("  Key groups:      %u of %u layer%s\n", instrument.GroupCount(),
        instrument.GroupSize(), instrument.GroupSize() == 1 ? "" : "s");
    std::string keys;
    for (int g = 0; g < instrument.GroupCount(); ++g) {
        if (g)
            keys += ' ';
        keys += std::to_string(instrument.UpperKeys()[g]);
    }
    std::printf("  Upper keys:      %s\n", keys.c_str());
    for (const MSoundFile* sample : samples)
        std::printf("  Sample:          %s (root %u%s)\n", SampleWhere(*sample).c_str(),
            sample->Params().rootKey, sample->Params().looping ? ", looped" : "");
}

} // namespace

void DescribeDetails(MReadableFile& file, JsonWriter* json)
{
    if (auto* instrument = dynamic_cast<MInstFileInstrument*>(&file)) {
        DescribeInstrument(*instrument, json);
        return;
    }
    if (const auto* sound = dynamic_cast<const MSoundFile*>(&file))
        DescribeSound(*sound, json);
    else if (const auto* sequence = dynamic_cast<const MSeqFileMidi*>(&file))
        DescribeSequence(*sequence, json);
    else if (const auto* bank = dynamic_cast<const MParamFileRawSex*>(&file))
        DescribeBank(*bank, json);
}

} // namespace cardmill
