#pragma once

#include "compiler/CardImageReader.h"

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace cardmill {

/// Plays one voice of a card image as the instrument would: the key table and layers choose the
/// sample, the pitch word gives the pitch (the card plays a sample's words at 48000 Hz when the
/// key equals its pitch word, in 1/256 semitone), the loop repeats from loop start to loop end
/// while the key is held and the sample goes on to the end of its data when it is let go.
/// Resampling is band-limited (a windowed sinc widened as the pitch rises), so notes far above
/// their root do not alias. What the card's own behaviour leaves open is done as samplers do:
/// a released note of a keyboard voice fades over `kReleaseSeconds`, a drum voice's note (of a drum
/// group, or of a card that says it is a Percula's) plays to its end, velocity chooses the layer
/// (the range split evenly, the softest first) and scales the level by (velocity / 127) squared,
/// notes sound together and are summed.
class VoicePlayer {
public:
    static constexpr int kRate = 48000;
    static constexpr double kReleaseSeconds = 0.08;
    static constexpr int kMaxNotes = 64;

    /// Copies what the voice plays out of the image: it can go away afterwards.
    VoicePlayer(
        std::span<const std::uint8_t> image, const CardContents& card, const CardVoice& voice);

    /// The key groups' upper keys, in place of the card's (the Voice Info dialog's working
    /// table); ignored when their count differs.
    void SetUpperKeys(const std::vector<std::uint8_t>& keys);
    int GroupCount() const { return static_cast<int>(upperKeys.size()); }
    int UpperKey(int group) const { return upperKeys[static_cast<std::size_t>(group)]; }
    /// The key group that plays `key` (0 for a voice of one key group).
    int KeyGroupOf(int key) const;
    /// The sample (walk order, as CardVoice::samples) that `key` at `velocity` plays.
    int SampleFor(int key, int velocity) const;
    /// Where the sample's pitch word puts its data at the card's rate: the frequency ratio at
    /// which it plays for `key` (1.0: one word of data per output frame).
    double StepFor(int sample, int key) const;

    void NoteOn(int key, int velocity = 127);
    void NoteOff(int key);
    /// Every note stops at once.
    void Silence();
    bool Sounding() const { return !notes.empty(); }

    /// Adds the next frames of every sounding note into `out` (mono, full scale 1.0).
    void Render(std::span<float> out);

private:
    struct Sample {
        std::vector<float> words; // the data played, kPad zeros on either side
        std::int64_t first = 0; // index in `words` of the first frame it may play
        std::int64_t start = 0;
        std::int64_t loopStart = 0;
        std::int64_t loopEnd = 0; // the last frame of the loop
        std::int64_t end = 0; // one past the last word of the card's data it reaches
        std::uint16_t pitchWord = 0;
        float gain = 1.0f;
        bool smooth = false;
    };
    /// The interpolation kernel for one step, sampled at kPhases + 1 fractions of a frame.
    struct Kernel {
        double step = 1;
        int reach = 0; // frames on either side
        int taps = 0;
        std::vector<float> rows;
    };
    struct Note {
        std::shared_ptr<const Kernel> kernel;
        int key = 0;
        int sample = 0;
        double position = 0; // in the sample's words
        double step = 1;
        float gain = 1;
        bool held = true;
        std::int64_t age = 0; // frames since it started
        std::int64_t releaseLeft = -1; // frames of its fade; -1 while not fading
    };

    std::shared_ptr<const Kernel> KernelFor(double step);
    float Interpolate(const Sample& sample, const Note& note);
    float Tap(const Sample& sample, const Note& note, std::int64_t index) const;

    std::vector<Sample> samples;
    std::vector<std::uint8_t> upperKeys;
    int layers = 1;
    bool oneShot = false;
    std::vector<Note> notes;
    std::vector<std::shared_ptr<const Kernel>> kernels;
    std::vector<float> window; // scratch for the taps of one output frame
};

/// A key pressed and let go at a time, for rendering a phrase or a MIDI file.
struct NoteEvent {
    double seconds = 0;
    int key = 60;
    int velocity = 0; // 0: the key is let go
};

/// A player's mix as 16-bit samples, clipped at full scale.
void ToSamples(std::span<const float> mix, std::vector<std::int16_t>& samples);

/// The frames a player makes of the events, mono at VoicePlayer::kRate, until the last note
/// has ended (at most `tailSeconds` after the last event), as 16-bit samples (clipped).
std::vector<std::int16_t> RenderEvents(
    VoicePlayer& player, std::vector<NoteEvent> events, double tailSeconds = 4.0);

/// The keys and velocities of every channel's notes in a standard MIDI file, with their times
/// from the file's tempo changes; false, with `error`, when the bytes are no such file.
bool ReadMidiNotes(
    std::span<const std::uint8_t> bytes, std::vector<NoteEvent>& events, std::string& error);

/// A short phrase that crosses the key groups: each group's middle key in turn, then a chord of
/// three of them, for trying a voice out.
std::vector<NoteEvent> PhraseAcross(const VoicePlayer& player);

} // namespace cardmill
