#include "model/instrument/MInstFileCardmill.h"

#include "model/ASafeFile.h"
#include "model/MissingFileLocator.h"
#include "model/sound/MSoundFileWAV.h"
#include "support/Fakes.h"
#include "support/Instruments.h"
#include "support/SoundHelpers.h"
#include "support/Steps.h"

#include <filesystem>

#include <gtest/gtest.h>

namespace cardmill {
namespace {

using test::Bytes;
using test::CmtBuilder;
using test::WavBuilder;

class Instrument : public ::testing::Test {
protected:
    std::string Wav(
        const std::string& name, std::uint32_t frames = 1000, std::vector<test::WavLoop> loops = {})
    {
        return dir.Write(name, WavBuilder().Frames(frames).Smpl(60, 0, loops).Build());
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
        if (!instrument)
            return nullptr;
        if (test::LoadFully(*instrument) != 1)
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
    EXPECT_EQ(voice[0], 0x13);
    EXPECT_EQ(voice[1], 4);
    EXPECT_EQ(std::string(voice.begin() + 2, voice.begin() + 12), "inst.cmt  ");
    EXPECT_EQ(voice[16], 72);
    EXPECT_EQ(one->GetCompiledSize(), 30u + 2034);

    CmtBuilder five;
    five.Groups(5, 2, { 20, 40, 60, 80, 127 });
    for (int i = 0; i < 10; ++i)
        five.Add({ Wav(test::Numbered("s", i, ".wav"), 100 + static_cast<std::uint32_t>(i)) });
    auto keyboard = Load(five.Build(), 0);
    ASSERT_TRUE(keyboard);
    EXPECT_EQ(keyboard->GetVoiceHeaderSize(), 142u);
    voice = Voice(*keyboard);
    EXPECT_EQ(voice[12], 4);
    EXPECT_EQ(voice[13], 1);
    EXPECT_EQ(std::vector<std::uint8_t>(voice.begin() + 16, voice.begin() + 22),
        (std::vector<std::uint8_t> { 20, 40, 60, 80, 127, 0 }));
    keyboard->SetCategory(9);
    EXPECT_EQ(keyboard->GetVoiceHeaderSize(), 42u);
    voice = Voice(*keyboard);
    EXPECT_EQ(voice[0], 0x38);
    EXPECT_EQ(voice[16], 0x80);
    EXPECT_EQ(voice[17], 0xEE); // left as the compile engine prepared it
    keyboard->SetCategory(11);
    EXPECT_EQ(keyboard->GetCategory(), 9);
}

TEST_F(Instrument, AMissingSampleRepeatsThePreviousHeader)
{
    auto instrument = Load(CmtBuilder()
                               .Groups(2, 1, { 60, 127 })
                               .Add({ Wav("a.wav") })
                               .Add({ Wav("b.wav", 500) })
                               .Build(),
        0);
    ASSERT_TRUE(instrument);
    instrument->AssignCardAddress(100);
    const auto before = Voice(*instrument);
    EXPECT_NE(std::vector<std::uint8_t>(before.begin() + 18, before.begin() + 30),
        std::vector<std::uint8_t>(before.begin() + 30, before.begin() + 42));
    env.services.sounds.Remove(instrument->SampleAt(1, 0)); // no longer registered: missing
    const auto after = Voice(*instrument);
    EXPECT_EQ(std::vector<std::uint8_t>(after.begin() + 18, after.begin() + 30),
        std::vector<std::uint8_t>(after.begin() + 30, after.begin() + 42));
}

TEST_F(Instrument, CompiledDataIsTheSamplesInWalkOrder)
{
    const Bytes a = WavBuilder().Frames(300).Build();
    const Bytes b = WavBuilder().Format(1, 1, 44100, 8).Frames(200).Build();
    auto instrument = Load(CmtBuilder()
                               .Groups(2, 1, { 60, 127 })
                               .Add({ dir.Write("a.wav", a) })
                               .Add({ dir.Write("b.wav", b) })
                               .Build());
    ASSERT_TRUE(instrument);
    auto soundA = test::Load<MSoundFileWAV>(env, a, "/x/other1.wav");
    auto soundB = test::Load<MSoundFileWAV>(env, b, "/x/other2.wav");
    auto expected = test::CardWords(*soundA);
    const auto wordsB = test::CardWords(*soundB);
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
        // The last is tuned by half a semitone (12800): only its low byte, 0, is stored.
        ASSERT_TRUE(sound->OpenSound(dir.Write(name,
            WavBuilder()
                .Frames(3000)
                .Smpl(60, sounds.size() == 2 ? 0x80000000u : 0, { { 0, 100, 2000 } })
                .Build())));
        sounds.push_back(std::move(sound));
    }
    ASafeFile writer(env.prompter);
    const std::string path = dir.File("three.cmt");
    ASSERT_TRUE(WriteInstrumentFile(writer, env.prompter, path, std::move(sounds)));
    const Bytes bytes = test::ReadFile(path);
    const ByteReader file(bytes);
    EXPECT_TRUE(file.HasCodeAt(22, "INST"));
    EXPECT_EQ(file.U32At(26, Endian::Big), 1314u);
    EXPECT_EQ(file.U8At(30), 2);
    EXPECT_EQ(file.U8At(34), 125);
    EXPECT_EQ(file.U8At(35), 126);
    EXPECT_EQ(file.U8At(36), 127);
    for (std::size_t k = 37; k < 34 + 128; ++k)
        ASSERT_EQ(file.U8At(k), 0) << k;
    EXPECT_EQ(file.U32At(30 + 132, Endian::Big), 3u * 6000);
    EXPECT_EQ(bytes.size(), 22u + 8 + 1314);

    auto instrument = std::make_unique<MInstFileCardmill>(env.services);
    ASSERT_TRUE(instrument->OpenInstrument(path));
    ASSERT_EQ(test::LoadFully(*instrument), 1);
    EXPECT_EQ(instrument->GroupCount(), 3);
    EXPECT_EQ(instrument->GetLoadedCount(), 3);
    const auto samples = instrument->Samples();
    ASSERT_EQ(samples.size(), 3u);
    EXPECT_EQ(samples[2]->GetPath(), dir.File("high.wav"));
    EXPECT_EQ(samples[0]->Params().loopStart, 100u);
    EXPECT_EQ(samples[0]->Params().loopEnd, 2000u);
    EXPECT_EQ(samples[0]->Params().looping, 1);
    EXPECT_EQ(samples[2]->Params().fineTune, 0);
}

TEST_F(Instrument, VersionRules)
{
    const std::string a = Wav("a.wav");
    EXPECT_TRUE(Open(CmtBuilder().Version(3, 15).Add({ a }).Build()));
    EXPECT_FALSE(Open(CmtBuilder().Version(3, 16).Add({ a }).Build()));
    EXPECT_FALSE(Open(CmtBuilder().Version(4, 0).Add({ a }).Build()));
    EXPECT_TRUE(Open(CmtBuilder().Version(2, 99).Add({ a }).Build()));
    EXPECT_FALSE(Open(
        test::FormBuilder("ORCM", "CMin", Endian::Big, false).Chunk("INST", Bytes(200)).Build()));
}

TEST_F(Instrument, CountsThatDoNotFitTheChunkAreRefused)
{
    const std::string a = Wav("a.wav");
    EXPECT_FALSE(Open(CmtBuilder().Add({ a }).ClaimSamples(2).Build()));
    EXPECT_FALSE(Open(CmtBuilder().Groups(1, 4, { 127 }).Add({ a }).Build()));
    EXPECT_FALSE(Open(test::FormBuilder("ORCM", "CMin", Endian::Big, false)
                          .Chunk("VERS", { 3, 0 })
                          .Chunk("INST", Bytes(100))
                          .Build()));
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
    EXPECT_EQ(
        std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 1); // the folder only
}

TEST_F(Instrument, CopiesOwnCopiesOfTheirSamples)
{
    auto instrument = Load(
        CmtBuilder().Groups(2, 1, { 60, 127 }).Add({ Wav("a.wav") }).Add({ Wav("b.wav") }).Build());
    auto copy = instrument->Duplicate();
    auto* other = dynamic_cast<MInstFileCardmill*>(copy.get());
    ASSERT_TRUE(other);
    EXPECT_NE(other->SampleAt(0, 0), instrument->SampleAt(0, 0));
    EXPECT_NE(other->SampleAt(0, 0)->GetId(), instrument->SampleAt(0, 0)->GetId());
    EXPECT_EQ(other->SampleAt(1, 0)->GetPath(), instrument->SampleAt(1, 0)->GetPath());
    EXPECT_EQ(other->GetCompiledSize(), instrument->GetCompiledSize());
    MInstFileCardmill unloaded(env.services);
    EXPECT_FALSE(unloaded.CopyFrom(unloaded));
}

TEST_F(Instrument, MovedSamplesAreFoundInRememberedFoldersAndMissingOnesAllNamed)
{
    const Bytes cmt = CmtBuilder()
                          .Groups(3, 1, { 40, 80, 127 })
                          .Add({ dir.File("a.wav") })
                          .Add({ dir.File("b.wav") })
                          .Add({ dir.File("c.wav") })
                          .Build();
    // The samples are not where the instrument says; a and c are where another file was loaded
    // from.
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

} // namespace
} // namespace cardmill
