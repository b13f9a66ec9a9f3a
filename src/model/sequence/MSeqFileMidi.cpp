#include "model/sequence/MSeqFileMidi.h"

#include "model/Services.h"
#include "model/TextEncoding.h"
#include "model/TextFields.h"
#include "platform/ByteWriter.h"
#include "platform/ProgressView.h"

#include <algorithm>
#include <new>

namespace cardmill {

namespace {

__extension__ typedef unsigned __int128 U128;

/// One millisecond in the time accumulator's unit (microseconds times 8192).
constexpr std::uint64_t kMillisecond = 8192000;
constexpr std::uint32_t kLongestRecord = 65534;
constexpr std::uint32_t kSliceMilliseconds = 167;
/// No card holds more than 32 megabytes: a longer sequence could never go onto one.
constexpr std::uint64_t kOutputLimit = 32u << 20;

enum State { kStart = 0, kPreSize = 2, kAllocate = 3, kConvert = 4, kFinish = 6, kDone = 7 };

/// A write would pass the end of the output.
struct ATrackBufferOverrun { };
/// The sequence would not fit the largest card.
struct TooLongForACard { };

} // namespace

/// The conversion of one file: merges the tracks tick by tick, turns ticks into milliseconds
/// with the file's tempo changes and writes the card's format.
class MSeqFileMidi::Converter {
public:
    Converter(MSeqFileMidi& owner, std::uint32_t& pacingCounter)
        : file(owner)
        , pacing(pacingCounter)
    {
    }

    void Reset()
    {
        pending = 0;
        milliseconds = 1;
        accumulator = 0;
        writeIndex = 3; // offsets 0 to 2 hold the first time record
        currentTick = 0;
        eventCount = 0;
        lastStatus = kNoStatus;
        tracksRunning = 0;
        for (int t = 0; t < file.trackCount; ++t)
            tracksRunning += file.tracks[static_cast<std::size_t>(t)].Ended() ? 0 : 1;
        written = false;
        nextMergeTick = 0;
        tickIncrement = TickIncrement(500000); // 120 beats per minute until a tempo event
    }

    /// Sizes the output so that every valid file fits: each event's largest possible bytes, a
    /// time record per event, the records that long gaps force, the last record and end marks.
    void PreSize()
    {
        std::uint64_t size = 3;
        std::uint64_t largestIncrement = tickIncrement;
        totalTicks = 0;
        for (int t = 0; t < file.trackCount; ++t) {
            MStdMidiFileTrack& track = file.tracks[static_cast<std::size_t>(t)];
            const auto cursor = track.Save();
            while (!track.Ended()) {
                const MidiEvent event = track.ParseEvent();
                size += 3;
                if (event.kind == MidiEvent::Kind::Channel) {
                    size += 3;
                } else if (event.kind == MidiEvent::Kind::SystemExclusive) {
                    const std::uint64_t n = event.sysex.size();
                    size += 1 + n + 3 * ((n + 19) / 20);
                } else if (event.kind == MidiEvent::Kind::Tempo) {
                    largestIncrement = std::max(largestIncrement, TickIncrement(event.tempo));
                }
            }
            totalTicks = std::max(totalTicks, track.EndTime());
            track.Restore(cursor);
        }
        const U128 longest = (U128(totalTicks) + 2) * largestIncrement / kMillisecond + 2;
        const U128 forcedRecords = longest / kLongestRecord + 2;
        const U128 total = U128(size) + 3 * forcedRecords + 3 + 2;
        if (total > UINT32_MAX)
            throw ATrackBufferOverrun {};
        capacity = static_cast<std::uint64_t>(total);
    }

    std::uint64_t Capacity() const { return capacity; }
    std::uint64_t CurrentTick() const { return currentTick; }
    std::uint64_t TotalTicks() const { return totalTicks; }
    std::uint32_t EventCount() const { return eventCount; }
    std::uint64_t WriteIndex() const { return writeIndex; }

    /// Converts until the tracks have all ended (true) or the slice's time is up (false).
    bool Slice(const Clock& clock, bool skipEmptyTicks)
    {
        const std::uint32_t start = clock.TickCount();
        for (;;) {
            if (currentTick >= nextMergeTick) {
                AdvanceTracks();
                Tick();
            } else if (skipEmptyTicks) {
                SkipTicks(nextMergeTick - currentTick);
            } else {
                Tick();
            }
            if (tracksRunning == 0) {
                Finish();
                return true;
            }
            if (clock.TickCount() - start >= kSliceMilliseconds)
                return false;
        }
    }

private:
    static constexpr int kNoStatus = 1;

    std::uint64_t TickIncrement(std::uint32_t microsecondsPerQuarter) const
    {
        return std::uint64_t { microsecondsPerQuarter } * 8192 / file.ticksPerQuarter;
    }

    void Put(std::uint8_t byte)
    {
        if (writeIndex >= capacity
            || !StoreAt(std::span<std::uint8_t>(file.converted),
                static_cast<std::size_t>(writeIndex), byte, Endian::Big))
            throw ATrackBufferOverrun {};
        ++writeIndex;
    }

    /// A time record: FF, then the millisecond count's low 16 bits, little-endian.
    void FillRecord(std::uint64_t at, std::uint32_t count)
    {
        const std::span<std::uint8_t> output(file.converted);
        if (at + 3 > capacity || at + 3 > output.size())
            throw ATrackBufferOverrun {};
        const auto offset = static_cast<std::size_t>(at);
        StoreAt(output, offset, std::uint8_t { 0xFF }, Endian::Big);
        StoreAt(output, offset + 1, static_cast<std::uint16_t>(count), Endian::Little);
    }

    void AdvanceTracks()
    {
        nextMergeTick = UINT64_MAX;
        for (int t = 0; t < file.trackCount; ++t) {
            MStdMidiFileTrack& track = file.tracks[static_cast<std::size_t>(t)];
            while (!track.Ended() && track.NextEventTime() <= currentTick) {
                const MidiEvent event = track.ParseEvent();
                Apply(event);
                if (track.Ended()) {
                    --tracksRunning;
                    if (tracksRunning == 0 && event.kind != MidiEvent::Kind::Orphan)
                        written = true;
                }
            }
            if (!track.Ended())
                nextMergeTick = std::min(nextMergeTick, track.NextEventTime());
        }
    }

    void Apply(const MidiEvent& event)
    {
        switch (event.kind) {
        case MidiEvent::Kind::Channel:
            if (event.status != lastStatus) {
                Put(event.status);
                lastStatus = event.status;
            }
            Put(event.data1);
            if (event.HasSecondDataByte())
                Put(event.data2);
            ++eventCount;
            written = true;
            break;
        case MidiEvent::Kind::SystemExclusive:
            Put(0xF0);
            ++pacing; // no pause is inserted after the F0 itself
            for (const std::uint8_t byte : event.sysex) {
                Put(byte);
                if (++pacing % 20 == 0) {
                    Put(0xFF);
                    Put(0x07);
                    Put(0x00);
                }
            }
            ++eventCount;
            written = true;
            break;
        case MidiEvent::Kind::Tempo:
            tickIncrement = TickIncrement(event.tempo);
            break;
        default:
            break;
        }
    }

    /// Whole milliseconds the accumulator still holds beyond the current one, up to the record's
    /// limit (the reference drains them one by one).
    void Drain()
    {
        if (milliseconds != kLongestRecord && accumulator > kMillisecond) {
            const std::uint64_t whole
                = (accumulator - kMillisecond + kMillisecond - 1) / kMillisecond;
            const std::uint64_t taken
                = std::min<std::uint64_t>(whole, kLongestRecord - milliseconds);
            milliseconds += static_cast<std::uint32_t>(taken);
            accumulator -= taken * kMillisecond;
        }
        if (milliseconds == kLongestRecord)
            written = true; // the record is written at the next millisecond, messages or not
    }

    void Tick()
    {
        ++currentTick;
        accumulator += tickIncrement;
        if (accumulator <= kMillisecond)
            return;
        if (written) {
            written = false;
            lastStatus = kNoStatus;
            FillRecord(pending, milliseconds);
            milliseconds = 0;
            pending = writeIndex;
            writeIndex += 3;
        }
        ++milliseconds;
        accumulator -= kMillisecond;
        Drain();
    }

    /// `count` ticks without events, with exactly the result of `count` calls of Tick().
    void SkipTicks(std::uint64_t count)
    {
        while (count > 0) {
            if (accumulator <= kMillisecond) {
                // Ticks that cross no millisecond change nothing but the accumulator.
                if (tickIncrement == 0) {
                    currentTick += count;
                    return;
                }
                const std::uint64_t quiet = (kMillisecond - accumulator) / tickIncrement;
                if (quiet >= count) {
                    currentTick += count;
                    accumulator += count * tickIncrement;
                    return;
                }
                currentTick += quiet;
                accumulator += quiet * tickIncrement;
                count -= quiet;
            }
            if (written || count == 1 || accumulator > kMillisecond) {
                Tick();
                --count;
                continue;
            }
            // No record is due until the count reaches its limit: only the sums matter.
            const std::uint64_t room = kLongestRecord - milliseconds;
            const U128 toLimit = (U128(room) * kMillisecond - accumulator) / tickIncrement + 1;
            if (toLimit > count) {
                const U128 total = U128(accumulator) + U128(count) * tickIncrement;
                const auto whole = static_cast<std::uint64_t>((total - 1) / kMillisecond);
                milliseconds += static_cast<std::uint32_t>(whole);
                accumulator = static_cast<std::uint64_t>(total - U128(whole) * kMillisecond);
                currentTick += count;
                return;
            }
            const auto ticks = static_cast<std::uint64_t>(toLimit);
            accumulator = static_cast<std::uint64_t>(
                U128(accumulator) + U128(ticks) * tickIncrement - U128(room) * kMillisecond);
            milliseconds = kLongestRecord;
            written = true;
            currentTick += ticks;
            count -= ticks;
        }
    }

    void Finish()
    {
        // Messages after the pending record keep their real delay: the record gets the count
        // first and the closing record follows them.
        if (written) {
            FillRecord(pending, milliseconds);
            pending = writeIndex;
            writeIndex += 3;
        }
        FillRecord(pending, 1);
        Put(0xFE);
        if (writeIndex % 2)
            Put(0xFE);
    }

    MSeqFileMidi& file;
    std::uint32_t& pacing;
    std::uint64_t writeIndex = 0;
    std::uint64_t capacity = 0;
    std::uint64_t currentTick = 0;
    std::uint32_t eventCount = 0;
    std::uint64_t tickIncrement = 0;
    int tracksRunning = 0;
    bool written = false;
    int lastStatus = kNoStatus;
    std::uint64_t pending = 0;
    std::uint32_t milliseconds = 1;
    std::uint64_t accumulator = 0;
    std::uint64_t nextMergeTick = 0;
    std::uint64_t totalTicks = 0;
};

MSeqFileMidi::MSeqFileMidi(Services& services)
    : MSeqFile(services)
{
    littleEndian = false; // chunk lengths are big-endian
    noPadding = true; // and chunks are never padded
}

MSeqFileMidi::~MSeqFileMidi() = default;

bool MSeqFileMidi::OpenSequence(const std::string& path)
{
    const bool loaded = SetFile(path) && Load();
    CloseStream();
    // The card keeps no name for a sequence: it is named after its file, as a sound is, each
    // time the file is opened, so the project file needn't keep it.
    if (loaded)
        SetShortName(GetFileName());
    return loaded;
}

bool MSeqFileMidi::Load()
{
    formStart = 0;
    const auto head = ReadChunk(FourCC("MThd"), 0);
    if (!head || head->size() < 14)
        return Refuse("It has no MIDI file header (\"MThd\" chunk), or the file is cut short.");
    const ByteReader header(*head);
    const std::uint16_t fileFormat = *header.U16At(8, Endian::Big);
    const auto tracksInFile = static_cast<std::int16_t>(*header.U16At(10, Endian::Big));
    const std::uint16_t division = *header.U16At(12, Endian::Big);
    if (fileFormat == 2)
        return Refuse("It is a format 2 MIDI file, a set of independent patterns; the card plays "
                      "a song of format 0 or format 1 only.");
    if (fileFormat > 2)
        return Refuse(
            cardmill::Format("It gives the MIDI file format %u; there are formats 0, 1 and 2 only.",
                unsigned { fileFormat }));
    // Bit 15 of the division says that time is counted in SMPTE frames.
    if (division & 0x8000)
        return Refuse(
            cardmill::Format("It counts time in SMPTE frames (%d frames a second); the card plays "
                             "songs timed in ticks per quarter note only.",
                -static_cast<std::int8_t>(division >> 8)));
    if (division < 2)
        return Refuse(cardmill::Format(
            "It counts %u tick%s to a quarter note; the card's conversion needs at least 2.",
            unsigned { division }, division == 1 ? "" : "s"));
    // A track count that is negative loads no track.
    if (tracksInFile > kMaxTracks)
        return Refuse(cardmill::Format("It has %d tracks; Cardmill reads at most %d.",
            int { tracksInFile }, int { kMaxTracks }));
    format = fileFormat;
    ticksPerQuarter = division;
    trackCount = static_cast<std::uint16_t>(std::max<std::int16_t>(tracksInFile, 0));
    for (int t = 0; t < trackCount; ++t) {
        auto chunk = ReadChunk(FourCC("MTrk"), t);
        if (!chunk)
            return Refuse(cardmill::Format("Its header gives %d track%s, but track %d is "
                                           "missing or cut short.",
                int { trackCount }, trackCount == 1 ? "" : "s", t + 1));
        tracks[static_cast<std::size_t>(t)].SetChunk(std::move(chunk));
    }
    for (int t = 0; t < trackCount; ++t) {
        std::string name;
        if (tracks[static_cast<std::size_t>(t)].GetName(name)) {
            comment = DecodeText(name.substr(0, kCommentLimit), Charset::Windows1252);
            break;
        }
    }
    return true;
}

void MSeqFileMidi::ReleaseTracks()
{
    for (int t = kMaxTracks - 1; t >= 0; --t)
        tracks[static_cast<std::size_t>(t)].FreeChunk();
}

int MSeqFileMidi::LoadStep()
{
    ProgressView& progress = services.Progress();
    const std::string name = GetFileName();
    try {
        switch (conversionState) {
        case kStart:
            progress.SetPhase("Converting Sequence File:  ", name);
            progress.SetSector(progress.ShowsInnerSteps() ? "Initializing..." : "", "");
            converter = std::make_unique<Converter>(*this, services.sysexPacing);
            converter->Reset();
            conversionState = kPreSize;
            return 0;
        case kPreSize: {
            if (progress.ShowsInnerSteps())
                progress.SetSector(cardmill::Format("Pre-sizing: sCurrentSeqTick: %ld",
                                       static_cast<long>(converter->CurrentTick())),
                    "");
            const std::uint32_t pacing = services.sysexPacing;
            converter->PreSize();
            services.sysexPacing = pacing;
            converter->Reset();
            conversionState = kAllocate;
            return 0;
        }
        case kAllocate:
            if (converter->Capacity() > kOutputLimit)
                throw TooLongForACard {};
            converted.assign(static_cast<std::size_t>(converter->Capacity()), 0);
            conversionState = kConvert;
            if (progress.ShowsInnerSteps())
                progress.SetSector("Converting...", "");
            return 0;
        case kConvert: {
            const std::uint64_t total = converter->TotalTicks();
            const long percent
                = total ? static_cast<long>(converter->CurrentTick() * 100 / total) : 0;
            if (progress.ShowsInnerSteps())
                progress.SetSector(cardmill::Format("%ld %%", percent), "");
            if (converter->Slice(services.clock, skipEmptyTicks)) {
                converted.resize(static_cast<std::size_t>(converter->WriteIndex()));
                conversionState = kFinish;
            }
            return 0;
        }
        case kFinish:
            eventCount = converter->EventCount();
            converter.reset();
            ReleaseTracks();
            UpdateCompiledSize();
            conversionState = kDone;
            return 1;
        default:
            return 1;
        }
    } catch (const ATrackBufferOverrun&) {
        const char* which = conversionState == kPreSize ? "Presize" : "Sequence";
        ReportFailure(services.prompter,
            "Can't complete loading " + name + ". " + which + " buffer was overrun.");
    } catch (const TooLongForACard&) {
        ReportFailure(services.prompter,
            "Can't complete loading " + name
                + ". The sequence would be larger than the largest memory card.");
    } catch (const std::bad_alloc&) {
        ReportFailure(services.prompter, "Not enough memory to load " + name);
    }
    converter.reset();
    converted.clear();
    return -1;
}

bool MSeqFileMidi::UpdateCompiledSize()
{
    const auto size = static_cast<std::uint32_t>(converted.size());
    const bool changed = size != compiledSize;
    compiledSize = size;
    return changed;
}

std::span<const std::uint8_t> MSeqFileMidi::CompiledSequence(ProgressView& progress, bool first)
{
    if (first)
        progress.SetPhase("Compiling Sequence File:  ", GetFileName());
    return converted;
}

std::string MSeqFileMidi::GetInfoLine1() const
{
    return cardmill::Format("PPQ:  %d", ticksPerQuarter);
}

std::string MSeqFileMidi::GetInfoLine2() const
{
    return cardmill::Format("Format %d", format);
}

std::string MSeqFileMidi::GetInfoLine3() const
{
    return cardmill::Format("Tracks:  %d", trackCount);
}

std::unique_ptr<MReadableFile> MSeqFileMidi::Duplicate() const
{
    auto copy = std::make_unique<MSeqFileMidi>(services);
    copy->CopyReadableFrom(*this);
    copy->viaOutPort = viaOutPort;
    copy->format = format;
    copy->ticksPerQuarter = ticksPerQuarter;
    copy->trackCount = trackCount;
    copy->converted = converted;
    copy->eventCount = eventCount;
    copy->conversionState = kDone;
    return copy;
}

bool MMidiFormatInterpreter::Recognises(const std::string& path) const
{
    if (path.empty())
        return false;
    if (EndsWithExtension(path, ".midi") || EndsWithExtension(path, ".mid")
        || EndsWithExtension(path, ".smf"))
        return true;
    MReadableFile probe(services);
    std::uint8_t head[4];
    return probe.SetFile(path) && probe.Read(head) && ByteReader(head).HasCodeAt(0, "MThd");
}

std::unique_ptr<MReadableFile> MMidiFormatInterpreter::Create(const std::string& path) const
{
    auto sequence = std::make_unique<MSeqFileMidi>(services);
    if (!sequence->OpenSequence(path))
        return nullptr;
    return sequence;
}

} // namespace cardmill
