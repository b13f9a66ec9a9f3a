#include "model/MReadableFile.h"

#include "model/MCardmill.h"
#include "model/MReadableFileDispatcher.h"
#include "model/TextFields.h"
#include "model/sound/MSoundFile.h"
#include "model/sound/MSoundFileWAV.h"
#include "support/Builders.h"
#include "support/Fakes.h"
#include "support/Midi.h"
#include "support/SoundFontBuilder.h"
#include "support/TestEnv.h"

#include <filesystem>
#include <tuple>
#include <unistd.h>

#include <gtest/gtest.h>

namespace cardmill {
namespace {

using test::Bytes;
using test::FormBuilder;
using test::WavBuilder;

class ReadableFile : public ::testing::Test {
protected:
    MReadableFile& Open(const Bytes& bytes, bool littleEndianLengths, bool padded)
    {
        file = std::make_unique<Probe>(env.services, littleEndianLengths, padded);
        file->AttachMemory(bytes);
        EXPECT_TRUE(file->SetFile("mem.bin"));
        return *file;
    }

    struct Probe : MReadableFile {
        Probe(Services& services, bool little, bool padded)
            : MReadableFile(services)
        {
            littleEndian = little;
            noPadding = !padded;
        }
    };

    test::TestEnv env;
    std::unique_ptr<MReadableFile> file;
};

TEST_F(ReadableFile, RiffChunksArePaddedAndLittleEndian)
{
    FormBuilder riff("RIFF", "WAVE", Endian::Little);
    riff.Chunk("odd ", { 1, 2, 3 }).Chunk("fmt ", { 9, 9 }).Chunk("fmt ", { 7 });
    MReadableFile& f = Open(riff.Build(), true, true);
    EXPECT_FALSE(f.FindForm(FourCC("FORM"), FourCC("WAVE")));
    EXPECT_EQ(f.Tell(), 0u);
    ASSERT_TRUE(f.FindForm(FourCC("RIFF"), FourCC("WAVE")));
    EXPECT_EQ(f.FindChunk(FourCC("fmt "), 0), 10u);
    const auto second = f.ReadChunk(FourCC("fmt "), 1);
    ASSERT_TRUE(second);
    EXPECT_EQ(*second, (Bytes { 'f', 'm', 't', ' ', 1, 0, 0, 0, 7 }));
    EXPECT_FALSE(f.FindChunk(FourCC("fmt "), 2).has_value());
}

TEST_F(ReadableFile, IffChunksWithAndWithoutPadding)
{
    FormBuilder form("FORM", "AIFF", Endian::Big, true);
    MReadableFile& a = Open(form.Chunk("ODD ", { 1 }).Chunk("COMM", { 5, 6 }).Build(), false, true);
    ASSERT_TRUE(a.FindForm(FourCC("FORM"), FourCC("AIFF")));
    EXPECT_EQ(a.ReadChunk(FourCC("COMM"), 0), (Bytes { 'C', 'O', 'M', 'M', 0, 0, 0, 2, 5, 6 }));

    // Without padding an odd chunk is followed directly by the next header.
    FormBuilder unpadded("ORCM", "CMin", Endian::Big, false);
    unpadded.Chunk("ODD ", { 1 }).Chunk("INST", { 5, 6 });
    MReadableFile& b = Open(unpadded.Build(), false, false);
    ASSERT_TRUE(b.FindForm(FourCC("ORCM"), FourCC("CMin")));
    EXPECT_EQ(b.ReadChunk(FourCC("INST"), 0), (Bytes { 'I', 'N', 'S', 'T', 0, 0, 0, 2, 5, 6 }));
    // Read as padded, the walk lands one byte late and finds nothing.
    MReadableFile& c = Open(unpadded.Build(), false, true);
    ASSERT_TRUE(c.FindForm(FourCC("ORCM"), FourCC("CMin")));
    EXPECT_FALSE(c.ReadChunk(FourCC("INST"), 0).has_value());
}

TEST_F(ReadableFile, WalkStopsAtAShortHeaderAndNeverTrustsALengthPastTheFile)
{
    FormBuilder huge("RIFF", "WAVE", Endian::Little);
    MReadableFile& f
        = Open(huge.ChunkClaiming("huge", 0x7FFFFFF0, { 1, 2, 3, 4 }).Build(), true, true);
    ASSERT_TRUE(f.FindForm(FourCC("RIFF"), FourCC("WAVE")));
    EXPECT_EQ(f.FindChunk(FourCC("huge"), 0), 0x7FFFFFF8u);
    EXPECT_FALSE(f.ReadChunk(FourCC("huge"), 0).has_value());
    EXPECT_FALSE(f.FindChunk(FourCC("none"), 0).has_value());

    Bytes truncated = FormBuilder("RIFF", "WAVE", Endian::Little).Chunk("abcd", { 1, 2 }).Build();
    truncated.insert(truncated.end(), { 'e', 'f', 'g' }); // a header cut short
    MReadableFile& g = Open(truncated, true, true);
    ASSERT_TRUE(g.FindForm(FourCC("RIFF"), FourCC("WAVE")));
    EXPECT_FALSE(g.FindChunk(FourCC("efg "), 0).has_value());
    EXPECT_TRUE(g.FindChunk(FourCC("abcd"), 0).has_value());
}

TEST_F(ReadableFile, AMissingFileIsAnErrorNotACrash)
{
    test::TempDir dir;
    MReadableFile f(env.services);
    EXPECT_FALSE(f.SetFile(dir.File("gone.wav")));
    std::uint8_t buffer[4];
    EXPECT_EQ(std::tuple(f.Exists(), f.Read(buffer), f.FindForm(FourCC("RIFF"), FourCC("WAVE")),
                  f.ReadChunk(FourCC("data"), 0).has_value(), f.GetFileName()),
        std::tuple(false, false, false, false, "gone.wav"));
}

/// Recognition by the creator with every dispatcher, as the controller builds it.
class Recognise : public ::testing::Test, protected test::ControllerDoubles {
protected:
    void SetUp() override { ASSERT_TRUE(controller.Startup()); }
    std::unique_ptr<MReadableFile> Create(const std::string& name, const Bytes& bytes)
    {
        return controller.Creator().Create(dir.Write(name, bytes));
    }
    /// The format the creator (info, opening) gives a file, which adding must give too.
    std::string FormatOf(const std::string& name, const Bytes& bytes)
    {
        const auto file = Create(name, bytes);
        const auto added
            = controller.CreateForAdding(dir.File(name), MCardmill::AddFilter::Any, true);
        const std::string format = file ? file->GetFormatName() : "(not created)";
        EXPECT_EQ(added ? added->GetFormatName() : "(not created)", format) << name;
        return format;
    }

    test::TempDir dir;
    const Bytes wav = WavBuilder().Frames(10).Build();
};

TEST_F(Recognise, ByContentBeforeNameAndByNameWithoutRegardToCase)
{
    EXPECT_EQ(FormatOf("x.WAV", wav), "Windows *.wav");
    EXPECT_EQ(FormatOf("x.wav", test::AiffBuilder().Frames(10).Build()), "Audio IFF (AIFF)");
    EXPECT_EQ(
        FormatOf("noname.bin", test::SdBuilder().DataBytes(20).Build()), "Sound Designer (TM)");
    // A file that the first kind to recognise it by name can't open is the next kind's.
    EXPECT_EQ(FormatOf("sound.aif", wav), "Windows *.wav");
    EXPECT_EQ(FormatOf("song.wav", test::MidiFile(1, 96, { test::TrackBuilder().End(0).Build() })),
        "MIDI Sequence");
    EXPECT_TRUE(
        controller.SoundDispatcher().Recognises(dir.File("y.wav"))); // by name: need not exist
    // A file named only the extension falls to the content test.
    dir.Write("sub/.wav", Bytes(40, 0));
    EXPECT_FALSE(controller.SoundDispatcher().Recognises(dir.File("sub/.wav")));
    EXPECT_TRUE(Create("other/.wav", wav));
}

TEST_F(Recognise, FilesNotUnderstoodAreReportedWithTheKindThatRecognisedThemAndWhy)
{
    // A RIFF file of another form type is no sound file.
    EXPECT_FALSE(Create(
        "movie.avi", FormBuilder("RIFF", "AVI ", Endian::Little).Chunk("hdrl", { 1, 2 }).Build()));
    EXPECT_EQ(std::tuple(prompter.LastText(), prompter.shown.back().icon, prompter.beeps),
        std::tuple("Sorry, but Cardmill can't understand the file '" + dir.File("movie.avi") + "'",
            Icon::Error, 1));

    EXPECT_FALSE(Create("broken.wav", Bytes { 'R', 'I', 'F', 'F', 1, 2 }));
    EXPECT_EQ(prompter.LastText(),
        "Sorry, but Cardmill can't understand the sound file '" + dir.File("broken.wav")
            + "'\nIt is not a RIFF WAVE file.");
}

TEST_F(Recognise, FilesThatCantBeOpenedAreNamedWithTheSystemsReasonOnEveryRoad)
{
    const std::string sound = dir.Write("a.wav", wav);
    std::vector<std::pair<std::string, std::string>> cases;
    cases = { { dir.File("no/x.wav"), "No such file or directory" },
        { sound + "/x.wav", "Not a directory" }, { dir.Path(), "Is a directory" } };
    if (geteuid() != 0) { // root reads whatever the permissions say
        std::filesystem::permissions(sound, std::filesystem::perms::none);
        cases.emplace_back(sound, "Permission denied");
        MSoundFileWAV reader(controller.GetServices());
        EXPECT_FALSE(reader.OpenSound(sound));
        EXPECT_EQ(
            controller.GetServices().whyNotUnderstood, "It can't be read: Permission denied.");
    }
    for (const auto& [path, why] : cases) {
        std::string failure;
        EXPECT_FALSE(controller.Creator().Create(path, failure));
        EXPECT_EQ(failure, "Sorry, but Cardmill can't read the file '" + path + "': " + why + ".");
        // Not offered as raw data either.
        prompter.Forget();
        EXPECT_FALSE(controller.CreateForAdding(path, MCardmill::AddFilter::Any, true));
        EXPECT_EQ(std::tuple(prompter.Asked(), prompter.LastText()), std::tuple(false, failure));
    }
    // Nor is a project, which is opened rather than added.
    const std::string project = dir.Write("p.cmr", Bytes(100, 0));
    EXPECT_FALSE(controller.CreateForAdding(project, MCardmill::AddFilter::Any, true));
    EXPECT_EQ(std::tuple(prompter.Asked(), prompter.LastText()),
        std::tuple(false,
            "Sorry, but '" + project
                + "' is a Cardmill project, which is opened rather than added to a project."));
}

struct WhyCase {
    const char* name;
    Bytes file;
    const char* why;
};
class NotUnderstood : public Recognise, public ::testing::WithParamInterface<WhyCase> { };

TEST_P(NotUnderstood, TheMessageSaysWhy)
{
    const WhyCase& c = GetParam();
    std::string failure;
    EXPECT_FALSE(controller.Creator().Create(dir.Write(c.name, c.file), failure));
    EXPECT_EQ(failure.substr(failure.find('\n') + 1), c.why);
}

INSTANTIATE_TEST_SUITE_P(Readers, NotUnderstood,
    ::testing::Values(WhyCase { "alaw.wav", WavBuilder().Format(6, 1, 8000, 8).Build(),
                          "Its samples are A-law compressed; the card takes PCM only." },
        WhyCase { "quad.wav", WavBuilder().Format(1, 4, 44100, 16).Build(),
            "It has 4 channels; the card takes mono or stereo sounds." },
        WhyCase { "cut.wav", Bytes { 'R', 'I', 'F', 'F', 4, 0, 0, 0, 'W', 'A', 'V', 'E' },
            "It has no format chunk (\"fmt \"), or the file is cut short." }),
    [](const auto& param) {
        const std::string name = param.param.name;
        return name.substr(0, name.find('.'));
    });

TEST_F(Recognise, AFileOfAnotherKindThanTheFiltersIsTakenOrRefusedButNeverRawData)
{
    using B = test::SoundFontBuilder;
    B font;
    font.samples = { { "Tone", std::vector<std::int16_t>(100, 1000) } };
    font.instruments = { { "Tone", 0, 0, { { { { 53, 0 } } } } } };
    font.presets
        = { { "Grand", 0, 0, { { { { 41, 0 } } } } }, { "Bells", 0, 9, { { { { 41, 0 } } } } } };
    const std::string library = dir.Write("two.sf2", font.Build());
    const std::string song
        = dir.Write("song.mid", test::MidiFile(1, 96, { test::TrackBuilder().End(0).Build() }));
    const std::string damagedSong = dir.Write("cut.mid", Bytes { 'M', 'T', 'h', 'd', 0, 0 });
    const std::string blob = dir.Write("blob.bin", Bytes(1001, 0x11));
    using F = MCardmill::AddFilter;
    using O = MCardmill::OtherKinds;
    const auto add = [&](const std::string& path, O others) {
        prompter.Forget();
        const auto file = controller.CreateForAdding(path, F::Sound, true, others);
        return std::tuple(file ? file->GetFormatName() : "(none)", prompter.Asked(),
            prompter.shown.empty() ? "" : prompter.LastText());
    };

    // Where the filter only chooses what is listed, each file is what it is.
    EXPECT_EQ(add(library + "#preset=0:9", O::Taken), std::tuple("SoundFont 2", false, ""));
    EXPECT_EQ(add(song, O::Taken), std::tuple("MIDI Sequence", false, ""));
    // Where sounds are needed, a library of many presets is an instrument, not sample data; nor is
    // another kind's damaged file.
    EXPECT_EQ(add(library, O::Refused),
        std::tuple("(none)", false,
            "Sorry, but '" + library + "' is an instrument file (SoundFont 2), not a sound file."));
    EXPECT_EQ(add(song, O::Refused),
        std::tuple("(none)", false,
            "Sorry, but '" + song
                + "' is a standard MIDI file (MIDI Sequence), not a sound file."));
    const auto [format, asked, text] = add(damagedSong, O::Refused);
    EXPECT_EQ(std::tuple(format, asked, text.substr(0, text.find('\n'))),
        std::tuple("(none)", false,
            "Sorry, but Cardmill can't understand the standard MIDI file '" + damagedSong + "'"));
    // What no kind recognises is raw data, once the user agrees.
    prompter.Push(Answer::Cancel);
    EXPECT_EQ(add(blob, O::Taken), std::tuple("(none)", true, RawDataMessage(blob)));
}

TEST_F(Recognise, RawFallbackTakesAnyFileAs16BitMonoAt48k)
{
    const std::string path = dir.Write("noise.bin", Bytes(1001, 0x11));
    auto raw = controller.SoundDispatcher().CreateRaw(path);
    ASSERT_TRUE(raw);
    auto* sound = dynamic_cast<MSoundFile*>(raw.get());
    ASSERT_TRUE(sound);
    EXPECT_EQ(std::tuple(sound->GetFrameCount(), sound->SampleRate()), std::tuple(500u, 48000.0f));
    EXPECT_FALSE(controller.SoundDispatcher().CreateRaw(dir.File("absent.bin")));
}

} // namespace
} // namespace cardmill
