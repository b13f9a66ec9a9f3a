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
    std::string FormatOf(const std::string& name, const Bytes& bytes)
    {
        const auto file = Create(name, bytes);
        return file ? file->GetFormatName() : "(not created)";
    }

    test::TempDir dir;
    test::TestEnv env;
    Recognition recognition { env.services };
    const Bytes wav = test::WavBuilder().Frames(10).Build();
    const Bytes aiff = test::AiffBuilder().Format(1, 16, 44100).Frames(10).Build();
};

TEST_F(Recognise, ByContentBeforeNameAndByNameWithoutRegardToCase)
{
    EXPECT_EQ(FormatOf("x.WAV", wav), "Windows *.wav");
    EXPECT_EQ(FormatOf("x.wav", aiff), "Audio IFF (AIFF)");
    EXPECT_EQ(
        FormatOf("noname.bin", test::SdBuilder().DataBytes(20).Build()), "Sound Designer (TM)");
    EXPECT_TRUE(recognition.sound.Recognises(dir.File("y.wav"))); // by name alone: need not exist
    // A file named only the extension falls to the content test.
    dir.Write("sub/.wav", Bytes(40, 0));
    EXPECT_FALSE(recognition.sound.Recognises(dir.File("sub/.wav")));
    EXPECT_TRUE(Create("other/.wav", wav));
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

TEST_F(Recognise, ADamagedFileIsReportedWithTheKindThatRecognisedItAndWhy)
{
    EXPECT_FALSE(Create("broken.wav", Bytes { 'R', 'I', 'F', 'F', 1, 2 }));
    EXPECT_EQ(env.prompter.LastText(),
        "Sorry, but Cardmill can't understand the sound file '" + dir.File("broken.wav")
            + "'\nIt is not a RIFF WAVE file.");
    std::string failure;
    EXPECT_FALSE(recognition.creator.Create(dir.File("missing.wav"), failure));
    EXPECT_EQ(failure, "Sorry, but the file '" + dir.File("missing.wav") + "' doesn't exist.");
}

struct WhyCase {
    const char* name;
    Bytes file;
    const char* why;
};
class NotUnderstood : public ::testing::TestWithParam<WhyCase> { };

TEST_P(NotUnderstood, TheMessageSaysWhy)
{
    test::TempDir dir;
    test::TestEnv env;
    Recognition recognition(env.services);
    const WhyCase& c = GetParam();
    std::string failure;
    EXPECT_FALSE(recognition.creator.Create(dir.Write(c.name, c.file), failure));
    EXPECT_EQ(failure.substr(failure.find('\n') + 1), c.why);
}

INSTANTIATE_TEST_SUITE_P(Readers, NotUnderstood,
    ::testing::Values(
        WhyCase { "float.wav", test::WavBuilder().Format(3, 1, 44100, 32).Build(),
            "Its samples are 32-bit floating point; the card takes whole numbers (PCM) only." },
        WhyCase { "alaw.wav", test::WavBuilder().Format(6, 1, 8000, 8).Build(),
            "Its samples are A-law compressed; the card takes PCM only." },
        WhyCase { "quad.wav", test::WavBuilder().Format(1, 4, 44100, 16).Build(),
            "It has 4 channels; the card takes mono or stereo sounds." },
        WhyCase { "cut.wav", Bytes { 'R', 'I', 'F', 'F', 4, 0, 0, 0, 'W', 'A', 'V', 'E' },
            "It has no format chunk (\"fmt \"), or the file is cut short." },
        WhyCase { "packed.aif",
            [] {
                Bytes aifc = test::AiffBuilder().Frames(10).Build();
                std::copy_n("AIFC", 4, aifc.begin() + 8);
                return aifc;
            }(),
            "It is an AIFF-C file (compressed AIFF); the card takes plain AIFF only." }),
    [](const auto& param) {
        const std::string name = param.param.name;
        return name.substr(0, name.find('.'));
    });

TEST_F(Recognise, RawFallbackTakesAnyFileAs16BitMonoAt48k)
{
    const std::string path = dir.Write("noise.bin", Bytes(1001, 0x11));
    auto raw = recognition.sound.CreateRaw(path);
    ASSERT_TRUE(raw);
    auto* sound = dynamic_cast<MSoundFile*>(raw.get());
    ASSERT_TRUE(sound);
    EXPECT_EQ(sound->GetFrameCount(), 500u);
    EXPECT_EQ(sound->GetInfoLine3(), "48000 Hz");
    EXPECT_FALSE(recognition.sound.CreateRaw(dir.File("absent.bin")));
}

} // namespace
} // namespace cardmill
