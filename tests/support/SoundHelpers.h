#pragma once

#include "Builders.h"
#include "Steps.h"
#include "TestEnv.h"
#include "model/sound/MSoundFile.h"
#include "platform/ProgressView.h"

#include <memory>
#include <vector>

namespace cardmill::test {

/// Opens and loads with defaults, as the loader does.
template <typename T>
std::unique_ptr<T> Load(TestEnv& env, const Bytes& bytes, const std::string& path)
{
    auto sound = OpenInMemory<T>(env, bytes, path);
    if (!sound || sound->LoadStep() != 1)
        return nullptr;
    sound->UpdateCompiledSize();
    return sound;
}

/// Every card word of a sound (or an instrument's samples), compiled in pieces of `piece` words
/// as the engine asks for them.
template <typename File>
std::vector<std::uint16_t> CardWords(File& sound, std::uint32_t piece = 512)
{
    NullProgressView progress;
    std::vector<std::uint16_t> words;
    std::vector<std::uint8_t> buffer(16384);
    sound.BeginCompile(progress);
    StepUntilDone(
        [&] {
            std::uint32_t count = piece;
            const int result = sound.CompileChunk(progress, count, buffer);
            if (result < 0)
                return result;
            for (std::uint32_t i = 0; i < count; ++i)
                words.push_back(
                    static_cast<std::uint16_t>((buffer[2 * i] << 8) | buffer[2 * i + 1]));
            return result;
        },
        1000000);
    return words;
}

} // namespace cardmill::test
