#include "model/instrument/MInstFileSfz.h"

#include "model/ASafeFile.h"
#include "model/instrument/MInstFileCardmill.h"
#include "model/instrument/SfzWriter.h"
#include "model/sound/MSoundFile.h"
#include "support/Instruments.h"
#include "support/Steps.h"
#include "support/TestEnv.h"

#include <filesystem>
#include <map>
#include <tuple>

#include <gtest/gtest.h>

namespace cardmill {
namespace {

using test::Bytes;
using test::CmtBuilder;
using test::Strings;
using test::WavBuilder;

SfzDocument Parse(const std::string& text, std::map<std::string, std::string> files = {})
{
    return ParseSfz(text, "t.sfz", [files](const std::string& name) -> std::optional<std::string> {
        const auto it = files.find(name);
        return it == files.end() ? std::nullopt : std::optional(it->second);
    });
}

/// The texts that no report contains.
Strings Unreported(const std::vector<SfzDropped>& dropped, Strings texts)
{
    std::string reports;
    for (const SfzDropped& report : dropped)
        reports += report.Text() + "\n";
    return test::Missing(reports, std::move(texts));
}

CmtBuilder::Sample Looped(CmtBuilder::Sample sample, std::uint32_t start, std::uint32_t end)
{
    sample.looping = 1;
    sample.loopStart = start;
    sample.loopEnd = end;
    return sample;
}

TEST(SfzParser, InheritsFromGlobalMasterAndGroupAndExpandsDefinesAndIncludes)
{
    const auto doc = Parse("#define $LOW 40\n"
                           "<control> default_path=Sub\\Dir/\n"
                           "<global> volume=-6 // a comment\n"
                           "<master> tune=10 /* block\n still a comment */ transpose=2\n"
                           "<group> lokey=$LOW hikey=c4\n"
                           "<region> sample=My Piano\\A 1.wav lovel=1 hivel=63\n"
                           "#include \"more.sfz\"\n",
        { { "more.sfz",
            "<region> key=C#5 sample=b.wav volume=-1 offset=7 loop_mode=loop_sustain "
            "loop_start=3 loop_end=9\n<group>\n<region> sample=c.wav" } });
    ASSERT_EQ(doc.regions.size(), 3u);
    const SfzRegion &a = doc.regions[0], &b = doc.regions[1], &c = doc.regions[2];
    // Line 7: the block comment spans two lines.
    EXPECT_EQ(
        std::tuple(a.sample, a.lokey, a.hikey, a.hivel, a.tune, a.transpose, a.volume, a.line),
        std::tuple("Sub/Dir/My Piano/A 1.wav", 40, 60, 63, 10, 2, -6.0, 7));
    EXPECT_EQ(std::tuple(b.file, b.lokey, b.hikey, b.keycenter, b.volume, b.offset, b.loopMode,
                  b.loopStart, b.loopEnd),
        std::tuple("more.sfz", 73, 73, 73, -1.0, 7, SfzLoopMode::Sustain, 3, 9));
    // A new <group> forgets the group's opcodes, but keeps the master's and the global's.
    EXPECT_EQ(std::tuple(c.lokey, c.tune, c.volume), std::tuple(0, 10, -6.0));
    EXPECT_TRUE(doc.dropped.empty()) << doc.dropped.front().Text();
}

TEST(SfzParser, ReportsWhatItCantUseByFileLineAndOpcode)
{
    const auto doc = Parse("<group> ampeg_release=0.5 pitch_keytrack=100\n"
                           "<region> sample=a.wav lokey=x9 cutoff=300\n"
                           "<curve> v000=1\n"
                           "#include \"self.sfz\"\n"
                           "#include \"gone.sfz\"\n"
                           "<region> lokey=1\n",
        { { "self.sfz", "#include \"self.sfz\"\n" } });
    // pitch_keytrack=100 is the default: nothing is lost.
    EXPECT_EQ(Unreported(doc.dropped,
                  { "t.sfz:1: ampeg_release: not on the card", "pitch_keytrack",
                      "t.sfz:2: lokey: 'x9' is not a key", "t.sfz:2: cutoff", "t.sfz:3: <curve>",
                      "self.sfz:1: #include: 'self.sfz' includes itself",
                      "t.sfz:5: #include: can't read 'gone.sfz'", "t.sfz:6: <region>: no sample" }),
        Strings { "pitch_keytrack" });
    EXPECT_EQ(doc.regions.size(), 1u);
}

TEST(SfzParser, AByteOrderMarkIsNoPartOfTheTextOfAFileOrOfAnInclude)
{
    const auto doc = Parse("\xEF\xBB\xBF<region> sample=a.wav\n#include \"b.sfz\"\n",
        { { "b.sfz", "\xEF\xBB\xBF<region> sample=b.wav" } });
    EXPECT_EQ(doc.regions.size(), 2u);
    EXPECT_TRUE(doc.dropped.empty()) << doc.dropped.front().Text();
}

TEST(SfzParser, StaysWithinItsLimits)
{
    SfzLimits limits;
    limits.maxRegions = 10;
    std::string many;
    for (int i = 0; i < 50; ++i)
        many += "<region> sample=a.wav\n";
    EXPECT_EQ(ParseSfz(many, "t.sfz", {}, limits).regions.size(), 10u);

    // Each definition doubles the one before: the expansion is cut, not followed.
    std::string doubling = "#define $A0 xxxxxxxxxxxxxxxx\n";
    for (int i = 1; i < 40; ++i)
        doubling += "#define $A" + std::to_string(i) + " $A" + std::to_string(i - 1) + "$A"
            + std::to_string(i - 1) + "\n";
    doubling += "<region> sample=$A39\n";
    EXPECT_EQ(Unreported(ParseSfz(doubling, "t.sfz", {}).dropped, { "too long" }), Strings {});

    // Two includes of a file that includes itself twice: bounded by the include count.
    int reads = 0;
    const auto fan = ParseSfz("#include \"a\"\n", "t.sfz", [&](const std::string& name) {
        ++reads;
        return std::optional<std::string>(
            "#include \"" + name + "x\"\n#include \"" + name + "y\"\n<region> sample=s.wav\n");
    });
    EXPECT_LE(reads, SfzLimits {}.maxIncludes);
    EXPECT_EQ(Unreported(fan.dropped, { "too many nested or repeated includes" }), Strings {});
}

TEST(SfzLayout, KeyGroupsLayersGapsAndOverlaps)
{
    const auto doc = Parse("<region> sample=a.wav lokey=10 hikey=20 lovel=64 hivel=127\n"
                           "<region> sample=b.wav lokey=10 hikey=20 lovel=1 hivel=63\n"
                           "<region> sample=c.wav lokey=25 hikey=40\n"
                           "<region> sample=d.wav lokey=30 hikey=50\n"
                           "<region> sample=e.wav lokey=32 hikey=33\n"
                           "<region> sample=f.wav lokey=60 hikey=70 lovel=1 hivel=30\n"
                           "<region> sample=g.wav lokey=60 hikey=70 lovel=31 hivel=60\n"
                           "<region> sample=h.wav lokey=60 hikey=70 lovel=61 hivel=90\n"
                           "<region> sample=i.wav lokey=60 hikey=70 lovel=91 hivel=127\n"
                           "<region> sample=j.wav lokey=60 hikey=70 lovel=91 hivel=127\n");
    const SfzLayout layout = LayOutSfz(doc);
    std::vector<std::pair<int, std::vector<std::size_t>>> groups;
    for (const SfzKeyGroup& group : layout.groups)
        groups.emplace_back(group.upperKey, group.layers);
    // Softest layer first.
    EXPECT_EQ(groups,
        (std::vector<std::pair<int, std::vector<std::size_t>>> {
            { 20, { 1, 0 } }, { 40, { 2 } }, { 50, { 3 } }, { 70, { 5, 6, 7 } } }));
    EXPECT_EQ(layout.groupSize, 3);
    EXPECT_EQ(Unreported(layout.dropped,
                  { "t.sfz:1: keys 0 to 9 have no region", "t.sfz:3: keys 21 to 24 have no region",
                      "t.sfz:4: keys 30 to 40 overlap the region of line 3",
                      "t.sfz:5: keys 32 to 33 lie within", "t.sfz:9: a fourth layer",
                      "t.sfz:10: a fourth layer", "keys 71 to 127 have no region" }),
        Strings {});
}

class SfzInstrument : public ::testing::Test {
protected:
    std::string Wav(
        const std::string& name, std::uint32_t frames = 1000, std::vector<test::WavLoop> loops = {})
    {
        return dir.Write(name, WavBuilder().Frames(frames).Smpl(60, 0, loops).Build());
    }
    /// Loaded in its own environment when given one, so that its sounds share nothing with ours.
    template <typename Inst>
    std::unique_ptr<Inst> Load(const std::string& path, test::TestEnv* own = nullptr)
    {
        auto instrument = std::make_unique<Inst>((own ? *own : env).services);
        bool opened = false;
        if constexpr (std::is_same_v<Inst, MInstFileSfz>)
            opened = instrument->OpenSfz(path);
        else
            opened = instrument->OpenInstrument(path);
        if (!opened || test::LoadFully(*instrument) != 1)
            return nullptr;
        instrument->SetCategory(0);
        instrument->UpdateCompiledSize();
        return instrument;
    }
    static Bytes Voice(MInstFile& file)
    {
        Bytes voice(file.GetVoiceHeaderSize(), 0xEE);
        std::span<std::uint8_t> cursor(voice);
        file.WriteVoiceHeader(cursor, 4);
        // The short name comes from the file name, which differs between the formats.
        std::fill(voice.begin() + 2, voice.begin() + 12, ' ');
        return voice;
    }

    test::TempDir dir;
    test::TestEnv env;
};

TEST_F(SfzInstrument, EveryOpcodeAndHeaderGivesTheCardVoiceOfTheSameCmt)
{
    Wav("soft.wav");
    Wav("loud.wav", 1200, { { 0, 50, 700 } });
    Wav("sub/mid c.wav", 900);
    dir.Write("inc.sfz", "<region> lokey=61 hikey=127 sample=sub\\mid c.wav offset=100\n");
    const std::string sfz = dir.Write("inst.sfz",
        "#define $TOP 60\n"
        "<control> default_path=\n"
        "<global> volume=-6\n"
        "<master> transpose=2\n"
        "<group> lokey=0 hikey=$TOP pitch_keycenter=62\n"
        "<region> sample=soft.wav lovel=1 hivel=63 loop_mode=no_loop\n"
        "<region> sample=loud.wav lovel=64 hivel=127 volume=-12 loop_mode=loop_continuous "
        "loop_start=10 loop_end=900\n"
        "<group>\n"
        "#include \"inc.sfz\"\n");
    auto fromSfz = Load<MInstFileSfz>(sfz);
    ASSERT_TRUE(fromSfz);
    EXPECT_TRUE(fromSfz->Dropped().empty()) << fromSfz->Dropped().front().Text();
    EXPECT_FALSE(env.prompter.Asked());

    // The second group keeps the master's transpose and the global volume.
    const CmtBuilder::Sample mid { .path = dir.File("sub/mid c.wav"),
        .rootKey = 58,
        .volume = VolumeByte(-6),
        .startFrame = 100 };
    CmtBuilder cmt;
    cmt.Groups(2, 2, { 60, 127 }).Add({ .path = dir.File("soft.wav"), .volume = VolumeByte(-6) });
    cmt.Add(Looped({ .path = dir.File("loud.wav"), .volume = VolumeByte(-12) }, 10, 900));
    test::TestEnv otherEnv;
    auto fromCmt
        = Load<MInstFileCardmill>(dir.Write("inst.cmt", cmt.Add(mid).Add(mid).Build()), &otherEnv);
    ASSERT_TRUE(fromCmt);
    EXPECT_EQ(Voice(*fromSfz), Voice(*fromCmt));
}

TEST_F(SfzInstrument, TuneMovesThePitchByCentsAndWholeSemitonesGoToTheRoot)
{
    Wav("a.wav");
    auto plain = Load<MInstFileSfz>(dir.Write("p.sfz", "<region> sample=a.wav\n"));
    auto tuned = Load<MInstFileSfz>(dir.Write("t.sfz", "<region> sample=a.wav tune=50\n"));
    auto folded = Load<MInstFileSfz>(
        dir.Write("f.sfz", "<region> sample=a.wav tune=150 pitch_keycenter=61\n"));
    ASSERT_TRUE(plain && tuned && folded);
    const auto pitch = [](MInstFile& file) {
        const Bytes v = Voice(file);
        return v[18] * 256 + v[19];
    };
    // The card's pitch is in 1/256 semitones: 50 cents are 128 of them, and higher is lower.
    EXPECT_EQ(pitch(*plain) - pitch(*tuned), 128);
    EXPECT_EQ(pitch(*folded), pitch(*tuned));
}

TEST_F(SfzInstrument, WarnsOnceWithEachReportOnceAndLeavesTheCommentAlone)
{
    Wav("a.wav");
    std::string text = "<group> cutoff=200\n";
    for (int key = 0; key < 12; ++key)
        text += "<region> sample=a.wav ampeg_release=1 key=" + std::to_string(key) + "\n";
    text += "<region> sample=a.wav lokey=12 volume=3 loop_mode=one_shot\n";
    auto instrument = Load<MInstFileSfz>(dir.Write("w.sfz", text));
    ASSERT_TRUE(instrument);
    // One line, the reports under it.
    ASSERT_EQ(env.prompter.shown.size(), 1u);
    EXPECT_EQ(env.prompter.LastText(),
        "4 kinds of setting in the SFZ instrument 'w.sfz' are not on the card.");
    EXPECT_EQ(test::Missing(env.prompter.shown.back().details,
                  { "w.sfz:1: cutoff: not on the card\n",
                      "w.sfz:2: ampeg_release: not on the card (12 times in all)\n",
                      "w.sfz:14: volume: the card plays a sample at most at 0 dB\n",
                      "w.sfz:14: loop_mode:" }),
        Strings {});
    EXPECT_EQ(instrument->Comment(), "");
}

TEST_F(SfzInstrument, SamplesAreFoundInAnyCaseAndAMissingOneIsNamedWithItsLineAndPath)
{
    dir.Write("Sub/Piano C4.WAV", WavBuilder().Frames(100).Build());
    auto cased = Load<MInstFileSfz>(dir.Write("c.sfz", "<region> sample=sub\\piano c4.wav\n"));
    ASSERT_TRUE(cased);
    EXPECT_EQ(cased->SampleAt(0, 0)->GetPath(), dir.File("Sub/Piano C4.WAV"));
    EXPECT_TRUE(env.prompter.shown.empty());

    // Missing samples fail the load; text without regions, binary and UTF-16 text are refused.
    MInstFileSfz missing(env.services), empty(env.services), binary(env.services),
        wide(env.services);
    dir.Write("inc.sfzh", "// the sample\nsample=gone.wav\n");
    ASSERT_TRUE(missing.OpenSfz(dir.Write("m.sfz", "<region>\n#include \"inc.sfzh\"\n")));
    EXPECT_EQ(test::LoadFully(missing), -1);
    EXPECT_EQ(env.prompter.shown.at(0).text,
        "The SFZ instrument 'm.sfz' names the sample 'gone.wav' at line 2 of 'inc.sfzh', but "
        "there is no file '"
            + dir.File("gone.wav") + "', nor one whose name differs from it only in case.");
    EXPECT_FALSE(empty.OpenSfz(dir.Write("e.sfz", "// nothing\n")));
    EXPECT_FALSE(binary.OpenSfz(dir.Write("b.sfz", Bytes { 0, 1, 2, 0 })));
    EXPECT_FALSE(wide.OpenSfz(dir.Write("u.sfz", Bytes { 0xFF, 0xFE, '<', 0 })));
    EXPECT_EQ(env.services.whyNotUnderstood,
        "It is UTF-16 text; Cardmill reads SFZ files written in UTF-8 or in an 8-bit character "
        "set.");
}

TEST_F(SfzInstrument, WrittenAsSfzAndReadBackGivesTheSameVoice)
{
    Wav("lo.wav", 800, { { 0, 20, 600 } });
    Wav("hi.wav", 900);
    Wav("other/lo.wav", 700);
    const std::string lo = dir.File("lo.wav"), hi = dir.File("hi.wav");
    CmtBuilder cmt;
    cmt.Groups(3, 2, { 47, 71, 127 })
        .Add(Looped({ .path = lo, .rootKey = 40, .volume = 124 }, 20, 600));
    cmt.Add({ .path = hi, .rootKey = 41, .volume = 0 })
        .Add({ .path = hi, .rootKey = 60, .startFrame = 30 });
    cmt.Add({ .path = dir.File("other/lo.wav"), .rootKey = 61 })
        .Add({ .path = lo, .rootKey = 80, .volume = 200 });
    cmt.Add(Looped({ .path = hi, .rootKey = 81 }, 5, 800));
    auto source = Load<MInstFileCardmill>(dir.Write("src.cmt", cmt.Build()));
    ASSERT_TRUE(source);

    for (const SfzSamples mode : { SfzSamples::Reference, SfzSamples::Copy }) {
        const std::string out = dir.File(mode == SfzSamples::Copy ? "copy/out.sfz" : "out.sfz");
        std::filesystem::create_directories(std::filesystem::path(out).parent_path());
        ASafeFile writer(env.prompter);
        std::vector<std::string> notes;
        ASSERT_TRUE(WriteSfzFile(writer, env.prompter, out, *source, mode, notes));
        EXPECT_TRUE(notes.empty());
        const std::string text = test::ReadText(out);
        test::TestEnv otherEnv;
        auto back = Load<MInstFileSfz>(out, &otherEnv);
        ASSERT_TRUE(back) << text;
        EXPECT_TRUE(back->Dropped().empty()) << back->Dropped().front().Text();
        EXPECT_EQ(Voice(*back), Voice(*source)) << text;
        // Copied, two different files named lo.wav: the second copy is numbered.
        EXPECT_EQ(test::Missing(text,
                      mode == SfzSamples::Copy ? Strings { "sample=lo.wav", "sample=lo-2.wav" }
                                               : Strings { "sample=other/lo.wav" }),
            Strings {})
            << text;
    }
    // Written anew as an instrument file of its layout (as a fit writes one), the voice stays.
    std::vector<const MSoundFile*> positions;
    for (int g = 0; g < source->GroupCount(); ++g)
        for (int layer = 0; layer < source->GroupSize(); ++layer)
            positions.push_back(source->SampleAt(g, layer));
    test::TestEnv cmtEnv;
    auto again = Load<MInstFileCardmill>(
        dir.Write("again.cmt", InstrumentFileBytes(*source, positions)), &cmtEnv);
    ASSERT_TRUE(again);
    EXPECT_EQ(Voice(*again), Voice(*source));
}

} // namespace
} // namespace cardmill
