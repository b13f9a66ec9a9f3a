#include "synth/ASoundSystem.h"

#include "model/sound/MSoundFile.h"
#include "platform/AudioOutput.h"
#include "platform/Prompter.h"

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
    while (!ended && output.Room() >= chunk.size()) {
        const std::size_t got = current->ReadPreview(chunk);
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
