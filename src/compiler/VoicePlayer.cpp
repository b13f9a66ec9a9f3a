#include "compiler/VoicePlayer.h"

#include "model/DeviceFamily.h"
#include "model/instrument/SfzWriter.h"
#include "model/sequence/MStdMidiFileTrack.h"
#include "platform/ByteReader.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <memory>
#include <numbers>

namespace cardmill {

namespace {

/// Zero crossings of the interpolation kernel on either side, at its cutoff.
constexpr int kZeros = 16;
/// Kernel table points between two zero crossings.
constexpr int kTableSteps = 512;
/// The cutoff, relative to the lower of the two Nyquist frequencies: the kernel's transition
/// band lies just below it, so what would fold back is already attenuated.
constexpr double kCutoff = 0.95;
/// The step above which the kernel no longer widens (four octaves above the root): past it the
/// taps would cost more than such notes are worth.
constexpr double kWidestStep = 16.0;
/// Kernel rows between two frames; a frame between two rows takes both, in proportion.
constexpr int kPhases = 256;
/// The attack the card smooths a start with, in frames.
constexpr std::int64_t kSmoothFrames = 96;

double BesselI0(double x)
{
    double sum = 1, term = 1;
    for (int k = 1; k < 30; ++k) {
        term *= (x / (2 * k)) * (x / (2 * k));
        sum += term;
    }
    return sum;
}

/// sinc(u) under a Kaiser window reaching zero at kZeros, sampled from 0 to kZeros.
const std::vector<float>& KernelTable()
{
    static const std::vector<float> table = [] {
        constexpr double beta = 7.0;
        std::vector<float> t(kZeros * kTableSteps + 2, 0.0f);
        for (std::size_t i = 0; i + 1 < t.size(); ++i) {
            const double u = static_cast<double>(i) / kTableSteps;
            const double x = u / kZeros;
            const double sinc
                = u == 0 ? 1.0 : std::sin(std::numbers::pi * u) / (std::numbers::pi * u);
            const double w = x >= 1 ? 0 : BesselI0(beta * std::sqrt(1 - x * x)) / BesselI0(beta);
            t[i] = static_cast<float>(sinc * w);
        }
        return t;
    }();
    return table;
}

float KernelAt(const std::vector<float>& table, double u)
{
    const double at = std::fabs(u) * kTableSteps;
    const auto i = static_cast<std::size_t>(at);
    if (i + 1 >= table.size())
        return 0.0f;
    const auto f = static_cast<float>(at - static_cast<double>(i));
    return table[i] + f * (table[i + 1] - table[i]);
}

} // namespace

VoicePlayer::VoicePlayer(
    std::span<const std::uint8_t> image, const CardContents& card, const CardVoice& voice)
    : upperKeys(voice.upperKeys)
    , layers(std::max(voice.groupSize, 1))
    , oneShot(voice.group >= 8 || card.target == kPercula)
{
    const auto word = [&](std::int64_t address) {
        if (address < 0 || static_cast<std::uint64_t>(address) * 2 + 1 >= image.size())
            return 0.0f;
        const auto at = static_cast<std::size_t>(address) * 2;
        return static_cast<float>(static_cast<std::int16_t>((image[at] << 8) | image[at + 1]))
            / 32768.0f;
    };
    for (const CardSample& header : voice.samples) {
        Sample sample;
        sample.pitchWord = header.pitchWord;
        sample.gain = static_cast<float>(header.volumeByte) / 255.0f;
        sample.smooth = header.smooth;
        if (header.region >= 0 && static_cast<std::size_t>(header.region) < card.regions.size()) {
            const CardRegion& region = card.regions[static_cast<std::size_t>(header.region)];
            // Frames count from the region's first word, after its lead.
            const auto address = [&](std::uint32_t frame) {
                return static_cast<std::int64_t>(region.wordAddress)
                    + static_cast<std::int64_t>(frame) - static_cast<std::int64_t>(region.lead);
            };
            const std::int64_t base = address(std::min(header.startFrame, header.loopStart));
            // The card's data for a sample goes on for 8 words past its loop end.
            const std::int64_t last = address(header.loopEnd) + 8;
            sample.words.resize(static_cast<std::size_t>(std::max<std::int64_t>(last - base, 1)));
            for (std::size_t i = 0; i < sample.words.size(); ++i)
                sample.words[i] = word(base + static_cast<std::int64_t>(i));
            sample.start = address(header.startFrame) - base;
            sample.loopStart = address(header.loopStart) - base;
            sample.loopEnd = std::max(address(header.loopEnd) - base, sample.loopStart);
            sample.end = static_cast<std::int64_t>(sample.words.size());
            // A sound without a loop loops over silence: it has ended once it gets there.
            if (!header.looping)
                sample.loopEnd = -1;
        }
        samples.push_back(std::move(sample));
    }
    notes.reserve(kMaxNotes);
}

void VoicePlayer::SetUpperKeys(const std::vector<std::uint8_t>& keys)
{
    if (keys.size() == upperKeys.size())
        upperKeys = keys;
}

int VoicePlayer::KeyGroupOf(int key) const
{
    for (std::size_t g = 0; g < upperKeys.size(); ++g) {
        if (key <= upperKeys[g])
            return static_cast<int>(g);
    }
    return upperKeys.empty() ? 0 : static_cast<int>(upperKeys.size()) - 1;
}

int VoicePlayer::SampleFor(int key, int velocity) const
{
    int layer = 0;
    while (layer + 1 < layers && SfzLayerVelocities(layer, layers).second < velocity)
        ++layer;
    const int index = KeyGroupOf(key) * layers + layer;
    return std::min(index, static_cast<int>(samples.size()) - 1);
}

double VoicePlayer::StepFor(int sample, int key) const
{
    const auto& s = samples[static_cast<std::size_t>(sample)];
    return std::exp2((key * 256.0 - s.pitchWord) / 3072.0);
}

void VoicePlayer::NoteOn(int key, int velocity)
{
    if (samples.empty() || velocity <= 0)
        return;
    if (notes.size() >= kMaxNotes)
        notes.erase(notes.begin()); // the oldest makes room, as a sampler steals a voice
    Note note;
    note.key = key;
    note.sample = SampleFor(key, velocity);
    note.step = StepFor(note.sample, key);
    note.kernel = KernelFor(note.step);
    note.position = static_cast<double>(samples[static_cast<std::size_t>(note.sample)].start);
    const float level = static_cast<float>(std::min(velocity, 127)) / 127.0f;
    note.gain = samples[static_cast<std::size_t>(note.sample)].gain * level * level;
    notes.push_back(note);
}

void VoicePlayer::NoteOff(int key)
{
    for (Note& note : notes) {
        if (note.key != key || !note.held)
            continue;
        note.held = false;
        const Sample& sample = samples[static_cast<std::size_t>(note.sample)];
        // Out of the loop where it stands: from here on the data is read as the card holds it.
        const std::int64_t length = sample.loopEnd - sample.loopStart + 1;
        if (sample.loopEnd >= 0 && note.position > static_cast<double>(sample.loopEnd + 1))
            note.position = static_cast<double>(sample.loopStart)
                + std::fmod(note.position - static_cast<double>(sample.loopStart),
                    static_cast<double>(length));
        if (!oneShot)
            note.releaseLeft = static_cast<std::int64_t>(kReleaseSeconds * kRate);
    }
}

void VoicePlayer::Silence()
{
    notes.clear();
}

float VoicePlayer::Tap(const Sample& sample, const Note& note, std::int64_t index) const
{
    if (note.held && sample.loopEnd >= 0 && index > sample.loopEnd)
        index = sample.loopStart
            + (index - sample.loopStart) % (sample.loopEnd - sample.loopStart + 1);
    if (index < 0 || index >= sample.end)
        return 0.0f;
    return sample.words[static_cast<std::size_t>(index)];
}

std::shared_ptr<const VoicePlayer::Kernel> VoicePlayer::KernelFor(double step)
{
    // Notes at one step share a kernel: a phrase plays the same few keys again and again.
    const double limited = std::min(std::max(step, 1.0), kWidestStep);
    for (const auto& kernel : kernels)
        if (kernel->step == limited)
            return kernel;
    const std::vector<float>& table = KernelTable();
    auto kernel = std::make_shared<Kernel>();
    kernel->step = limited;
    const double cutoff = kCutoff / limited;
    kernel->reach = static_cast<int>(std::ceil(kZeros / cutoff));
    kernel->taps = 2 * kernel->reach;
    kernel->rows.resize(static_cast<std::size_t>((kPhases + 1) * kernel->taps));
    for (int phase = 0; phase <= kPhases; ++phase) {
        const double fraction = static_cast<double>(phase) / kPhases;
        for (int k = 0; k < kernel->taps; ++k) {
            // Tap k reads the frame reach - 1 - k before the one the note stands on.
            const double x = fraction + kernel->reach - 1 - k;
            kernel->rows[static_cast<std::size_t>(phase * kernel->taps + k)]
                = static_cast<float>(cutoff) * KernelAt(table, x * cutoff);
        }
    }
    if (kernels.size() >= 32)
        kernels.erase(kernels.begin());
    kernels.push_back(kernel);
    return kernel;
}

float VoicePlayer::Interpolate(const Sample& sample, const Note& note)
{
    const Kernel& kernel = *note.kernel;
    const auto centre = static_cast<std::int64_t>(std::floor(note.position));
    const double phase = (note.position - static_cast<double>(centre)) * kPhases;
    const auto row = static_cast<int>(phase);
    const auto between = static_cast<float>(phase - row);
    const std::int64_t from = centre - kernel.reach + 1;
    const std::int64_t to = centre + kernel.reach;
    const float* data;
    if (from >= 0 && to < sample.end
        && (!note.held || sample.loopEnd < 0 || to <= sample.loopEnd)) {
        data = sample.words.data() + from;
    } else {
        window.resize(static_cast<std::size_t>(kernel.taps));
        for (int k = 0; k < kernel.taps; ++k)
            window[static_cast<std::size_t>(k)] = Tap(sample, note, from + k);
        data = window.data();
    }
    const float* a = kernel.rows.data() + static_cast<std::ptrdiff_t>(row) * kernel.taps;
    const float* b = a + kernel.taps;
    // Four sums apiece, so that the additions need not wait for one another.
    std::array<float, 4> sumA {}, sumB {};
    int k = 0;
    for (; k + 4 <= kernel.taps; k += 4)
        for (int lane = 0; lane < 4; ++lane) {
            sumA[static_cast<std::size_t>(lane)] += data[k + lane] * a[k + lane];
            sumB[static_cast<std::size_t>(lane)] += data[k + lane] * b[k + lane];
        }
    for (; k < kernel.taps; ++k) {
        sumA[0] += data[k] * a[k];
        sumB[0] += data[k] * b[k];
    }
    const float totalA = (sumA[0] + sumA[1]) + (sumA[2] + sumA[3]);
    const float totalB = (sumB[0] + sumB[1]) + (sumB[2] + sumB[3]);
    return totalA + between * (totalB - totalA);
}

void VoicePlayer::Render(std::span<float> out)
{
    const auto releaseFrames = static_cast<float>(kReleaseSeconds * kRate);
    for (Note& note : notes) {
        const Sample& sample = samples[static_cast<std::size_t>(note.sample)];
        const auto reach = static_cast<double>(note.kernel->reach);
        const std::int64_t length = sample.loopEnd - sample.loopStart + 1;
        for (float& frame : out) {
            if (note.releaseLeft == 0) {
                note.age = -1;
                break;
            }
            const bool looping = note.held && sample.loopEnd >= 0;
            // Far enough past the loop end that every tap lies in the loop: one loop back.
            if (looping && note.position >= static_cast<double>(sample.loopEnd + 1) + reach)
                note.position -= static_cast<double>(length)
                    * std::floor((note.position - static_cast<double>(sample.loopEnd + 1) - reach)
                            / static_cast<double>(length)
                        + 1);
            const bool silent = sample.loopEnd < 0
                ? note.position > static_cast<double>(sample.loopStart) + reach
                : !looping && note.position > static_cast<double>(sample.end) + reach;
            if (silent) {
                note.age = -1;
                break;
            }
            float gain = note.gain;
            if (sample.smooth && note.age < kSmoothFrames)
                gain *= static_cast<float>(note.age + 1) / kSmoothFrames;
            if (note.releaseLeft > 0) {
                gain *= static_cast<float>(note.releaseLeft) / releaseFrames;
                --note.releaseLeft;
            }
            frame += gain * Interpolate(sample, note);
            note.position += note.step;
            ++note.age;
        }
    }
    std::erase_if(notes, [](const Note& n) { return n.age < 0; });
}

std::vector<std::int16_t> RenderEvents(
    VoicePlayer& player, std::vector<NoteEvent> events, double tailSeconds)
{
    std::stable_sort(events.begin(), events.end(),
        [](const NoteEvent& a, const NoteEvent& b) { return a.seconds < b.seconds; });
    std::vector<float> mix;
    constexpr std::size_t kBlock = 256;
    std::size_t next = 0;
    const double lastEvent = events.empty() ? 0.0 : events.back().seconds;
    const auto limit = static_cast<std::size_t>((lastEvent + tailSeconds) * VoicePlayer::kRate);
    while (next < events.size() || (player.Sounding() && mix.size() < limit)) {
        // Each event takes effect at its own frame: a block ends where the next one is due.
        while (next < events.size()
            && events[next].seconds * VoicePlayer::kRate < static_cast<double>(mix.size() + 1)) {
            const NoteEvent& e = events[next++];
            if (e.velocity > 0)
                player.NoteOn(e.key, e.velocity);
            else
                player.NoteOff(e.key);
        }
        const std::size_t at = mix.size();
        std::size_t frames = kBlock;
        if (next < events.size()) {
            const auto due
                = static_cast<std::size_t>(std::ceil(events[next].seconds * VoicePlayer::kRate));
            frames = std::clamp<std::size_t>(due > at ? due - at : 1, 1, kBlock);
        }
        mix.resize(at + frames, 0.0f);
        player.Render(std::span(mix).subspan(at));
    }
    std::vector<std::int16_t> out;
    ToSamples(mix, out);
    return out;
}

void ToSamples(std::span<const float> mix, std::vector<std::int16_t>& samples)
{
    samples.resize(mix.size());
    std::transform(mix.begin(), mix.end(), samples.begin(), [](float v) {
        return static_cast<std::int16_t>(
            std::lround(std::clamp(v * 32768.0f, -32768.0f, 32767.0f)));
    });
}

bool ReadMidiNotes(
    std::span<const std::uint8_t> bytes, std::vector<NoteEvent>& events, std::string& error)
{
    events.clear();
    ByteReader file(bytes);
    std::optional<std::uint16_t> division;
    std::vector<std::vector<std::uint8_t>> tracks;
    while (file.Remaining() >= 8) {
        const auto id = file.Bytes(4);
        const auto length = file.U32(Endian::Big);
        const std::string tag(id->begin(), id->end());
        if (!length || *length > file.Remaining()) {
            if (!division) {
                error = "it is no standard MIDI file (it does not begin with a MIDI file header)";
                return false;
            }
            break; // a chunk cut short ends the file, as a sequencer reads it
        }
        if (!division) {
            if (tag != "MThd" || *length < 6) {
                error = "it is no standard MIDI file (it does not begin with a MIDI file header)";
                return false;
            }
            division = ByteReader(*file.Bytes(*length)).U16At(4, Endian::Big);
            continue;
        }
        std::vector<std::uint8_t> chunk(8);
        std::copy(id->begin(), id->end(), chunk.begin());
        for (int b = 0; b < 4; ++b)
            chunk[4 + static_cast<std::size_t>(b)]
                = static_cast<std::uint8_t>(*length >> (24 - 8 * b));
        const auto body = file.Bytes(*length);
        chunk.insert(chunk.end(), body->begin(), body->end());
        if (tag == "MTrk")
            tracks.push_back(std::move(chunk));
    }
    if (!division || *division == 0) {
        error = "it is no standard MIDI file (it does not begin with a MIDI file header)";
        return false;
    }
    // Ticks are turned into seconds through every tempo change of every track.
    struct Timed {
        std::uint64_t tick;
        int order;
        std::uint32_t tempo; // 0: a note
        NoteEvent note;
    };
    std::vector<Timed> timed;
    int order = 0;
    for (auto& bytesOfTrack : tracks) {
        MStdMidiFileTrack track;
        track.SetChunk(std::move(bytesOfTrack));
        while (!track.Ended()) {
            const std::uint64_t tick = track.NextEventTime();
            const MidiEvent event = track.ParseEvent();
            if (event.kind == MidiEvent::Kind::Tempo && event.tempo > 0)
                timed.push_back({ tick, order++, event.tempo, {} });
            if (event.kind != MidiEvent::Kind::Channel)
                continue;
            const int type = event.status & 0xF0;
            if (type == 0x90 || type == 0x80)
                timed.push_back({ tick, order++, 0,
                    { 0, event.data1, type == 0x90 ? static_cast<int>(event.data2) : 0 } });
        }
    }
    std::stable_sort(timed.begin(), timed.end(), [](const Timed& a, const Timed& b) {
        return a.tick != b.tick ? a.tick < b.tick : (a.tempo != 0) > (b.tempo != 0);
    });
    // Bit 15 of the division: SMPTE frames a second and ticks a frame.
    const bool smpte = (*division & 0x8000) != 0;
    const double ticksPerSecondSmpte = smpte
        ? -static_cast<double>(static_cast<std::int8_t>(*division >> 8)) * (*division & 0xFF)
        : 0;
    double seconds = 0,
           secondsPerTick = smpte ? 1.0 / std::max(ticksPerSecondSmpte, 1.0) : 0.5 / *division;
    std::uint64_t lastTick = 0;
    for (const Timed& t : timed) {
        seconds += static_cast<double>(t.tick - lastTick) * secondsPerTick;
        lastTick = t.tick;
        if (t.tempo != 0) {
            if (!smpte)
                secondsPerTick = t.tempo / 1e6 / *division;
            continue;
        }
        NoteEvent note = t.note;
        note.seconds = seconds;
        events.push_back(note);
    }
    return true;
}

std::vector<NoteEvent> PhraseAcross(const VoicePlayer& player)
{
    // One key group: a rising triad from middle C; several: each group's middle key (at most
    // eight, spread over them), then the lowest, a middle and the highest together.
    std::vector<int> keys;
    if (player.GroupCount() <= 1) {
        keys = { 60, 64, 67 };
    } else {
        const int groups = player.GroupCount();
        const int shown = std::min(groups, 8);
        for (int i = 0; i < shown; ++i) {
            const int g = shown == 1 ? 0 : i * (groups - 1) / (shown - 1);
            const int lower = g == 0 ? 0 : player.UpperKey(g - 1) + 1;
            keys.push_back((lower + player.UpperKey(g)) / 2);
        }
    }
    std::vector<NoteEvent> events;
    double at = 0;
    for (const int key : keys) {
        events.push_back({ at, key, 100 });
        events.push_back({ at + 0.3, key, 0 });
        at += 0.4;
    }
    const std::array<int, 3> chord { keys.front(), keys[keys.size() / 2], keys.back() };
    for (const int key : chord) {
        events.push_back({ at, key, 100 });
        events.push_back({ at + 1.0, key, 0 });
    }
    return events;
}

} // namespace cardmill
