#include "model/sound/MSoundFileAIFF.h"
#include "model/sound/MSoundFileSFIL.h"
#include "model/sound/MSoundFileWAV.h"
#include "support/SoundHelpers.h"

#include <gtest/gtest.h>

namespace cardmill {
namespace {

using test::AiffBuilder;
using test::AiffLoop;
using test::AiffMarker;
using test::Bytes;
using test::FormBuilder;
using test::SdBuilder;
using test::WavBuilder;

class Readers : public ::testing::Test {
protected:
    std::unique_ptr<MSoundFileWAV> Wav(const Bytes& bytes)
    {
        return test::OpenInMemory<MSoundFileWAV>(env, bytes, "/s/test.wav");
    }
    std::unique_ptr<MSoundFileAIFF> Aiff(const Bytes& bytes)
    {
        return test::OpenInMemory<MSoundFileAIFF>(env, bytes, "/s/test.aif");
    }
    std::unique_ptr<MSoundFileSFIL> Sd(const Bytes& bytes)
    {
        return test::OpenInMemory<MSoundFileSFIL>(env, bytes, "/s/test.sd");
    }
    static SoundLoop LoopOf(const MSoundFile& sound, int index)
    {
        SoundLoop loop;
        sound.GetLoop(loop, index);
        return loop;
    }

    test::TestEnv env;
};

TEST_F(Readers, WavSamplerChunkGivesEightLoopsNoneOverTheWholeFile)
{
    std::vector<test::WavLoop> loops { { 1, 1, 5 }, { 0, 0, 500 }, { 0, 0, 499 } };
    for (std::uint32_t i = 3; i < 12; ++i)
        loops.push_back({ 0, 10 * i + 1, 10 * i + 5 });
    auto sound = Wav(WavBuilder().Frames(500).Smpl(72, 2147483648u, loops).Build());
    ASSERT_TRUE(sound);
    EXPECT_EQ(sound->LoopCount(), 8);
    EXPECT_TRUE(LoopOf(*sound, 0).alternating);
    EXPECT_FALSE(LoopOf(*sound, 1).valid);
    EXPECT_TRUE(LoopOf(*sound, 2).valid);
    EXPECT_FALSE(LoopOf(*sound, 2).alternating);
    EXPECT_EQ(LoopOf(*sound, 7).start, 71u);
    ASSERT_EQ(sound->LoadStep(), 1);
    EXPECT_EQ(sound->GetRootKey(), 72);
    EXPECT_EQ(sound->Params().fineTune, 12800);
}

TEST_F(Readers, WavHeadersThatCannotBeUsedAreRefused)
{
    EXPECT_FALSE(Wav(WavBuilder().Format(3, 1, 44100, 32).Frames(10).Build())); // floating point
    EXPECT_FALSE(Wav(WavBuilder().Format(1, 0, 44100, 16).Data({ 1, 2 }).Build()));
    EXPECT_FALSE(Wav(WavBuilder().Format(1, 3, 44100, 16).Frames(10).Build()));
    EXPECT_FALSE(Wav(WavBuilder().Format(1, 1, 44100, 0).Data({ 1, 2 }).Build()));
    EXPECT_FALSE(Wav(WavBuilder().Format(1, 1, 0, 16).Frames(10).Build()));
    EXPECT_FALSE(Wav(WavBuilder().Format(1, 1, 44100, 40).Frames(10).Build()));
    EXPECT_FALSE(Wav(FormBuilder("RIFF", "WAVE", Endian::Little).Chunk("data", { 1, 2 }).Build()));
    // 32-bit PCM is taken from its top 16 bits.
    auto wide = Wav(WavBuilder().Format(1, 1, 44100, 32).Data({ 0x78, 0x56, 0x34, 0x12 }).Build());
    ASSERT_TRUE(wide);
    ASSERT_EQ(wide->LoadStep(), 1);
    EXPECT_EQ(test::CardWords(*wide)[0], 0x1234);
}

TEST_F(Readers, WavDataClaimingMoreThanTheFileHoldsGivesTheFramesThere)
{
    auto sound = Wav(WavBuilder().Frames(100).DataClaimsExtra(1000000).Build());
    ASSERT_TRUE(sound);
    EXPECT_EQ(sound->GetFrameCount(), 100u);
    ASSERT_EQ(sound->LoadStep(), 1);
    EXPECT_EQ(test::CardWords(*sound).size(), 100u + 1 + 8 + 8);
}

TEST_F(Readers, WavCommentFromTheFirstInfoList)
{
    Bytes info1
        = { 'I', 'N', 'F', 'O', 'I', 'C', 'M', 'T', 6, 0, 0, 0, 'f', 'i', 'r', 's', 't', 0 };
    Bytes info2 = { 'I', 'N', 'F', 'O', 'I', 'C', 'M', 'T', 4, 0, 0, 0, 'l', 'a', 't', 0 };
    const Bytes bytes
        = FormBuilder("RIFF", "WAVE", Endian::Little)
              .Chunk("fmt ", { 1, 0, 1, 0, 0x44, 0xAC, 0, 0, 0, 0, 0, 0, 2, 0, 16, 0 })
              .Chunk("LIST", { 'a', 'd', 't', 'l' })
              .Chunk("LIST", info1)
              .Chunk("LIST", info2)
              .Chunk("data", { 0, 0, 0, 0 })
              .Build();
    auto sound = Wav(bytes);
    ASSERT_TRUE(sound);
    EXPECT_EQ(sound->GetComment(), "first");
}

TEST_F(Readers, WavExtensiblePcmIsPlainPcm)
{
    ByteWriter fmt;
    fmt.U16(0xFFFE, Endian::Little).U16(1, Endian::Little).U32(8000, Endian::Little);
    fmt.U32(16000, Endian::Little).U16(2, Endian::Little).U16(16, Endian::Little);
    fmt.U16(22, Endian::Little)
        .U16(16, Endian::Little)
        .U32(4, Endian::Little)
        .U16(1, Endian::Little);
    fmt.Fill(14);
    auto sound = Wav(FormBuilder("RIFF", "WAVE", Endian::Little)
                         .Chunk("fmt ", fmt.Bytes())
                         .Chunk("data", { 1, 2 })
                         .Build());
    ASSERT_TRUE(sound);
    EXPECT_EQ(sound->GetFrameCount(), 1u);
}

TEST_F(Readers, AiffLoopsComeFromTheInstChunkAndAReleaseLoopAloneIsEntryZero)
{
    auto sound
        = Aiff(AiffBuilder()
                   .Frames(2000)
                   .Inst(64, -10, -6, AiffLoop { 0, 1, 2 }, AiffLoop { 1, 3, 4 })
                   .Markers({ { 1, 10, "a" }, { 2, 20, "b" }, { 3, 300, "c" }, { 4, 900, "d" } })
                   .Build());
    ASSERT_TRUE(sound);
    ASSERT_EQ(sound->LoopCount(), 1);
    EXPECT_EQ(LoopOf(*sound, 0).start, 300u);
    EXPECT_EQ(LoopOf(*sound, 0).end, 900u);
    EXPECT_TRUE(LoopOf(*sound, 0).valid);
    ASSERT_EQ(sound->LoadStep(), 1);
    EXPECT_EQ(sound->Params().loopStart, 300u);
    EXPECT_EQ(sound->Params().fineTune, -2560);
    EXPECT_EQ(sound->GetRootKey(), 64);
    EXPECT_FLOAT_EQ(sound->Params().volume, -6.0f);
    EXPECT_EQ(sound->MarkerCount(), 0); // loop markers are not plain markers

    // With both loops the sustain loop comes first; play mode 2 goes back and forth.
    auto both
        = Aiff(AiffBuilder()
                   .Frames(2000)
                   .Inst(60, 0, 0, AiffLoop { 2, 1, 2 }, AiffLoop { 1, 3, 4 })
                   .Markers({ { 1, 100, "" }, { 2, 200, "" }, { 3, 300, "" }, { 4, 400, "" } })
                   .Build());
    ASSERT_TRUE(both);
    ASSERT_EQ(both->LoopCount(), 2);
    EXPECT_TRUE(LoopOf(*both, 0).alternating);
    EXPECT_EQ(LoopOf(*both, 1).start, 300u);
}

TEST_F(Readers, AiffMarkerNames)
{
    std::vector<AiffMarker> markers { { 1, 10, "#12 Attack" }, { 2, 77, "start here" },
        { 3, 5, std::string("tail\0\0", 6) } };
    for (std::uint16_t i = 4; i <= 9; ++i)
        markers.push_back({ i, i, "m" + std::to_string(i) });
    auto sound = Aiff(AiffBuilder().Frames(100).Markers(markers).Build());
    ASSERT_TRUE(sound);
    ASSERT_EQ(sound->MarkerCount(), 8);
    EXPECT_FALSE(sound->Marker(0).named);
    EXPECT_EQ(sound->Marker(0).name, "Attack");
    EXPECT_EQ(sound->Marker(2).name, "tail");
    EXPECT_EQ(sound->Marker(7).name, "m8"); // the ninth is left out
    EXPECT_EQ(sound->GetStartFrame(), 77u);
    env.prefs.startMarker = "TAIL";
    auto other = Aiff(AiffBuilder().Frames(100).Markers(markers).Build());
    EXPECT_EQ(other->GetStartFrame(), 5u);
}

TEST_F(Readers, AiffCommentsAndSoundOffset)
{
    auto sound = Aiff(AiffBuilder()
                          .Frames(4)
                          .SoundOffset(6)
                          .Comment("from COMT")
                          .ApplicationText("from APPL")
                          .Build());
    ASSERT_TRUE(sound);
    EXPECT_EQ(sound->GetComment(), "from COMT");
    auto appl = Aiff(AiffBuilder().Frames(4).SoundOffset(6).ApplicationText("from APPL").Build());
    EXPECT_EQ(appl->GetComment(), "from APPL");
    ASSERT_EQ(appl->LoadStep(), 1);
    // The pattern bytes of the builder start right after the offset's filler.
    EXPECT_EQ(test::CardWords(*appl)[0], 0x030A);
}

TEST_F(Readers, AiffFramesAreLimitedToTheDataReallyThereAndRatesMustBeSome)
{
    auto sound = Aiff(AiffBuilder().Frames(100).ClaimFrames(4000000000u).Build());
    ASSERT_TRUE(sound);
    EXPECT_EQ(sound->GetFrameCount(), 100u);
    EXPECT_FALSE(Aiff(AiffBuilder().Format(0, 16, 44100).Frames(10).Build()));
    EXPECT_FALSE(Aiff(AiffBuilder().Format(1, 16, 0).Frames(10).Build()));
    EXPECT_EQ(MSoundFileAIFF::ExtendedRate(16398, 44100u * 65536u), 44100.0);
    EXPECT_FALSE(
        Aiff(FormBuilder("FORM", "AIFF", Endian::Big).Chunk("COMM", Bytes(18, 0)).Build()));
}

TEST_F(Readers, SoundDesignerFramesLoopsAndMarkers)
{
    auto sound = Sd(SdBuilder()
                        .Rate(22050)
                        .DataBytes(10001)
                        .Loop(0, 1000, 1000, 1)
                        .Loop(1, 200, 600, 2)
                        .Marker(3, 80, "start here")
                        .Marker(5, 90, "")
                        .Comment("designed")
                        .Build());
    ASSERT_TRUE(sound);
    EXPECT_EQ(sound->GetFrameCount(), 5000u);
    ASSERT_EQ(sound->LoopCount(), 1);
    EXPECT_EQ(LoopOf(*sound, 0).start, 100u);
    EXPECT_EQ(LoopOf(*sound, 0).end, 300u);
    EXPECT_TRUE(LoopOf(*sound, 0).alternating);
    ASSERT_EQ(sound->MarkerCount(), 2);
    EXPECT_EQ(sound->Marker(0).id, 4);
    EXPECT_EQ(sound->GetStartFrame(), 40u);
    EXPECT_FALSE(sound->Marker(1).named);
    EXPECT_EQ(sound->GetComment(), "designed");

    auto second = Sd(SdBuilder().DataBytes(4000).Loop(0, 100, 400, 0).Loop(1, 500, 900, 1).Build());
    ASSERT_TRUE(second);
    ASSERT_EQ(second->LoopCount(), 1); // the second loop alone is entry 0
    EXPECT_EQ(LoopOf(*second, 0).start, 250u);
    EXPECT_FALSE(LoopOf(*second, 0).alternating);
}

TEST_F(Readers, SoundDesignerRefusals)
{
    EXPECT_FALSE(Sd(Bytes(1000, 0)));
    EXPECT_FALSE(Sd(SdBuilder().Rate(0).DataBytes(10).Build()));
    Bytes wrongSize = SdBuilder().DataBytes(10).Build();
    wrongSize[1] = 0x37;
    EXPECT_FALSE(Sd(wrongSize));
}

} // namespace
} // namespace cardmill
