#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace cardmill {

/// One 12-byte sample header of a voice, decoded, with its place in the card's sample data.
/// Frames count from the first word of its `region`.
struct CardSample {
    std::size_t headerOffset = 0; // byte offset of the 12 bytes in the image
    std::uint16_t pitchWord = 0;
    std::int8_t tuningByte = 0; // byte 2: the tuning value / 100
    std::uint8_t volumeByte = 0; // 0 to 252
    bool smooth = false; // the attack is smoothed (only meaningful after a start offset)
    int region = -1; // index in CardContents::regions
    std::uint32_t startFrame = 0;
    std::uint32_t loopStart = 0;
    std::uint32_t loopEnd = 0;
    bool looping = true; // false: the 8 silent frames past the file's end
};

/// The pitch word split as a sound file gives it: the common rate and root key that come
/// closest, and the rest as a fine tune (1/256 cent) that gives the word back exactly.
struct SampleTuning {
    std::uint32_t rate = 48000;
    std::uint16_t rootKey = 60;
    std::int16_t fineTune = 0;
};
SampleTuning TuningOfPitchWord(std::uint16_t pitchWord);
/// The root and fine tune that give the pitch word at a given rate; false when no root on the
/// keyboard is within a fine tune's reach.
bool TuningAtRate(std::uint16_t pitchWord, std::uint32_t rate, SampleTuning& out);
/// The pitch word the compiler makes of a rate, root key and fine tune.
std::uint16_t PitchWordOf(double rate, std::uint16_t rootKey, std::int16_t fineTune);

/// One voice of the card: a sound (one sample) or an instrument of key groups and layers.
struct CardVoice {
    std::size_t offset = 0; // of its 16-byte header in the image
    int group = 0; // 0 to 10
    int position = 0; // from 1 within its group
    std::string name; // the 10 bytes, trailing blanks removed
    int groupCount = 1;
    int groupSize = 1;
    std::uint8_t byte14 = 0;
    std::uint8_t byte15 = 0;
    bool isSound = false; // a single sound file's voice (byte 16 is 0x80 in a keyboard group)
    std::vector<std::uint8_t> upperKeys; // keyboard groups: one per key group
    /// Walk order: key group 0's layers, then group 1's... A drum group's voice keeps only key
    /// group 0's layers; the rest of its samples are in `hiddenRegions`.
    std::vector<CardSample> samples;
    std::vector<int> hiddenRegions; // sample data of key groups no header describes
};

/// A stretch of sample data the card holds once: one sound file's frames, played by every
/// sample that points into it.
struct CardRegion {
    std::uint64_t wordAddress = 0; // from the start of the image
    std::uint32_t words = 0;
    std::uint32_t frames = 0; // frames of the file (the rest of the words are its zero tail)
    std::uint32_t lead = 0; // frames before the first word (a start that can't be frame 0)
    bool hidden = false; // data of a drum voice's key groups that have no header
    /// Data past what its samples play: a sample that played more when it was first loaded
    /// widened the file's data, which the compiler keeps.
    bool widened = false;
    /// The first sample to play it is a drum voice's first key group, but a later key group of
    /// that voice, which no header describes, owns the data (it lies after that voice's hidden
    /// data).
    bool ownerMoved = false;
};

struct CardSequence {
    std::size_t offset = 0;
    std::vector<std::uint8_t> data;
    bool outPort = false;
};

struct CardBank {
    std::uint16_t family = 0; // 0x0E or 0x19
    std::size_t offset = 0; // of the area (its 4-byte mark)
    std::vector<std::uint8_t> data; // the compiled bank after the mark
};

/// Everything a card image holds, as the compiler laid it out.
struct CardContents {
    std::size_t imageBytes = 0;
    std::optional<std::uint16_t> target; // when the card says
    std::string cardName;
    std::string version;
    std::array<std::string, 11> groupNames;
    std::vector<CardVoice> voices;
    std::vector<CardRegion> regions;
    std::vector<CardSequence> sequences;
    std::optional<CardBank> bank;
    std::uint64_t sampleDataBytes = 0;
    /// What a project can't give back exactly, one sentence each.
    std::vector<std::string> notExact;
};

/// True when the bytes begin as a card image does (the card header, or a Zelta bank area).
bool LooksLikeCardImage(std::span<const std::uint8_t> image);

/// Reads a card image; nothing, with `error` naming what is wrong and where, when the bytes are
/// not a card image or are damaged or cut short.
std::optional<CardContents> ReadCardImage(std::span<const std::uint8_t> image, std::string& error);

/// The words of a region as 16-bit samples, the lead frames first (copies of the first word).
std::vector<std::int16_t> RegionFrames(
    std::span<const std::uint8_t> image, const CardRegion& region);

/// The smallest card size token (0 to 9) that holds `bytes`; 9 when none does.
std::uint16_t CardSizeTokenFor(std::uint64_t bytes);

} // namespace cardmill
