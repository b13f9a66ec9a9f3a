#include "FuzzEnv.h"

#include "model/MSoundFile.h"
#include "platform/ProgressView.h"

namespace cardmill::fuzz {

std::vector<std::uint8_t> Copy(const std::uint8_t* data, std::size_t size)
{
    return std::vector<std::uint8_t>(data, data + size);
}

void ExerciseSound(MSoundFile& sound)
{
    if (sound.LoadStep() != 1)
        return;
    sound.UpdateCompiledSize();
    sound.AssignCardAddress(1234);
    std::vector<std::uint8_t> voice(sound.GetVoiceHeaderSize());
    std::span<std::uint8_t> cursor(voice);
    sound.WriteVoiceHeader(cursor, 1);
    NullProgressView progress;
    std::vector<std::uint8_t> buffer(8192);
    sound.BeginCompile(progress);
    // The card data of a sound is bounded by its loop end: keep the work per input small.
    for (int calls = 0; calls < 4096; ++calls) {
        std::uint32_t count = 512;
        if (sound.CompileChunk(progress, count, buffer) != 0)
            break;
    }
    auto copy = sound.DuplicateActive();
    std::int16_t samples[256];
    if (sound.BeginPreview())
        sound.ReadPreview(samples);
}

} // namespace cardmill::fuzz
