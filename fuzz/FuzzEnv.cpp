#include "FuzzEnv.h"

#include "model/MReadableFileDispatcher.h"
#include "model/instrument/MInstFileInstrument.h"
#include "model/sound/MSoundFile.h"
#include "model/sound/MSoundFileEmbedded.h"
#include "model/sound/MSoundFileWAV.h"
#include "platform/ProgressView.h"

namespace cardmill::fuzz {

std::vector<std::uint8_t> Copy(const std::uint8_t* data, std::size_t size)
{
    return std::vector<std::uint8_t>(data, data + size);
}

FileLocator::Result MemoryLocator::Locate(
    const FileRecord& record, const MReadableFileDispatcher& dispatcher, bool)
{
    if (dispatcher.GetKindName() != "sound file")
        return {};
    // A stereo 16-bit WAV of 64 frames with a sampler loop: enough for every parameter path.
    std::vector<std::uint8_t> wav { 'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm',
        't', ' ', 16, 0, 0, 0, 1, 0, 2, 0, 0x44, 0xAC, 0, 0, 0x10, 0xB1, 2, 0, 4, 0, 16, 0 };
    const std::uint8_t smpl[] = { 's', 'm', 'p', 'l', 60, 0, 0, 0 };
    wav.insert(wav.end(), smpl, smpl + 8);
    std::vector<std::uint8_t> body(60, 0);
    body[12] = 60;
    body[28] = 1;
    body[36 + 8] = 4;
    body[36 + 12] = 40;
    wav.insert(wav.end(), body.begin(), body.end());
    const std::uint8_t data[] = { 'd', 'a', 't', 'a', 0, 1, 0, 0 };
    wav.insert(wav.end(), data, data + 8);
    for (int i = 0; i < 256; ++i)
        wav.push_back(static_cast<std::uint8_t>(i * 7));
    auto sound = std::make_unique<MSoundFileWAV>(shared);
    sound->AttachMemory(std::move(wav));
    Result result;
    if (sound->OpenSound(record.path.empty() ? std::string("sample.wav") : record.path)) {
        result.status = Status::Found;
        result.file = std::move(sound);
    }
    return result;
}

namespace {

/// Everything a voice gives the card: its voice record at an address, and its sample data.
void CompileVoice(MInstFile& voice)
{
    voice.UpdateCompiledSize();
    voice.AssignCardAddress(100);
    std::vector<std::uint8_t> record(voice.GetVoiceHeaderSize());
    std::span<std::uint8_t> cursor(record);
    voice.WriteVoiceHeader(cursor, 1);
    NullProgressView progress;
    std::vector<std::uint8_t> buffer(8192);
    voice.BeginCompile(progress);
    // The card data is bounded by the loop ends: the work per input is kept small.
    for (int calls = 0; calls < 4096; ++calls) {
        std::uint32_t count = 512;
        if (voice.CompileChunk(progress, count, buffer) != 0)
            break;
    }
}

} // namespace

void ExerciseInstrument(MInstFileInstrument& instrument)
{
    int result = 0;
    for (int steps = 0; steps < 1000 && (result = instrument.LoadStep()) == 0; ++steps) { }
    if (result != 1)
        return;
    for (std::int16_t category : { 0, 9 }) {
        instrument.SetCategory(category);
        CompileVoice(instrument);
    }
    instrument.KeyWidths();
    instrument.Duplicate();
}

void ExerciseSound(MSoundFile& sound)
{
    if (sound.LoadStep() != 1)
        return;
    CompileVoice(sound);
    auto copy = sound.DuplicateActive();
    std::int16_t samples[256];
    if (sound.BeginPreview())
        sound.ReadPreview(samples);
}

void ExerciseLibrarySample(FuzzEnv& env, std::optional<std::vector<std::uint8_t>> wav)
{
    if (!wav)
        return;
    MSoundFileEmbedded sound(env.services);
    if (sound.OpenEmbedded(std::move(*wav), "fuzz.library", "0", "sample", "library sample"))
        ExerciseSound(sound);
}

} // namespace cardmill::fuzz
