// Sound files written by independent tools (sox, libsndfile) read back with the frames, rate,
// loops, markers and sample words that the tools say they wrote.

#include "model/sound/MSoundFileAIFF.h"
#include "model/sound/MSoundFileWAV.h"
#include "support/SoundHelpers.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>

#include <gtest/gtest.h>

namespace cardmill {
namespace {

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

class ToolWritten : public ::testing::Test {
protected:
    template <typename T> std::unique_ptr<T> Open(const std::string& path)
    {
        auto sound = std::make_unique<T>(env.services);
        if (!sound->OpenSound(path) || sound->LoadStep() != 1)
            return nullptr;
        return sound;
    }

    /// What soxi says of a file: frames, rate, channels, bits.
    void ExpectSoxAgrees(const MSoundFile& sound, const std::string& path)
    {
        EXPECT_EQ(std::stoul(Shell("soxi -s " + Quoted(path))), sound.GetFrameCount());
        EXPECT_EQ(std::stod(Shell("soxi -r " + Quoted(path))), sound.SampleRate());
        EXPECT_EQ(std::stoi(Shell("soxi -c " + Quoted(path))), sound.ChannelCount());
        EXPECT_EQ(std::stoi(Shell("soxi -b " + Quoted(path))), 8 * sound.BytesPerSample());
    }

    test::TempDir dir;
    test::TestEnv env;
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

/// The sample libsndfile was given for frame i, channel c (sndfile_writer's pattern).
std::uint16_t Pattern(int i, int c)
{
    return static_cast<std::uint16_t>((i * 263 + c * 101) & 0xFFFF);
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
    SoundLoop loop;
    sound->GetLoop(loop, 0);
    EXPECT_EQ(loop.start, 1000u);
    EXPECT_EQ(loop.end, 3999u);
    EXPECT_EQ(sound->GetRootKey(), 62);
    // Entry 1 is never a default candidate: the default loop is entry 0.
    EXPECT_EQ(sound->Params().looping, 1);
    EXPECT_EQ(sound->Params().loopStart, 1000u);
    const auto words = test::CardWords(*sound);
    ASSERT_EQ(words.size(), 3999u + 8);
    for (int i = 0; i < 3999 + 8; ++i)
        ASSERT_EQ(words[static_cast<std::size_t>(i)], Pattern(i, 0)) << i;
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
    EXPECT_EQ(sound->Marker(0).name, "start here");
    EXPECT_TRUE(sound->Marker(0).named);
    EXPECT_EQ(sound->Marker(1).name, "Release Point");
    EXPECT_EQ(sound->Marker(1).frame, 2500u);
    EXPECT_EQ(sound->GetStartFrame(), 120u);
    ASSERT_EQ(sound->LoopCount(), 1);
    SoundLoop loop;
    sound->GetLoop(loop, 0);
    EXPECT_EQ(loop.start, 400u);
    EXPECT_EQ(loop.end, 1600u);
    EXPECT_TRUE(loop.valid);
    EXPECT_EQ(sound->GetRootKey(), 48);
    EXPECT_EQ(sound->Params().fineTune, -5 * 256);
    EXPECT_FLOAT_EQ(sound->Params().volume, -3.0f);
    sound->SetChannel(2);
    const auto words = test::CardWords(*sound);
    ASSERT_EQ(words.size(), 1600u - 120 + 8);
    for (int i = 0; i < 1600 - 120 + 8; ++i)
        ASSERT_EQ(words[static_cast<std::size_t>(i)], Pattern(i + 120, 1)) << i;
}

} // namespace
} // namespace cardmill
