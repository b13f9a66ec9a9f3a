#pragma once

#include "compiler/CardImageReader.h"
#include "compiler/VoicePlayer.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <memory>
#include <optional>
#include <vector>

namespace cardmill {

class APrefs;
class AudioOutput;
class MInstFile;
class MProject;
class Prompter;

/// Voice Info's keyboard made audible: the voice as the card will play it (the project compiled
/// in memory), rendered a few milliseconds ahead into an output stream of its own that stays
/// open, silent, while the dialog is, so that a key sounds at once.
class AKeyboardPlayer final : public QObject {
public:
    /// How far ahead of what is heard the player renders.
    static constexpr int kAheadMs = 10;

    AKeyboardPlayer(AudioOutput& output, QObject* parent);
    ~AKeyboardPlayer() override;

    /// Compiles the project and opens the output; false, with `error`, when the voice can't be
    /// played (a file that can't be read, no sound output).
    bool Load(MProject& project, Prompter& prompter, const MInstFile& voice, std::string& error);
    /// The same for a voice of no project (a file not yet added), compiled alone.
    bool LoadAlone(MInstFile& voice, APrefs& prefs, Prompter& prompter, std::string& error);
    /// Plays a phrase from now; the output closes by itself once it has ended.
    void Play(std::vector<NoteEvent> phrase);
    /// Silence at once, and the output closed.
    void Stop();
    /// A phrase is playing.
    bool Playing() const { return phraseMode && player.has_value(); }
    bool Loaded() const { return player.has_value(); }
    /// The loaded voice's player (Loaded() first).
    const VoicePlayer& Voice() const { return *player; }
    /// The key groups as the dialog holds them now.
    void SetUpperKeys(const std::vector<std::uint8_t>& keys);
    void Key(int key, bool down);

private:
    void Feed();
    bool Start(const MProject& project, const MInstFile& voice, std::string& error);

    AudioOutput& output;
    std::vector<std::uint8_t> image;
    std::optional<VoicePlayer> player;
    std::vector<float> mix;
    std::vector<std::int16_t> samples;
    QTimer timer;
    QElapsedTimer clock; // since the stream opened
    std::int64_t written = 0; // frames
    std::vector<NoteEvent> events; // of the phrase, the next last
    bool phraseMode = false;
};

} // namespace cardmill
