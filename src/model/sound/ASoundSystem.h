#pragma once

#include "model/Services.h"

#include <cstdint>
#include <vector>

namespace cardmill {

class AudioOutput;
class Prompter;

/// Sound preview: plays one sound of the project (or of the file dialogs) through the audio
/// output, a chunk at a time as the output has room. Everything happens in Poll, called for the
/// selected sound at idle time and every 100 ms, so nothing ever waits on the device. One sound
/// plays at a time; selecting another stops it.
class ASoundSystem final : public PreviewPlayer {
public:
    static constexpr std::size_t kChunkFrames = 4096;

    ASoundSystem(AudioOutput& output, Prompter& prompter);
    ~ASoundSystem() override;
    ASoundSystem(const ASoundSystem&) = delete;
    ASoundSystem& operator=(const ASoundSystem&) = delete;

    /// Starts the sound's preview; false (told, once) when there is no output to play it on.
    bool Play(MSoundFile& sound);
    /// One step for the selected sound (none: nothing selected); true while it plays.
    bool Poll(MSoundFile* selected);
    void Stop();
    bool IsPlaying(const MSoundFile* sound) const { return playing && sound == current; }
    /// The sound is going away: playback of it ends without reading from it again.
    void Forget(const MSoundFile* sound) override;

private:
    AudioOutput& output;
    Prompter& prompter;
    MSoundFile* current = nullptr;
    bool playing = false;
    bool ended = false;
    bool toldNoOutput = false;
    std::vector<std::int16_t> chunk;
};

} // namespace cardmill
