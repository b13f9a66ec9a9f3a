#include "model/fit/FitPlan.h"

#include "model/fit/SignalTools.h"

#include <algorithm>
#include <cmath>
#include <optional>

namespace cardmill {

namespace {

constexpr double kSilenceDb = -120.0;
constexpr std::uint32_t kZeroCrossingReach = 4;

/// Frames as floats of full scale 1.0, the shape the resampler and the spectrum take.
std::vector<float> ToFloat(std::span<const std::int16_t> frames)
{
    std::vector<float> out(frames.size());
    std::transform(frames.begin(), frames.end(), out.begin(),
        [](std::int16_t s) { return static_cast<float>(s) / 32768.0f; });
    return out;
}

std::vector<std::int16_t> ToWords(std::span<const float> frames, double gain)
{
    std::vector<std::int16_t> out(frames.size());
    std::transform(frames.begin(), frames.end(), out.begin(), [gain](float s) {
        const double value = std::round(static_cast<double>(s) * gain * 32768.0);
        return static_cast<std::int16_t>(std::clamp(value, -32768.0, 32767.0));
    });
    return out;
}

std::uint32_t Frames(std::size_t samples, unsigned channels)
{
    return static_cast<std::uint32_t>(samples / std::max(channels, 1u));
}

FitTrim SilentEnds(std::span<const float> frames, unsigned channels,
    std::span<const SampleParams> uses, double thresholdDb)
{
    const std::uint32_t count = Frames(frames.size(), channels);
    const float threshold = static_cast<float>(std::pow(10.0, thresholdDb / 20.0));
    const auto loud = [&](std::uint32_t frame) {
        for (unsigned c = 0; c < channels; ++c)
            if (std::fabs(frames[std::size_t { frame } * channels + c]) >= threshold)
                return true;
        return false;
    };
    std::uint32_t first = 0;
    while (first < count && !loud(first))
        ++first;
    if (first == count)
        return {}; // a silent sound is left as it is: nothing in it says where it begins
    std::uint32_t end = count;
    while (!loud(end - 1))
        --end;
    // What each use plays is kept: from its start frame, all of its loop.
    std::uint32_t lead = first;
    for (const SampleParams& p : uses) {
        if (p.startFrame > 0)
            lead = std::min(lead, p.startFrame);
        if (p.looping) {
            lead = std::min(lead, p.loopStart);
            end = std::max(end, std::min(p.loopEnd, count));
        }
        end = std::max(end, std::min(count, p.startFrame + 1));
    }
    end = std::max(end, lead + 1);
    return { lead, count - end };
}

/// The frames the card holds of a sound with these settings (without the 8 after its end).
std::uint32_t UsedFrames(const SampleParams& p, std::uint32_t count)
{
    const std::uint32_t end = p.looping ? std::min(p.loopEnd, count) : count;
    const std::uint32_t first = p.looping ? std::min(p.startFrame, p.loopStart) : p.startFrame;
    return end > first ? end - first : 0;
}

/// The settings of the frames left after a trim, counted from the first frame kept.
SampleParams Trimmed(SampleParams p, const FitTrim& trim, std::uint32_t count)
{
    const std::uint32_t left = count - trim.lead - trim.tail;
    p.startFrame = p.startFrame > trim.lead ? std::min(p.startFrame - trim.lead, left - 1) : 0;
    if (p.looping) {
        p.loopStart -= std::min(p.loopStart, trim.lead);
        p.loopEnd = std::min(p.loopEnd - std::min(p.loopEnd, trim.lead), left);
    }
    return p;
}

std::uint32_t Scale(std::uint32_t frame, double ratio)
{
    return static_cast<std::uint32_t>(std::llround(frame * ratio));
}

/// Settings scaled to a new rate; the loop's length is scaled on its own, so that it stays
/// within a frame of its length in seconds.
SampleParams Scaled(SampleParams p, double ratio, std::uint32_t count)
{
    p.startFrame = count > 0 ? std::min(Scale(p.startFrame, ratio), count - 1) : 0;
    if (p.looping) {
        const std::uint32_t length = Scale(p.loopEnd - p.loopStart, ratio);
        p.loopStart = std::min(Scale(p.loopStart, ratio), count);
        p.loopEnd = std::min(p.loopStart + length, count);
    }
    return p;
}

/// The loop moved, whole, so that it starts at the nearest zero crossing within reach.
void MoveLoopToZeroCrossing(SampleParams& p, std::span<const float> frames, unsigned channels)
{
    const std::uint32_t count = Frames(frames.size(), channels);
    if (!p.looping)
        return;
    const auto mono = [&](std::uint32_t frame) {
        float sum = 0.0f;
        for (unsigned c = 0; c < channels; ++c)
            sum += frames[std::size_t { frame } * channels + c];
        return sum;
    };
    const std::uint32_t length = p.loopEnd - p.loopStart;
    for (std::uint32_t reach = 0; reach <= kZeroCrossingReach; ++reach) {
        for (const int sign : { -1, 1 }) {
            const std::int64_t at = std::int64_t { p.loopStart } + sign * std::int64_t { reach };
            if (at < 1 || at + length > count)
                continue;
            const float before = mono(static_cast<std::uint32_t>(at - 1));
            const float here = mono(static_cast<std::uint32_t>(at));
            if ((before < 0.0f && here >= 0.0f) || (before > 0.0f && here <= 0.0f)) {
                p.loopStart = static_cast<std::uint32_t>(at);
                p.loopEnd = p.loopStart + length;
                return;
            }
        }
    }
}

double PeakDbOf(std::span<const float> frames)
{
    float peak = 0.0f;
    for (const float s : frames)
        peak = std::max(peak, std::fabs(s));
    // Full scale is the highest positive word, so that raising to it never clips.
    return peak > 0.0f ? std::max(kSilenceDb, 20.0 * std::log10(peak * 32768.0 / 32767.0))
                       : kSilenceDb;
}

/// The volume byte that takes back a raise of the frames by at most `headroomDb`, and the raise
/// it takes back (0 when the volume can't go lower by a step).
std::pair<unsigned, double> Normalised(unsigned volumeByte, double headroomDb)
{
    if (headroomDb <= 0.0 || volumeByte <= 4)
        return { volumeByte, 0.0 };
    // The card's volume byte moves in steps of 4; the raise is what those steps give.
    const double lowest = volumeByte / std::pow(10.0, headroomDb / 20.0);
    const unsigned lowered
        = std::max(4u, static_cast<unsigned>(std::ceil(lowest / 4.0 - 1e-9)) * 4);
    if (lowered >= volumeByte)
        return { volumeByte, 0.0 };
    return { lowered, 20.0 * std::log10(static_cast<double>(volumeByte) / lowered) };
}

std::vector<SampleParams> ParamsOf(const FitSound& sound)
{
    std::vector<SampleParams> params;
    for (const FitUse& use : sound.uses)
        params.push_back(use.params);
    return params;
}

std::uint32_t BytesAfter(const FitSound& sound, const FitTrim& trim, double rate)
{
    const std::uint32_t count = sound.FrameCount();
    const std::uint32_t left = count - trim.lead - trim.tail;
    const double ratio = rate / sound.rate;
    const std::uint32_t newCount = Scale(left, ratio);
    std::int64_t bytes = 0;
    for (const FitUse& use : sound.uses) {
        if (use.cardBytes == 0)
            continue; // it shares the data of another use
        const std::uint32_t used = UsedFrames(use.params, count);
        const std::uint32_t usedAfter
            = UsedFrames(Scaled(Trimmed(use.params, trim, count), ratio, newCount), newCount);
        bytes += std::max<std::int64_t>(std::int64_t { use.cardBytes } - 2 * std::int64_t { used }
                + 2 * std::int64_t { usedAfter },
            0);
    }
    return static_cast<std::uint32_t>(bytes);
}

std::optional<double> NextRate(double current, double minRate)
{
    for (const double rate : kFitRates)
        if (rate < current - 0.5 && rate >= minRate - 0.5)
            return rate;
    return std::nullopt;
}

} // namespace

FitTrim SilentEnds(const FitSound& sound, double thresholdDb)
{
    return SilentEnds(ToFloat(sound.frames), sound.channels, ParamsOf(sound), thresholdDb);
}

double PeakDb(std::span<const std::int16_t> frames)
{
    return PeakDbOf(ToFloat(frames));
}

FitPlan PlanFit(
    std::span<const FitSound> sounds, std::uint64_t projectBytes, const FitOptions& options)
{
    FitPlan plan;
    plan.cardBytes = options.cardBytes;
    plan.totalBefore = projectBytes;
    std::int64_t total = static_cast<std::int64_t>(projectBytes);
    for (const FitSound& sound : sounds) {
        FitChoice choice;
        choice.rate = sound.rate;
        if (options.trimDb)
            choice.trim = SilentEnds(sound, *options.trimDb);
        choice.bytesAfter = BytesAfter(sound, choice.trim, sound.rate);
        choice.volumeByte
            = VolumeByte(sound.uses.empty() ? 0.0f : sound.uses.front().params.volume);
        total -= std::int64_t { sound.CardBytes() } - choice.bytesAfter;
        plan.choices.push_back(choice);
    }

    // Spectra only when a rate must come down: they are the plan's costly part.
    std::vector<std::optional<EnergySpectrum>> spectra(sounds.size());
    while (total > static_cast<std::int64_t>(options.cardBytes)) {
        std::optional<std::size_t> best;
        double bestLoss = 0.0;
        std::uint32_t bestBytes = 0;
        for (std::size_t i = 0; i < sounds.size(); ++i) {
            const FitSound& sound = sounds[i];
            const FitChoice& choice = plan.choices[i];
            const auto next = NextRate(choice.rate, options.minRate);
            if (!next)
                continue;
            const std::uint32_t bytes = BytesAfter(sound, choice.trim, *next);
            if (bytes >= choice.bytesAfter)
                continue;
            if (!spectra[i]) {
                const std::vector<float> all = ToFloat(sound.frames);
                std::vector<float> mono(sound.FrameCount());
                for (std::size_t f = 0; f < mono.size(); ++f)
                    for (unsigned c = 0; c < sound.channels; ++c)
                        mono[f] += all[f * sound.channels + c] / static_cast<float>(sound.channels);
                spectra[i].emplace(mono, sound.rate);
            }
            const double loss = spectra[i]->LossAboveDb(*next / 2.0);
            const std::uint32_t saved = choice.bytesAfter - bytes;
            if (!best || loss < bestLoss - 1e-9
                || (loss < bestLoss + 1e-9 && saved > plan.choices[*best].bytesAfter - bestBytes)) {
                best = i;
                bestLoss = loss;
                bestBytes = bytes;
            }
        }
        if (!best)
            break;
        FitChoice& chosen = plan.choices[*best];
        chosen.rate = *NextRate(chosen.rate, options.minRate);
        chosen.lossDb = bestLoss;
        total -= std::int64_t { chosen.bytesAfter } - bestBytes;
        chosen.bytesAfter = bestBytes;
    }

    // The volume takes back the raise only where one volume goes with the frames.
    if (options.normalize)
        for (std::size_t i = 0; i < sounds.size(); ++i) {
            if (sounds[i].uses.size() != 1)
                continue;
            FitChoice& choice = plan.choices[i];
            std::tie(choice.volumeByte, choice.gainDb)
                = Normalised(choice.volumeByte, -PeakDb(sounds[i].frames));
        }
    plan.totalAfter = static_cast<std::uint64_t>(std::max<std::int64_t>(total, 0));
    plan.fits = total <= static_cast<std::int64_t>(options.cardBytes);
    return plan;
}

FittedSound ApplyFit(const FitSound& sound, const FitChoice& choice, const FitOptions& options)
{
    const unsigned channels = sound.channels;
    const std::uint32_t count = sound.FrameCount();
    FittedSound fitted;
    fitted.rate = choice.rate;
    const auto first = sound.frames.begin() + std::size_t { choice.trim.lead } * channels;
    const auto last = sound.frames.end() - std::size_t { choice.trim.tail } * channels;
    std::vector<float> frames = ToFloat(std::span(first, last));
    for (const FitUse& use : sound.uses)
        fitted.params.push_back(Trimmed(use.params, choice.trim, count));
    if (choice.Resamples(sound)) {
        frames = Resample(frames, channels, sound.rate, choice.rate);
        for (SampleParams& params : fitted.params)
            params = Scaled(params, choice.rate / sound.rate, Frames(frames.size(), channels));
    }
    // Cut again at the new rate, where the filter may have left quiet frames at the ends.
    if (options.trimDb) {
        const FitTrim again = SilentEnds(frames, channels, fitted.params, *options.trimDb);
        const std::uint32_t left = Frames(frames.size(), channels);
        for (SampleParams& params : fitted.params)
            params = Trimmed(params, again, left);
        frames.erase(frames.end() - std::ptrdiff_t { again.tail } * channels, frames.end());
        frames.erase(frames.begin(), frames.begin() + std::ptrdiff_t { again.lead } * channels);
    }
    for (SampleParams& params : fitted.params)
        MoveLoopToZeroCrossing(params, frames, channels);
    double gain = 1.0;
    if (choice.gainDb > 0.0 && fitted.params.size() == 1) {
        // The raise that the frames as they now are can take, which filtering may have changed.
        const auto [volumeByte, gainDb]
            = Normalised(VolumeByte(sound.uses.front().params.volume), -PeakDbOf(frames));
        fitted.params.front().volume = VolumeFromByte(volumeByte);
        gain = std::pow(10.0, gainDb / 20.0);
    }
    fitted.frames = ToWords(frames, gain);
    return fitted;
}

} // namespace cardmill
