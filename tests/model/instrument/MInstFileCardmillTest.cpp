#include "model/instrument/MInstFileCardmill.h"

#include "model/ASafeFile.h"
#include "model/MissingFileLocator.h"
#include "model/instrument/KeyGroupEdit.h"
#include "model/instrument/SfzWriter.h"
#include "model/sound/MSoundFileWAV.h"
#include "support/Fakes.h"
#include "support/Instruments.h"
#include "support/SoundFontBuilder.h"
#include "support/SoundHelpers.h"
#include "support/Steps.h"

#include <filesystem>
#include <numeric>
#include <tuple>

#include <gtest/gtest.h>

namespace cardmill {
namespace {

using test::Bytes;
using test::CmtBuilder;
using test::WavBuilder;

class Instrument : public ::testing::Test {
protected:
    std::string Wav(const std::string& name, std::uint32_t frames = 1000)
    {
        return dir.Write(name, WavBuilder().Frames(frames).Smpl(60, 0, {}).Build());
    }
    std::unique_ptr<MInstFileCardmill> Open(
        const Bytes& bytes, const std::string& name = "inst.cmt")
    {
        auto instrument = std::make_unique<MInstFileCardmill>(env.services);
        if (!instrument->OpenInstrument(dir.Write(name, bytes)))
            return nullptr;
        return instrument;
    }
    std::unique_ptr<MInstFileCardmill> Load(const Bytes& bytes, std::int16_t category = 0)
    {
        auto instrument = Open(bytes);
        if (!instrument || test::LoadFully(*instrument) != 1)
            return nullptr;
        instrument->SetCategory(category);
        instrument->UpdateCompiledSize();
        return instrument;
    }
    std::vector<std::uint8_t> Voice(MInstFile& file)
    {
        std::vector<std::uint8_t> voice(file.GetVoiceHeaderSize() + 10, 0xEE);
        std::span<std::uint8_t> cursor(voice);
        file.WriteVoiceHeader(cursor, 4);
        EXPECT_EQ(cursor.size(), 10u);
        return voice;
    }

    test::TempDir dir;
    test::TestEnv env;
};

TEST_F(Instrument, VoiceSizesAndBytes)
{
    const std::string a = Wav("a.wav");
    auto one = Load(CmtBuilder().Groups(1, 1, { 72 }).Add({ a }).Build(), 3);
    ASSERT_TRUE(one);
    EXPECT_EQ(one->GetVoiceHeaderSize(), 30u);
    auto voice = Voice(*one);
    EXPECT_EQ(std::tuple(voice[0], voice[1], std::string(voice.begin() + 2, voice.begin() + 12),
                  voice[16], one->GetCompiledSize()),
        std::tuple(0x13, 4, "inst.cmt  ", 72, 30u + 2034));

    CmtBuilder five;
    five.Groups(5, 2, { 20, 40, 60, 80, 127 });
    for (int i = 0; i < 10; ++i)
        five.Add({ Wav(test::Numbered("s", i, ".wav"), 100 + static_cast<std::uint32_t>(i)) });
    auto keyboard = Load(five.Build(), 0);
    ASSERT_TRUE(keyboard);
    EXPECT_EQ(keyboard->GetVoiceHeaderSize(), 142u);
    voice = Voice(*keyboard);
    EXPECT_EQ(std::tuple(voice[12], voice[13]), std::tuple(4, 1));
    EXPECT_EQ(Bytes(voice.begin() + 16, voice.begin() + 22), (Bytes { 20, 40, 60, 80, 127, 0 }));
    keyboard->SetCategory(9);
    EXPECT_EQ(keyboard->GetVoiceHeaderSize(), 42u);
    voice = Voice(*keyboard);
    // Byte 17 is left as the compile engine prepared it.
    EXPECT_EQ(std::tuple(voice[0], voice[16], voice[17]), std::tuple(0x38, 0x80, 0xEE));
    keyboard->SetCategory(11);
    EXPECT_EQ(keyboard->GetCategory(), 9);
}

TEST_F(Instrument, CopiesOwnCopiesOfTheirSamplesAndAMissingSampleRepeatsThePreviousHeader)
{
    CmtBuilder cmt;
    cmt.Groups(2, 1, { 60, 127 }).Add({ Wav("a.wav") });
    auto instrument = Load(cmt.Add({ Wav("b.wav", 500) }).Build());
    ASSERT_TRUE(instrument);
    {
        auto copy = instrument->Duplicate();
        auto* other = dynamic_cast<MInstFileCardmill*>(copy.get());
        ASSERT_TRUE(other);
        EXPECT_NE(other->SampleAt(0, 0)->GetId(), instrument->SampleAt(0, 0)->GetId());
        EXPECT_EQ(other->SampleAt(1, 0)->GetPath(), instrument->SampleAt(1, 0)->GetPath());
        EXPECT_EQ(other->GetCompiledSize(), instrument->GetCompiledSize());
    }
    MInstFileCardmill unloaded(env.services);
    EXPECT_FALSE(unloaded.CopyFrom(unloaded));

    instrument->AssignCardAddress(100);
    const auto headersAlike = [&] {
        const auto voice = Voice(*instrument);
        return std::equal(voice.begin() + 18, voice.begin() + 30, voice.begin() + 30);
    };
    EXPECT_FALSE(headersAlike());
    env.services.sounds.Remove(instrument->SampleAt(1, 0)); // no longer registered: missing
    EXPECT_TRUE(headersAlike());
}

TEST_F(Instrument, CompiledDataIsTheSamplesInWalkOrder)
{
    const Bytes a = WavBuilder().Frames(300).Build();
    const Bytes b = WavBuilder().Format(1, 1, 44100, 8).Frames(200).Build();
    CmtBuilder cmt;
    cmt.Groups(2, 1, { 60, 127 }).Add({ dir.Write("a.wav", a) });
    auto instrument = Load(cmt.Add({ dir.Write("b.wav", b) }).Build());
    ASSERT_TRUE(instrument);
    auto expected = test::CardWords(*test::Load<MSoundFileWAV>(env, a, "/x/other1.wav"));
    const auto wordsB = test::CardWords(*test::Load<MSoundFileWAV>(env, b, "/x/other2.wav"));
    expected.insert(expected.end(), wordsB.begin(), wordsB.end());
    EXPECT_EQ(test::CardWords(*instrument, 100), expected);
    EXPECT_EQ(instrument->GetCompiledSize(), 16 + 2 + 24 + 2 * expected.size());
    EXPECT_EQ(instrument->AssignCardAddress(1000), 1000 + expected.size());
}

TEST_F(Instrument, WrittenFromThreeSamplesAndReadBack)
{
    std::vector<std::unique_ptr<MSoundFile>> sounds;
    for (const char* name : { "low.wav", "mid.wav", "high.wav" }) {
        auto sound = std::make_unique<MSoundFileWAV>(env.services);
        // The last is tuned by half a semitone (12800), which the record's own byte can't hold.
        // The second gives a root and a loop end the card can't take.
        const std::uint32_t tune = sounds.size() == 2 ? 0x80000000u : 0;
        const bool off = sounds.size() == 1;
        const auto wav = WavBuilder()
                             .Frames(3000)
                             .Smpl(off ? 200 : 60, tune, { { 0, 100, off ? 99999u : 2000u } })
                             .Build();
        ASSERT_TRUE(sound->OpenSound(dir.Write(name, wav)));
        sounds.push_back(std::move(sound));
    }
    ASafeFile writer(env.prompter);
    const std::string path = dir.File("three.cmt");
    ASSERT_TRUE(WriteInstrumentFile(writer, env.prompter, path, std::move(sounds)));
    const Bytes bytes = test::ReadFile(path);
    const ByteReader file(bytes);
    ASSERT_EQ(bytes.size(), 22u + 8 + 1314);
    EXPECT_TRUE(file.HasCodeAt(22, "INST"));
    EXPECT_EQ(std::tuple(file.U32At(26, Endian::Big), file.U8At(30), file.U32At(162, Endian::Big)),
        std::tuple(1314u, 2, 3u * 6000));
    // The record holds what the card plays, as the user was told.
    EXPECT_EQ(std::tuple(file.U8At(168 + 392 + 374), file.U32At(168 + 392 + 384, Endian::Big)),
        std::tuple(127, 2999u));
    EXPECT_EQ(env.prompter.LastText(),
        "The sound file 'mid.wav' gives the root key 200; it is used as 127.  It says its loop "
        "ends at frame 99999, past its 3000 frames; the loop is cut to end at frame 2999.");
    Bytes keys(128, 0);
    std::iota(keys.begin(), keys.begin() + 3, 125);
    EXPECT_EQ(Bytes(bytes.begin() + 34, bytes.begin() + 162), keys);

    auto instrument = std::make_unique<MInstFileCardmill>(env.services);
    ASSERT_TRUE(instrument->OpenInstrument(path));
    ASSERT_EQ(test::LoadFully(*instrument), 1);
    EXPECT_EQ(std::tuple(instrument->GroupCount(), instrument->GetLoadedCount()), std::tuple(3, 3));
    const auto samples = instrument->Samples();
    ASSERT_EQ(samples.size(), 3u);
    const SampleParams& low = samples[0]->Params();
    EXPECT_EQ(std::tuple(low.loopStart, low.loopEnd, low.looping), std::tuple(100u, 2000u, 1));
    EXPECT_EQ(samples[2]->GetPath(), dir.File("high.wav"));
    EXPECT_EQ(samples[2]->Params().fineTune, 12800);

    // An older reader sees the low byte where it always was, and an empty volume label.
    const std::size_t high = 168 + 2 * 392;
    EXPECT_EQ(std::tuple(file.U8At(high + 375), file.U8At(high + 74)), std::tuple(0, 0));
    // A record whose low byte an older writer changed keeps that writer's fine tune.
    Bytes changed = bytes;
    changed[high + 375] = 7;
    const std::string older = dir.Write("older.cmt", changed);
    auto reread = std::make_unique<MInstFileCardmill>(env.services);
    ASSERT_TRUE(reread->OpenInstrument(older));
    ASSERT_EQ(test::LoadFully(*reread), 1);
    EXPECT_EQ(reread->Samples()[2]->Params().fineTune, 7);
}

TEST_F(Instrument, ValuesOffTheCardInAStoredRecordAreMovedOntoItAndToldOnce)
{
    // The record of an older writer: the root's byte 200, a loop past the sample's 1000 frames.
    // path, smoothing, root, fine tune, volume, channel, looping, loop start and end
    auto stored
        = Load(CmtBuilder().Add({ Wav("a.wav"), 0, 200, 0, 252, 0, 1, 100, 99999 }).Build());
    ASSERT_TRUE(stored);
    const SampleParams& p = stored->SampleAt(0, 0)->Params();
    EXPECT_EQ(std::tuple(p.rootKey, p.loopEnd, env.prompter.shown.size(), env.prompter.LastText()),
        std::tuple(127, 999u, 1u,
            "In the instrument file 'inst.cmt', the sample 'a.wav' gives the root key 200; it is "
            "used as 127.  The sample 'a.wav' says its loop ends at frame 99999, past its 1000 "
            "frames; the loop is cut to end at frame 999."));
    // Its SFZ form holds what the card plays.
    ASafeFile writer(env.prompter);
    std::vector<std::string> notes;
    ASSERT_TRUE(WriteSfzFile(
        writer, env.prompter, dir.File("a.sfz"), *stored, SfzSamples::Reference, notes));
    EXPECT_NE(test::ReadText(dir.File("a.sfz")).find("pitch_keycenter=127 "), std::string::npos);
}

TEST_F(Instrument, LaterVersionsAndCountsThatDoNotFitTheChunkAreRefused)
{
    const std::string a = Wav("a.wav");
    EXPECT_TRUE(Open(CmtBuilder().Version(3, 15).Add({ a }).Build()));
    EXPECT_FALSE(Open(CmtBuilder().Version(3, 16).Add({ a }).Build()));
    EXPECT_FALSE(Open(CmtBuilder().Version(4, 0).Add({ a }).Build()));
    EXPECT_TRUE(Open(CmtBuilder().Version(2, 99).Add({ a }).Build()));
    test::FormBuilder form("ORCM", "CMin", Endian::Big, false);
    EXPECT_FALSE(Open(test::FormBuilder(form).Chunk("INST", Bytes(200)).Build())); // no version
    EXPECT_FALSE(Open(form.Chunk("VERS", { 3, 0 }).Chunk("INST", Bytes(100)).Build()));
    EXPECT_FALSE(Open(CmtBuilder().Add({ a }).ClaimSamples(2).Build()));
    EXPECT_FALSE(Open(CmtBuilder().Groups(1, 4, { 127 }).Add({ a }).Build()));
    // A group beyond the stored records fails its sample.
    auto beyond = Open(CmtBuilder().Groups(2, 1, { 60, 127 }).Add({ a }).Build());
    ASSERT_TRUE(beyond);
    EXPECT_EQ(test::LoadFully(*beyond), -1);
}

TEST_F(Instrument, WriterRefusalsLeaveNothingWritten)
{
    ASafeFile writer(env.prompter);
    EXPECT_FALSE(WriteInstrumentFile(writer, env.prompter, dir.File("none.cmt"), {}));
    EXPECT_EQ(
        env.prompter.LastText(), "A Cardmill Instrument file must contain at least one sample.");

    const std::string deep = dir.Write(std::string(200, 'd') + "/" + std::string(60, 'e') + ".wav",
        WavBuilder().Frames(10).Build());
    std::vector<std::unique_ptr<MSoundFile>> sounds;
    auto sound = std::make_unique<MSoundFileWAV>(env.services);
    ASSERT_TRUE(sound->OpenSound(deep));
    sounds.push_back(std::move(sound));
    EXPECT_FALSE(
        WriteInstrumentFile(writer, env.prompter, dir.File("long.cmt"), std::move(sounds)));
    EXPECT_NE(env.prompter.LastText().find(deep), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(dir.File("long.cmt")));
    // Only the sound's folder.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 1);
}

TEST_F(Instrument, MovedSamplesAreFoundInRememberedFoldersAndMissingOnesAllNamed)
{
    CmtBuilder builder;
    builder.Groups(3, 1, { 40, 80, 127 });
    for (const char* name : { "a.wav", "b.wav", "c.wav" })
        builder.Add({ dir.File(name) });
    const Bytes cmt = builder.Build();
    // The samples are not where the instrument says; a and c are where another file came from.
    test::TempDir other;
    for (const char* name : { "a.wav", "c.wav" })
        other.Write(name, WavBuilder().Frames(10).Build());
    test::SkippingFinder finder;
    MissingFileLocator locator(env.prompter, &finder);
    env.services.locator = &locator;
    locator.NoteLoaded(other.File("elsewhere.wav"));
    auto instrument = Open(cmt);
    ASSERT_TRUE(instrument);
    EXPECT_EQ(test::LoadFully(*instrument), -1);
    EXPECT_EQ(finder.asked, std::vector<std::string> { "b.wav" });

    other.Write("b.wav", WavBuilder().Frames(10).Build());
    auto found = Open(cmt, "again.cmt");
    EXPECT_EQ(test::LoadFully(*found), 1);
    EXPECT_EQ(found->SampleAt(1, 0)->GetPath(), other.File("b.wav"));
    env.services.locator = nullptr;
}

TEST_F(Instrument, SamplesOfALibraryAreNamedByItsPathAndTheirKeyAndFoundWhereTheLibraryMoved)
{
    // A SoundFont of two samples; an instrument plays the second of them, then the first.
    test::SoundFontBuilder font;
    font.samples = { { "Soft", std::vector<std::int16_t>(300, 100), 0, 0, 22050, 60, 0 },
        { "Loud", std::vector<std::int16_t>(500, -200), 0, 0, 44100, 64, 0 } };
    font.instruments = { { "Keys", 0, 0, { { { { 53, 0 } } } } } };
    font.presets = { { "Grand", 0, 0, { { { { 41, 0 } } } } } };
    const std::string library = dir.Write("kit.sf2", font.Build());
    const Bytes cmt = CmtBuilder()
                          .Groups(2, 1, { 59, 127 })
                          .Add({ library + "#sample=1", 0, 64 })
                          .Add({ library + "#sample=0" })
                          .Build();
    auto instrument = Load(cmt);
    ASSERT_TRUE(instrument);
    const MSoundFile& loud = *instrument->SampleAt(0, 0);
    EXPECT_EQ(std::tuple(loud.GetFileName(), loud.GetFrameCount(), loud.SampleRate(),
                  loud.GetPath(), loud.Identity().place),
        std::tuple("Loud", 500u, 44100.0f, library + "#sample=1", "1"));
    EXPECT_EQ(instrument->SampleAt(1, 0)->GetFileName(), "Soft");
    EXPECT_NE(loud.Identity(), instrument->SampleAt(1, 0)->Identity());

    // The library moved into the instrument's folder: found there, its samples taken again.
    test::TempDir moved;
    const Bytes elsewhere = CmtBuilder().Add({ "/gone/away/kit.sf2#sample=1" }).Build();
    moved.Write("kit.sf2", font.Build());
    auto found = std::make_unique<MInstFileCardmill>(env.services);
    ASSERT_TRUE(found->OpenInstrument(moved.Write("found.cmt", elsewhere)));
    ASSERT_EQ(test::LoadFully(*found), 1);
    EXPECT_EQ(found->SampleAt(0, 0)->GetPath(), moved.File("kit.sf2") + "#sample=1");
    // One that names a sample the library doesn't hold fails by name.
    auto missing = Open(CmtBuilder().Add({ library + "#sample=7" }).Build(), "missing.cmt");
    ASSERT_TRUE(missing);
    EXPECT_EQ(test::LoadFully(*missing), -1);
    EXPECT_NE(env.prompter.LastText().find("kit.sf2"), std::string::npos)
        << env.prompter.LastText();
}

std::vector<int> Uppers(const KeyGroupEdit& edit)
{
    std::vector<int> keys;
    for (int g = 0; g < edit.GroupCount(); ++g)
        keys.push_back(edit.Upper(g));
    return keys;
}

TEST(KeyGroupEdit, NewUpperKeyPushesFollowingGroupsUntilOneHasRoom)
{
    ScriptedPrompter prompter;
    const std::array<std::uint8_t, 128> table { 40, 50, 60, 127 };
    KeyGroupEdit edit(table.data(), 4);

    EXPECT_EQ(edit.Apply(0, 0, 55, prompter), KeyGroupEdit::Outcome::Adjusted);
    EXPECT_EQ(Uppers(edit), (std::vector<int> { 55, 56, 60, 127 }));
    EXPECT_EQ(std::tuple(prompter.LastText(), prompter.shown.back().icon),
        std::tuple("Some or all following key groups have been adjusted for the new Upper Key.",
            Icon::Information));

    prompter.Forget();
    EXPECT_EQ(edit.Apply(2, 57, 70, prompter), KeyGroupEdit::Outcome::Accepted);
    EXPECT_EQ(Uppers(edit), (std::vector<int> { 55, 56, 70, 127 }));
    EXPECT_TRUE(prompter.shown.empty());
}

TEST(KeyGroupEdit, RefusalsInTheirOrderLeaveTheTableAlone)
{
    struct Case {
        int group, lower, upper;
        const char* message;
    };
    const Case cases[] = {
        { 1, 128, 131, "The Lower Key must be within the range C-2 to G8." },
        { 1, 60, 128, "The Upper Key must be within the range C-2 to G8." },
        { 1, 80, 70, "The Lower Key must be less than or equal to the Upper Key." },
        { 2, 1, 100, "The Lower Key must not overlap the previous key groups." },
        // A middle group up to 127 while one group follows.
        { 1, 60, 127, "The Upper Key must not overlap the following key groups." },
    };
    const std::array<std::uint8_t, 128> table { 59, 71, 127 };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        ScriptedPrompter prompter;
        KeyGroupEdit edit(table.data(), 3);
        EXPECT_EQ(edit.Apply(c.group, c.lower, c.upper, prompter), KeyGroupEdit::Outcome::Refused);
        EXPECT_EQ(Uppers(edit), (std::vector<int> { 59, 71, 127 }));
        ASSERT_EQ(prompter.shown.size(), 1u);
        EXPECT_EQ(std::tuple(prompter.shown[0].text, prompter.shown[0].icon),
            std::tuple(c.message, Icon::Error));
    }
}

} // namespace
} // namespace cardmill
