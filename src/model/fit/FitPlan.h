#pragma once

#include "model/sound/MSoundFile.h"

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace cardmill {

/// The rates the instrument plays well, the highest first: the steps a fit lowers a sound by.
inline constexpr std::array<double, 8> kFitRates { 48000, 44100, 32000, 24000, 22050, 16000, 11025,
    8000 };

struct FitOptions {
    std::uint64_t cardBytes = 0; // what the project must fit into
    double minRate = 22050;
    std::optional<double> trimDb; // the level below which leading and trailing frames are cut
    bool normalize = false;
};

/// One place where the project plays a sound file: a sound of its own, or an instrument's sample.
struct FitUse {
    SampleParams params;
    std::uint32_t cardBytes = 0; // its sample words on the card today (0 when it shares them)
};

/// One sound file of the project as a fit sees it: its frames and where it is used. A file used
/// more than once is resampled for all its uses alike, and trimmed within all of them.
struct FitSound {
    std::string name;
    std::string group;
    double rate = 0;
    unsigned channels = 1;
    std::vector<std::int16_t> frames; // interleaved, the whole file
    std::vector<FitUse> uses;

    std::uint32_t FrameCount() const
    {
        return static_cast<std::uint32_t>(frames.size() / std::max(channels, 1u));
    }
    std::uint32_t CardBytes() const
    {
        std::uint32_t bytes = 0;
        for (const FitUse& use : uses)
            bytes += use.cardBytes;
        return bytes;
    }
};

/// Silent frames at the ends that a trim cuts, within what every use must keep: frames from its
/// start frame on (when one is set), its loop (when it plays) and the frame after its start.
struct FitTrim {
    std::uint32_t lead = 0;
    std::uint32_t tail = 0;
};
FitTrim SilentEnds(const FitSound& sound, double thresholdDb);

/// What the fit does to one sound.
struct FitChoice {
    double rate = 0; // the new rate; the old one when it stays
    FitTrim trim;
    unsigned volumeByte
        = 252; // the new volume of a sound used once, lowered as its peak was raised
    double gainDb = 0; // by which the frames are raised (only for a sound used once)
    double lossDb = 0; // energy above the new rate's Nyquist frequency, below the whole
    std::uint32_t bytesAfter = 0; // the estimate of its sample words on the card

    bool Resamples(const FitSound& sound) const { return rate != sound.rate; }
    std::int64_t BytesSaved(const FitSound& sound) const
    {
        return std::int64_t { sound.CardBytes() } - std::int64_t { bytesAfter };
    }
    bool Changes(const FitSound& sound) const
    {
        return Resamples(sound) || trim.lead > 0 || trim.tail > 0 || gainDb > 0;
    }
};

struct FitPlan {
    std::vector<FitChoice> choices; // one per sound, in order
    std::uint64_t totalBefore = 0;
    std::uint64_t totalAfter = 0;
    std::uint64_t cardBytes = 0;
    bool fits = false;
};

/// The plan with the least loss that fits the project (`projectBytes` today) onto the card:
/// trimmed first when asked, then rates lowered step by step, each time where the energy lost
/// above the new Nyquist frequency is least, until it fits or no sound can go lower; peaks raised
/// last when asked. Sounds stay as they are once the project fits.
FitPlan PlanFit(
    std::span<const FitSound> sounds, std::uint64_t projectBytes, const FitOptions& options);

/// A sound as the plan makes it: its frames at the new rate (16-bit, raised by the gain), cut
/// again at the new rate so that a second fit finds nothing to cut, and each use's settings moved
/// with the frames: start frame and loop scaled to the rate, the loop's length kept to a frame, its
/// start moved to the nearest zero crossing within 4 frames, and the volume lowered as the frames
/// were raised.
struct FittedSound {
    double rate = 0;
    std::vector<std::int16_t> frames;
    std::vector<SampleParams> params; // one for each use, in order
};
FittedSound ApplyFit(const FitSound& sound, const FitChoice& choice, const FitOptions& options);

/// The highest peak of the frames, in dB below full scale (0 for full scale, -120 for silence).
double PeakDb(std::span<const std::int16_t> frames);

} // namespace cardmill
