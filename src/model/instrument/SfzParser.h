#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace cardmill {

/// One thing of an SFZ file that the card's instrument can't hold, where it was written.
struct SfzDropped {
    std::string file;
    int line = 0;
    std::string opcode; // the opcode or header, or empty for a whole region or key range
    std::string reason;

    /// "piano.sfz:12: ampeg_release: not on the card"
    std::string Text() const;
};

enum class SfzLoopMode { Unset, NoLoop, OneShot, Continuous, Sustain };

/// A region with everything it inherits from <global>, <master> and <group> applied, in the
/// units the SFZ format documents (keys as note numbers, tune in cents, volume in dB, frames).
struct SfzRegion {
    std::string file;
    int line = 0; // of its <region> header
    std::string sample; // default_path and sample= joined, '/' as the separator
    std::string sampleFile; // where sample= was written, which may be an #include file
    int sampleLine = 0;
    int lokey = 0, hikey = 127;
    int keycenter = 60;
    int lovel = 1, hivel = 127;
    int tune = 0; // cents
    int transpose = 0; // semitones
    double volume = 0.0; // dB
    std::int64_t offset = 0; // frames
    SfzLoopMode loopMode = SfzLoopMode::Unset;
    std::optional<std::int64_t> loopStart, loopEnd; // frames, the end inclusive
};

/// The limits that keep untrusted text from taking unbounded time or memory.
struct SfzLimits {
    std::size_t maxFileBytes = 4u << 20;
    std::size_t maxTotalBytes = 16u << 20; // all files read, includes counted each time
    std::size_t maxLineBytes = 64u << 10;
    int maxIncludeDepth = 16;
    int maxIncludes = 256;
    std::size_t maxDefines = 1024;
    std::size_t maxRegions = 4096;
    std::size_t maxDropped = 1000;
};

/// The text of an included file, by the name as written (backslashes turned to '/'); nothing
/// when it can't be read.
using SfzIncludeReader = std::function<std::optional<std::string>(const std::string& name)>;

struct SfzDocument {
    std::vector<SfzRegion> regions;
    std::vector<SfzDropped> dropped;
};

/// Parses SFZ text (UTF-8, with or without a byte order mark, or any 8-bit text). Never fails: what
/// it can't use is in `dropped`. The one entry point of files, tests and the fuzz target.
SfzDocument ParseSfz(std::string_view text, const std::string& fileName,
    const SfzIncludeReader& includes, const SfzLimits& limits = {});

/// The card's shape of a parsed SFZ file: key groups in ascending key order, each with its
/// layers (indices into the regions, softest first), and whatever did not fit.
struct SfzKeyGroup {
    int upperKey = 127;
    std::vector<std::size_t> layers;
};
struct SfzLayout {
    std::vector<SfzKeyGroup> groups;
    int groupSize = 0;
    std::vector<SfzDropped> dropped;
};

/// Velocity layers whose key ranges are split at different keys become key groups of their own:
/// each region is cut at every key where another begins or ends, so that every group holds its
/// layers. Regions of a single velocity range are left as they are.
void SplitLayeredRegions(SfzDocument& document);

/// Key groups from the regions' key ranges, up to 3 layers each from their velocity ranges.
/// Overlapping key ranges are cut (the lower region keeps its keys), gaps are played by the
/// group above them; every such change is reported.
SfzLayout LayOutSfz(const SfzDocument& document);

/// A note name ("c4", "C#4", "eb-1") or number as an SFZ key, C4 = 60; nothing when neither.
std::optional<int> ParseSfzKey(std::string_view text);

} // namespace cardmill
