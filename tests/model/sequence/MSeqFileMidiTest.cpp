#include "model/sequence/MSeqFileMidi.h"

#include "support/Midi.h"
#include "support/Steps.h"
#include "support/TestEnv.h"

#include <random>

#include <gtest/gtest.h>

namespace cardmill {
namespace {

using test::Bytes;
using test::MidiFile;
using test::TrackBuilder;

class Sequence : public ::testing::Test {
protected:
    std::unique_ptr<MSeqFileMidi> Open(const Bytes& bytes, const std::string& path = "/m/song.mid")
    {
        auto sequence = std::make_unique<MSeqFileMidi>(env.services);
        sequence->AttachMemory(bytes);
        if (!sequence->OpenSequence(path))
            return nullptr;
        return sequence;
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

    test::TestEnv env;
};

TEST_F(Sequence, ANoteOnAndOffBecomeTimedGroupsAndTheEndMark)
{
    const Bytes file = MidiFile(0, 96,
        { TrackBuilder().Note(0, 0x90, 0x3C, 0x64).Note(96, 0x80, 0x3C, 0x40).End(0).Build() });
    const auto converted = Convert(file);
    ASSERT_TRUE(converted);
    EXPECT_EQ(*converted,
        (Bytes { 0xFF, 0x01, 0x00, 0x90, 0x3C, 0x64, 0xFF, 0xF3, 0x01, 0x80, 0x3C, 0x40, 0xFF, 0x01,
            0x00, 0xFE }));
}

TEST_F(Sequence, MessagesWithinOneMillisecondShareTheirStatus)
{
    // At 96 ppq a tick is about 5.2 ms: both notes of tick 0 fall in one group.
    const Bytes same = MidiFile(
        0, 96, { TrackBuilder().Note(0, 0x90, 60, 100).Note(0, 0x90, 64, 100).End(10).Build() });
    const auto together = Convert(same);
    ASSERT_TRUE(together);
    EXPECT_EQ(
        Bytes(together->begin() + 3, together->begin() + 8), (Bytes { 0x90, 60, 100, 64, 100 }));
    // One tick apart they are in different groups, each with its status.
    const Bytes apart = MidiFile(
        0, 96, { TrackBuilder().Note(0, 0x90, 60, 100).Note(1, 0x90, 64, 100).End(10).Build() });
    const Bytes separate = *Convert(apart);
    const auto decoded = test::DecodeSequence(separate);
    ASSERT_EQ(decoded.messages.size(), 2u);
    EXPECT_EQ(Bytes(separate.begin() + 9, separate.begin() + 12), (Bytes { 0x90, 64, 100 }));
    EXPECT_EQ(decoded.messages[1].time - decoded.messages[0].time, 5u);
}

TEST_F(Sequence, SystemExclusivePacing)
{
    Bytes data(24);
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<std::uint8_t>(i + 1);
    data.back() = 0xF7; // 25 bytes with the F0
    const auto converted
        = Convert(MidiFile(0, 96, { TrackBuilder().SysEx(0, data).End(0).Build() }));
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
    Convert(MidiFile(0, 96, { TrackBuilder().SysEx(0, { 1, 2, 0xF7 }).End(0).Build() }));
    EXPECT_EQ(env.services.sysexPacing, 29u);
}

TEST_F(Sequence, GapsLongerThanTheLongestRecordTakeSeveralRecords)
{
    // 96 ppq at 120 bpm: 96 ticks are 499.99 ms; 20000 quarter notes are just under 10000 s.
    const Bytes file = MidiFile(0, 96,
        { TrackBuilder().Note(0, 0x90, 60, 1).Note(96 * 20000, 0x80, 60, 0).End(0).Build() });
    const auto converted = Convert(file);
    ASSERT_TRUE(converted);
    const auto decoded = test::DecodeSequence(*converted);
    EXPECT_TRUE(decoded.wellFormed);
    ASSERT_EQ(decoded.messages.size(), 2u);
    EXPECT_NEAR(
        static_cast<double>(decoded.messages[1].time - decoded.messages[0].time), 10000000.0, 2.0);
    int longest = 0;
    for (std::uint32_t record : decoded.records)
        longest += record == 65534 ? 1 : 0;
    EXPECT_EQ(longest, 152); // 9999999 ms = 152 x 65534 + 38831
}

TEST_F(Sequence, TheLastGroupKeepsItsDelayWhenTicksAreShorterThanAMillisecond)
{
    // 960 ppq at 120 bpm: a tick is 0.52 ms. The last note-off ends the track in a tick that
    // crosses no millisecond.
    const Bytes file = MidiFile(
        0, 960, { TrackBuilder().Note(0, 0x90, 60, 1).Note(960, 0x80, 60, 0).End(0).Build() });
    const auto converted = Convert(file);
    ASSERT_TRUE(converted);
    const auto decoded = test::DecodeSequence(*converted);
    EXPECT_TRUE(decoded.wellFormed);
    ASSERT_EQ(decoded.messages.size(), 2u);
    EXPECT_NEAR(
        static_cast<double>(decoded.messages[1].time - decoded.messages[0].time), 500.0, 1.0);
    EXPECT_EQ(decoded.records.back(), 1u);
}

TEST_F(Sequence, ATempoEventIsReadOverItsWholeLengthAndOnlyAWholeTempoCounts)
{
    // The same notes after a tempo event written several ways.
    const auto convert = [&](const Bytes& tempoEvent) {
        return Convert(MidiFile(0, 96,
            { TrackBuilder()
                    .Note(0, 0x90, 60, 1)
                    .Event(10, tempoEvent)
                    .Note(0, 0x90, 62, 1)
                    .Note(96, 0x80, 62, 0)
                    .End(0)
                    .Build() }));
    };
    const auto standard = convert({ 0xFF, 0x51, 3, 0x03, 0xD0, 0x90 }); // 250000 us
    const auto none = convert({ 0xFF, 0x01, 2, 'h', 'i' }); // text: the default tempo stays
    ASSERT_TRUE(standard && none);
    EXPECT_NE(*standard, *none);
    const auto decoded = test::DecodeSequence(*standard);
    ASSERT_EQ(decoded.messages.size(), 3u);
    EXPECT_NEAR(
        static_cast<double>(decoded.messages[2].time - decoded.messages[1].time), 250.0, 1.0);

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

TEST_F(Sequence, HeaderLimits)
{
    std::vector<Bytes> tracks(64, TrackBuilder().End(0).Build());
    EXPECT_TRUE(Open(MidiFile(1, 96, tracks)));
    tracks.push_back(TrackBuilder().End(0).Build());
    EXPECT_FALSE(Open(MidiFile(1, 96, tracks)));
    EXPECT_FALSE(Open(MidiFile(0, 1, { TrackBuilder().End(0).Build() })));
    EXPECT_TRUE(Open(MidiFile(0, 2, { TrackBuilder().End(0).Build() })));
    EXPECT_FALSE(Open(MidiFile(2, 96, { TrackBuilder().End(0).Build() })));
    EXPECT_FALSE(Open(MidiFile(0, 0xE728, { TrackBuilder().End(0).Build() }))); // SMPTE
    EXPECT_FALSE(Open(MidiFile(1, 96, { TrackBuilder().End(0).Build() }, 2))); // a track short
    EXPECT_FALSE(Open(Bytes { 'M', 'T', 'h', 'd', 0, 0, 0, 2, 0, 0 }));
    // A negative count loads no track.
    auto none = Open(MidiFile(1, 96, {}, 0xFFFF));
    ASSERT_TRUE(none);
    EXPECT_EQ(none->TrackCount(), 0);
}

TEST_F(Sequence, TheCommentIsTheFirstTrackNameEvenAfterOtherEvents)
{
    auto file = Open(MidiFile(0, 96, { TrackBuilder().Name(0, "Intro").End(0).Build() }));
    ASSERT_TRUE(file);
    EXPECT_EQ(file->GetComment(), "Intro");
    // A name of 128 bytes or more has a length of two bytes.
    const std::string longName(200, 'n');
    auto named = Open(MidiFile(0, 96,
        { TrackBuilder()
                .Event(0,
                    [&] {
                        Bytes event { 0xFF, 0x03, 0x81, 0x48 };
                        event.insert(event.end(), longName.begin(), longName.end());
                        return event;
                    }())
                .End(0)
                .Build() }));
    ASSERT_TRUE(named);
    EXPECT_EQ(named->GetComment(), longName);
    auto second = Open(MidiFile(1, 96,
        { TrackBuilder().Note(0, 0x90, 1, 1).Name(0, "Late").End(0).Build(),
            TrackBuilder().Name(0, "Track Two").End(0).Build() }));
    EXPECT_EQ(second->GetComment(), "Track Two");
}

TEST_F(Sequence, RunningStatusEndsAtAMetaEvent)
{
    // After the meta event a bare data byte has no status to run on: the track ends there.
    const Bytes file = MidiFile(0, 96,
        { TrackBuilder()
                .Note(0, 0x90, 60, 1)
                .Event(0, { 61, 1 })
                .Event(10, { 0xFF, 0x01, 1, 'x' })
                .Event(10, { 62, 1 })
                .Note(10, 0x90, 63, 1)
                .End(0)
                .Build() });
    const auto decoded = test::DecodeSequence(*Convert(file));
    ASSERT_EQ(decoded.messages.size(), 2u);
    EXPECT_EQ(decoded.messages[1].bytes, (Bytes { 0x90, 61, 1 }));
}

TEST_F(Sequence, DamagedTracksEndAtTheChunksEnd)
{
    // No end-of-track; a SysEx whose length points past the chunk; an odd track before another.
    const Bytes noEnd
        = MidiFile(0, 96, { TrackBuilder().Note(0, 0x90, 60, 1).Note(5, 0x80, 60, 0).Build() });
    auto decoded = test::DecodeSequence(*Convert(noEnd));
    EXPECT_TRUE(decoded.wellFormed);
    EXPECT_EQ(decoded.messages.size(), 2u);

    const Bytes pastChunk = MidiFile(
        0, 96, { TrackBuilder().Note(0, 0x90, 60, 1).Event(0, { 0xF0, 0x7F, 1, 2 }).Build() });
    decoded = test::DecodeSequence(*Convert(pastChunk));
    EXPECT_TRUE(decoded.wellFormed);
    EXPECT_EQ(decoded.messages.size(), 1u);

    // A message cut short, a tempo event longer than what is left.
    for (const Bytes& last : { Bytes { 0x90, 61 }, Bytes { 0xFF, 0x51, 4, 0x07, 0xA1, 0x20 } }) {
        const Bytes cut
            = MidiFile(0, 96, { TrackBuilder().Note(0, 0x90, 60, 1).Event(0, last).Build() });
        decoded = test::DecodeSequence(*Convert(cut));
        EXPECT_TRUE(decoded.wellFormed);
        EXPECT_EQ(decoded.messages.size(), 1u);
    }

    const Bytes oddTrack = TrackBuilder().Event(0, { 0xC0, 5 }).End(0).Build();
    ASSERT_EQ(oddTrack.size() % 2, 1u); // no pad byte may stand before the next chunk
    const Bytes odd
        = MidiFile(1, 96, { oddTrack, TrackBuilder().Note(3, 0x90, 70, 1).End(0).Build() });
    decoded = test::DecodeSequence(*Convert(odd));
    ASSERT_EQ(decoded.messages.size(), 2u);
    EXPECT_EQ(decoded.messages[1].bytes, (Bytes { 0x90, 70, 1 }));
}

TEST_F(Sequence, TracksThatAllEndAtTickZeroConvert)
{
    const auto converted = Convert(
        MidiFile(1, 96, { TrackBuilder().End(0).Build(), TrackBuilder().End(0).Build() }));
    ASSERT_TRUE(converted);
    EXPECT_TRUE(test::DecodeSequence(*converted).wellFormed);
    EXPECT_NE(env.progress.history.back().find(" %"), std::string::npos);
    EXPECT_TRUE(Convert(MidiFile(1, 96, {})));
}

TEST_F(Sequence, DuplicateCopiesTheConvertedData)
{
    auto sequence = Open(MidiFile(0, 96, { TrackBuilder().Note(0, 0x90, 60, 1).End(96).Build() }));
    ASSERT_EQ(test::LoadFully(*sequence), 1);
    sequence->SetOutPort(1);
    auto copy = sequence->Duplicate();
    auto* midi = dynamic_cast<MSeqFileMidi*>(copy.get());
    ASSERT_TRUE(midi);
    EXPECT_TRUE(std::equal(midi->ConvertedData().begin(), midi->ConvertedData().end(),
        sequence->ConvertedData().begin(), sequence->ConvertedData().end()));
    EXPECT_EQ(midi->GetOutPort(), 1);
}

/// Random small files, converted tick by tick (the reference) and with empty ticks skipped.
TEST_F(Sequence, SkippingEmptyTicksGivesTheSameBytesAsTheTickByTickWalk)
{
    std::mt19937 random(7);
    for (int round = 0; round < 200; ++round) {
        const std::uint16_t division = std::uniform_int_distribution<int>(2, 2000)(random);
        std::vector<Bytes> tracks;
        const int trackCount = std::uniform_int_distribution<int>(1, 3)(random);
        for (int t = 0; t < trackCount; ++t) {
            TrackBuilder track;
            const int events = std::uniform_int_distribution<int>(0, 12)(random);
            for (int e = 0; e < events; ++e) {
                const int kind = std::uniform_int_distribution<int>(0, 9)(random);
                const std::uint32_t delta = kind < 2
                    ? std::uniform_int_distribution<std::uint32_t>(0, 100000)(random)
                    : std::uniform_int_distribution<std::uint32_t>(0, 40)(random);
                if (kind == 3)
                    track.Tempo(
                        delta, std::uniform_int_distribution<std::uint32_t>(0, 16777215)(random));
                else if (kind == 4) {
                    Bytes data(
                        static_cast<std::size_t>(std::uniform_int_distribution<int>(1, 50)(random)),
                        0x11);
                    data.back() = 0xF7;
                    track.SysEx(delta, data);
                } else
                    track.Note(delta, static_cast<std::uint8_t>(0x90 | (e % 3)),
                        static_cast<std::uint8_t>(e), 64);
            }
            track.End(std::uniform_int_distribution<std::uint32_t>(0, 1000)(random));
            tracks.push_back(track.Build());
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

} // namespace
} // namespace cardmill
