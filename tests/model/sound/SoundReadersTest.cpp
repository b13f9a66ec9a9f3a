#include "model/sound/MSoundFileAIFF.h"
#include "model/sound/MSoundFileSFIL.h"
#include "model/sound/MSoundFileWAV.h"
#include "support/SoundHelpers.h"

#include <cstdio>
#include <tuple>

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
    /// Start, end, whether valid and whether alternating.
    static auto LoopOf(const MSoundFile& sound, int index)
    {
        SoundLoop loop;
        sound.GetLoop(loop, index);
        return std::tuple(loop.start, loop.end, loop.valid, loop.alternating);
    }
    using Loop = std::tuple<std::uint32_t, std::uint32_t, bool, bool>;

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
    EXPECT_EQ(LoopOf(*sound, 0), Loop(1, 5, true, true));
    EXPECT_EQ(LoopOf(*sound, 1), Loop(0, 500, false, false));
    EXPECT_EQ(LoopOf(*sound, 2), Loop(0, 499, true, false));
    EXPECT_EQ(LoopOf(*sound, 7), Loop(71, 75, true, false));
    ASSERT_EQ(sound->LoadStep(), 1);
    EXPECT_EQ(std::tuple(sound->GetRootKey(), sound->Params().fineTune), std::tuple(72, 12800));
}

TEST_F(Readers, WavHeadersThatCannotBeUsedAreRefusedAndDataClaimingMoreGivesTheFramesThere)
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

    auto sound = Wav(WavBuilder().Frames(100).DataClaimsExtra(1000000).Build());
    ASSERT_TRUE(sound);
    EXPECT_EQ(sound->GetFrameCount(), 100u);
    ASSERT_EQ(sound->LoadStep(), 1);
    EXPECT_EQ(test::CardWords(*sound).size(), 100u + 1 + 8 + 8);
}

TEST_F(Readers, WavCommentFromTheFirstInfoListAndExtensiblePcmAsPlainPcm)
{
    const Bytes first
        = { 'I', 'N', 'F', 'O', 'I', 'C', 'M', 'T', 6, 0, 0, 0, 'f', 'i', 'r', 's', 't', 0 };
    const Bytes later = { 'I', 'N', 'F', 'O', 'I', 'C', 'M', 'T', 4, 0, 0, 0, 'l', 'a', 't', 0 };
    FormBuilder form("RIFF", "WAVE", Endian::Little);
    form.Chunk("fmt ", { 1, 0, 1, 0, 0x44, 0xAC, 0, 0, 0, 0, 0, 0, 2, 0, 16, 0 })
        .Chunk("LIST", { 'a', 'd', 't', 'l' });
    form.Chunk("LIST", first).Chunk("LIST", later).Chunk("data", { 0, 0, 0, 0 });
    auto sound = Wav(form.Build());
    ASSERT_TRUE(sound);
    EXPECT_EQ(sound->GetComment(), "first");

    ByteWriter fmt;
    fmt.U16(0xFFFE, Endian::Little).U16(1, Endian::Little).U32(8000, Endian::Little);
    fmt.U32(16000, Endian::Little).U16(2, Endian::Little).U16(16, Endian::Little);
    // The extension: its size, valid bits, channel mask and the PCM format's GUID.
    fmt.U16(22, Endian::Little).U16(16, Endian::Little).U32(4, Endian::Little);
    fmt.U16(1, Endian::Little).Fill(14);
    FormBuilder extensible("RIFF", "WAVE", Endian::Little);
    auto plain = Wav(extensible.Chunk("fmt ", fmt.Bytes()).Chunk("data", { 1, 2 }).Build());
    ASSERT_TRUE(plain);
    EXPECT_EQ(plain->GetFrameCount(), 1u);
}

TEST_F(Readers, AiffLoopsComeFromTheInstChunkAndAReleaseLoopAloneIsEntryZero)
{
    AiffBuilder release;
    release.Frames(2000).Inst(64, -10, -6, AiffLoop { 0, 1, 2 }, AiffLoop { 1, 3, 4 });
    release.Markers({ { 1, 10, "a" }, { 2, 20, "b" }, { 3, 300, "c" }, { 4, 900, "d" } });
    auto sound = Aiff(release.Build());
    ASSERT_TRUE(sound);
    ASSERT_EQ(sound->LoopCount(), 1);
    EXPECT_EQ(LoopOf(*sound, 0), Loop(300, 900, true, false));
    ASSERT_EQ(sound->LoadStep(), 1);
    // Loop markers are not plain markers.
    const SampleParams& p = sound->Params();
    EXPECT_EQ(std::tuple(p.loopStart, p.fineTune, p.rootKey, p.volume, sound->MarkerCount()),
        std::tuple(300u, -2560, 64, -6.0f, 0));

    // With both loops the sustain loop comes first; play mode 2 goes back and forth.
    AiffBuilder builder;
    builder.Frames(2000).Inst(60, 0, 0, AiffLoop { 2, 1, 2 }, AiffLoop { 1, 3, 4 });
    builder.Markers({ { 1, 100, "" }, { 2, 200, "" }, { 3, 300, "" }, { 4, 400, "" } });
    auto both = Aiff(builder.Build());
    ASSERT_TRUE(both);
    ASSERT_EQ(both->LoopCount(), 2);
    EXPECT_EQ(LoopOf(*both, 0), Loop(100, 200, true, true));
    EXPECT_EQ(LoopOf(*both, 1), Loop(300, 400, true, false));
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
    // "#12 Attack" is a number's name; the ninth marker is left out.
    EXPECT_EQ(std::tuple(sound->Marker(0).named, sound->Marker(0).name, sound->Marker(2).name,
                  sound->Marker(7).name, sound->GetStartFrame()),
        std::tuple(false, "Attack", "tail", "m8", 77u));
    env.prefs.startMarker = "TAIL";
    auto other = Aiff(AiffBuilder().Frames(100).Markers(markers).Build());
    EXPECT_EQ(other->GetStartFrame(), 5u);
}

TEST_F(Readers, AiffCommentsSoundOffsetFramesReallyThereAndRates)
{
    AiffBuilder builder;
    builder.Frames(4).SoundOffset(6).ApplicationText("from APPL");
    auto appl = Aiff(builder.Build());
    EXPECT_EQ(Aiff(builder.Comment("from COMT").Build())->GetComment(), "from COMT");
    EXPECT_EQ(appl->GetComment(), "from APPL");
    ASSERT_EQ(appl->LoadStep(), 1);
    // The pattern bytes of the builder start right after the offset's filler.
    EXPECT_EQ(test::CardWords(*appl)[0], 0x030A);

    EXPECT_EQ(
        Aiff(AiffBuilder().Frames(100).ClaimFrames(4000000000u).Build())->GetFrameCount(), 100u);
    EXPECT_FALSE(Aiff(AiffBuilder().Format(0, 16, 44100).Frames(10).Build()));
    EXPECT_FALSE(Aiff(AiffBuilder().Format(1, 16, 0).Frames(10).Build()));
    EXPECT_EQ(MSoundFileAIFF::ExtendedRate(16398, 44100u * 65536u), 44100.0);
    EXPECT_FALSE(
        Aiff(FormBuilder("FORM", "AIFF", Endian::Big).Chunk("COMM", Bytes(18, 0)).Build()));
}

TEST_F(Readers, SoundDesignerFramesLoopsMarkersAndRefusals)
{
    SdBuilder sd;
    sd.Rate(22050).DataBytes(10001).Loop(0, 1000, 1000, 1).Loop(1, 200, 600, 2);
    auto sound = Sd(sd.Marker(3, 80, "start here").Marker(5, 90, "").Comment("designed").Build());
    ASSERT_TRUE(sound);
    ASSERT_EQ(std::tuple(sound->LoopCount(), sound->MarkerCount()), std::tuple(1, 2));
    // The first loop is empty: the second is entry 0.
    EXPECT_EQ(LoopOf(*sound, 0), Loop(100, 300, true, true));
    EXPECT_EQ(std::tuple(sound->GetFrameCount(), sound->Marker(0).id, sound->GetStartFrame(),
                  sound->Marker(1).named, sound->GetComment()),
        std::tuple(5000u, 4, 40u, false, "designed"));

    auto second = Sd(SdBuilder().DataBytes(4000).Loop(0, 100, 400, 0).Loop(1, 500, 900, 1).Build());
    ASSERT_TRUE(second);
    ASSERT_EQ(second->LoopCount(), 1); // the second loop alone is entry 0
    EXPECT_EQ(LoopOf(*second, 0), Loop(250, 450, true, false));

    EXPECT_FALSE(Sd(Bytes(1000, 0)));
    EXPECT_FALSE(Sd(SdBuilder().Rate(0).DataBytes(10).Build()));
    Bytes wrongSize = SdBuilder().DataBytes(10).Build();
    wrongSize[1] = 0x37;
    EXPECT_FALSE(Sd(wrongSize));
}

// Sound files written by independent tools (sox, libsndfile) read back with the frames, rate,
// loops, markers and sample words that the tools say they wrote.

std::string Shell(const std::string& command)
{
    std::string output;
    if (std::FILE* pipe = ::popen((command + " 2>/dev/null").c_str(), "r")) {
        char buffer[256];
        while (std::fgets(buffer, sizeof buffer, pipe))
            output += buffer;
        if (::pclose(pipe) != 0)
            ADD_FAILURE() << "failed: " << command;
    }
    while (!output.empty() && output.back() == '\n')
        output.pop_back();
    return output;
}

std::string Quoted(const std::string& path)
{
    return "'" + path + "'";
}

class ToolWritten : public Readers {
protected:
    template <typename T> std::unique_ptr<T> Open(const std::string& path)
    {
        auto sound = std::make_unique<T>(env.services);
        if (!sound->OpenSound(path) || sound->LoadStep() != 1)
            return nullptr;
        return sound;
    }

    /// What soxi says of a file: frames, rate, channels, bits.
    static void ExpectSoxAgrees(const MSoundFile& sound, const std::string& path)
    {
        const auto soxi = [&](const char* what) {
            return std::stod(Shell("soxi " + std::string(what) + " " + Quoted(path)));
        };
        EXPECT_EQ(std::tuple(soxi("-s"), soxi("-r"), soxi("-c"), soxi("-b")),
            std::tuple(sound.GetFrameCount(), sound.SampleRate(), sound.ChannelCount(),
                8 * sound.BytesPerSample()));
    }

    test::TempDir dir;
};

struct SoxCase {
    const char* name;
    const char* file;
    int bits;
    int channels;
    std::uint16_t channel; // the card channel choice for a stereo file
};
class SoxWritten : public ToolWritten, public ::testing::WithParamInterface<SoxCase> { };

TEST_P(SoxWritten, FramesRateAndWordsAreWhatSoxWrote)
{
    const SoxCase& c = GetParam();
    const std::uint8_t bytes = static_cast<std::uint8_t>(c.bits / 8);
    const std::uint32_t frames = 3000;
    // Raw signed little-endian input at the target size: sox writes these values unchanged.
    test::Bytes raw(std::size_t { frames } * c.channels * bytes);
    for (std::size_t i = 0; i < raw.size(); ++i)
        raw[i] = static_cast<std::uint8_t>((i * 2654435761u) >> 24);
    const std::string in = dir.Write("in.raw", raw);
    const std::string out = dir.File(c.file);
    Shell("sox -t raw -r 32000 -e signed -b " + std::to_string(c.bits) + " -c "
        + std::to_string(c.channels) + " -L " + Quoted(in) + " " + Quoted(out));

    std::unique_ptr<MSoundFile> sound;
    if (std::string(c.file).find(".aif") != std::string::npos)
        sound = Open<MSoundFileAIFF>(out);
    else
        sound = Open<MSoundFileWAV>(out);
    ASSERT_TRUE(sound);
    ExpectSoxAgrees(*sound, out);
    sound->SetChannel(c.channel);

    const auto words = test::CardWords(*sound);
    ASSERT_EQ(words.size(), frames + 1 + 8 + 8);
    // What the plain converter, pinned in ConvertersTest, makes of the raw input.
    std::vector<std::uint8_t> expected(2 * frames);
    const SampleFormat format { bytes, static_cast<std::uint8_t>(c.channels), true, false,
        c.channel };
    ChooseConverter(format, VectorUnits::kNone)(raw.data(), expected.data(), frames);
    for (std::size_t i = 0; i < frames; ++i)
        ASSERT_EQ(words[i], (expected[2 * i] << 8) | expected[2 * i + 1]) << "frame " << i;
}

INSTANTIATE_TEST_SUITE_P(Sox, SoxWritten,
    ::testing::Values(SoxCase { "Wav8Mono", "a.wav", 8, 1, 0 },
        SoxCase { "Wav16Mono", "b.wav", 16, 1, 0 }, SoxCase { "Wav24Mono", "c.wav", 24, 1, 0 },
        SoxCase { "Wav8StereoMix", "d.wav", 8, 2, 0 },
        SoxCase { "Wav16StereoRight", "e.wav", 16, 2, 2 },
        SoxCase { "Wav24StereoMix", "f.wav", 24, 2, 0 }, SoxCase { "Aiff8Mono", "g.aif", 8, 1, 0 },
        SoxCase { "Aiff16StereoLeft", "h.aiff", 16, 2, 1 },
        SoxCase { "Aiff24Mono", "i.aif", 24, 1, 0 },
        SoxCase { "Aiff24StereoMix", "j.aif", 24, 2, 0 }),
    [](const auto& tested) { return std::string(tested.param.name); });

/// The samples libsndfile was given for `count` frames from `first` of a channel
/// (sndfile_writer's pattern).
std::vector<std::uint16_t> Pattern(int first, int count, int channel)
{
    std::vector<std::uint16_t> words;
    for (int i = first; i < first + count; ++i)
        words.push_back(static_cast<std::uint16_t>((i * 263 + channel * 101) & 0xFFFF));
    return words;
}

TEST_F(ToolWritten, LibsndfileWavLoopsEndOneBeforeTheApiEnd)
{
    const std::string path = dir.File("looped.wav");
    Shell(std::string(SNDFILE_WRITER) + " " + Quoted(path)
        + " 5000 44100 1 16 root 62 loop 1000 4000 loop 200 300");
    auto sound = Open<MSoundFileWAV>(path);
    ASSERT_TRUE(sound);
    ExpectSoxAgrees(*sound, path);
    ASSERT_EQ(sound->LoopCount(), 2);
    EXPECT_EQ(LoopOf(*sound, 0), Loop(1000, 3999, true, false));
    // Entry 1 is never a default candidate: the default loop is entry 0.
    const SampleParams& p = sound->Params();
    EXPECT_EQ(std::tuple(p.rootKey, p.looping, p.loopStart), std::tuple(62, 1, 1000u));
    EXPECT_EQ(test::CardWords(*sound), Pattern(0, 3999 + 8, 0));
}

TEST_F(ToolWritten, LibsndfileAiffMarkersGiveTheStartFrameAndWithAnInstChunkTheSustainLoop)
{
    const std::string path = dir.File("marked.aiff");
    Shell(std::string(SNDFILE_WRITER) + " " + Quoted(path)
        + " 3000 22050 2 24 marker 400 'loop start' marker 1600 'loop end' marker 120 'start here'"
          " marker 2500 'Release Point'");
    // libsndfile writes no INST chunk into AIFF: add one whose forward sustain loop runs between
    // markers 1 and 2, with a base note, a detune and a gain (AIFF 1.3, INST).
    test::Bytes bytes = test::ReadFile(path);
    ASSERT_GT(bytes.size(), 12u);
    ByteWriter inst;
    inst.Append("INST").U32(20, Endian::Big).U8(48).U8(0xFB).U8(0).U8(127).U8(1).U8(127);
    inst.U16(static_cast<std::uint16_t>(-3), Endian::Big); // gain in dB
    inst.U16(1, Endian::Big).U16(1, Endian::Big).U16(2, Endian::Big).Fill(6);
    bytes.insert(bytes.end(), inst.Bytes().begin(), inst.Bytes().end());
    const auto formSize = static_cast<std::uint32_t>(bytes.size() - 8);
    for (std::size_t i = 0; i < 4; ++i)
        bytes[4 + i] = static_cast<std::uint8_t>(formSize >> (24 - 8 * i));
    dir.Write("marked.aiff", bytes);

    auto sound = Open<MSoundFileAIFF>(path);
    ASSERT_TRUE(sound);
    ExpectSoxAgrees(*sound, path);
    ASSERT_EQ(sound->MarkerCount(), 2); // the loop's markers are no plain markers
    const SoundMarker &start = sound->Marker(0), &release = sound->Marker(1);
    EXPECT_EQ(
        std::tuple(start.name, start.named, release.name, release.frame, sound->GetStartFrame()),
        std::tuple("start here", true, "Release Point", 2500u, 120u));
    ASSERT_EQ(sound->LoopCount(), 1);
    EXPECT_EQ(LoopOf(*sound, 0), Loop(400, 1600, true, false));
    const SampleParams& p = sound->Params();
    EXPECT_EQ(std::tuple(p.rootKey, p.fineTune, p.volume), std::tuple(48, -5 * 256, -3.0f));
    sound->SetChannel(2);
    EXPECT_EQ(test::CardWords(*sound), Pattern(120, 1600 - 120 + 8, 1));
}

} // namespace
} // namespace cardmill
