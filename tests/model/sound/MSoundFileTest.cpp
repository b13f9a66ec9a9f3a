#include "model/sound/MSoundFile.h"

#include "model/MReadableFileDispatcher.h"
#include "model/sound/MSoundFileWAV.h"
#include "model/sound/SampleEdit.h"
#include "support/SoundHelpers.h"

#include <filesystem>
#include <tuple>

#include <gtest/gtest.h>

namespace cardmill {
namespace {

using test::Bytes;
using test::WavBuilder;

class Sound : public ::testing::Test {
protected:
    std::unique_ptr<MSoundFileWAV> LoadWav(
        const WavBuilder& builder, const std::string& path = "/a/s.wav")
    {
        return test::Load<MSoundFileWAV>(env, builder.Build(), path);
    }
    /// The big-endian number in bytes `first` to `last` of a sample header.
    static std::uint32_t Field(const MSoundFile& sound, std::size_t first, std::size_t last)
    {
        const auto header = sound.BuildSampleHeader(false);
        std::uint32_t value = 0;
        for (std::size_t i = first; i <= last; ++i)
            value = (value << 8) | header[i];
        return value;
    }

    test::TestEnv env;
};

TEST_F(Sound, ANonLoopingSoundEndsInEightSilentFrames)
{
    Bytes data(2000);
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<std::uint8_t>(i * 13 + 1);
    auto sound = LoadWav(WavBuilder().Data(data));
    ASSERT_TRUE(sound);
    const SampleParams& p = sound->Params();
    EXPECT_EQ(std::tuple(p.looping, p.loopStart, p.loopEnd, sound->GetCompiledSize(),
                  sound->GetSampleDataSize()),
        std::tuple(0, 1001u, 1009u, 2064u, 2034u));
    std::vector<std::uint16_t> expected(1017, 0);
    for (std::size_t i = 0; i < 1000; ++i)
        expected[i] = static_cast<std::uint16_t>((data[2 * i + 1] << 8) | data[2 * i]);
    for (std::uint32_t piece : { 512u, 7u, 1u })
        EXPECT_EQ(test::CardWords(*sound, piece), expected) << piece;
}

struct LoopCase {
    const char* name;
    std::uint32_t frames;
    bool asksDefaultLoop;
};
class NonLoopingSound : public ::testing::TestWithParam<LoopCase> { };

TEST_P(NonLoopingSound, AsksForADefaultLoopOnlyPastTheCardsReach)
{
    const LoopCase& c = GetParam();
    test::TestEnv env;
    env.prompter.Push(Answer::Ok);
    auto sound = test::Load<MSoundFileWAV>(
        env, WavBuilder().Format(1, 1, 22050, 8).Frames(c.frames).Build(), "/a/long.wav");
    ASSERT_TRUE(sound);
    EXPECT_EQ(env.prompter.Asked(), c.asksDefaultLoop);
    const SampleParams& p = sound->Params();
    if (c.asksDefaultLoop) {
        EXPECT_EQ(env.prompter.LastText(),
            "The sound file long.wav is too long to be non-looping or contains a loop start out of "
            "range.\n\nYou can still use this file in the project if you choose to set a default "
            "loop of the entire file.");
        EXPECT_EQ(env.prompter.shown.back().icon, Icon::Warning);
        EXPECT_EQ(std::tuple(p.looping, p.loopStart, p.loopEnd), std::tuple(1, 0u, c.frames));
    } else {
        EXPECT_EQ(p.loopStart, c.frames + 1);
    }
}

INSTANTIATE_TEST_SUITE_P(Boundary, NonLoopingSound,
    ::testing::Values(LoopCase { "LastFrameInReach", 262127, false },
        LoopCase { "FirstFrameOutOfReach", 262128, true }),
    [](const auto& tested) { return std::string(tested.param.name); });

TEST_F(Sound, DecliningTheDefaultLoopFailsTheLoadUnlessAProjectIsOpening)
{
    const Bytes bytes = WavBuilder().Format(1, 1, 22050, 8).Frames(300000).Build();
    env.prompter.Push(Answer::Cancel);
    EXPECT_EQ(test::OpenInMemory<MSoundFileWAV>(env, bytes, "/a/long.wav")->LoadStep(), -1);
    env.services.projectLoading = true;
    env.prompter.Forget();
    auto again = test::OpenInMemory<MSoundFileWAV>(env, bytes, "/a/long.wav");
    EXPECT_EQ(again->LoadStep(), 1);
    EXPECT_FALSE(env.prompter.Asked());
    EXPECT_EQ(again->Params().looping, 1);
}

TEST_F(Sound, SampleHeaderPitchWordsAndAStartAfterTheLoopStart)
{
    EXPECT_EQ(Field(*LoadWav(WavBuilder().Frames(100)), 0, 1), 15735u);
    auto at48 = LoadWav(WavBuilder().Format(1, 1, 48000, 16).Frames(100).Smpl(61, 0x80000000u, {}));
    // 61 x 256 - trunc(12800 / 100)
    EXPECT_EQ(Field(*at48, 0, 1), 61u * 256 - 128);

    // A start after the loop start is taken only while the loop runs to the end of the data.
    auto sound = LoadWav(
        WavBuilder().Format(1, 1, 48000, 16).Frames(2000).Smpl(60, 0, { { 0, 100, 2000 } }));
    ASSERT_TRUE(sound);
    SampleParams params = sound->Params();
    params.startFrame = 500;
    ASSERT_TRUE(sound->SetParams(params));
    sound->AssignCardAddress(1000);
    const auto h = sound->BuildSampleHeader(true);
    // D = 400 in 18 bits over the low bits of byte 3 (its high bits 252) and bytes 4, 5;
    // S = 500 - 100 + 1000, with bit 7 of byte 9 set (the loop starts before the start);
    // E = (2000 - 500) + S, middle, low, high; bit 7 of byte 8 is smoothing with a start.
    EXPECT_EQ(
        std::tuple(h[3], (h[4] << 8) | h[5], h[9], (h[10] << 8) | h[11], (h[6] << 8) | h[7], h[8]),
        std::tuple(252, 400, 0x80, 1400, 2900, 0x80));
}

struct OffTheCardCase {
    const char* name;
    Bytes file;
    std::tuple<std::uint16_t, std::uint16_t, std::uint32_t, std::uint32_t> rootAndLoop;
    const char* told; // after "The sound file 'x' "
};
class ValuesOffTheCard : public ::testing::TestWithParam<OffTheCardCase> { };

TEST_P(ValuesOffTheCard, AreMovedOntoItAndToldOnceWhateverTheReader)
{
    const OffTheCardCase& c = GetParam();
    test::TestEnv env;
    test::TempDir dir;
    auto file = MSoundFileDispatcher(env.services).Create(dir.Write("x", c.file));
    auto* sound = dynamic_cast<MSoundFile*>(file.get());
    ASSERT_TRUE(sound && sound->LoadStep() == 1);
    const SampleParams& p = sound->Params();
    EXPECT_EQ(std::tuple(p.rootKey, p.looping, p.loopStart, p.loopEnd), c.rootAndLoop);
    // 1000 frames: the card holds them and a loop or silent tail, never a loop into nothing.
    EXPECT_LE(sound->GetSampleDataSize(), (1009u + 8) * 2);
    ASSERT_EQ(env.prompter.shown.size(), *c.told ? 1u : 0u);
    for (const auto& box : env.prompter.shown)
        EXPECT_EQ(std::tuple(box.text, box.icon),
            std::tuple(std::string("The sound file 'x' ") + c.told, Icon::Warning));
}

constexpr const char* kRootAndLoopTold = "gives the root key 200; it is used as 127.  It says its "
                                         "loop ends at frame 99999, past its 1000 frames; the loop "
                                         "is cut to end at frame 999.";

INSTANTIATE_TEST_SUITE_P(Readers, ValuesOffTheCard,
    ::testing::Values(OffTheCardCase { "Wav",
                          WavBuilder().Frames(1000).Smpl(200, 0, { { 0, 100, 99999 } }).Build(),
                          { 127, 1, 100, 999 }, kRootAndLoopTold },
        OffTheCardCase { "WavLoopStartingPastTheData",
            WavBuilder().Frames(1000).Smpl(60, 0, { { 0, 5000, 99999 } }).Build(),
            { 60, 0, 1001, 1009 },
            "says its loop runs from frame 5000 to frame 99999, past its 1000 frames; it is "
            "played without that loop." },
        OffTheCardCase { "Aiff",
            test::AiffBuilder()
                .Frames(1000)
                .Inst(200, 0, 0, { 1, 1, 2 }, {})
                .Markers({ { 1, 100, "" }, { 2, 99999, "" } })
                .Build(),
            { 127, 1, 100, 999 }, kRootAndLoopTold },
        OffTheCardCase { "SoundDesigner",
            test::SdBuilder().DataBytes(2000).Loop(0, 200, 199998, 1).Build(), { 60, 1, 100, 999 },
            "says its loop ends at frame 99999, past its 1000 frames; the loop is cut to end at "
            "frame 999." }),
    [](const auto& tested) { return std::string(tested.param.name); });

TEST_F(Sound, OnlyEvenLoopEntriesAreDefaultCandidates)
{
    auto sound = LoadWav(
        WavBuilder().Frames(3000).Smpl(60, 0, { { 0, 500, 900 }, { 0, 10, 20 }, { 0, 300, 800 } }));
    int first = 0, second = 0;
    EXPECT_EQ(
        std::tuple(sound->ChooseLoops(first, second), first, second, sound->Params().loopStart),
        std::tuple(2, 2, 0, 300u));
    auto one = LoadWav(WavBuilder().Frames(3000).Smpl(60, 0, { { 0, 500, 900 }, { 0, 10, 20 } }));
    EXPECT_EQ(std::tuple(one->ChooseLoops(first, second), first, second), std::tuple(1, 0, -1));
}

TEST_F(Sound, TheStartFrameStaysBeforeTheLoopAndTheCardDataFollowsIt)
{
    auto sound = LoadWav(WavBuilder().Frames(2000).Smpl(60, 0, { { 0, 100, 1500 } }));
    EXPECT_FALSE(sound->SetStartFrame(101)); // past the loop start while the file goes on
    EXPECT_TRUE(sound->SetStartFrame(100));
    EXPECT_EQ(std::tuple(sound->GetStartFrame(), sound->HasStartOffset(), sound->SpanFirst(),
                  sound->GetSampleDataSize()),
        std::tuple(100u, true, 100u, (1500u - 100 + 8) * 2));
    // Moved back in a whole record, the data grows to hold the new start again.
    SampleParams params = sound->Params();
    params.startFrame = 0;
    ASSERT_TRUE(sound->SetParams(params));
    EXPECT_EQ(std::tuple(sound->SpanFirst(), sound->GetSampleDataSize()),
        std::tuple(0u, (1500u + 8) * 2));
    // A stored start after the loop start, which the dialog's setter refuses, is kept: the card
    // plays it, flagged in the sample header (bit 7 of byte 9, the distance in bytes 3 to 5).
    params.startFrame = 500;
    ASSERT_TRUE(sound->SetParams(params));
    auto header = sound->BuildSampleHeader(true);
    EXPECT_EQ(std::tuple(sound->Params().startFrame, header[9] & 0x80, (header[4] << 8) | header[5],
                  sound->TakeValueChanges()),
        std::tuple(500u, 0x80, 400, test::Strings {}));
    // One after the loop end can't be played: it becomes the loop start, and the user is told.
    params.startFrame = 1600;
    ASSERT_TRUE(sound->SetParams(params));
    header = sound->BuildSampleHeader(true);
    EXPECT_EQ(std::tuple(sound->Params().startFrame, header[9] & 0x80, sound->TakeValueChanges()),
        std::tuple(100u, 0,
            test::Strings { "says it starts at frame 1600, after its loop end at frame 1500; it "
                            "starts at its loop start, frame 100" }));
}

TEST_F(Sound, ALoopWhoseEndIsNotAfterItsStartIsKeptButUnused)
{
    auto sound = LoadWav(
        WavBuilder().Frames(2000).Smpl(60, 0, { { 0, 900, 900 }, { 0, 5, 6 }, { 0, 700, 100 } }));
    ASSERT_EQ(sound->LoopCount(), 3);
    SoundLoop loop;
    sound->GetLoop(loop, 0);
    EXPECT_EQ(std::tuple(loop.valid, sound->Params().looping, sound->GetSampleDataSize()),
        std::tuple(false, 0, (2009u + 8) * 2));

    // A damaged stored record with such a loop is no loop either.
    SampleParams params = sound->Params();
    params.looping = 1;
    params.loopStart = 50;
    params.loopEnd = 10;
    ASSERT_TRUE(sound->SetParams(params));
    EXPECT_EQ(sound->Params().looping, 0);
    EXPECT_LT(sound->GetSampleDataSize(), 10000u);
}

class Sharing : public Sound {
protected:
    /// Whether each sound shares another's data.
    static std::vector<bool> Phantoms(std::initializer_list<const MSoundFile*> sounds)
    {
        std::vector<bool> phantoms;
        for (const MSoundFile* sound : sounds)
            phantoms.push_back(sound->IsPhantom());
        return phantoms;
    }
    std::unique_ptr<MSoundFileWAV> Mono(const std::string& path)
    {
        return LoadWav(WavBuilder().Frames(1000), path);
    }
};

TEST_F(Sharing, TheSameFileAndChannelShareAsThePreferencesAllow)
{
    auto a = Mono("/kit/kick.wav");
    auto b = Mono("/kit/kick.wav");
    EXPECT_EQ(Phantoms({ a.get(), b.get() }), (std::vector<bool> { false, true }));
    EXPECT_EQ(std::tuple(b->SharedWith(), b->GetSampleDataSize(), b->GetCompiledSize(),
                  test::CardWords(*b).size()),
        std::tuple(a->GetId(), 0u, 30u, 0u));
    // The phantom's header points into its owner's data.
    a->AssignCardAddress(5000);
    EXPECT_EQ(b->AssignCardAddress(9000), 9000u);
    EXPECT_EQ(Field(*b, 9, 11), 5000u);

    // Other folders share only when the preferences say so, and the name's case is no matter.
    env.prefs.allowPhantomsInAnyFolder = 0;
    EXPECT_FALSE(Mono("/kit2/KICK.wav")->IsPhantom());
    env.prefs.allowPhantomsInAnyFolder = 1;
    EXPECT_TRUE(Mono("/kit3/Kick.wav")->IsPhantom());
    env.prefs.allowPhantoms = 0;
    EXPECT_FALSE(Mono("/kit/kick.wav")->IsPhantom());
}

TEST_F(Sharing, OnlyTheSameDataOfTheSameChannelIsShared)
{
    const auto stereo = [&](std::uint16_t channel) {
        auto sound = LoadWav(WavBuilder().Format(1, 2, 44100, 16).Frames(1000), "/s/pad.wav");
        sound->SetChannel(channel);
        sound->UpdateCompiledSize();
        return sound;
    };
    auto left = stereo(1);
    auto right = stereo(2);
    auto leftAgain = stereo(1);
    // Files that only share a name: other bytes, length, rate or sample size.
    auto a = Mono("/kit1/kick.wav");
    auto same = Mono("/kit5/kick.wav");
    auto bytes = LoadWav(WavBuilder().Data(Bytes(2000, 0x11)), "/kit5/kick.wav");
    auto longer = LoadWav(WavBuilder().Frames(1200), "/kit2/kick.wav");
    auto rate = LoadWav(WavBuilder().Format(1, 1, 22050, 16).Frames(1000), "/kit3/kick.wav");
    auto bits = LoadWav(WavBuilder().Format(1, 1, 44100, 8).Frames(1000), "/kit4/kick.wav");
    EXPECT_EQ(Phantoms({ right.get(), leftAgain.get(), same.get(), bytes.get(), longer.get(),
                  rate.get(), bits.get() }),
        (std::vector<bool> { false, true, true, false, false, false, false }));
}

TEST_F(Sharing, AnOwnerThatLeavesHandsItsDataToTheFirstSharer)
{
    const auto looped = [&] {
        return LoadWav(WavBuilder().Frames(2000).Smpl(60, 0, { { 0, 100, 1000 } }), "/k/x.wav");
    };
    auto a = looped();
    auto b = looped();
    auto c = looped();
    SampleParams params = c->Params();
    params.loopEnd = 1900;
    ASSERT_TRUE(c->SetParams(params));
    // The owner's data widens to cover its sharers.
    EXPECT_EQ(std::tuple(c->SharedWith(), a->SpanLast()), std::tuple(a->GetId(), 1900u));

    a->Deactivate();
    EXPECT_EQ(std::tuple(b->IsPhantom(), c->SharedWith(), b->SpanLast()),
        std::tuple(false, b->GetId(), 1900u));
    a->Activate();
    EXPECT_EQ(a->SharedWith(), b->GetId());

    // Destroying the owner does the same: the first sharer in registration order takes over.
    b.reset();
    EXPECT_EQ(std::tuple(a->IsPhantom(), c->SharedWith(), a->SpanLast()),
        std::tuple(false, a->GetId(), 1900u));
}

TEST_F(Sharing, AnUnregisteredSoundTouchesNoOtherAndCopiesStartInactiveWithAnIdOfTheirOwn)
{
    auto a = Mono("/k/x.wav");
    auto b = Mono("/k/y.wav");
    auto fresh
        = test::OpenInMemory<MSoundFileWAV>(env, WavBuilder().Frames(1000).Build(), "/k/x.wav");
    ASSERT_EQ(fresh->GetId(), 0u);
    fresh->Unshare();
    EXPECT_EQ(Phantoms({ a.get(), b.get() }), (std::vector<bool> { false, false }));
    EXPECT_FALSE(fresh->ShareData());
    fresh.reset();
    EXPECT_EQ(Phantoms({ a.get(), b.get() }), (std::vector<bool> { false, false }));

    auto stereo = LoadWav(WavBuilder().Format(1, 2, 44100, 16).Frames(1000), "/k/z.wav");
    auto copy = stereo->Duplicate();
    auto* sound = dynamic_cast<MSoundFileWAV*>(copy.get());
    ASSERT_TRUE(sound);
    EXPECT_NE(sound->GetId(), stereo->GetId());
    EXPECT_EQ(std::tuple(
                  sound->IsInactive(), sound->SpanLast(), env.services.sounds.Find(sound->GetId())),
        std::tuple(true, stereo->SpanLast(), sound));
    auto active = stereo->DuplicateActive();
    auto& activeSound = dynamic_cast<MSoundFile&>(*active);
    EXPECT_FALSE(activeSound.IsInactive());
    // The stereo split: the copy takes the second channel and keeps its own data.
    activeSound.SetChannel(2);
    stereo->SetChannel(1);
    EXPECT_EQ(Phantoms({ stereo.get(), &activeSound }), (std::vector<bool> { false, false }));
}

TEST_F(Sound, CompileReportsAFileThatVanished)
{
    test::TempDir dir;
    const std::string path = dir.Write("gone.wav", WavBuilder().Frames(1000).Build());
    MSoundFileWAV sound(env.services);
    ASSERT_TRUE(sound.OpenSound(path));
    ASSERT_EQ(sound.LoadStep(), 1);
    NullProgressView progress;
    std::vector<std::uint8_t> buffer(4096);
    // Cut short, then gone: the second time the system says why.
    for (const std::string why : { "", ": No such file or directory." }) {
        if (why.empty())
            std::filesystem::resize_file(path, 100);
        else
            std::filesystem::remove(path);
        sound.BeginCompile(progress);
        std::uint32_t count = 512;
        EXPECT_EQ(sound.CompileChunk(progress, count, buffer), -1);
        EXPECT_EQ(env.prompter.LastText(),
            "Sorry, but Cardmill can't read the sound file '" + path + "'" + why);
    }
    EXPECT_EQ(env.prompter.beeps, 2);
}

TEST_F(Sound, AnEditIsCheckedInOrderWithItsRangesAndItsLoopEndsWithTheData)
{
    auto sound = LoadWav(WavBuilder().Frames(1000));
    ASSERT_TRUE(sound);
    bool changed = false;
    SampleEdit volume(*sound);
    volume.volume = 253;
    volume.startFrame = 5000; // also wrong: the volume is told first
    EXPECT_FALSE(volume.Apply(env.prompter, changed));
    EXPECT_EQ(env.prompter.LastText(), "The volume must be 0-252. Please enter a valid volume.");
    EXPECT_EQ(env.prompter.shown.back().icon, Icon::Error);

    SampleEdit loop(*sound);
    loop.looping = true;
    loop.loopStart = 1000;
    EXPECT_FALSE(loop.Apply(env.prompter, changed));
    EXPECT_EQ(
        env.prompter.LastText(), "The loop start must be 0-999. Please enter a valid loop start.");
    EXPECT_EQ(sound->Params().looping, 0);

    // A loop switched on ends with the data; switched off, the silent tail follows the data.
    SampleEdit on(*sound);
    on.looping = true;
    on.loopStart = 200;
    ASSERT_TRUE(on.Apply(env.prompter, changed));
    const SampleParams& p = sound->Params();
    EXPECT_EQ(std::tuple(p.looping, p.loopStart, p.loopEnd), std::tuple(1, 200u, 1000u));
    SampleEdit off(*sound);
    off.looping = false;
    ASSERT_TRUE(off.Apply(env.prompter, changed));
    EXPECT_EQ(std::tuple(p.looping, p.loopStart), std::tuple(0, 1001u));
}

} // namespace
} // namespace cardmill
