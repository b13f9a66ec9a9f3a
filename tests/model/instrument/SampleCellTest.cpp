#include "model/instrument/MInstFileSampleCell.h"
#include "model/sound/MSoundFile.h"
#include "support/Instruments.h"
#include "support/SoundHelpers.h"
#include "support/Steps.h"

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
        for (const char* name : { "a.wav", "b.wav", "c.wav" })
            dir.Write(name,
                WavBuilder()
                    .Format(1, 2, 44100, 16)
                    .Frames(2000)
                    .Smpl(60, 0, { { 0, 100, 1500 } })
                    .Build());
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
                               .AddMap({ 127, { Zone { 1, 0, 0, 2, 72 } } })
                               .Build());
    ASSERT_TRUE(instrument);
    EXPECT_EQ(instrument->GroupCount(), 2);
    EXPECT_EQ(instrument->UpperKeys()[0], 64);
    const SampleParams& low = instrument->SampleAt(0, 0)->Params();
    EXPECT_EQ(low.rootKey, 48);
    EXPECT_FLOAT_EQ(low.volume, 0.0f);
    EXPECT_EQ(low.fineTune, 0); // 63
    EXPECT_EQ(low.paramByte2, 200); // 64, the loop being used
    EXPECT_EQ(low.looping, 1);
    EXPECT_EQ(low.loopStart, 100u);
    const SampleParams& high = instrument->SampleAt(1, 0)->Params();
    EXPECT_EQ(high.rootKey, 72);
    EXPECT_FLOAT_EQ(high.volume, -24.75f);
    EXPECT_EQ(high.fineTune, 200);
    EXPECT_EQ(high.paramByte2, -12600); // no loop: the conversion of 0
    EXPECT_EQ(high.looping, 0);
    EXPECT_EQ(high.startFrame, 300u + 512);
    EXPECT_TRUE(instrument->HasStartOffset());
}

TEST_F(SampleCell, OneLayerWhenEveryMapHasOneZone)
{
    auto instrument = Load(Builder(false, "SCin")
                               .AddMap({ 60, { Zone { 0 } } })
                               .AddMap({ 127, { Zone { 1 } } })
                               .Build());
    ASSERT_TRUE(instrument);
    EXPECT_EQ(instrument->LayerMode(), 1);
    EXPECT_EQ(instrument->GroupSize(), 1);
    EXPECT_EQ(instrument->VoiceByte14(), 128);
    EXPECT_EQ(instrument->VoiceByte15(), 128);
    EXPECT_FALSE(instrument->Simplified());
}

TEST_F(SampleCell, TwoLayersKeepTheSecondZonesValue)
{
    auto instrument = Load(Builder(false, "SCin")
                               .AddMap({ 60, { Zone { 0, 0 }, Zone { 1, 9 } } })
                               .AddMap({ 127, { Zone { 2, 0 }, Zone { 1, 9 } } })
                               .Build());
    ASSERT_TRUE(instrument);
    EXPECT_EQ(instrument->LayerMode(), 2);
    EXPECT_EQ(instrument->KeptLayers()[0], 9);
    EXPECT_EQ(instrument->VoiceByte14(), 80);
    EXPECT_EQ(instrument->VoiceByte15(), 128);
    EXPECT_EQ(instrument->SampleAt(0, 0)->GetPath(), dir.File("a.wav"));
    EXPECT_EQ(instrument->SampleAt(0, 1)->GetPath(), dir.File("b.wav"));
    EXPECT_EQ(instrument->SampleAt(1, 0)->GetPath(), dir.File("c.wav"));
    EXPECT_FALSE(instrument->Simplified());
    EXPECT_EQ(instrument->GetVoiceHeaderSize(), 16u + 2 + 2 * 2 * 12);
}

TEST_F(SampleCell, ThreeLayersFromTheHeaviestThreeZoneMap)
{
    auto instrument = Load(Builder(false, "SCin")
                               .AddMap({ 30, { Zone { 0, 0 }, Zone { 1, 4 }, Zone { 2, 10 } } })
                               .AddMap({ 100, { Zone { 0, 0 }, Zone { 1, 6 }, Zone { 2, 12 } } })
                               .AddMap({ 127, { Zone { 0, 0 } } })
                               .Build());
    ASSERT_TRUE(instrument);
    EXPECT_EQ(instrument->LayerMode(), 3);
    EXPECT_EQ(instrument->KeptLayers()[0], 6);
    EXPECT_EQ(instrument->KeptLayers()[1], 12);
    EXPECT_EQ(instrument->VoiceByte14(), 56);
    EXPECT_EQ(instrument->VoiceByte15(), 104);
    // The one-zone map does not match the mode: the instrument is simplified, and its single
    // zone fills all three layers with one sample whose data is given once.
    EXPECT_TRUE(instrument->Simplified());
    EXPECT_EQ(instrument->SampleAt(2, 0), instrument->SampleAt(2, 2));
    // Map 0 loads its zones b and c (c twice: once), map 1 all three, map 2 its one zone.
    EXPECT_EQ(instrument->Samples().size(), 6u);
}

TEST_F(SampleCell, AnnotationBecomesTheComment)
{
    auto with = Create(
        Builder(false, "SCin").AddMap({ 127, { Zone { 0 } } }).Annotation("warm pad", 8).Build());
    EXPECT_EQ(with->GetComment(), "warm pad");
    auto one = Create(
        Builder(false, "SCin").AddMap({ 127, { Zone { 0 } } }).Annotation("x", 1).Build(), "b.sc2");
    EXPECT_EQ(one->Comment(), "");
    auto none = Create(
        Builder(false, "SCin").AddMap({ 127, { Zone { 0 } } }).Annotation("", 0).Build(), "c.sc2");
    EXPECT_EQ(none->Comment(), "");
}

TEST_F(SampleCell, TheFirstLayoutIsRecognisedButNeverAdded)
{
    Bytes first(400, 0);
    first[8] = 'S';
    first[9] = 'C';
    first[10] = 'i';
    first[11] = 'n';
    const std::string path = dir.Write("old.ins", first);
    EXPECT_TRUE(dispatcher.Recognises(path));
    EXPECT_FALSE(dispatcher.Create(path));
    // A file shorter than 122 bytes is tried with the first layout alone.
    Bytes small = Builder(false, "SCin").AddMap({ 127, { Zone { 0 } } }).Build();
    ASSERT_GE(small.size(), 122u);
    small.resize(121);
    EXPECT_FALSE(dispatcher.Create(dir.Write("small.sc2", small)));
}

TEST_F(SampleCell, BadIndicesFailTheOpen)
{
    // A zone naming a sample record past the table, a record naming a file past the list, a
    // zone count past the chunk.
    EXPECT_FALSE(Create(Builder(false, "SCin").AddMap({ 127, { Zone { 7 } } }).Build()));
    SampleCellBuilder missingFile(true, "SCin");
    missingFile.File("C:\\a.wav").Sample({ 5 }).AddMap({ 127, { Zone { 0 } } });
    EXPECT_FALSE(Create(missingFile.Build(), "d.sc2"));
    EXPECT_FALSE(
        Create(Builder(false, "SCin").AddMap({ 127, { Zone { 0 } } }).KeyBytes(18, 0x40).Build(),
            "e.sc2"));
    EXPECT_FALSE(Create(Builder(false, "SCin").Build(), "f.sc2")); // no map at all
}

} // namespace
} // namespace cardmill
