#include "model/MReadableFileDispatcher.h"
#include "model/sound/MSoundFileSndfile.h"
#include "model/sound/MSoundFileWAV.h"
#include "support/SoundHelpers.h"

#include <sndfile.h>
#include <tuple>

#include <gtest/gtest.h>

namespace cardmill {
namespace {

/// A file written by libsndfile itself from frames left-justified in 32 bits; its bytes.
test::Bytes Written(const std::string& path, int format, int channels,
    const std::vector<int>& frames, const SF_INSTRUMENT* instrument = nullptr)
{
    SF_INFO info {};
    info.samplerate = 44100;
    info.channels = channels;
    info.format = format;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    EXPECT_TRUE(file) << sf_strerror(nullptr);
    if (instrument)
        sf_command(
            file, SFC_SET_INSTRUMENT, const_cast<SF_INSTRUMENT*>(instrument), sizeof *instrument);
    sf_writef_int(file, frames.data(), static_cast<sf_count_t>(frames.size()) / channels);
    sf_close(file);
    return test::ReadFile(path);
}

std::vector<int> Frames(int count, int channels, int bits)
{
    std::vector<int> frames;
    for (int i = 0; i < count; ++i)
        for (int c = 0; c < channels; ++c)
            frames.push_back(
                static_cast<int>(static_cast<std::uint32_t>(i * 2630 + c * 1010) << (32 - bits)));
    return frames;
}

TEST(Sndfile, AFlacGivesTheCardWordsOfTheWavOfTheSameFrames)
{
    test::TempDir dir;
    for (const int bits : { 16, 24 })
        for (const int channels : { 1, 2 }) {
            SCOPED_TRACE(testing::Message() << bits << "-bit, " << channels << " channels");
            const int depth = bits == 16 ? SF_FORMAT_PCM_16 : SF_FORMAT_PCM_24;
            const auto frames = Frames(3000, channels, bits);
            test::TestEnv env;
            auto wav = test::Load<MSoundFileWAV>(env,
                Written(dir.File("s.wav"), SF_FORMAT_WAV | depth, channels, frames), "/a/s.wav");
            auto flac = test::Load<MSoundFileSndfile>(env,
                Written(dir.File("s.flac"), SF_FORMAT_FLAC | depth, channels, frames), "/b/s.flac");
            ASSERT_TRUE(wav && flac);
            EXPECT_EQ(test::CardWords(*flac), test::CardWords(*wav));
            EXPECT_EQ(std::tuple(flac->GetFrameCount(), flac->ChannelCount(), flac->SampleRate()),
                std::tuple(3000u, std::uint8_t(channels), 44100.0f));
            EXPECT_TRUE(flac->GetFormatName().starts_with("FLAC")) << flac->GetFormatName();
        }
}

TEST(Sndfile, OtherFormatsLoadAndDamagedOnesAreRefusedWithTheReason)
{
    test::TempDir dir;
    test::TestEnv env;
    const auto frames = Frames(1000, 1, 16);
    for (const auto& [name, format] : { std::pair { "s.ogg", SF_FORMAT_OGG | SF_FORMAT_VORBIS },
             std::pair { "s.w64", SF_FORMAT_W64 | SF_FORMAT_PCM_16 },
             std::pair { "s.caf", SF_FORMAT_CAF | SF_FORMAT_PCM_16 } }) {
        SCOPED_TRACE(name);
        auto sound = test::Load<MSoundFileSndfile>(
            env, Written(dir.File(name), format, 1, frames), std::string("/s/") + name);
        ASSERT_TRUE(sound);
        EXPECT_NEAR(sound->GetFrameCount(), 1000, 64); // Vorbis may pad its last block
    }
    // A WAV of floating-point samples, as audio programs export them, is read as 24-bit.
    auto floats = MSoundFileDispatcher(env.services)
                      .Create(dir.Write("float.wav",
                          Written(dir.File("f.wav"), SF_FORMAT_WAV | SF_FORMAT_FLOAT, 2, frames)));
    ASSERT_TRUE(dynamic_cast<MSoundFileSndfile*>(floats.get()));
    const auto* floatSound = dynamic_cast<MSoundFileSndfile*>(floats.get());
    EXPECT_EQ(std::tuple(floatSound->GetFrameCount(), floatSound->BytesPerSample()),
        std::tuple(500u, std::uint8_t(3)));

    // AIFF-C, which the AIFF reader refuses, is libsndfile's, with its instrument's root and loop.
    test::Bytes aifc = test::AiffBuilder()
                           .Frames(1000)
                           .Inst(67, 0, 0, { 1, 1, 2 }, {})
                           .Markers({ { 1, 100, "" }, { 2, 900, "" } })
                           .Build();
    std::copy_n("AIFC", 4, aifc.begin() + 8);
    auto file = MSoundFileDispatcher(env.services).Create(dir.Write("packed.aif", aifc));
    auto* packed = dynamic_cast<MSoundFileSndfile*>(file.get());
    ASSERT_TRUE(packed);
    ASSERT_EQ(packed->LoadStep(), 1);
    const SampleParams& p = packed->Params();
    EXPECT_EQ(
        std::tuple(p.looping, p.rootKey, p.loopStart, p.loopEnd), std::tuple(1, 67, 100u, 900u));

    auto flac = Written(dir.File("cut.flac"), SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 1, frames);
    flac.resize(60);
    MSoundFileSndfile cut(env.services);
    cut.AttachMemory(flac);
    EXPECT_FALSE(cut.OpenSound("/t/cut.flac"));
    EXPECT_FALSE(env.services.whyNotUnderstood.empty());
}

} // namespace
} // namespace cardmill
