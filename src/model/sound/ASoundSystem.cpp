#include "model/sound/ASoundSystem.h"

#include "model/sound/MSoundFile.h"
#include "platform/AudioOutput.h"
#include "platform/Prompter.h"

#include <algorithm>

namespace cardmill {

ASoundSystem::ASoundSystem(AudioOutput& audioOutput, Prompter& prompterService)
    : output(audioOutput)
    , prompter(prompterService)
{
}

ASoundSystem::~ASoundSystem()
{
    Stop();
}

bool ASoundSystem::Play(MSoundFile& sound)
{
    Stop();
    if (!sound.CanPreview() || !sound.BeginPreview())
        return false;
    std::string error;
    const int channels = sound.ChannelCount();
    if (!output.Start(static_cast<int>(sound.SampleRate() + 0.5f), channels, error)) {
        sound.EndPreview();
        // Said once: a machine without sound keeps working without being told again and again.
        if (!toldNoOutput) {
            toldNoOutput = true;
            prompter.Show("Sounds can't be played: " + error + ".", Icon::Error, Buttons::Ok);
        }
        return false;
    }
    current = &sound;
    playing = true;
    ended = false;
    chunk.resize(kChunkFrames * static_cast<std::size_t>(channels));
    Poll(&sound);
    return true;
}

bool ASoundSystem::Poll(MSoundFile* selected)
{
    if (!playing)
        return false;
    if (selected != current) {
        Stop();
        return false;
    }
    // As much as the output takes now, whole frames only: an output whose buffer is smaller
    // than a chunk (a sound server's often is) would otherwise never be given anything.
    const std::size_t channels = static_cast<std::size_t>(current->ChannelCount());
    while (!ended) {
        const std::size_t room = std::min(output.Room(), chunk.size()) / channels * channels;
        if (room == 0)
            break;
        const std::size_t got = current->ReadPreview(std::span(chunk).first(room));
        if (got == 0) {
            ended = true;
            break;
        }
        output.Write(std::span<const std::int16_t>(chunk).first(got));
    }
    if (ended && !output.Busy())
        Stop();
    return playing;
}

void ASoundSystem::Forget(const MSoundFile* sound)
{
    if (!playing || sound != current)
        return;
    output.Stop();
    playing = false;
    current = nullptr;
}

void ASoundSystem::Stop()
{
    if (!playing)
        return;
    output.Stop();
    if (current)
        current->EndPreview();
    playing = false;
    current = nullptr;
}

} // namespace cardmill
