#include "model/fit/FitPlan.h"

#include "model/fit/SignalTools.h"
#include "platform/ByteReader.h"
#include "platform/ByteWriter.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <map>
#include <optional>

namespace cardmill {

namespace {

constexpr double kSilenceDb = -120.0;
constexpr std::uint32_t kZeroCrossingReach = 4;
constexpr std::uint16_t kOriginVersion = 1;
constexpr std::size_t kOriginPathLimit = 4096;

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

std::uint32_t CardBytesOf(
    std::span<const SampleParams> params, std::uint32_t count, unsigned channels, bool sharesData)
{
    // The spans of the uses that share one copy of the data, by channel; a mono file's channel
    // choice is no choice.
    std::map<std::size_t, std::pair<std::uint32_t, std::uint32_t>> spans;
    for (std::size_t u = 0; u < params.size(); ++u) {
        const auto [first, last] = MSoundFile::UsedSpan(MSoundFile::Settle(params[u], count));
        const std::size_t key = sharesData ? (channels > 1 ? params[u].channel : 0) : 1000 + u;
        const auto [at, added] = spans.try_emplace(key, first, last);
        if (!added)
            at->second = { std::min(at->second.first, first), std::max(at->second.second, last) };
    }
    std::uint64_t bytes = 0;
    for (const auto& [key, span] : spans)
        bytes += (std::uint64_t { span.second } - span.first + 8) * 2;
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(bytes, UINT32_MAX));
}

/// The bytes a choice would take without making the sound: the settings scaled to the length
/// the resampler gives, before the second trim and the loops' moves to zero crossings, which
/// only the new frames can tell. Close enough to choose rates by; the plan counts the made sound.
std::uint32_t EstimatedBytes(const FitSound& sound, const FitChoice& choice)
{
    const std::uint32_t count = sound.FrameCount();
    const double ratio = choice.rate / sound.rate;
    const std::uint32_t newCount = Scale(count - choice.trim.lead - choice.trim.tail, ratio);
    std::vector<SampleParams> params;
    for (const FitUse& use : sound.uses)
        params.push_back(Scaled(Trimmed(use.params, choice.trim, count), ratio, newCount));
    return CardBytesOf(params, newCount, sound.channels, sound.sharesData);
}

std::optional<double> NextRate(double current, double minRate)
{
    for (const double rate : kFitRates)
        if (rate < current - 0.5 && rate >= minRate - 0.5)
            return rate;
    return std::nullopt;
}

/// The origin a sound names when it is not itself an earlier fit's file: the sound itself.
FitOrigin OriginOf(const FitSound& sound)
{
    FitOrigin origin = sound.origin;
    if (origin.rate <= 0)
        origin.rate = sound.rate;
    return origin;
}

} // namespace

std::vector<std::uint8_t> FitOriginChunk(const FitOrigin& origin)
{
    constexpr auto le = Endian::Little;
    const std::string path = origin.path.substr(0, kOriginPathLimit);
    ByteWriter body;
    body.U16(kOriginVersion, le).U16(0, le);
    for (const double value : { origin.rate, origin.offset, origin.gainDb })
        body.Write(std::bit_cast<std::uint64_t>(value), le);
    body.Write(origin.frames, le).Write(origin.dataHash, le);
    body.U32(static_cast<std::uint32_t>(path.size()), le).Append(path);
    body.Fill(body.Size() & 1);
    ByteWriter chunk;
    chunk.Append("cmfo").U32(static_cast<std::uint32_t>(body.Size()), le).Append(body.Bytes());
    return chunk.Take();
}

std::optional<FitOrigin> ReadFitOrigin(std::span<const std::uint8_t> bytes)
{
    constexpr auto le = Endian::Little;
    ByteReader body(bytes);
    if (body.U16(le) != kOriginVersion || !body.Skip(2))
        return std::nullopt;
    FitOrigin origin;
    for (double* value : { &origin.rate, &origin.offset, &origin.gainDb }) {
        const auto bits = body.Read<std::uint64_t>(le);
        if (!bits)
            return std::nullopt;
        *value = std::bit_cast<double>(*bits);
    }
    const auto frames = body.Read<std::uint64_t>(le);
    const auto hash = body.Read<std::uint64_t>(le);
    const auto length = body.U32(le);
    if (!frames || !hash || !length || *length > kOriginPathLimit)
        return std::nullopt;
    const auto path = body.Bytes(*length);
    // A rate or an offset that no fit writes is no origin to make frames from.
    if (!path || !(origin.rate >= 1000 && origin.rate <= 1e6) || !(origin.offset >= 0)
        || !std::isfinite(origin.gainDb))
        return std::nullopt;
    origin.frames = *frames;
    origin.dataHash = *hash;
    origin.path.assign(path->begin(), path->end());
    return origin;
}

FitTrim SilentEnds(const FitSound& sound, double thresholdDb)
{
    return SilentEnds(ToFloat(sound.frames), sound.channels, ParamsOf(sound), thresholdDb);
}

double PeakDb(std::span<const std::int16_t> frames)
{
    return PeakDbOf(ToFloat(frames));
}

std::uint32_t CardBytesOf(const FittedSound& fitted, unsigned channels, bool sharesData)
{
    return CardBytesOf(fitted.params, Frames(fitted.frames.size(), channels), channels, sharesData);
}

const FittedSound& FitCache::Made(
    const FitSound& sound, std::size_t index, const FitChoice& choice, const FitOptions& options)
{
    const auto key = std::tuple(index, choice.rate, choice.trim.lead, choice.trim.tail,
        choice.gainDb, options.trimDb.value_or(1.0));
    const auto known = made.find(key);
    if (known != made.end())
        return known->second;
    return made.emplace(key, ApplyFit(sound, choice, options)).first->second;
}

FitPlan PlanFit(std::span<const FitSound> sounds, std::uint64_t projectBytes,
    const FitOptions& options, FitCache* cache)
{
    FitCache ownCache;
    FitCache& making = cache ? *cache : ownCache;
    FitPlan plan;
    plan.cardBytes = options.cardBytes;
    plan.totalBefore = projectBytes;
    plan.fitted.resize(sounds.size());
    std::int64_t total = static_cast<std::int64_t>(projectBytes);
    const auto estimate
        = [&](std::size_t i, const FitChoice& choice) { return EstimatedBytes(sounds[i], choice); };
    for (std::size_t i = 0; i < sounds.size(); ++i) {
        const FitSound& sound = sounds[i];
        FitChoice choice;
        choice.rate = sound.rate;
        if (options.trimDb)
            choice.trim = SilentEnds(sound, *options.trimDb);
        choice.volumeByte
            = VolumeByte(sound.uses.empty() ? 0.0f : sound.uses.front().params.volume);
        // The volume takes back the raise only where one volume goes with the frames.
        if (options.normalize && sound.uses.size() == 1)
            std::tie(choice.volumeByte, choice.gainDb)
                = Normalised(choice.volumeByte, -PeakDb(sound.frames));
        choice.bytesAfter = choice.Changes(sound) ? estimate(i, choice) : sound.CardBytes();
        total -= std::int64_t { sound.CardBytes() } - choice.bytesAfter;
        plan.choices.push_back(choice);
    }

    // Spectra only when a rate must come down: they are the plan's costly part.
    std::vector<std::optional<EnergySpectrum>> spectra(sounds.size());
    std::vector<bool> made(sounds.size(), false);
    for (;;) {
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
                FitChoice lower = choice;
                lower.rate = *next;
                const std::uint32_t bytes = estimate(i, lower);
                if (bytes >= choice.bytesAfter)
                    continue;
                if (!spectra[i]) {
                    const std::vector<float> all = ToFloat(sound.frames);
                    std::vector<float> mono(sound.FrameCount());
                    for (std::size_t f = 0; f < mono.size(); ++f)
                        for (unsigned c = 0; c < sound.channels; ++c)
                            mono[f]
                                += all[f * sound.channels + c] / static_cast<float>(sound.channels);
                    spectra[i].emplace(mono, sound.rate);
                }
                const double loss = spectra[i]->LossAboveDb(*next / 2.0);
                const std::uint32_t saved = choice.bytesAfter - bytes;
                if (!best || loss < bestLoss - 1e-9
                    || (loss < bestLoss + 1e-9
                        && saved > plan.choices[*best].bytesAfter - bestBytes)) {
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
            made[*best] = false;
        }
        // The sounds that change are made, and counted as the card will hold them: the second
        // trim and the loops' moves may take a few frames more or less than the estimate.
        bool measured = false;
        for (std::size_t i = 0; i < sounds.size(); ++i) {
            FitChoice& choice = plan.choices[i];
            if (made[i] || !choice.Changes(sounds[i]))
                continue;
            plan.fitted[i] = making.Made(sounds[i], i, choice, options);
            const std::uint32_t bytes
                = CardBytesOf(plan.fitted[i], sounds[i].channels, sounds[i].sharesData);
            total += std::int64_t { bytes } - choice.bytesAfter;
            choice.bytesAfter = bytes;
            made[i] = true;
            measured = true;
        }
        if (!measured || total <= static_cast<std::int64_t>(options.cardBytes))
            break;
    }
    plan.totalAfter = static_cast<std::uint64_t>(std::max<std::int64_t>(total, 0));
    plan.fits = total <= static_cast<std::int64_t>(options.cardBytes);
    return plan;
}

FittedSound ApplyFit(const FitSound& sound, const FitChoice& choice, const FitOptions& options)
{
    const unsigned channels = sound.channels;
    const std::uint32_t count = sound.FrameCount();
    const FitOrigin origin = OriginOf(sound);
    // The original's frames for one of this sound's frames, and where the frames kept begin.
    const double perFrame = origin.rate / sound.rate;
    double offset = origin.offset + choice.trim.lead * perFrame;
    FittedSound fitted;
    fitted.rate = choice.rate;
    for (const FitUse& use : sound.uses)
        fitted.params.push_back(Trimmed(use.params, choice.trim, count));
    std::vector<float> frames;
    if (choice.Resamples(sound) && !sound.originalFrames.empty()) {
        // A file an earlier fit made is made again from its original: one resampling, never two.
        const std::uint32_t originalCount = Frames(sound.originalFrames.size(), channels);
        const auto from
            = static_cast<std::uint32_t>(std::min<double>(std::llround(offset), originalCount));
        const auto to = static_cast<std::uint32_t>(
            std::clamp<double>(std::llround(origin.offset + (count - choice.trim.tail) * perFrame),
                from, originalCount));
        offset = from;
        frames = ToFloat(
            std::span(sound.originalFrames)
                .subspan(std::size_t { from } * channels, std::size_t { to - from } * channels));
        // The level of the file the project plays: its raise over the original is kept.
        const auto raise = static_cast<float>(std::pow(10.0, origin.gainDb / 20.0));
        for (float& s : frames)
            s *= raise;
        frames = Resample(frames, channels, origin.rate, choice.rate);
    } else {
        const auto first = sound.frames.begin() + std::size_t { choice.trim.lead } * channels;
        const auto last = sound.frames.end() - std::size_t { choice.trim.tail } * channels;
        frames = ToFloat(std::span(first, last));
        if (choice.Resamples(sound))
            frames = Resample(frames, channels, sound.rate, choice.rate);
    }
    if (choice.Resamples(sound))
        for (SampleParams& params : fitted.params)
            params = Scaled(params, choice.rate / sound.rate, Frames(frames.size(), channels));
    // Cut again at the new rate, where the filter may have left quiet frames at the ends.
    if (options.trimDb) {
        const FitTrim again = SilentEnds(frames, channels, fitted.params, *options.trimDb);
        const std::uint32_t left = Frames(frames.size(), channels);
        for (SampleParams& params : fitted.params)
            params = Trimmed(params, again, left);
        frames.erase(frames.end() - std::ptrdiff_t { again.tail } * channels, frames.end());
        frames.erase(frames.begin(), frames.begin() + std::ptrdiff_t { again.lead } * channels);
        offset += again.lead * origin.rate / choice.rate;
    }
    for (SampleParams& params : fitted.params)
        MoveLoopToZeroCrossing(params, frames, channels);
    double gainDb = 0.0;
    if (choice.gainDb > 0.0 && fitted.params.size() == 1) {
        // The raise that the frames as they now are can take, which filtering may have changed.
        unsigned volumeByte = 0;
        std::tie(volumeByte, gainDb)
            = Normalised(VolumeByte(sound.uses.front().params.volume), -PeakDbOf(frames));
        fitted.params.front().volume = VolumeFromByte(volumeByte);
    }
    fitted.frames = ToWords(frames, std::pow(10.0, gainDb / 20.0));
    fitted.origin = origin;
    fitted.origin.offset = offset;
    fitted.origin.gainDb = origin.gainDb + gainDb;
    return fitted;
}

} // namespace cardmill
