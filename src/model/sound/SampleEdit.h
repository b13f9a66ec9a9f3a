#pragma once

#include <cstdint>

namespace cardmill {

class MSoundFile;
class Prompter;

/// The settings of one sample as the sample dialog shows and edits them: read from the sample,
/// changed by the caller, then checked and applied by Apply as the dialog's OK button does.
class SampleEdit {
public:
    static constexpr std::int64_t kHighestVolume = 252;

    explicit SampleEdit(MSoundFile& sample);

    /// The root note chosen in the note and octave lists (which reach B8, 131); false (told
    /// why) above G8, and `rootKey` keeps its value.
    bool ChooseRoot(std::int64_t key, Prompter& prompter);

    /// The highest start frame and loop start the sample takes with the edited loop.
    std::int64_t StartFrameLimit() const;
    std::int64_t LoopStartLimit() const;

    /// Checks volume, start frame and loop start in that order (false, told why, at the first
    /// refusal, nothing changed); then the sample takes smoothing, channel (stereo samples),
    /// loop, root key, start frame and volume. False also when the loop check was refused.
    /// `contentChanged` tells whether the card data of the sample changed (channel or length).
    bool Apply(Prompter& prompter, bool& contentChanged);

    bool smoothing = false;
    std::uint16_t channel = 0; // 0 mix, 1 left, 2 right
    bool looping = false;
    std::int64_t loopStart = 0;
    std::int64_t rootKey = 60;
    std::int64_t startFrame = 0;
    std::int64_t volume = 0; // the card's volume byte, 0 to 252

private:
    MSoundFile& sample;
    std::uint16_t openedChannel = 0;
};

} // namespace cardmill
