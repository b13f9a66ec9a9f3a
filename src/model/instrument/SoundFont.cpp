#include "model/instrument/SoundFont.h"

#include "model/TextEncoding.h"
#include "model/TextFields.h"
#include "model/instrument/RiffChunks.h"
#include "model/sound/MSoundFileSndfile.h"
#include "platform/ByteReader.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <functional>
#include <tuple>

namespace cardmill {

namespace {

constexpr auto le = Endian::Little;

// The generators the card's instrument takes; every other one set to anything but its default
// is reported.
enum Gen : std::uint16_t {
    kStartOffset = 0,
    kEndOffset = 1,
    kLoopStartOffset = 2,
    kLoopEndOffset = 3,
    kStartCoarse = 4,
    kEndCoarse = 12,
    kModLfoToVolume = 13,
    kPan = 17,
    kInstrument = 41,
    kKeyRange = 43,
    kVelRange = 44,
    kLoopStartCoarse = 45,
    kAttenuation = 48,
    kLoopEndCoarse = 50,
    kCoarseTune = 51,
    kFineTune = 52,
    kSampleId = 53,
    kSampleModes = 54,
    kScaleTuning = 56,
    kRootKey = 58,
    kGeneratorCount = 61,
};

struct GeneratorInfo {
    const char* name;
    std::int16_t fallback;
};

// Names as the SoundFont 2.04 document gives them, with their defaults.
constexpr std::array<GeneratorInfo, kGeneratorCount> kGenerators { {
    { "startAddrsOffset", 0 },
    { "endAddrsOffset", 0 },
    { "startloopAddrsOffset", 0 },
    { "endloopAddrsOffset", 0 },
    { "startAddrsCoarseOffset", 0 },
    { "modLfoToPitch", 0 },
    { "vibLfoToPitch", 0 },
    { "modEnvToPitch", 0 },
    { "initialFilterFc", 13500 },
    { "initialFilterQ", 0 },
    { "modLfoToFilterFc", 0 },
    { "modEnvToFilterFc", 0 },
    { "endAddrsCoarseOffset", 0 },
    { "modLfoToVolume", 0 },
    { "unused1", 0 },
    { "chorusEffectsSend", 0 },
    { "reverbEffectsSend", 0 },
    { "pan", 0 },
    { "unused2", 0 },
    { "unused3", 0 },
    { "unused4", 0 },
    { "delayModLFO", -12000 },
    { "freqModLFO", 0 },
    { "delayVibLFO", -12000 },
    { "freqVibLFO", 0 },
    { "delayModEnv", -12000 },
    { "attackModEnv", -12000 },
    { "holdModEnv", -12000 },
    { "decayModEnv", -12000 },
    { "sustainModEnv", 0 },
    { "releaseModEnv", -12000 },
    { "keynumToModEnvHold", 0 },
    { "keynumToModEnvDecay", 0 },
    { "delayVolEnv", -12000 },
    { "attackVolEnv", -12000 },
    { "holdVolEnv", -12000 },
    { "decayVolEnv", -12000 },
    { "sustainVolEnv", 0 },
    { "releaseVolEnv", -12000 },
    { "keynumToVolEnvHold", 0 },
    { "keynumToVolEnvDecay", 0 },
    { "instrument", 0 },
    { "reserved1", 0 },
    { "keyRange", 0 },
    { "velRange", 0 },
    { "startloopAddrsCoarseOffset", 0 },
    { "keynum", -1 },
    { "velocity", -1 },
    { "initialAttenuation", 0 },
    { "reserved2", 0 },
    { "endloopAddrsCoarseOffset", 0 },
    { "coarseTune", 0 },
    { "fineTune", 0 },
    { "sampleID", 0 },
    { "sampleModes", 0 },
    { "reserved3", 0 },
    { "scaleTuning", 100 },
    { "exclusiveClass", 0 },
    { "overridingRootKey", -1 },
    { "unused5", 0 },
    { "endOper", 0 },
} };

bool Handled(std::uint16_t oper)
{
    switch (oper) {
    case kStartOffset:
    case kLoopStartOffset:
    case kLoopEndOffset:
    case kStartCoarse:
    case kInstrument:
    case kKeyRange:
    case kVelRange:
    case kLoopStartCoarse:
    case kAttenuation:
    case kLoopEndCoarse:
    case kCoarseTune:
    case kFineTune:
    case kSampleId:
    case kSampleModes:
    case kRootKey:
        return true;
    default:
        return false;
    }
}

/// Generator values of one level (preset or instrument): a zone's own over its global zone's.
struct Values {
    std::array<std::optional<std::uint16_t>, kGeneratorCount> set {};

    void Take(const SoundFont::Zone& zone)
    {
        for (const auto& generator : zone.generators)
            if (generator.oper < kGeneratorCount)
                set[generator.oper] = generator.amount;
    }
    int Signed(std::uint16_t oper) const
    {
        return set[oper] ? static_cast<std::int16_t>(*set[oper]) : kGenerators[oper].fallback;
    }
    std::pair<int, int> Range(std::uint16_t oper) const
    {
        if (!set[oper])
            return { 0, 127 };
        return { *set[oper] & 0xFF, *set[oper] >> 8 };
    }
};

std::string FixedText(const ByteReader& record, std::size_t at, std::size_t length)
{
    const auto bytes = record.SubAt(at, length);
    if (!bytes)
        return {};
    std::string text(bytes->Data().begin(), bytes->Data().end());
    text.resize(std::min(text.find('\0'), text.size()));
    while (!text.empty() && text.back() == ' ')
        text.pop_back();
    // Names are ASCII by the format's word; editors on Windows wrote their own letters.
    return DecodeText(text, Charset::Windows1252);
}

/// The zones of presets (or instruments) from their header, bag, modulator and generator lists:
/// each holder's zones run from its bag index to the next holder's.
bool ReadHolders(const ByteReader& headers, std::size_t headerSize, const ByteReader& bags,
    const ByteReader& gens, const ByteReader& mods, bool presets,
    std::vector<SoundFont::Holder>& out, std::size_t maxZones, std::string& error)
{
    const std::size_t count = headers.Size() / headerSize;
    const std::size_t bagCount = bags.Size() / 4;
    const std::size_t genCount = gens.Size() / 4;
    const std::size_t modCount = mods.Size() / 10;
    if (count < 1 || bagCount < 1 || genCount < 1) {
        error = std::string("Its ") + (presets ? "preset" : "instrument") + " lists are damaged.";
        return false;
    }
    if (bagCount > maxZones || genCount > maxZones * 8) {
        error = "It holds more zones than Cardmill reads.";
        return false;
    }
    const std::size_t bagAt = presets ? 24 : 20;
    auto bagOf = [&](std::size_t holder) {
        return std::size_t { *headers.U16At(holder * headerSize + bagAt, le) };
    };
    for (std::size_t h = 0; h + 1 < count; ++h) { // the last one ends the list
        SoundFont::Holder holder;
        holder.name = FixedText(headers, h * headerSize, 20);
        if (presets) {
            holder.program = *headers.U16At(h * headerSize + 20, le);
            holder.bank = *headers.U16At(h * headerSize + 22, le);
        }
        const std::size_t first = bagOf(h), last = bagOf(h + 1);
        if (first > last || last >= bagCount) {
            error = "The zones of '" + holder.name + "' lie outside its zone list.";
            return false;
        }
        for (std::size_t b = first; b < last; ++b) {
            const std::size_t genFirst = *bags.U16At(b * 4, le),
                              genLast = *bags.U16At(b * 4 + 4, le);
            const std::size_t modFirst = *bags.U16At(b * 4 + 2, le),
                              modLast = *bags.U16At(b * 4 + 6, le);
            if (genFirst > genLast || genLast > genCount || modFirst > modLast
                || (modLast > modCount && modLast > modFirst)) {
                error = "The generators of '" + holder.name + "' lie outside their list.";
                return false;
            }
            SoundFont::Zone zone;
            zone.modulators = modLast - modFirst;
            for (std::size_t g = genFirst; g < genLast; ++g)
                zone.generators.push_back({ *gens.U16At(g * 4, le), *gens.U16At(g * 4 + 2, le) });
            holder.zones.push_back(std::move(zone));
        }
        out.push_back(std::move(holder));
    }
    return true;
}

/// The index that a zone's last generator names (instrument or sample), if it ends that way.
std::optional<std::uint16_t> ZoneTarget(const SoundFont::Zone& zone, std::uint16_t oper)
{
    if (zone.generators.empty() || zone.generators.back().oper != oper)
        return std::nullopt;
    return zone.generators.back().amount;
}

constexpr std::uint16_t kRightSide = 2, kLeftSide = 4, kCompressed = 0x10, kInRom = 0x8000;

/// A sample's kind (mono, right or left side, linked) without its compression and its place.
int SampleKind(const SoundFontSample& sample)
{
    return sample.type & ~(kCompressed | kInRom);
}

/// Whether a sample's data is an Ogg Vorbis stream, its start and end byte offsets.
bool IsCompressed(const SoundFont& font, const SoundFontSample& sample)
{
    return font.Compressed() || (sample.type & kCompressed);
}

/// The frames an Ogg Vorbis stream decodes to: the granule position of its last page, the one
/// that ends the stream (flagged so) at the stream's last byte. Nothing when there is none.
std::optional<std::uint64_t> OggFrames(
    const RangeReader& read, std::uint64_t at, std::uint64_t bytes)
{
    // A page is its 27-byte header, a table of up to 255 segment sizes and their bytes; the last
    // page is mostly short, so a short tail is read first.
    for (const std::uint64_t tail : { std::uint64_t { 8192 }, std::uint64_t { 27 + 255 * 256 } }) {
        const std::uint64_t count = std::min(tail, bytes);
        const auto end = read(at + bytes - count, count);
        if (!end || end->size() < 27)
            return std::nullopt;
        const ByteReader pages(*end);
        for (std::size_t page = end->size() - 27 + 1; page-- > 0;) {
            if (!pages.HasCodeAt(page, "OggS") || pages.U8At(page + 4) != 0
                || !(*pages.U8At(page + 5) & 4))
                continue;
            const std::size_t segments = *pages.U8At(page + 26);
            std::size_t length = 27 + segments;
            for (std::size_t s = 0; s < segments; ++s)
                length += pages.U8At(page + 27 + s).value_or(0);
            const auto granule = pages.ReadAt<std::uint64_t>(page + 6, le);
            if (page + length == end->size() && granule && *granule != ~std::uint64_t { 0 })
                return granule;
        }
        if (count == bytes)
            break;
    }
    return std::nullopt;
}

/// Whether two regions play alike but for their samples.
bool Alike(const SfzRegion& a, const SfzRegion& b)
{
    return std::tie(a.lokey, a.hikey, a.lovel, a.hivel, a.keycenter, a.transpose, a.tune, a.volume,
               a.offset, a.loopMode, a.loopStart, a.loopEnd)
        == std::tie(b.lokey, b.hikey, b.lovel, b.hivel, b.keycenter, b.transpose, b.tune, b.volume,
            b.offset, b.loopMode, b.loopStart, b.loopEnd);
}

/// The two zones of a stereo sample (a left and a right sample linked to each other, panned
/// hard left and right, of as many frames, alike in all else) become one region of both, louder
/// by the 3 dB that their panning took, as SFZ exports make them; the second is left out. A zone
/// panned otherwise has its pan reported.
template <typename Zones>
void PairStereoSides(
    const SoundFont& font, Zones& zones, const std::function<void(const std::string&)>& report)
{
    constexpr int kHard = 500;
    std::vector<bool> second(zones.size(), false);
    for (std::size_t i = 0; i < zones.size(); ++i) {
        if (second[i])
            continue;
        const SoundFontSample& side = font.samples[zones[i].sample];
        const bool left = SampleKind(side) == kLeftSide && zones[i].pan == -kHard;
        const bool right = SampleKind(side) == kRightSide && zones[i].pan == kHard;
        bool paired = false;
        for (std::size_t j = i + 1; (left || right) && j < zones.size(); ++j) {
            const SoundFontSample& other = font.samples[zones[j].sample];
            if (second[j] || zones[j].sample != side.link || other.link != zones[i].sample
                || zones[j].pan != -zones[i].pan
                || SampleKind(other) != (left ? kRightSide : kLeftSide) || side.frames == 0
                || other.frames != side.frames || other.rate != side.rate
                || !Alike(zones[i].region, zones[j].region))
                continue;
            const std::size_t l = left ? zones[i].sample : zones[j].sample;
            const std::size_t r = left ? zones[j].sample : zones[i].sample;
            zones[i].region.sample = std::to_string(l) + "," + std::to_string(r);
            zones[i].region.volume += 3.0;
            second[j] = paired = true;
            break;
        }
        if (!paired && zones[i].pan != 0)
            report("pan");
    }
    std::size_t kept = 0;
    for (std::size_t i = 0; i < zones.size(); ++i)
        if (!second[i]) {
            if (kept != i)
                zones[kept] = std::move(zones[i]);
            ++kept;
        }
    zones.resize(kept);
}

} // namespace

std::optional<SoundFont> ReadSoundFont(
    const RangeReader& read, std::uint64_t size, std::string& error, const SoundFontLimits& limits)
{
    if (!IsRiffForm(read, "sfbk")) {
        error = "It is not a SoundFont.";
        return std::nullopt;
    }
    SoundFont font;
    std::optional<std::vector<std::uint8_t>> pdta;
    for (const RiffChunk& list : RangeChunks(read, 12, size)) {
        if (list.type == "INFO" || list.type == "pdta") {
            if (list.size > limits.maxHydraBytes) {
                error = "Its preset lists are larger than Cardmill reads.";
                return std::nullopt;
            }
            auto bytes = read(list.at, list.size);
            if (!bytes) {
                error = "It can't be read to its end.";
                return std::nullopt;
            }
            if (list.type == "pdta") {
                pdta = std::move(bytes);
                continue;
            }
            EachChunk(ByteReader(*bytes), [&](std::string_view id, auto, const ByteReader& body) {
                if (id == "ifil" && body.Size() >= 4) {
                    font.major = *body.U16At(0, le);
                    font.minor = *body.U16At(2, le);
                } else if (id == "INAM") {
                    font.name = FixedText(body, 0, std::min<std::size_t>(body.Size(), 256));
                }
            });
        } else if (list.type == "sdta") {
            // Only where the sample data lies: it is read a sample at a time.
            for (const RiffChunk& data : RangeChunks(read, list.at, list.at + list.size)) {
                if (data.id == "smpl")
                    font.smplAt = data.at, font.smplBytes = data.size;
                else if (data.id == "sm24")
                    font.sm24At = data.at, font.sm24Bytes = data.size;
            }
        }
    }
    if (font.major < 2 || font.major > 3) {
        error = "It is a SoundFont of version " + std::to_string(font.major)
            + "; Cardmill reads versions 2 and 3.";
        return std::nullopt;
    }
    if (!pdta) {
        error = "It has no preset list: it is damaged.";
        return std::nullopt;
    }
    // The nine lists of the preset data, each in its own sub-chunk.
    std::array<ByteReader, 9> lists;
    constexpr std::array<const char*, 9> kNames { "phdr", "pbag", "pmod", "pgen", "inst", "ibag",
        "imod", "igen", "shdr" };
    std::array<bool, 9> found {};
    EachChunk(ByteReader(*pdta), [&](std::string_view id, auto, const ByteReader& body) {
        for (std::size_t i = 0; i < kNames.size(); ++i)
            if (id == kNames[i]) {
                lists[i] = body;
                found[i] = true;
            }
    });
    for (std::size_t i = 0; i < kNames.size(); ++i)
        if (!found[i]) {
            error = std::string("Its preset data has no '") + kNames[i] + "' list: it is damaged.";
            return std::nullopt;
        }
    if (!ReadHolders(
            lists[0], 38, lists[1], lists[3], lists[2], true, font.presets, limits.maxZones, error)
        || !ReadHolders(lists[4], 22, lists[5], lists[7], lists[6], false, font.instruments,
            limits.maxZones, error))
        return std::nullopt;
    const ByteReader& shdr = lists[8];
    for (std::size_t s = 0; (s + 2) * 46 <= shdr.Size(); ++s) { // the last one ends the list
        const std::size_t at = s * 46;
        SoundFontSample sample;
        sample.name = FixedText(shdr, at, 20);
        sample.start = *shdr.U32At(at + 20, le);
        sample.end = *shdr.U32At(at + 24, le);
        sample.loopStart = *shdr.U32At(at + 28, le);
        sample.loopEnd = *shdr.U32At(at + 32, le);
        sample.rate = *shdr.U32At(at + 36, le);
        sample.originalPitch = *shdr.U8At(at + 40);
        sample.pitchCorrection = static_cast<std::int8_t>(*shdr.U8At(at + 41));
        sample.link = *shdr.U16At(at + 42, le);
        sample.type = *shdr.U16At(at + 44, le);
        // SF3's byte offsets tell nothing of the frames; a stereo side's are wanted to pair it.
        if (!IsCompressed(font, sample))
            sample.frames = sample.end >= sample.start ? sample.end - sample.start : 0;
        else if ((SampleKind(sample) == kLeftSide || SampleKind(sample) == kRightSide)
            && sample.start < sample.end && sample.end <= font.smplBytes)
            sample.frames = OggFrames(read, font.smplAt + sample.start, sample.end - sample.start)
                                .value_or(0);
        font.samples.push_back(std::move(sample));
    }
    if (font.presets.empty()) {
        error = "It holds no preset.";
        return std::nullopt;
    }
    return font;
}

LibraryPreset CatalogEntry(
    std::string name, int bank, int program, const std::vector<SfzRegion>& regions)
{
    LibraryPreset entry { std::move(name), bank, program };
    for (const SfzRegion& region : regions) {
        entry.lokey = std::min(entry.lokey, region.lokey);
        entry.hikey = std::max(entry.hikey, region.hikey);
    }
    return entry;
}

std::vector<LibraryPreset> SoundFont::Catalog() const
{
    std::vector<LibraryPreset> catalog;
    for (std::size_t p = 0; p < presets.size(); ++p)
        catalog.push_back(CatalogEntry(presets[p].name, presets[p].bank, presets[p].program,
            SoundFontRegions(*this, p, {}).regions));
    return catalog;
}

SfzDocument SoundFontRegions(const SoundFont& font, std::size_t preset, const std::string& fileName)
{
    SfzDocument document;
    if (preset >= font.presets.size())
        return document;
    const SoundFont::Holder& holder = font.presets[preset];
    auto drop = [&](const std::string& where, const std::string& what, std::string reason) {
        if (document.dropped.size() < 1000)
            document.dropped.push_back({ fileName + ", " + where, 0, what, std::move(reason) });
    };
    Values presetGlobal;
    for (std::size_t pz = 0; pz < holder.zones.size(); ++pz) {
        const SoundFont::Zone& presetZone = holder.zones[pz];
        const auto instrument = ZoneTarget(presetZone, kInstrument);
        if (!instrument) {
            if (pz == 0)
                presetGlobal.Take(presetZone);
            continue;
        }
        if (*instrument >= font.instruments.size()) {
            drop("preset '" + holder.name + "'", "instrument",
                "names an instrument the file doesn't hold; the zone is left out");
            continue;
        }
        Values presetValues = presetGlobal;
        presetValues.Take(presetZone);
        const SoundFont::Holder& inst = font.instruments[*instrument];
        const std::string where = "instrument '" + inst.name + "'";
        struct Made {
            SfzRegion region;
            std::size_t sample;
            int pan;
        };
        std::vector<Made> made;
        if (presetZone.modulators > 0 || (pz == 0 ? false : holder.zones[0].modulators > 0))
            drop("preset '" + holder.name + "'", "modulators", "not on the card");
        Values instGlobal;
        for (std::size_t iz = 0; iz < inst.zones.size(); ++iz) {
            const SoundFont::Zone& instZone = inst.zones[iz];
            const auto sampleId = ZoneTarget(instZone, kSampleId);
            if (!sampleId) {
                if (iz == 0)
                    instGlobal.Take(instZone);
                continue;
            }
            Values values = instGlobal;
            values.Take(instZone);
            if (*sampleId >= font.samples.size()) {
                drop(where, "sampleID",
                    "names a sample the file doesn't hold; the zone is left out");
                continue;
            }
            const SoundFontSample& sample = font.samples[*sampleId];
            const auto [presetLoKey, presetHiKey] = presetValues.Range(kKeyRange);
            const auto [presetLoVel, presetHiVel] = presetValues.Range(kVelRange);
            const auto [loKey, hiKey] = values.Range(kKeyRange);
            const auto [loVel, hiVel] = values.Range(kVelRange);
            SfzRegion region;
            region.file = fileName;
            region.sample = std::to_string(*sampleId);
            region.lokey = std::max(loKey, presetLoKey);
            region.hikey = std::min({ hiKey, presetHiKey, 127 });
            region.lovel = std::max({ loVel, presetLoVel, 1 });
            region.hivel = std::min({ hiVel, presetHiVel, 127 });
            if (region.lokey > region.hikey || region.lovel > region.hivel)
                continue; // the preset's ranges leave this zone no key to play
            // Tuning adds up over both levels; coarse tuning moves the root, as the SFZ
            // exports of SoundFont editors write it.
            const int rootKey = values.Signed(kRootKey);
            region.keycenter = rootKey >= 0 && rootKey <= 127 ? rootKey
                : sample.originalPitch <= 127                 ? sample.originalPitch
                                                              : 60;
            region.transpose = values.Signed(kCoarseTune) + presetValues.Signed(kCoarseTune);
            region.tune = values.Signed(kFineTune) + presetValues.Signed(kFineTune)
                + sample.pitchCorrection;
            // Attenuation is in centibels, of which players take 0.4 (as the first SoundFont
            // synthesizers did); SFZ exports (Polyphone's) scale that by 0.397 to sound alike in
            // SFZ players, and lower a sound with a tremolo by its depth (unscaled when no
            // attenuation is set). The card takes the exports' level, so that a preset and its
            // export give the same card.
            const int attenuation
                = std::max(0, values.Signed(kAttenuation) + presetValues.Signed(kAttenuation));
            const int tremolo = std::abs(values.Signed(kModLfoToVolume));
            region.volume = values.set[kAttenuation] || presetValues.set[kAttenuation]
                ? -0.397 * (0.04 * attenuation + 0.1 * tremolo)
                : -0.1 * tremolo;
            region.offset
                = std::max(0, values.Signed(kStartOffset) + 32768 * values.Signed(kStartCoarse));
            const int modes = values.Signed(kSampleModes) & 3;
            region.loopMode = modes == 1 ? SfzLoopMode::Continuous
                : modes == 3             ? SfzLoopMode::Sustain
                                         : SfzLoopMode::NoLoop;
            if (!font.Compressed()) {
                region.loopStart = std::int64_t { sample.loopStart } - sample.start
                    + values.Signed(kLoopStartOffset) + 32768 * values.Signed(kLoopStartCoarse);
                region.loopEnd = std::int64_t { sample.loopEnd } - sample.start - 1
                    + values.Signed(kLoopEndOffset) + 32768 * values.Signed(kLoopEndCoarse);
            } else { // SF3 keeps loops relative to the decoded sample's start
                region.loopStart = std::int64_t { sample.loopStart }
                    + values.Signed(kLoopStartOffset) + 32768 * values.Signed(kLoopStartCoarse);
                region.loopEnd = std::int64_t { sample.loopEnd } - 1 + values.Signed(kLoopEndOffset)
                    + 32768 * values.Signed(kLoopEndCoarse);
            }
            // A loop from before the sample's start (by its header or its offsets) starts at the
            // sample's first frame, as libinstpatch (FluidSynth's reader) reads it; the user is
            // told, since it plays otherwise than the file says.
            if (*region.loopStart < 0) {
                drop(where, "sample '" + sample.name + "'",
                    "its loop starts before the sample; the loop starts at the sample's first "
                    "frame");
                region.loopStart = 0;
            }
            for (std::uint16_t oper = 0; oper < kGeneratorCount; ++oper) {
                if (Handled(oper) || oper == kPan) // pan: when the zone is no side of a pair
                    continue;
                // A preset's value adds to the instrument's.
                const int value = values.Signed(oper)
                    + (presetValues.set[oper] ? presetValues.Signed(oper) : 0);
                const bool set = values.set[oper] || presetValues.set[oper];
                if (set && value != kGenerators[oper].fallback)
                    drop(where, kGenerators[oper].name,
                        oper == kScaleTuning ? "the card plays every key a semitone apart"
                                             : "not on the card");
            }
            if (instZone.modulators > 0 || (iz > 0 && inst.zones[0].modulators > 0))
                drop(where, "modulators", "not on the card");
            if (sample.type & 0x8000) {
                drop(where, "sampleID",
                    "the sample '" + sample.name
                        + "' lies in a synthesizer's memory, not in the file; the zone is left "
                          "out");
                continue;
            }
            made.push_back(
                { std::move(region), *sampleId, values.Signed(kPan) + presetValues.Signed(kPan) });
        }
        PairStereoSides(
            font, made, [&](const std::string& what) { drop(where, what, "not on the card"); });
        for (Made& zone : made)
            document.regions.push_back(std::move(zone.region));
    }
    return document;
}

std::optional<std::size_t> FindPreset(
    const std::vector<LibraryPreset>& presets, const std::string& chosen)
{
    int bank = 0, program = 0;
    char colon = 0, extra = 0;
    const bool numbered
        = std::sscanf(chosen.c_str(), "%d%c%d%c", &bank, &colon, &program, &extra) == 3
        && colon == ':';
    for (std::size_t i = 0; i < presets.size(); ++i)
        if (numbered ? presets[i].bank == bank && presets[i].program == program
                     : EqualsIgnoringCase(presets[i].name, chosen))
            return i;
    return std::nullopt;
}

namespace {

/// One sample's frames, 16 bits (24 with the sm24 chunk), SF3's decoded.
std::optional<DecodedSound> SampleFrames(const SoundFont& font, std::size_t index,
    const RangeReader& read, std::string& error, const SoundFontLimits& limits)
{
    if (index >= font.samples.size()) {
        error = "It names a sample it doesn't hold.";
        return std::nullopt;
    }
    const SoundFontSample& sample = font.samples[index];
    if (sample.end < sample.start) {
        error = "The sample '" + sample.name + "' ends before it starts.";
        return std::nullopt;
    }
    if (sample.rate < 1000 || sample.rate > 384000) {
        error = "The sample '" + sample.name + "' gives the rate " + std::to_string(sample.rate)
            + " Hz, which no sound has.";
        return std::nullopt;
    }
    if (IsCompressed(font, sample)) {
        // SF3: the sample is an Ogg Vorbis stream, its start and end byte offsets.
        const std::uint64_t bytes = std::uint64_t { sample.end } - sample.start;
        if (sample.end > font.smplBytes || bytes > limits.maxSampleFrames) {
            error = "The sample '" + sample.name + "' lies outside the file's sample data.";
            return std::nullopt;
        }
        const auto stream = read(font.smplAt + sample.start, bytes);
        if (!stream) {
            error = "The sample '" + sample.name + "' can't be read.";
            return std::nullopt;
        }
        // Only an Ogg stream reaches libsndfile, none of its other decoders.
        if (!ByteReader(*stream).HasCodeAt(0, "OggS")) {
            error = "The sample '" + sample.name + "' is no Ogg Vorbis stream.";
            return std::nullopt;
        }
        auto decoded = DecodeSound(*stream, error);
        if (!decoded) {
            error = "The sample '" + sample.name + "' can't be decoded: " + error;
            return std::nullopt;
        }
        if (decoded->channels != 1) {
            error = "The sample '" + sample.name + "' is no mono sound.";
            return std::nullopt;
        }
        DecodedSound sound = std::move(*decoded);
        sound.rate = static_cast<int>(sample.rate);
        sound.sampler.clear(); // its loops and root key are the SoundFont's
        return sound;
    }
    const std::uint64_t frames = std::uint64_t { sample.end } - sample.start;
    if (std::uint64_t { sample.end } * 2 > font.smplBytes || frames > limits.maxSampleFrames) {
        error = "The sample '" + sample.name + "' lies outside the file's sample data.";
        return std::nullopt;
    }
    const auto words = read(font.smplAt + std::uint64_t { sample.start } * 2, frames * 2);
    if (!words || words->size() != frames * 2) {
        error = "The sample '" + sample.name + "' can't be read.";
        return std::nullopt;
    }
    DecodedSound sound;
    sound.rate = static_cast<int>(sample.rate);
    sound.channels = 1;
    // The low bytes of 24-bit samples came with version 2.04; an older file's sm24 chunk, if any,
    // is no part of its sound.
    const bool deep = font.major == 2 && font.minor >= 4 && font.sm24Bytes >= font.smplBytes / 2
        && font.sm24Bytes > 0;
    std::optional<std::vector<std::uint8_t>> low;
    if (deep)
        low = read(font.sm24At + sample.start, frames);
    if (low && low->size() == frames) {
        sound.bits = 24;
        sound.data.reserve(frames * 3);
        for (std::uint64_t i = 0; i < frames; ++i) {
            sound.data.push_back((*low)[i]);
            sound.data.push_back((*words)[2 * i]);
            sound.data.push_back((*words)[2 * i + 1]);
        }
    } else {
        sound.bits = 16;
        sound.data = std::move(*words);
    }
    return sound;
}

} // namespace

std::optional<std::vector<std::uint8_t>> SoundFontSampleWav(const SoundFont& font,
    const std::string& sample, const RangeReader& read, std::string& error,
    const SoundFontLimits& limits)
{
    // "L" for a mono sample, "L,R" for the two samples of a stereo pair.
    const std::size_t comma = sample.find(',');
    auto index = [&](std::string_view text) -> std::optional<std::size_t> {
        std::size_t value = 0;
        const auto [end, fault] = std::from_chars(text.data(), text.data() + text.size(), value);
        if (fault != std::errc() || end != text.data() + text.size())
            return std::nullopt;
        return value;
    };
    const auto left = index(std::string_view(sample).substr(0, comma));
    const auto right = comma == std::string::npos
        ? std::nullopt
        : index(std::string_view(sample).substr(comma + 1));
    if (!left || (comma != std::string::npos && !right)) {
        error = "It names a sample it doesn't hold.";
        return std::nullopt;
    }
    auto sound = SampleFrames(font, *left, read, error, limits);
    if (!sound || !right)
        return sound ? std::optional(WavImage(*sound)) : std::nullopt;
    const auto other = SampleFrames(font, *right, read, error, limits);
    if (!other)
        return std::nullopt;
    if (other->bits != sound->bits || other->data.size() != sound->data.size()) {
        error = "The two sides of the stereo sample '" + font.samples[*left].name
            + "' differ in length.";
        return std::nullopt;
    }
    // The frames of both sides interleaved, the left first.
    const std::size_t width = static_cast<std::size_t>(sound->bits / 8);
    std::vector<std::uint8_t> both;
    both.reserve(2 * sound->data.size());
    for (std::size_t at = 0; at < sound->data.size(); at += width) {
        both.insert(both.end(), sound->data.begin() + static_cast<std::ptrdiff_t>(at),
            sound->data.begin() + static_cast<std::ptrdiff_t>(at + width));
        both.insert(both.end(), other->data.begin() + static_cast<std::ptrdiff_t>(at),
            other->data.begin() + static_cast<std::ptrdiff_t>(at + width));
    }
    sound->data = std::move(both);
    sound->channels = 2;
    return WavImage(*sound);
}

} // namespace cardmill
