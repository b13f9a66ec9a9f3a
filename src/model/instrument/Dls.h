#pragma once

#include "model/instrument/SoundFont.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace cardmill {

/// A sample's pitch, level and loop as a DLS "wsmp" chunk gives them.
struct DlsSampleInfo {
    int unityNote = 60;
    int fineTune = 0; // cents
    double gain = 0.0; // dB
    bool looped = false;
    bool releaseLoop = false; // a DLS 2 loop that plays on after the key's release
    std::uint32_t loopStart = 0, loopLength = 0;
};

/// The instruments and wave pool of a DLS level 1 or 2 file.
struct DlsFile {
    struct Region {
        int lokey = 0, hikey = 127, lovel = 0, hivel = 127;
        std::uint32_t wave = 0; // index into the pool table
        std::optional<DlsSampleInfo> sample; // the region's own, over the wave's
        bool articulated = false;
    };
    struct Instrument {
        std::string name;
        int bank = 0, program = 0; // drum kits in bank 128 and up
        std::vector<Region> regions;
        bool articulated = false;
    };
    struct Wave {
        std::string name;
        std::vector<std::uint8_t> format; // the "fmt " chunk's body
        std::uint64_t dataAt = 0, dataBytes = 0;
        std::optional<DlsSampleInfo> sample;
    };

    std::vector<Instrument> instruments;
    std::vector<Wave> waves; // in the order of the pool table's cues
    std::vector<LibraryPreset> Catalog() const;
};

struct DlsLimits {
    std::uint64_t maxListBytes = 64u << 20; // the instrument lists
    std::size_t maxInstruments = 1u << 14;
    std::size_t maxRegions = 1u << 16;
    std::uint64_t maxWaveBytes = 256u << 20;
};

/// Reads the instruments and the wave pool's table of a DLS file of `size` bytes; nothing, with
/// the reason in `error`, when it is damaged or no DLS file.
std::optional<DlsFile> ReadDls(
    const RangeReader& read, std::uint64_t size, std::string& error, const DlsLimits& limits = {});

/// An instrument's regions as an SFZ file would state them, `sample` being the wave's index as
/// text; what the card can't hold is in `dropped`.
SfzDocument DlsRegions(const DlsFile& file, std::size_t instrument, const std::string& fileName);

/// A wave of the pool as a WAV file (its format and data chunks); nothing, with the reason in
/// `error`, when it can't be read.
std::optional<std::vector<std::uint8_t>> DlsSampleWav(const DlsFile& file, std::size_t wave,
    const RangeReader& read, std::string& error, const DlsLimits& limits = {});

} // namespace cardmill
