#pragma once

#include "model/sound/MSoundFile.h"

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <tuple>
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

/// One place where the project plays a sound: its settings and its sample words on the card
/// today (0 when another place's words hold them).
struct FitUse {
    SampleParams params;
    std::uint32_t cardBytes = 0;
};

/// The original sound that a fitted file was made from, and how the fitted frames stand to it,
/// kept in the fitted file: a later fit makes its frames from the original again, never from a
/// copy it made itself.
struct FitOrigin {
    std::string path; // the original's (a library's sample with its key)
    double rate = 0;
    double offset = 0; // the original's frame at the fitted file's first frame
    double gainDb = 0; // how far the fitted frames were raised over the original's
    std::uint64_t frames = 0; // the original's length and a hash of its data: the same original
    std::uint64_t dataHash = 0;
};

/// The RIFF chunk ("cmfo") that holds an origin in a fitted WAV file, header included.
std::vector<std::uint8_t> FitOriginChunk(const FitOrigin& origin);
/// An origin from the body of such a chunk; nothing when it is not one this program wrote.
std::optional<FitOrigin> ReadFitOrigin(std::span<const std::uint8_t> body);

/// One sound of the project as a fit sees it: its frames, the places it is played (all the
/// places of one file and place in it, and all that share their card data), and what a new rate
/// is made from. It is resampled for all its places alike, and trimmed within all of them.
struct FitSound {
    std::string name;
    std::string group;
    double rate = 0;
    unsigned channels = 1;
    std::vector<std::int16_t> frames; // interleaved, the whole file the project plays today
    std::vector<FitUse> uses;
    /// Places on one channel share one copy of the data on the card (phantoms are allowed).
    bool sharesData = true;
    /// What the fitted file names as its original: this sound itself, or, for a file an earlier
    /// fit made, that file's original, whose frames are then in `originalFrames`.
    FitOrigin origin;
    std::vector<std::int16_t> originalFrames;

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
    std::uint32_t bytesAfter = 0; // its sample words on the card after the fit

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

/// A sound as a choice makes it: its frames at the new rate (16-bit, raised by the gain), cut
/// again at the new rate where the filter left quiet frames at the ends, each use's settings
/// moved with the frames (start frame and loop scaled to the rate, the loop's length kept to a
/// frame, its start moved to the nearest zero crossing within 4 frames, the volume lowered as the
/// frames were raised), and the origin the new file keeps.
struct FittedSound {
    double rate = 0;
    std::vector<std::int16_t> frames;
    std::vector<SampleParams> params; // one for each use, in order
    FitOrigin origin;
};
FittedSound ApplyFit(const FitSound& sound, const FitChoice& choice, const FitOptions& options);

/// The bytes of sample words the card holds for a fitted sound's uses, as the project will count
/// them: the span each use plays, one span for the uses that share their data.
std::uint32_t CardBytesOf(const FittedSound& fitted, unsigned channels, bool sharesData);

struct FitPlan {
    std::vector<FitChoice> choices; // one per sound, in order
    std::vector<FittedSound> fitted; // one per sound: what its choice makes (empty when unchanged)
    std::uint64_t totalBefore = 0;
    std::uint64_t totalAfter = 0; // what the project takes with every change made, to the byte
    std::uint64_t cardBytes = 0;
    bool fits = false;
};

/// The sounds a plan made, kept for the next plan of the same sounds (a dialog's changed
/// options): making them is most of a plan's work.
class FitCache {
public:
    const FittedSound& Made(const FitSound& sound, std::size_t index, const FitChoice& choice,
        const FitOptions& options);

private:
    std::map<std::tuple<std::size_t, double, std::uint32_t, std::uint32_t, double, double>,
        FittedSound>
        made;
};

/// The plan with the least loss that fits the project (`projectBytes` today) onto the card:
/// trimmed first when asked, then rates lowered step by step, each time where the energy lost
/// above the new Nyquist frequency is least, until it fits or no sound can go lower; peaks raised
/// when asked. Sounds stay as they are once the project fits. Every sound that changes is made
/// (ApplyFit, or taken from `cache`) and counted as the card will hold it.
FitPlan PlanFit(std::span<const FitSound> sounds, std::uint64_t projectBytes,
    const FitOptions& options, FitCache* cache = nullptr);

/// The highest peak of the frames, in dB below full scale (0 for full scale, -120 for silence).
double PeakDb(std::span<const std::int16_t> frames);

} // namespace cardmill
