#include "model/MReadableFileDispatcher.h"
#include "model/sound/MSoundFile.h"
#include "support/Builders.h"
#include "support/TestEnv.h"

#include <gtest/gtest.h>

namespace cardmill {
namespace {

using test::Bytes;

/// The creator with every dispatcher, as the controller builds it.
struct Recognition {
    explicit Recognition(Services& services)
        : sound(services)
        , instrument(services)
        , sequence(services)
        , bank(services)
        , project(services)
        , creator(services, { &sound, &instrument, &sequence, &bank, &project })
    {
    }
    MSoundFileDispatcher sound;
    MInstFileDispatcher instrument;
    MSeqFileDispatcher sequence;
    MParamFileDispatcher bank;
    MProjectFileDispatcher project;
    MReadableFileCreator creator;
};

class Recognise : public ::testing::Test {
protected:
    std::unique_ptr<MReadableFile> Create(const std::string& name, const Bytes& bytes)
    {
        return recognition.creator.Create(dir.Write(name, bytes));
    }

    test::TempDir dir;
    test::TestEnv env;
    Recognition recognition { env.services };
    const Bytes wav = test::WavBuilder().Format(1, 1, 44100, 16).Frames(10).Build();
    const Bytes aiff = test::AiffBuilder().Format(1, 16, 44100).Frames(10).Build();
};

TEST_F(Recognise, ByNameWithoutRegardToCase)
{
    auto file = Create("x.WAV", wav);
    ASSERT_TRUE(file);
    EXPECT_EQ(file->GetFormatName(), "Windows *.wav");
    EXPECT_TRUE(recognition.sound.Recognises(dir.File("y.wav"))); // by name alone: need not exist
}

TEST_F(Recognise, AFileNamedOnlyTheExtensionFallsToTheContentTest)
{
    dir.Write("sub/.wav", Bytes(40, 0));
    EXPECT_FALSE(recognition.sound.Recognises(dir.File("sub/.wav")));
    EXPECT_TRUE(Create("other/.wav", wav));
}

TEST_F(Recognise, AiffContentWinsOverAWavName)
{
    auto file = Create("x.wav", aiff);
    ASSERT_TRUE(file);
    EXPECT_EQ(file->GetFormatName(), "Audio IFF (AIFF)");
}

TEST_F(Recognise, SoundDesignerHeaderIsTriedFirst)
{
    auto file = Create("noname.bin", test::SdBuilder().DataBytes(20).Build());
    ASSERT_TRUE(file);
    EXPECT_EQ(file->GetFormatName(), "Sound Designer (TM)");
}

TEST_F(Recognise, RiffOfAnotherFormTypeIsNoSoundFile)
{
    const Bytes avi
        = test::FormBuilder("RIFF", "AVI ", Endian::Little).Chunk("hdrl", { 1, 2 }).Build();
    EXPECT_FALSE(Create("movie.avi", avi));
    EXPECT_EQ(env.prompter.LastText(),
        "Sorry, but Cardmill can't understand the file '" + dir.File("movie.avi") + "'");
    EXPECT_EQ(env.prompter.shown.back().icon, Icon::Error);
    EXPECT_EQ(env.prompter.beeps, 1);
}

TEST_F(Recognise, ADamagedFileIsReportedWithTheKindThatRecognisedIt)
{
    EXPECT_FALSE(Create("broken.wav", Bytes { 'R', 'I', 'F', 'F', 1, 2 }));
    EXPECT_EQ(env.prompter.LastText(),
        "Sorry, but Cardmill can't understand the sound file '" + dir.File("broken.wav") + "'");
    std::string failure;
    EXPECT_FALSE(recognition.creator.Create(dir.File("missing.wav"), failure));
    EXPECT_EQ(failure,
        "Sorry, but Cardmill can't understand the sound file '" + dir.File("missing.wav") + "'");
}

TEST_F(Recognise, RawFallbackTakesAnyFileAs16BitMonoAt48k)
{
    const std::string path = dir.Write("noise.bin", Bytes(1001, 0x11));
    auto raw = recognition.sound.CreateRaw(path);
    ASSERT_TRUE(raw);
    auto* sound = dynamic_cast<MSoundFile*>(raw.get());
    ASSERT_TRUE(sound);
    EXPECT_EQ(sound->GetFrameCount(), 500u);
    EXPECT_EQ(sound->GetFormatName(), "unknown format");
    EXPECT_EQ(sound->GetInfoLine3(), "48000 Hz");
    EXPECT_FALSE(recognition.sound.CreateRaw(dir.File("absent.bin")));
}

} // namespace
} // namespace cardmill
