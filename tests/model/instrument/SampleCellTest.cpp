#include "model/instrument/MInstFileSampleCell.h"
#include "model/sound/MSoundFile.h"
#include "support/Instruments.h"
#include "support/SoundHelpers.h"
#include "support/Steps.h"

#include <tuple>

#include <gtest/gtest.h>

namespace cardmill {
namespace {

using test::Bytes;
using test::SampleCellBuilder;
using test::WavBuilder;
using Zone = SampleCellBuilder::Zone;

class SampleCell : public ::testing::Test {
protected:
    SampleCell()
    {
        auto wav = WavBuilder().Format(1, 2, 44100, 16).Frames(2000);
        for (const char* name : { "a.wav", "b.wav", "c.wav" })
            dir.Write(name, wav.Smpl(60, 0, { { 0, 100, 1500 } }).Build());
    }

    /// A builder whose files and sample records are set up: sample i names file i.
    SampleCellBuilder Builder(bool pc, const std::string& code)
    {
        SampleCellBuilder builder(pc, code);
        for (const char* name : { "a.wav", "b.wav", "c.wav" })
            builder.File(pc ? std::string("C:\\Samples\\") + name : std::string(name));
        builder.Sample({ 0, 2, 0, 63, 1, 64 })
            .Sample({ 1, 1, 300, 64, 0, 70 })
            .Sample({ 2, 0, 0, 0, 1, 63 });
        return builder;
    }
    /// An instrument of the second layout and type SCin with these key maps.
    SampleCellBuilder Maps(const std::vector<SampleCellBuilder::Map>& maps)
    {
        SampleCellBuilder builder = Builder(false, "SCin");
        for (const auto& map : maps)
            builder.AddMap(map);
        return builder;
    }

    std::unique_ptr<MReadableFile> Create(const Bytes& bytes, const std::string& name = "inst.sc2")
    {
        return dispatcher.Create(dir.Write(name, bytes));
    }

    std::unique_ptr<MInstFileSampleCellChunked> Load(const Bytes& bytes)
    {
        auto file = Create(bytes);
        auto* instrument = dynamic_cast<MInstFileSampleCellChunked*>(file.get());
        if (!instrument)
            return nullptr;
        file.release();
        std::unique_ptr<MInstFileSampleCellChunked> owned(instrument);
        return test::LoadFully(*owned) == 1 ? std::move(owned) : nullptr;
    }

    test::TempDir dir;
    test::TestEnv env;
    MInstFileDispatcher dispatcher { env.services };
};

struct TypeCase {
    const char* name;
    bool pc;
    const char* code;
    std::uint16_t channel; // of a sample stored for channel 2
};

class SampleCellTypes : public SampleCell, public ::testing::WithParamInterface<TypeCase> { };

TEST_P(SampleCellTypes, EachLayoutAndTypeOpensWithItsOwnClassAndOnlyStereoTypesKeepAChannel)
{
    const TypeCase& c = GetParam();
    auto instrument = Load(Builder(c.pc, c.code).AddMap({ 127, { Zone { 0 } } }).Build());
    ASSERT_TRUE(instrument) << env.prompter.LastText();
    EXPECT_EQ(instrument->TypeCode(), std::string(c.code));
    EXPECT_EQ(instrument->SampleAt(0, 0)->GetChannel(), c.channel);
    // The PC layout names the file by a Windows path: it is found beside the instrument.
    EXPECT_EQ(instrument->SampleAt(0, 0)->GetPath(), dir.File("a.wav"));
}

INSTANTIATE_TEST_SUITE_P(AllTypes, SampleCellTypes,
    ::testing::Values(TypeCase { "SecondSCin", false, "SCin", 0 },
        TypeCase { "SecondSCsd", false, "SCsd", 0 }, TypeCase { "SecondSCsi", false, "SCsi", 2 },
        TypeCase { "SecondSCss", false, "SCss", 2 }, TypeCase { "PcSCin", true, "SCin", 0 },
        TypeCase { "PcSCsd", true, "SCsd", 0 }, TypeCase { "PcSCsi", true, "SCsi", 2 },
        TypeCase { "PcSCss", true, "SCss", 2 }),
    [](const auto& tested) { return std::string(tested.param.name); });

TEST_F(SampleCell, ZonesBecomeSampleParameters)
{
    auto instrument = Load(Builder(false, "SCsi")
                               .AddMap({ 64, { Zone { 0, 0, 99, 0, 48 } } })
                               .AddMap({ 127, { Zone { 1, 0, 0, 2, 300 } } })
                               .Build());
    ASSERT_TRUE(instrument);
    EXPECT_EQ(std::tuple(instrument->GroupCount(), instrument->UpperKeys()[0],
                  instrument->HasStartOffset()),
        std::tuple(2, 64, true));
    // Tunings of 63 and 64; a used loop's parameter byte converted, and without a loop 0's.
    const SampleParams& low = instrument->SampleAt(0, 0)->Params();
    EXPECT_EQ(std::tuple(low.rootKey, low.volume, low.fineTune, low.paramByte2, low.looping,
                  low.loopStart),
        std::tuple(48, 0.0f, 0, 200, 1, 100u));
    // A root off the keyboard is moved onto it, and the user told.
    const SampleParams& high = instrument->SampleAt(1, 0)->Params();
    EXPECT_EQ(std::tuple(high.rootKey, high.volume, high.fineTune, high.paramByte2, high.looping,
                  high.startFrame),
        std::tuple(127, -24.75f, 200, -12600, 0, 300u + 512));
    EXPECT_EQ(env.prompter.LastText(),
        "In the instrument file 'inst.sc2', the sample 'b.wav' gives the root key 300; it is used "
        "as 127.");
}

TEST_F(SampleCell, LayersComeFromTheMapsZones)
{
    const auto layers = [](const MInstFileSampleCellChunked& instrument) {
        return std::tuple(instrument.LayerMode(), instrument.GroupSize(), instrument.VoiceByte14(),
            instrument.VoiceByte15(), instrument.Simplified());
    };
    auto one = Load(Maps({ { 60, { Zone { 0 } } }, { 127, { Zone { 1 } } } }).Build());
    ASSERT_TRUE(one);
    EXPECT_EQ(layers(*one), std::tuple(1, 1, 128, 128, false));

    // Two layers keep the second zone's value.
    auto two = Load(Maps(
        { { 60, { Zone { 0, 0 }, Zone { 1, 9 } } }, { 127, { Zone { 2, 0 }, Zone { 1, 9 } } } })
                        .Build());
    ASSERT_TRUE(two);
    EXPECT_EQ(layers(*two), std::tuple(2, 2, 80, 128, false));
    EXPECT_EQ(two->KeptLayers()[0], 9);
    EXPECT_EQ(std::tuple(two->SampleAt(0, 0)->GetPath(), two->SampleAt(0, 1)->GetPath(),
                  two->SampleAt(1, 0)->GetPath()),
        std::tuple(dir.File("a.wav"), dir.File("b.wav"), dir.File("c.wav")));
    EXPECT_EQ(two->GetVoiceHeaderSize(), 16u + 2 + 2 * 2 * 12);

    // Three layers from the heaviest three-zone map. The one-zone map does not match the mode:
    // the instrument is simplified, and its single zone fills all three layers with one sample
    // whose data is given once.
    auto three = Load(Maps(
        { { 30, { Zone { 0, 0 }, Zone { 1, 4 }, Zone { 2, 10 } } },
            { 100, { Zone { 0, 0 }, Zone { 1, 6 }, Zone { 2, 12 } } }, { 127, { Zone { 0, 0 } } } })
                          .Build());
    ASSERT_TRUE(three);
    EXPECT_EQ(layers(*three), std::tuple(3, 3, 56, 104, true));
    EXPECT_EQ(std::tuple(three->KeptLayers()[0], three->KeptLayers()[1]), std::tuple(6, 12));
    EXPECT_EQ(three->SampleAt(2, 0), three->SampleAt(2, 2));
    // Map 0 loads its zones b and c (c twice: once), map 1 all three, map 2 its one zone.
    EXPECT_EQ(three->Samples().size(), 6u);
}

TEST_F(SampleCell, AnnotationBecomesTheComment)
{
    const auto comment = [&](const std::string& text, std::uint32_t length) {
        return Create(Maps({ { 127, { Zone { 0 } } } }).Annotation(text, length).Build(),
            std::to_string(length) + ".sc2")
            ->Comment();
    };
    EXPECT_EQ(std::tuple(comment("warm pad", 8), comment("x", 1), comment("", 0)),
        std::tuple("warm pad", "", ""));
}

TEST_F(SampleCell, TheFirstLayoutIsRecognisedButNeverAddedAndBadIndicesFailTheOpen)
{
    Bytes first(400, 0);
    std::copy_n("SCin", 4, first.begin() + 8);
    const std::string path = dir.Write("old.ins", first);
    EXPECT_TRUE(dispatcher.Recognises(path));
    EXPECT_FALSE(dispatcher.Create(path));
    // A file shorter than 122 bytes is tried with the first layout alone.
    Bytes small = Maps({ { 127, { Zone { 0 } } } }).Build();
    ASSERT_GE(small.size(), 122u);
    small.resize(121);
    EXPECT_FALSE(dispatcher.Create(dir.Write("small.sc2", small)));

    // A zone naming a sample record past the table, a record naming a file past the list, a
    // zone count past the chunk, no map at all.
    EXPECT_FALSE(Create(Maps({ { 127, { Zone { 7 } } } }).Build()));
    SampleCellBuilder missingFile(true, "SCin");
    missingFile.File("C:\\a.wav").Sample({ 5 }).AddMap({ 127, { Zone { 0 } } });
    EXPECT_FALSE(Create(missingFile.Build(), "d.sc2"));
    EXPECT_FALSE(Create(Maps({ { 127, { Zone { 0 } } } }).KeyBytes(18, 0x40).Build(), "e.sc2"));
    EXPECT_FALSE(Create(Maps({}).Build(), "f.sc2"));
}

} // namespace
} // namespace cardmill
