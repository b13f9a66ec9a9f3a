// The compiler's card layout read backwards. The card keeps no sample rates, no file names and
// no sharing table: rates come back from the pitch words, and which samples share one sound
// file's data comes back from where their headers point.

#include "compiler/CardImageReader.h"

#include "model/MProject.h"
#include "model/TextFields.h"
#include "model/bank/MParamFileRawSex.h"
#include "platform/ByteReader.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace cardmill {

namespace {

constexpr std::size_t kBankArea = MProject::kBankBytes;
constexpr std::size_t kHeaderBytes = 108;
constexpr std::size_t kSequenceTableBytes = 200;
constexpr std::uint8_t kHeaderMark[] = { 0x00, 0x70, 0x38, 0x1C };
constexpr std::uint32_t kBit23 = 0x800000;
constexpr std::uint32_t kRates[]
    = { 48000, 44100, 32000, 24000, 22050, 16000, 11025, 8000, 96000, 88200 };

bool HasMark(std::span<const std::uint8_t> bytes, std::size_t at, const std::uint8_t (&mark)[4])
{
    return bytes.size() >= at + 4
        && std::equal(
            std::begin(mark), std::end(mark), bytes.begin() + static_cast<std::ptrdiff_t>(at));
}

std::string Trimmed(std::span<const std::uint8_t> field)
{
    std::string text(field.begin(), field.end());
    while (!text.empty() && text.back() == ' ')
        text.pop_back();
    return text;
}

const char* GroupWord(int group)
{
    static const char* const kWords[]
        = { "k1", "k2", "k3", "k4", "k5", "k6", "k7", "k8", "d1", "d2", "d3" };
    return kWords[group];
}

std::string VoiceWhere(const CardVoice& voice, std::size_t index)
{
    return Format("voice %zu (%s, position %d, '%s', at offset %zu)", index + 1,
        GroupWord(voice.group), voice.position, voice.name.c_str(), voice.offset);
}

/// Where a sample header points, in words from the start of the image.
struct Pointers {
    std::uint64_t start = 0;
    std::uint64_t loopStart = 0;
    std::uint64_t loopEnd = 0;
};

/// The 24-bit addresses share their top bit with the two flags; on a card of more than 8M words
/// the bit is taken back from where the sample data lies.
Pointers Decode(const std::uint8_t* h, std::uint64_t dataFirst, std::uint64_t dataEnd, bool& smooth,
    bool& loopBeforeStart)
{
    const std::uint32_t d = (std::uint32_t(h[3] & 3) << 16) | (std::uint32_t(h[4]) << 8) | h[5];
    const std::uint32_t s23
        = (std::uint32_t(h[9] & 0x7F) << 16) | (std::uint32_t(h[10]) << 8) | h[11];
    const std::uint32_t e23
        = (std::uint32_t(h[8] & 0x7F) << 16) | (std::uint32_t(h[6]) << 8) | h[7];
    const bool flag9 = (h[9] & 0x80) != 0;
    const bool flag8 = (h[8] & 0x80) != 0;
    const auto inData = [&](std::uint64_t a) { return a >= dataFirst && a < dataEnd; };
    std::uint64_t s = s23;
    loopBeforeStart = flag9;
    if (flag9 && !inData(s23) && inData(s23 | kBit23)) {
        s = s23 | kBit23;
        loopBeforeStart = std::uint64_t { d } > 0 && s + d > (std::uint64_t { e23 } | kBit23);
    }
    std::uint64_t e = e23;
    smooth = flag8;
    if (e < s) {
        e |= kBit23;
        smooth = true; // the bit is the address's; a start offset is smoothed anyway
    }
    Pointers p;
    p.start = s;
    p.loopEnd = e;
    p.loopStart = loopBeforeStart ? (s >= d ? s - d : 0) : s + d;
    return p;
}

struct Use {
    int voice = 0;
    int sample = 0;
    std::uint64_t lo = 0, hi = 0;
    double walk = 0; // position in the compiler's walk over every sample
    Pointers at;
};

struct Span {
    std::uint64_t lo = 0, hi = 0;
    double owner = 0; // walk position of the sample that gets its address
    bool hidden = false;
    bool ownerMoved = false;
    std::vector<int> uses;
};

} // namespace

std::uint16_t PitchWordOf(double rate, std::uint16_t rootKey, std::int16_t fineTune)
{
    const double octaves = std::log2(48000.0 / rate);
    const long pitch = static_cast<long>(rootKey) * 256 - fineTune / 100
        - static_cast<long>(std::trunc(-3072.0 * octaves));
    return static_cast<std::uint16_t>(pitch);
}

bool TuningAtRate(std::uint16_t pitchWord, std::uint32_t rate, SampleTuning& out)
{
    const long t = static_cast<long>(std::trunc(-3072.0 * std::log2(48000.0 / rate)));
    const long p = pitchWord >= 0xC000 ? long { pitchWord } - 65536 : long { pitchWord };
    long root = static_cast<long>(std::lround(static_cast<double>(p + t) / 256.0));
    root = std::clamp(root, 0L, 127L);
    const long q = root * 256 - t - p;
    if (q < -327 || q > 327)
        return false;
    out.rate = rate;
    out.rootKey = static_cast<std::uint16_t>(root);
    out.fineTune = static_cast<std::int16_t>(q * 100);
    return PitchWordOf(rate, out.rootKey, out.fineTune) == pitchWord;
}

SampleTuning TuningOfPitchWord(std::uint16_t pitchWord)
{
    SampleTuning best;
    bool found = false;
    for (const std::uint32_t rate : kRates) {
        SampleTuning candidate;
        // Rates an octave apart give the same fine tune: the root nearer C3, where a file that
        // names no root plays, is the likelier (a 22,050 Hz sound at C3, not 44,100 Hz at C4).
        const auto distance = [](const SampleTuning& t) {
            return std::pair { std::abs(t.fineTune), std::abs(int { t.rootKey } - 60) };
        };
        if (TuningAtRate(pitchWord, rate, candidate)
            && (!found || distance(candidate) < distance(best))) {
            best = candidate;
            found = true;
        }
    }
    return best;
}

bool LooksLikeCardImage(std::span<const std::uint8_t> image)
{
    return HasMark(image, 0, kHeaderMark)
        || (HasMark(image, 0, MParamFileRawSex::kZeltaBankMark)
            && HasMark(image, kBankArea, kHeaderMark));
}

std::uint16_t CardSizeTokenFor(std::uint64_t bytes)
{
    static const std::uint64_t kSizes[]
        = { 128, 256, 512, 1024, 2048, 4096, 8192, 16384, 24576, 32768 };
    for (std::uint16_t token = 0; token < 10; ++token)
        if (bytes <= kSizes[token] * 1024)
            return token;
    return 9;
}

std::vector<std::int16_t> RegionFrames(
    std::span<const std::uint8_t> image, const CardRegion& region)
{
    const std::size_t at = static_cast<std::size_t>(region.wordAddress * 2);
    const std::uint8_t* words = image.data() + at;
    const auto word = [&](std::size_t i) {
        return static_cast<std::int16_t>((words[2 * i] << 8) | words[2 * i + 1]);
    };
    const std::size_t lead = region.lead;
    const std::size_t played = region.frames > region.lead
        ? std::min<std::size_t>(region.frames - region.lead, region.words)
        : 0;
    std::vector<std::int16_t> frames(lead + played, region.frames > 0 ? word(0) : 0);
    for (std::size_t i = 0; i < played; ++i)
        frames[lead + i] = word(i);
    return frames;
}

namespace {

class Reader {
public:
    Reader(std::span<const std::uint8_t> bytes, std::string& errorText)
        : image(bytes)
        , error(errorText)
    {
    }

    std::optional<CardContents> Read();

private:
    bool Fail(std::string text)
    {
        error = std::move(text);
        return false;
    }
    bool ReadHeader();
    bool ReadVoices();
    bool ReadSequences();
    bool ReadBanks();
    bool FindRegions();
    void SettleRegion(int index, const std::vector<int>& uses);
    bool IsZero(std::uint64_t firstWord, std::uint64_t endWord) const
    {
        for (std::uint64_t i = firstWord * 2; i < endWord * 2; ++i)
            if (image[static_cast<std::size_t>(i)] != 0)
                return false;
        return true;
    }

    std::span<const std::uint8_t> image;
    std::string& error;
    CardContents card;
    std::size_t headerAt = 0;
    std::size_t total = 0;
    bool zeltaBank = false, perculaBank = false, hasSequences = false;
    std::size_t voiceTableEnd = 0;
    std::uint64_t dataFirst = 0, dataEnd = 0; // words
    std::vector<Use> uses;
};

std::optional<CardContents> Reader::Read()
{
    if (!ReadHeader() || !ReadVoices() || !ReadSequences() || !ReadBanks() || !FindRegions())
        return std::nullopt;
    card.sampleDataBytes = (dataEnd - dataFirst) * 2;
    return std::move(card);
}

bool Reader::ReadHeader()
{
    zeltaBank = HasMark(image, 0, MParamFileRawSex::kZeltaBankMark);
    headerAt = zeltaBank ? kBankArea : 0;
    if (image.size() < headerAt + kHeaderBytes) {
        if (zeltaBank || HasMark(image, 0, kHeaderMark))
            return Fail(Format("The image is cut short: it ends at byte %zu, inside the card "
                               "header at offset %zu.",
                image.size(), headerAt));
        return Fail("This is not a card image: it is too short to hold a card header.");
    }
    if (!HasMark(image, headerAt, kHeaderMark))
        return Fail(Format("This is not a card image: there is no card header at offset %zu "
                           "(it begins 00 70 38 1C).",
            headerAt));
    const ByteReader header(image.subspan(headerAt, kHeaderBytes));
    const std::uint32_t size = *header.U32At(4, Endian::Big);
    total = std::size_t { size & 0x01FFFFFF } * 2;
    perculaBank = (size & 0x04000000) != 0;
    const bool perculaSequences = (size & 0x10000000) != 0;
    const bool zeltaSequences = (size & 0x02000000) != 0;
    hasSequences = perculaSequences || zeltaSequences;
    if ((size & ~0x17FFFFFFu) != 0 || (perculaSequences && zeltaSequences)
        || (zeltaBank && (perculaBank || perculaSequences)))
        return Fail(Format("The card header at offset %zu is damaged: its size word 0x%08X holds "
                           "flags no card has together.",
            headerAt, size));
    if (zeltaBank || zeltaSequences)
        card.target = 14;
    if (perculaBank || perculaSequences)
        card.target = 25;
    if (image.size() < total)
        return Fail(Format("The image is cut short: its card header gives %zu bytes, the file "
                           "holds %zu.",
            total, image.size()));
    for (std::size_t i = total; i < image.size(); ++i)
        if (image[i] != 0xFF && image[i] != 0)
            return Fail(Format("The image is damaged: its card header gives %zu bytes, but the "
                               "file goes on with data at offset %zu.",
                total, i));
    card.imageBytes = total;
    image = image.first(total);
    card.cardName = Trimmed(image.subspan(headerAt + 10, 10));
    card.version = Trimmed(image.subspan(headerAt + 20, 4));
    for (std::size_t g = 0; g < 11; ++g)
        card.groupNames[g] = Trimmed(image.subspan(headerAt + 24 + 6 * g, 6));
    return true;
}

bool Reader::ReadVoices()
{
    const std::uint16_t count = *ByteReader(image).U16At(headerAt + 8, Endian::Big);
    std::size_t at = headerAt + kHeaderBytes;
    int lastGroup = -1, lastPosition = 0;
    for (std::size_t v = 0; v < count; ++v) {
        CardVoice voice;
        voice.offset = at;
        if (image.size() < at + 18)
            return Fail(Format("The image is cut short: voice %zu of %u would begin at offset %zu, "
                               "past the end.",
                v + 1, unsigned { count }, at));
        const std::uint8_t code = image[at];
        if (code >= 0x10 && code <= 0x17)
            voice.group = code - 0x10;
        else if (code >= 0x37 && code <= 0x39)
            voice.group = code - 0x2F;
        else
            return Fail(Format("The voice table is damaged: voice %zu at offset %zu has the group "
                               "byte 0x%02X, which names no group.",
                v + 1, at, unsigned { code }));
        voice.position = image[at + 1];
        voice.name = Trimmed(image.subspan(at + 2, 10));
        voice.groupCount = image[at + 12] + 1;
        voice.groupSize = image[at + 13] + 1;
        voice.byte14 = image[at + 14];
        voice.byte15 = image[at + 15];
        const int expected = voice.group == lastGroup ? lastPosition + 1 : 1;
        if (voice.group < lastGroup || voice.position != expected)
            return Fail("The voice table is damaged: " + VoiceWhere(voice, v)
                + Format(" stands where position %d of %s or a later group belongs.", expected,
                    GroupWord(std::max(lastGroup, 0))));
        lastGroup = voice.group;
        lastPosition = voice.position;
        if (voice.groupCount > 128 || voice.groupSize > 3)
            return Fail("The voice table is damaged: " + VoiceWhere(voice, v)
                + Format(" gives %d key groups of %d layers (at most 128 of 3).", voice.groupCount,
                    voice.groupSize));
        const bool keyboard = voice.group <= 7;
        const int n = keyboard ? voice.groupCount : 1;
        const std::size_t size = 16 + ((std::size_t(n) + 1) & ~std::size_t { 1 })
            + std::size_t(voice.groupSize) * std::size_t(n) * 12;
        if (image.size() < at + size)
            return Fail("The image is cut short inside " + VoiceWhere(voice, v) + ".");
        const std::uint8_t* bytes = image.data() + at;
        voice.isSound = voice.groupCount == 1 && voice.groupSize == 1 && bytes[16] == 0x80;
        if (keyboard && !voice.isSound) {
            voice.upperKeys.assign(bytes + 16, bytes + 16 + voice.groupCount);
            for (const std::uint8_t key : voice.upperKeys)
                if (key > 127)
                    return Fail("The voice table is damaged: " + VoiceWhere(voice, v)
                        + Format(" gives the upper key %u.", unsigned { key }));
            if (voice.groupCount % 2 && bytes[16 + voice.groupCount] != 0)
                card.notExact.push_back(
                    VoiceWhere(voice, v) + " has a pad byte other than 0 after its key table.");
        } else {
            if (bytes[16] != 0x80)
                return Fail("The voice table is damaged: " + VoiceWhere(voice, v)
                    + Format(" has 0x%02X where 0x80 belongs (byte 16).", unsigned { bytes[16] }));
            if (bytes[17] != 0)
                card.notExact.push_back(VoiceWhere(voice, v)
                    + Format(" has byte 17 set to 0x%02X, which no project sets.",
                        unsigned { bytes[17] }));
        }
        std::size_t h = at + 16 + ((std::size_t(n) + 1) & ~std::size_t { 1 });
        for (int i = 0; i < voice.groupSize * n; ++i, h += 12) {
            CardSample sample;
            sample.headerOffset = h;
            voice.samples.push_back(sample);
        }
        at += size;
        card.voices.push_back(std::move(voice));
    }
    voiceTableEnd = at;
    return true;
}

bool Reader::ReadSequences()
{
    const std::size_t bankBytes = perculaBank ? kBankArea : 0;
    if (total < voiceTableEnd + bankBytes + (hasSequences ? kSequenceTableBytes : 0))
        return Fail(Format("The image is damaged: its card header gives %zu bytes, too few for its "
                           "voice table (to offset %zu)%s%s.",
            total, voiceTableEnd, hasSequences ? ", sequence table" : "",
            perculaBank ? " and bank" : ""));
    dataFirst = voiceTableEnd / 2;
    if (!hasSequences) {
        dataEnd = (total - bankBytes) / 2;
        return true;
    }
    const std::size_t table = total - bankBytes - kSequenceTableBytes;
    const ByteReader entries(image.subspan(table, kSequenceTableBytes));
    std::vector<std::uint32_t> starts;
    std::vector<std::uint8_t> flags;
    for (std::size_t i = 0; i < 50; ++i) {
        const std::uint32_t entry = *entries.U32At(4 * i, Endian::Big);
        if (entry == 0)
            break;
        starts.push_back(entry & 0xFFFFFF);
        flags.push_back(static_cast<std::uint8_t>(entry >> 24));
    }
    for (std::size_t i = starts.size(); i < 50; ++i)
        if (*entries.U32At(4 * i, Endian::Big) != 0)
            return Fail(Format("The sequence table at offset %zu is damaged: entry %zu follows an "
                               "empty one.",
                table, i + 1));
    if (starts.empty())
        return Fail(Format("The sequence table at offset %zu is damaged: the card header says "
                           "there are sequences, the table names none.",
            table));
    dataEnd = starts.front();
    for (std::size_t i = 0; i < starts.size(); ++i) {
        const std::uint64_t begin = std::uint64_t { starts[i] } * 2;
        const std::uint64_t end
            = i + 1 < starts.size() ? std::uint64_t { starts[i + 1] } * 2 : table;
        if (begin < voiceTableEnd || begin > end || end > table)
            return Fail(Format("The sequence table at offset %zu is damaged: sequence %zu at word "
                               "%u lies outside the sequence data (bytes %zu to %zu).",
                table, i + 1, starts[i], voiceTableEnd, table));
        CardSequence sequence;
        sequence.offset = static_cast<std::size_t>(begin);
        sequence.data.assign(image.begin() + static_cast<std::ptrdiff_t>(begin),
            image.begin() + static_cast<std::ptrdiff_t>(end));
        sequence.outPort = flags[i] != 0;
        if (flags[i] > 1)
            card.notExact.push_back(
                Format("Sequence %zu has the out-port byte 0x%02X; a project keeps only on or off.",
                    i + 1, unsigned { flags[i] }));
        card.sequences.push_back(std::move(sequence));
    }
    return true;
}

bool Reader::ReadBanks()
{
    const auto take = [&](std::size_t area, std::uint16_t family, std::size_t bytes,
                          const std::uint8_t(&mark)[4]) {
        if (!HasMark(image, area, mark))
            return Fail(Format("The bank area at offset %zu is damaged: it does not begin with "
                               "its mark %02X %02X %02X %02X.",
                area, unsigned { mark[0] }, unsigned { mark[1] }, unsigned { mark[2] },
                unsigned { mark[3] }));
        CardBank bank;
        bank.family = family;
        bank.offset = area;
        bank.data.assign(image.begin() + static_cast<std::ptrdiff_t>(area + 4),
            image.begin() + static_cast<std::ptrdiff_t>(area + 4 + bytes));
        for (std::size_t i = area + 4 + bytes; i < area + kBankArea; ++i)
            if (image[i] != 0) {
                card.notExact.push_back(Format("The bank area holds data past the bank, at offset "
                                               "%zu; a bank file gives back only the bank.",
                    i));
                break;
            }
        card.bank = std::move(bank);
        return true;
    };
    if (zeltaBank)
        return take(0, 0x0E, MParamFileRawSex::kZeltaBankBytes, MParamFileRawSex::kZeltaBankMark);
    if (perculaBank)
        return take(total - kBankArea, 0x19, MParamFileRawSex::kPerculaBankBytes,
            MParamFileRawSex::kPerculaBankMark);
    return true;
}

bool Reader::FindRegions()
{
    // Every sample header, and the data of drum voices' key groups that have none, in the
    // compiler's walk order.
    std::vector<double> hiddenAfter; // walk positions where a drum voice's hidden data goes
    std::vector<int> hiddenVoice; // whose hidden data goes there
    double walk = 0;
    for (std::size_t v = 0; v < card.voices.size(); ++v) {
        CardVoice& voice = card.voices[v];
        for (std::size_t k = 0; k < voice.samples.size(); ++k) {
            CardSample& sample = voice.samples[k];
            const std::uint8_t* h = image.data() + sample.headerOffset;
            sample.pitchWord = static_cast<std::uint16_t>((h[0] << 8) | h[1]);
            sample.tuningByte = static_cast<std::int8_t>(h[2]);
            sample.volumeByte = h[3] & 0xFC;
            bool loopBeforeStart = false;
            Use use;
            use.at = Decode(h, dataFirst, dataEnd, sample.smooth, loopBeforeStart);
            use.voice = static_cast<int>(v);
            use.sample = static_cast<int>(k);
            use.lo = std::min(use.at.start, use.at.loopStart);
            use.hi = use.at.loopEnd + 8;
            use.walk = walk++;
            if (use.at.loopEnd < use.at.start || use.at.loopEnd <= use.at.loopStart
                || use.lo < dataFirst || use.hi > dataEnd)
                return Fail("The voice table is damaged: sample " + std::to_string(k + 1) + " of "
                    + VoiceWhere(voice, v)
                    + Format(" (header at offset %zu) points at words %llu to %llu, outside the "
                             "sample data (words %llu to %llu) or backwards.",
                        sample.headerOffset, static_cast<unsigned long long>(use.lo),
                        static_cast<unsigned long long>(use.hi),
                        static_cast<unsigned long long>(dataFirst),
                        static_cast<unsigned long long>(dataEnd)));
            uses.push_back(use);
        }
        if (voice.group > 7 && voice.groupCount > 1) {
            hiddenAfter.push_back(walk++ - 0.5);
            hiddenVoice.push_back(static_cast<int>(v));
        }
    }

    // Samples that touch the same words share one file. Sorted by where they begin, overlapping
    // ones join.
    std::vector<int> order(uses.size());
    for (std::size_t i = 0; i < order.size(); ++i)
        order[i] = static_cast<int>(i);
    std::stable_sort(order.begin(), order.end(),
        [&](int a, int b) { return uses[std::size_t(a)].lo < uses[std::size_t(b)].lo; });
    std::vector<Span> spans;
    for (const int i : order) {
        const Use& use = uses[std::size_t(i)];
        if (spans.empty() || use.lo >= spans.back().hi) {
            Span span;
            span.lo = use.lo;
            span.hi = use.hi;
            span.owner = use.walk;
            spans.push_back(span);
        }
        Span& span = spans.back();
        span.hi = std::max(span.hi, use.hi);
        span.owner = std::min(span.owner, use.walk);
        span.uses.push_back(i);
    }

    // Words no sample plays lie inside one sound file's data (a later sample widened it), or
    // are the data of a drum voice's key groups without headers, placed after that voice's.
    std::vector<Span> laid;
    std::uint64_t cursor = dataFirst;
    std::size_t nextHidden = 0;
    double lastOwner = -1;
    const auto takeHidden = [&](std::uint64_t lo, std::uint64_t hi, double before) {
        // A drum voice laid out before the last file placed has no hidden data of its own: its
        // key groups without headers play files that other samples own.
        while (nextHidden < hiddenAfter.size() && hiddenAfter[nextHidden] < lastOwner)
            ++nextHidden;
        if (nextHidden >= hiddenAfter.size() || hiddenAfter[nextHidden] > before)
            return false;
        Span hidden;
        hidden.lo = lo;
        hidden.hi = hi;
        hidden.owner = hiddenAfter[nextHidden++];
        hidden.hidden = true;
        laid.push_back(hidden);
        return true;
    };
    const auto unplayed = [&](std::uint64_t lo, std::uint64_t hi) {
        return Fail(Format("The sample data is damaged: words %llu to %llu (bytes %llu to %llu) "
                           "are played by no voice.",
            static_cast<unsigned long long>(lo), static_cast<unsigned long long>(hi),
            static_cast<unsigned long long>(lo * 2), static_cast<unsigned long long>(hi * 2)));
    };
    const auto ofHiddenVoice = [&](const Span& span) {
        return std::any_of(span.uses.begin(), span.uses.end(), [&](int i) {
            const CardVoice& voice = card.voices[std::size_t(uses[std::size_t(i)].voice)];
            return voice.group > 7 && voice.groupCount > 1;
        });
    };
    // The drum voice (its place among hiddenAfter) whose sample is the first to play a span.
    const auto firstByHiddenVoice = [&](const Span& span) -> std::size_t {
        const Use* first = nullptr;
        for (const int i : span.uses)
            if (!first || uses[std::size_t(i)].walk < first->walk)
                first = &uses[std::size_t(i)];
        for (std::size_t h = nextHidden; first && h < hiddenVoice.size(); ++h)
            if (hiddenVoice[h] == first->voice && hiddenAfter[h] >= lastOwner)
                return h;
        return hiddenVoice.size();
    };
    for (Span& span : spans) {
        if (span.lo > cursor && !takeHidden(cursor, span.lo, span.owner)) {
            // The data a drum voice's first key group plays came after the data of its key
            // groups without headers: a key group the walk reaches later owns that file (the
            // first one gave its ownership away when its settings changed).
            if (const std::size_t h = firstByHiddenVoice(span); h < hiddenVoice.size()) {
                nextHidden = h;
                takeHidden(cursor, span.lo, hiddenAfter[h]);
                span.owner = hiddenAfter[h] + 0.25;
                span.ownerMoved = true;
                laid.push_back(span);
                cursor = span.hi;
                lastOwner = std::max(lastOwner, span.owner);
                continue;
            }
            // A drum voice whose key groups lost their headers may have its hidden data before
            // the data its first key group plays (the compiler's owner of a shared sample can
            // move to a later key group): the gap is that voice's file.
            // Between two files the words were left by a start or loop moved in either; the
            // one that follows takes them when a sample of its own can widen it again.
            if (laid.empty() || laid.back().hidden || ofHiddenVoice(span) || span.uses.size() > 1) {
                // Before the first file, or after a hidden one: the file that follows was widened
                // by a sample that no longer plays that far.
                if (!laid.empty() && laid.back().hidden && !ofHiddenVoice(span))
                    return unplayed(cursor, span.lo);
                span.lo = cursor;
                laid.push_back(span);
                cursor = span.hi;
                lastOwner = std::max(lastOwner, span.owner);
                continue;
            }
            Span& before = laid.back();
            before.hi = span.hi;
            before.owner = std::min(before.owner, span.owner);
            before.uses.insert(before.uses.end(), span.uses.begin(), span.uses.end());
            cursor = span.hi;
            lastOwner = std::max(lastOwner, before.owner);
            continue;
        }
        laid.push_back(span);
        cursor = span.hi;
        lastOwner = std::max(lastOwner, span.owner);
    }
    if (cursor < dataEnd && !takeHidden(cursor, dataEnd, 1e300)) {
        if (laid.empty() || laid.back().hidden)
            return unplayed(cursor, dataEnd);
        laid.back().hi = dataEnd;
    }

    // The compiler gives addresses in the order of each file's first sample: a file whose data
    // lies before that of an earlier sample's file is one file with it.
    std::vector<Span> files;
    for (Span& span : laid) {
        while (!files.empty() && files.back().owner > span.owner) {
            if (files.back().hidden || span.hidden)
                return Fail(Format("The sample data is damaged: the data at word %llu comes "
                                   "before that of a voice the compiler laid out earlier.",
                    static_cast<unsigned long long>(span.lo)));
            Span& before = files.back();
            span.uses.insert(span.uses.begin(), before.uses.begin(), before.uses.end());
            span.lo = before.lo;
            span.owner = std::min(span.owner, before.owner);
            files.pop_back();
        }
        files.push_back(span);
    }

    for (const Span& span : files) {
        CardRegion region;
        region.wordAddress = span.lo;
        region.words = static_cast<std::uint32_t>(span.hi - span.lo);
        region.hidden = span.hidden;
        region.ownerMoved = span.ownerMoved;
        const int index = static_cast<int>(card.regions.size());
        card.regions.push_back(region);
        if (span.hidden) {
            card.regions.back().frames = region.words;
            // The voice whose hidden data this is: the one the walk position follows.
            int voice = 0;
            for (const Use& use : uses)
                if (use.walk < span.owner)
                    voice = use.voice;
            card.voices[std::size_t(voice)].hiddenRegions.push_back(index);
        } else {
            SettleRegion(index, span.uses);
        }
    }
    return true;
}

void Reader::SettleRegion(int index, const std::vector<int>& used)
{
    CardRegion& region = card.regions[std::size_t(index)];
    const std::uint64_t base = region.wordAddress;
    const std::uint64_t words = region.words;
    // A file that ends 8 silent frames before its loop over silence (no loop of its own) is cut
    // there, when every sample of it agrees; otherwise every word is a frame and every sample
    // loops.
    std::uint64_t played = 0;
    std::uint64_t playedFrom = base + words;
    for (const int i : used) {
        played = std::max(played, uses[std::size_t(i)].hi);
        playedFrom = std::min(playedFrom, uses[std::size_t(i)].lo);
    }
    region.widened = played < base + words || playedFrom > base;
    std::uint64_t cut = 0;
    bool hasCut = false;
    bool agreed = true;
    for (const int i : used) {
        const Use& use = uses[std::size_t(i)];
        const std::uint64_t loopStart = use.at.loopStart - base;
        if (use.at.loopEnd == use.at.loopStart + 8 && loopStart >= 1) {
            if (hasCut && cut != loopStart - 1)
                agreed = false;
            cut = loopStart - 1;
            hasCut = true;
        }
    }
    if (hasCut && agreed) {
        for (const int i : used) {
            const Use& use = uses[std::size_t(i)];
            const bool silentLoop
                = use.at.loopEnd == use.at.loopStart + 8 && use.at.loopStart - base == cut + 1;
            if (!silentLoop && use.at.loopEnd - base > cut)
                agreed = false;
            if (use.at.start - base > cut)
                agreed = false;
        }
        agreed = agreed && IsZero(base + cut, base + words);
    }
    std::uint64_t frames = 0;
    hasCut = hasCut && agreed && !region.widened;
    if (hasCut) {
        frames = cut;
    } else if (region.widened) {
        frames = words;
    } else {
        std::uint64_t last = words;
        while (last > 0 && IsZero(base + last - 1, base + last))
            --last;
        frames = last;
        for (const int i : used)
            frames = std::max(frames, uses[std::size_t(i)].at.loopEnd - base);
    }
    region.frames = static_cast<std::uint32_t>(frames);
    // A smoothed attack needs a start after the file's first frame: a frame the card does not
    // keep goes before the data.
    for (const int i : used) {
        const Use& use = uses[std::size_t(i)];
        const CardSample& sample
            = card.voices[std::size_t(use.voice)].samples[std::size_t(use.sample)];
        if (sample.smooth && use.at.start == base)
            region.lead = 1;
    }
    for (const int i : used) {
        const Use& use = uses[std::size_t(i)];
        CardSample& sample = card.voices[std::size_t(use.voice)].samples[std::size_t(use.sample)];
        sample.region = index;
        sample.startFrame = static_cast<std::uint32_t>(use.at.start - base + region.lead);
        sample.loopStart = static_cast<std::uint32_t>(use.at.loopStart - base + region.lead);
        sample.loopEnd = static_cast<std::uint32_t>(use.at.loopEnd - base + region.lead);
        sample.looping = !(
            hasCut && use.at.loopEnd == use.at.loopStart + 8 && use.at.loopStart - base == cut + 1);
    }
    region.frames += region.lead;
}

} // namespace

std::optional<CardContents> ReadCardImage(std::span<const std::uint8_t> image, std::string& error)
{
    return Reader(image, error).Read();
}

} // namespace cardmill
