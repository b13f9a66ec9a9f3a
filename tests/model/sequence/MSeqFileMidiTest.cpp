#include "model/sequence/MSeqFileMidi.h"

#include "support/Midi.h"
#include "support/Steps.h"
#include "support/TestEnv.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <numeric>
#include <random>
#include <sstream>

#include <gtest/gtest.h>

namespace cardmill {
namespace {

using test::Bytes;
using test::MidiFile;
using test::TrackBuilder;

/// A format 0 file of one track.
Bytes Song(const TrackBuilder& track, std::uint16_t division = 96)
{
    return MidiFile(0, division, { track.Build() });
}

class Sequence : public ::testing::Test {
protected:
    std::unique_ptr<MSeqFileMidi> Open(const Bytes& bytes)
    {
        return test::OpenInMemory(env, bytes, "/m/song.mid", &MSeqFileMidi::OpenSequence);
    }

    /// Opens and converts; the converted bytes, or nothing when loading failed.
    std::optional<Bytes> Convert(const Bytes& bytes, bool skipEmptyTicks = true)
    {
        auto sequence = Open(bytes);
        if (!sequence)
            return std::nullopt;
        sequence->SetSkipsEmptyTicks(skipEmptyTicks);
        if (test::LoadFully(*sequence) != 1)
            return std::nullopt;
        EXPECT_EQ(sequence->GetCompiledSize(), sequence->ConvertedData().size());
        return Bytes(sequence->ConvertedData().begin(), sequence->ConvertedData().end());
    }
    test::Decoded Decode(const Bytes& bytes)
    {
        const auto converted = Convert(bytes);
        EXPECT_TRUE(converted);
        return converted ? test::DecodeSequence(*converted) : test::Decoded {};
    }
    /// Milliseconds between two decoded messages.
    static double Gap(const test::Decoded& decoded, std::size_t from, std::size_t to)
    {
        return static_cast<double>(decoded.messages.at(to).time - decoded.messages.at(from).time);
    }

    test::TestEnv env;
};

TEST_F(Sequence, NotesBecomeTimedGroupsWhoseMessagesWithinOneMillisecondShareTheirStatus)
{
    const auto converted
        = Convert(Song(TrackBuilder().Note(0, 0x90, 0x3C, 0x64).Note(96, 0x80, 0x3C, 0x40).End(0)));
    ASSERT_TRUE(converted);
    EXPECT_EQ(*converted,
        (Bytes { 0xFF, 0x01, 0x00, 0x90, 0x3C, 0x64, 0xFF, 0xF3, 0x01, 0x80, 0x3C, 0x40, 0xFF, 0x01,
            0x00, 0xFE }));

    // At 96 ppq a tick is about 5.2 ms: both notes of tick 0 fall in one group.
    const auto together
        = Convert(Song(TrackBuilder().Note(0, 0x90, 60, 100).Note(0, 0x90, 64, 100).End(10)));
    ASSERT_TRUE(together);
    EXPECT_EQ(
        Bytes(together->begin() + 3, together->begin() + 8), (Bytes { 0x90, 60, 100, 64, 100 }));
    // One tick apart they are in different groups, each with its status.
    const auto apart
        = Convert(Song(TrackBuilder().Note(0, 0x90, 60, 100).Note(1, 0x90, 64, 100).End(10)));
    ASSERT_TRUE(apart);
    EXPECT_EQ(Bytes(apart->begin() + 9, apart->begin() + 12), (Bytes { 0x90, 64, 100 }));
    const auto decoded = test::DecodeSequence(*apart);
    ASSERT_EQ(decoded.messages.size(), 2u);
    EXPECT_EQ(Gap(decoded, 0, 1), 5.0);
}

TEST_F(Sequence, SystemExclusivePacing)
{
    Bytes data(24);
    std::iota(data.begin(), data.end(), 1);
    data.back() = 0xF7; // 25 bytes with the F0
    const auto converted = Convert(Song(TrackBuilder().SysEx(0, data).End(0)));
    ASSERT_TRUE(converted);
    Bytes expected { 0xFF, 0x01, 0x00, 0xF0 };
    expected.insert(expected.end(), data.begin(), data.begin() + 19);
    expected.insert(expected.end(), { 0xFF, 0x07, 0x00 });
    expected.insert(expected.end(), data.begin() + 19, data.end());
    EXPECT_EQ(Bytes(converted->begin(),
                  converted->begin() + static_cast<std::ptrdiff_t>(expected.size())),
        expected);
    EXPECT_EQ(env.services.sysexPacing, 25u);
    // The counter runs on through the next conversion of the program.
    Convert(Song(TrackBuilder().SysEx(0, { 1, 2, 0xF7 }).End(0)));
    EXPECT_EQ(env.services.sysexPacing, 29u);
}

TEST_F(Sequence, LongGapsTakeSeveralRecordsAndTheLastGroupKeepsADelayShorterThanATick)
{
    // 96 ppq at 120 bpm: 96 ticks are 499.99 ms; 20000 quarter notes are just under 10000 s.
    auto decoded
        = Decode(Song(TrackBuilder().Note(0, 0x90, 60, 1).Note(96 * 20000, 0x80, 60, 0).End(0)));
    EXPECT_TRUE(decoded.wellFormed);
    EXPECT_NEAR(Gap(decoded, 0, 1), 10000000.0, 2.0);
    // 9999999 ms = 152 x 65534 + 38831
    EXPECT_EQ(std::count(decoded.records.begin(), decoded.records.end(), 65534u), 152);

    // 960 ppq: a tick is 0.52 ms. The last note-off ends the track in a tick that crosses no
    // millisecond.
    decoded = Decode(Song(TrackBuilder().Note(0, 0x90, 60, 1).Note(960, 0x80, 60, 0).End(0), 960));
    EXPECT_TRUE(decoded.wellFormed);
    EXPECT_NEAR(Gap(decoded, 0, 1), 500.0, 1.0);
    EXPECT_EQ(decoded.records.back(), 1u);
}

TEST_F(Sequence, ATempoEventIsReadOverItsWholeLengthAndOnlyAWholeTempoCounts)
{
    // The same notes after a tempo event written several ways.
    const auto convert = [&](const Bytes& tempoEvent) {
        return Convert(Song(TrackBuilder()
                                .Note(0, 0x90, 60, 1)
                                .Event(10, tempoEvent)
                                .Note(0, 0x90, 62, 1)
                                .Note(96, 0x80, 62, 0)
                                .End(0)));
    };
    const auto standard = convert({ 0xFF, 0x51, 3, 0x03, 0xD0, 0x90 }); // 250000 us
    const auto none = convert({ 0xFF, 0x01, 2, 'h', 'i' }); // text: the default tempo stays
    ASSERT_TRUE(standard && none);
    EXPECT_NE(*standard, *none);
    EXPECT_NEAR(Gap(test::DecodeSequence(*standard), 1, 2), 250.0, 1.0);

    struct Case {
        const char* what;
        Bytes event;
        bool setsTempo;
    };
    for (const auto& [what, event, setsTempo] :
        { Case { "one byte more", { 0xFF, 0x51, 4, 0x03, 0xD0, 0x90, 0x55 }, true },
            Case { "a length of two bytes", { 0xFF, 0x51, 0x80, 3, 0x03, 0xD0, 0x90 }, true },
            Case { "too short to hold one", { 0xFF, 0x51, 2, 0x03, 0xD0 }, false },
            Case { "empty", { 0xFF, 0x51, 0 }, false } }) {
        const auto converted = convert(event);
        ASSERT_TRUE(converted) << what;
        EXPECT_EQ(*converted, setsTempo ? *standard : *none) << what;
    }
}

TEST_F(Sequence, HeaderLimitsWithTheirReasonsAndTracksThatAllEndAtTickZero)
{
    const Bytes end = TrackBuilder().End(0).Build();
    std::vector<Bytes> tracks(64, end);
    auto most = Open(MidiFile(1, 96, tracks));
    ASSERT_TRUE(most);
    EXPECT_EQ(std::tuple(most->GetInfoLine1(), most->GetInfoLine2(), most->GetInfoLine3()),
        std::tuple("PPQ:  96", "Format 1", "Tracks:  64"));
    EXPECT_TRUE(Open(MidiFile(0, 2, { end })));
    tracks.push_back(end);
    for (const auto& [file, why] :
        { std::pair(MidiFile(1, 96, tracks), "It has 65 tracks; Cardmill reads at most 64."),
            std::pair(MidiFile(0, 1, { end }),
                "It counts 1 tick to a quarter note; the card's conversion needs at least 2."),
            std::pair(MidiFile(2, 96, { end }),
                "It is a format 2 MIDI file, a set of independent patterns; the card plays a "
                "song of format 0 or format 1 only."),
            std::pair(MidiFile(3, 96, { end }),
                "It gives the MIDI file format 3; there are formats 0, 1 and 2 only."),
            std::pair(MidiFile(0, 0xE728, { end }),
                "It counts time in SMPTE frames (25 frames a second); the card plays songs "
                "timed in ticks per quarter note only."),
            std::pair(MidiFile(1, 96, { end }, 2),
                "Its header gives 2 tracks, but track 2 is missing or cut short."),
            std::pair(Bytes { 'M', 'T', 'h', 'd', 0, 0, 0, 2, 0, 0 },
                "It has no MIDI file header (\"MThd\" chunk), or the file is cut short.") }) {
        env.services.whyNotUnderstood.clear();
        EXPECT_FALSE(Open(file));
        EXPECT_EQ(env.services.whyNotUnderstood, why);
    }
    // A negative count loads no track.
    auto none = Open(MidiFile(1, 96, {}, 0xFFFF));
    ASSERT_TRUE(none);
    EXPECT_EQ(none->TrackCount(), 0);

    // Tracks that all end at tick 0, or no track at all, still convert.
    EXPECT_TRUE(Decode(MidiFile(1, 96, { end, end })).wellFormed);
    EXPECT_NE(env.progress.history.back().find(" %"), std::string::npos);
    EXPECT_TRUE(Convert(MidiFile(1, 96, {})));
}

TEST_F(Sequence, TheCommentIsTheFirstTrackNameEvenAfterOtherEvents)
{
    // A name of 128 bytes or more has a length of two bytes.
    for (const std::string& name : { std::string("Intro"), std::string(200, 'n') }) {
        auto file = Open(Song(TrackBuilder().Name(0, name).End(0)));
        ASSERT_TRUE(file);
        EXPECT_EQ(file->GetComment(), name);
    }
    auto second = Open(MidiFile(1, 96,
        { TrackBuilder().Note(0, 0x90, 1, 1).Name(0, "Late").End(0).Build(),
            TrackBuilder().Name(0, "Track Two").End(0).Build() }));
    EXPECT_EQ(second->GetComment(), "Track Two");
}

TEST_F(Sequence, RunningStatusEndsAtAMetaEvent)
{
    // After the meta event a bare data byte has no status to run on: the track ends there.
    const auto decoded = Decode(Song(TrackBuilder()
                                         .Note(0, 0x90, 60, 1)
                                         .Event(0, { 61, 1 })
                                         .Event(10, { 0xFF, 0x01, 1, 'x' })
                                         .Event(10, { 62, 1 })
                                         .Note(10, 0x90, 63, 1)
                                         .End(0)));
    ASSERT_EQ(decoded.messages.size(), 2u);
    EXPECT_EQ(decoded.messages[1].bytes, (Bytes { 0x90, 61, 1 }));
}

TEST_F(Sequence, DamagedTracksEndAtTheChunksEnd)
{
    // No end-of-track; a SysEx whose length points past the chunk; a message cut short; a tempo
    // event longer than what is left.
    for (const auto& [last, messages] : { std::tuple(Bytes { 0x80, 60, 0 }, 2u),
             std::tuple(Bytes { 0xF0, 0x7F, 1, 2 }, 1u), std::tuple(Bytes { 0x90, 61 }, 1u),
             std::tuple(Bytes { 0xFF, 0x51, 4, 0x07, 0xA1, 0x20 }, 1u) }) {
        const auto decoded = Decode(Song(TrackBuilder().Note(0, 0x90, 60, 1).Event(5, last)));
        EXPECT_TRUE(decoded.wellFormed);
        EXPECT_EQ(decoded.messages.size(), messages);
    }

    const Bytes oddTrack = TrackBuilder().Event(0, { 0xC0, 5 }).End(0).Build();
    ASSERT_EQ(oddTrack.size() % 2, 1u); // no pad byte may stand before the next chunk
    const auto decoded
        = Decode(MidiFile(1, 96, { oddTrack, TrackBuilder().Note(3, 0x90, 70, 1).End(0).Build() }));
    ASSERT_EQ(decoded.messages.size(), 2u);
    EXPECT_EQ(decoded.messages[1].bytes, (Bytes { 0x90, 70, 1 }));
}

TEST_F(Sequence, DuplicateCopiesTheConvertedData)
{
    auto sequence = Open(Song(TrackBuilder().Note(0, 0x90, 60, 1).End(96)));
    ASSERT_EQ(test::LoadFully(*sequence), 1);
    sequence->SetOutPort(1);
    auto copy = sequence->Duplicate();
    auto* midi = dynamic_cast<MSeqFileMidi*>(copy.get());
    ASSERT_TRUE(midi);
    EXPECT_TRUE(std::ranges::equal(midi->ConvertedData(), sequence->ConvertedData()));
    EXPECT_EQ(midi->GetOutPort(), 1);
}

/// Random small files, converted tick by tick (the reference) and with empty ticks skipped.
TEST_F(Sequence, SkippingEmptyTicksGivesTheSameBytesAsTheTickByTickWalk)
{
    std::mt19937 random(7);
    const auto uniform = [&](std::uint32_t low, std::uint32_t high) {
        return std::uniform_int_distribution<std::uint32_t>(low, high)(random);
    };
    for (int round = 0; round < 200; ++round) {
        const auto division = static_cast<std::uint16_t>(uniform(2, 2000));
        std::vector<Bytes> tracks;
        for (std::uint32_t t = 0, count = uniform(1, 3); t < count; ++t) {
            TrackBuilder track;
            for (std::uint32_t e = 0, events = uniform(0, 12); e < events; ++e) {
                const std::uint32_t kind = uniform(0, 9);
                const std::uint32_t delta = kind < 2 ? uniform(0, 100000) : uniform(0, 40);
                if (kind == 3) {
                    track.Tempo(delta, uniform(0, 16777215));
                } else if (kind == 4) {
                    Bytes data(uniform(1, 50), 0x11);
                    data.back() = 0xF7;
                    track.SysEx(delta, data);
                } else {
                    track.Note(delta, static_cast<std::uint8_t>(0x90 | (e % 3)),
                        static_cast<std::uint8_t>(e), 64);
                }
            }
            tracks.push_back(track.End(uniform(0, 1000)).Build());
        }
        const Bytes file = MidiFile(1, division, tracks);
        const std::uint32_t pacing = env.services.sysexPacing;
        const auto slow = Convert(file, false);
        env.services.sysexPacing = pacing;
        const auto fast = Convert(file, true);
        ASSERT_TRUE(slow && fast) << "round " << round;
        ASSERT_EQ(*slow, *fast) << "round " << round;
        EXPECT_TRUE(test::DecodeSequence(*fast, pacing).wellFormed) << "round " << round;
    }
}

// Standard MIDI files written by python3-mido (format 0 and 1, tempo changes, running status,
// SysEx), converted and decoded: every event must appear in order, with the time in
// milliseconds that mido's own tempo map gives it (within 2 ms).
const char* const kMidoWriter = R"PY(
import random, sys
import mido

folder, count = sys.argv[1], int(sys.argv[2])
for n in range(count):
    rng = random.Random(n)
    kind = n % 2
    ppq = rng.choice([24, 96, 120, 480, 960])
    mid = mido.MidiFile(type=kind, ticks_per_beat=ppq)
    for t in range(1 if kind == 0 else rng.randint(2, 4)):
        track = mido.MidiTrack()
        mid.tracks.append(track)
        if t == 0:
            track.append(mido.MetaMessage("track_name", name="song %d" % n, time=0))
        for e in range(rng.randint(5, 60)):
            delta = rng.choice([0, 0, 1, 5, 30, ppq, 3 * ppq, rng.randint(0, 4 * ppq)])
            what = rng.random()
            channel = rng.randint(0, 2)
            if what < 0.08 and t == 0:
                track.append(mido.MetaMessage("set_tempo", tempo=rng.randint(150000, 1500000), time=delta))
            elif what < 0.14:
                data = [rng.randint(0, 127) for _ in range(rng.randint(1, 45))]
                track.append(mido.Message("sysex", data=data, time=delta))
            elif what < 0.2:
                track.append(mido.Message("program_change", channel=channel, program=rng.randint(0, 127), time=delta))
            elif what < 0.25:
                track.append(mido.Message("aftertouch", channel=channel, value=rng.randint(0, 127), time=delta))
            elif what < 0.3:
                track.append(mido.Message("pitchwheel", channel=channel, pitch=rng.randint(-8192, 8191), time=delta))
            elif what < 0.35:
                track.append(mido.Message("control_change", channel=channel, control=7, value=rng.randint(0, 127), time=delta))
            else:
                track.append(mido.Message("note_on", channel=channel, note=rng.randint(30, 90),
                                          velocity=rng.randint(0, 127), time=delta))
    path = "%s/song%d.mid" % (folder, n)
    mid.save(path)
    seconds = 0.0
    with open(path + ".expected", "w") as out:
        for message in mido.MidiFile(path):
            seconds += message.time
            if not message.is_meta:
                out.write("%.6f %s\n" % (seconds * 1000.0, " ".join(str(b) for b in message.bytes())))
)PY";

TEST(MidoSequences, EveryEventAtTheTimeMidosTempoMapGives)
{
    test::TempDir dir;
    const std::string script = dir.Write("write.py", std::string(kMidoWriter));
    constexpr int kFiles = 40;
    const std::string run
        = "/usr/bin/python3 '" + script + "' '" + dir.Path() + "' " + std::to_string(kFiles);
    ASSERT_EQ(std::system(run.c_str()), 0);

    test::TestEnv env;
    for (int n = 0; n < kFiles; ++n) {
        const std::string path = dir.File("song" + std::to_string(n) + ".mid");
        MSeqFileMidi sequence(env.services);
        ASSERT_TRUE(sequence.OpenSequence(path)) << path;
        EXPECT_EQ(sequence.GetComment(), "song " + std::to_string(n));
        const std::uint32_t pacing = env.services.sysexPacing;
        ASSERT_EQ(test::LoadFully(sequence), 1) << path;
        const auto decoded = test::DecodeSequence(
            Bytes(sequence.ConvertedData().begin(), sequence.ConvertedData().end()), pacing);
        ASSERT_TRUE(decoded.wellFormed) << path;
        std::ifstream expected(path + ".expected");
        std::size_t i = 0;
        for (std::string line; std::getline(expected, line); ++i) {
            std::istringstream fields(line);
            double milliseconds = 0;
            fields >> milliseconds;
            Bytes bytes;
            for (int byte; fields >> byte;)
                bytes.push_back(static_cast<std::uint8_t>(byte));
            ASSERT_LT(i, decoded.messages.size()) << path;
            ASSERT_EQ(decoded.messages[i].bytes, bytes) << path << " event " << i;
            // The first group of the stream stands at 1 ms.
            ASSERT_NEAR(static_cast<double>(decoded.messages[i].time) - 1.0, milliseconds, 2.0)
                << path << " event " << i;
        }
        EXPECT_EQ(i, decoded.messages.size()) << path;
    }
}

} // namespace
} // namespace cardmill
