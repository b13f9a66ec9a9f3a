#pragma once

#include "model/instrument/SfzParser.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace cardmill {

/// Bytes of a file by offset and count; nothing when they can't be read. SoundFonts run to
/// gigabytes, so only the preset and instrument lists are read whole, and one sample at a time.
using RangeReader = std::function<std::optional<std::vector<std::uint8_t>>(
    std::uint64_t at, std::uint64_t count)>;

/// One preset of an instrument library, as `info` lists it and `--preset` chooses it.
struct LibraryPreset {
    std::string name;
    int bank = 0;
    int program = 0;
    int lokey = 127, hikey = 0; // the keys its zones play; lokey > hikey when none
};

/// A catalog entry of a preset, with the keys its regions play.
LibraryPreset CatalogEntry(
    std::string name, int bank, int program, const std::vector<SfzRegion>& regions);

struct SoundFontSample {
    std::string name;
    std::uint32_t start = 0, end = 0, loopStart = 0, loopEnd = 0; // in the sample data
    std::uint32_t rate = 0;
    int originalPitch = 60;
    int pitchCorrection = 0; // cents
    std::uint16_t link = 0; // the other side of a stereo sample
    std::uint16_t type = 1; // 1 mono, 2 right, 4 left, 8 linked; 0x10 compressed (SF3)
    /// The frames it plays, by which the sides of a stereo sample pair: an SF2 sample's from its
    /// start and end, an SF3 side's from its Ogg stream; 0 when not known (an SF3 mono sample).
    std::uint64_t frames = 0;
};

/// The preset, instrument and sample lists of a SoundFont 2 or 3 file, and where its sample data
/// lies in the file.
struct SoundFont {
    struct Generator {
        std::uint16_t oper = 0;
        std::uint16_t amount = 0;
    };
    struct Zone {
        std::vector<Generator> generators;
        std::size_t modulators = 0;
    };
    struct Holder { // a preset or an instrument: its name and zones (a global one first)
        std::string name;
        int bank = 0, program = 0;
        std::vector<Zone> zones;
    };

    std::string name;
    int major = 2, minor = 0;
    std::uint64_t smplAt = 0, smplBytes = 0;
    std::uint64_t sm24At = 0, sm24Bytes = 0;
    std::vector<Holder> presets;
    std::vector<Holder> instruments;
    std::vector<SoundFontSample> samples;

    bool Compressed() const { return major >= 3; }
    std::vector<LibraryPreset> Catalog() const;
};

struct SoundFontLimits {
    std::uint64_t maxHydraBytes = 64u << 20; // the preset, instrument and sample lists
    std::size_t maxZones = 1u << 20;
    std::uint64_t maxSampleFrames = 64u << 20;
};

/// Reads the lists of a SoundFont file of `size` bytes; nothing, with the reason in `error`,
/// when it is damaged or no SoundFont.
std::optional<SoundFont> ReadSoundFont(const RangeReader& read, std::uint64_t size,
    std::string& error, const SoundFontLimits& limits = {});

/// One region of a preset as an SFZ region would state it (keys, velocities, root key, tuning,
/// volume, start, loop), `sample` being the index of the SoundFont's sample as text, or "L,R" for
/// the two zones of a stereo pair (linked samples panned hard left and right, alike in all else),
/// which become one stereo region 3 dB louder, as SFZ exports make them. What the card
/// can't hold is in `dropped`, named after the SoundFont's generators.
SfzDocument SoundFontRegions(
    const SoundFont& font, std::size_t preset, const std::string& fileName);

/// A preset by its name (case ignored) or "BANK:PROGRAM"; nothing when none is.
std::optional<std::size_t> FindPreset(
    const std::vector<LibraryPreset>& presets, const std::string& chosen);

/// A region's sample ("L", or "L,R" for a stereo pair) as a WAV file of 16 bits (24 with the
/// sm24 chunk), SF3's compressed samples decoded; nothing, with the reason in `error`, when it
/// can't be read.
std::optional<std::vector<std::uint8_t>> SoundFontSampleWav(const SoundFont& font,
    const std::string& sample, const RangeReader& read, std::string& error,
    const SoundFontLimits& limits = {});

} // namespace cardmill
