#include "model/sound/MSoundFile.h"

#include "model/sound/MSoundFileWAV.h"
#include "support/SoundHelpers.h"

#include <filesystem>

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

    test::TestEnv env;
};

TEST_F(Sound, PitchWordOf44kAtRoot60)
{
    auto sound = LoadWav(WavBuilder().Frames(100));
    ASSERT_TRUE(sound);
    const auto h = sound->BuildSampleHeader(false);
    EXPECT_EQ((h[0] << 8) | h[1], 15735);
    auto at48 = LoadWav(WavBuilder().Format(1, 1, 48000, 16).Frames(100).Smpl(61, 0x80000000u, {}));
    const auto h48 = at48->BuildSampleHeader(false);
    // 61 x 256 - trunc(12800 / 100)
    EXPECT_EQ((h48[0] << 8) | h48[1], 61 * 256 - 128);
}

TEST_F(Sound, ANonLoopingSoundEndsInEightSilentFrames)
{
    Bytes data(2000);
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<std::uint8_t>(i * 13 + 1);
    auto sound = LoadWav(WavBuilder().Data(data));
    ASSERT_TRUE(sound);
    EXPECT_EQ(sound->Params().looping, 0);
    EXPECT_EQ(sound->Params().loopStart, 1001u);
    EXPECT_EQ(sound->Params().loopEnd, 1009u);
    EXPECT_EQ(sound->GetCompiledSize(), 2064u);
    EXPECT_EQ(sound->GetSampleDataSize(), 2034u);
    for (std::uint32_t piece : { 512u, 7u, 1u }) {
        const auto words = test::CardWords(*sound, piece);
        ASSERT_EQ(words.size(), 1017u) << piece;
        for (std::size_t i = 0; i < 1000; ++i)
            ASSERT_EQ(words[i], (data[2 * i + 1] << 8) | data[2 * i]) << i;
        for (std::size_t i = 1000; i < 1017; ++i)
            ASSERT_EQ(words[i], 0) << i;
    }
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
    if (c.asksDefaultLoop) {
        EXPECT_EQ(env.prompter.LastText(),
            "The sound file long.wav is too long to be non-looping or contains a loop start out of "
            "range.\n\nYou can still use this file in the project if you choose to set a default "
            "loop of the entire file.");
        EXPECT_EQ(env.prompter.shown.back().icon, Icon::Warning);
        EXPECT_EQ(sound->Params().looping, 1);
        EXPECT_EQ(sound->Params().loopStart, 0u);
        EXPECT_EQ(sound->Params().loopEnd, c.frames);
    } else {
        EXPECT_EQ(sound->Params().loopStart, c.frames + 1);
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
    auto sound = test::OpenInMemory<MSoundFileWAV>(env, bytes, "/a/long.wav");
    EXPECT_EQ(sound->LoadStep(), -1);
    env.services.projectLoading = true;
    env.prompter.Forget();
    auto again = test::OpenInMemory<MSoundFileWAV>(env, bytes, "/a/long.wav");
    EXPECT_EQ(again->LoadStep(), 1);
    EXPECT_FALSE(env.prompter.Asked());
    EXPECT_EQ(again->Params().looping, 1);
}

TEST_F(Sound, SampleHeaderOfAStartAfterTheLoopStart)
{
    auto sound = LoadWav(
        WavBuilder().Format(1, 1, 48000, 16).Frames(2000).Smpl(60, 0, { { 0, 100, 1500 } }));
    ASSERT_TRUE(sound);
    SampleParams params = sound->Params();
    params.startFrame = 500;
    ASSERT_TRUE(sound->SetParams(params));
    sound->SetSmoothing(1);
    sound->AssignCardAddress(1000);
    const auto h = sound->BuildSampleHeader(true);
    // D = 400 in 18 bits over the low bits of byte 3 and bytes 4, 5
    EXPECT_EQ(h[3] & 3, 0);
    EXPECT_EQ((h[4] << 8) | h[5], 400);
    EXPECT_EQ(h[3] & 0xFC, 252);
    // S = 500 - 100 + 1000, with bit 7 of byte 9 set (the loop starts before the start)
    EXPECT_EQ(h[9], 0x80);
    EXPECT_EQ((h[10] << 8) | h[11], 1400);
    // E = (1500 - 500) + S, middle, low, high; bit 7 of byte 8 is smoothing with a start
    EXPECT_EQ((h[6] << 8) | h[7], 2400);
    EXPECT_EQ(h[8], 0x80);
}

TEST_F(Sound, OnlyEvenLoopEntriesAreDefaultCandidates)
{
    auto sound = LoadWav(
        WavBuilder().Frames(3000).Smpl(60, 0, { { 0, 500, 900 }, { 0, 10, 20 }, { 0, 300, 800 } }));
    int first = 0, second = 0;
    EXPECT_EQ(sound->ChooseLoops(first, second), 2);
    EXPECT_EQ(first, 2);
    EXPECT_EQ(second, 0);
    EXPECT_EQ(sound->Params().loopStart, 300u);

    auto one = LoadWav(WavBuilder().Frames(3000).Smpl(60, 0, { { 0, 500, 900 }, { 0, 10, 20 } }));
    EXPECT_EQ(one->ChooseLoops(first, second), 1);
    EXPECT_EQ(first, 0);
    EXPECT_EQ(second, -1);
}

TEST_F(Sound, TheStartFrameStaysBeforeTheLoopAndTheCardDataFollowsIt)
{
    auto sound = LoadWav(WavBuilder().Frames(2000).Smpl(60, 0, { { 0, 100, 1500 } }));
    EXPECT_FALSE(sound->SetStartFrame(101)); // past the loop start while the file goes on
    EXPECT_TRUE(sound->SetStartFrame(100));
    EXPECT_EQ(sound->GetStartFrame(), 100u);
    EXPECT_TRUE(sound->HasStartOffset());
    EXPECT_EQ(sound->SpanFirst(), 100u);
    EXPECT_EQ(sound->GetSampleDataSize(), (1500u - 100 + 8) * 2);
    // Moved back in a whole record, the data grows to hold the new start again.
    SampleParams params = sound->Params();
    params.startFrame = 0;
    ASSERT_TRUE(sound->SetParams(params));
    EXPECT_EQ(sound->SpanFirst(), 0u);
    EXPECT_EQ(sound->GetSampleDataSize(), (1500u + 8) * 2);
}

TEST_F(Sound, ALoopWhoseEndIsNotAfterItsStartIsKeptButUnused)
{
    auto sound = LoadWav(
        WavBuilder().Frames(2000).Smpl(60, 0, { { 0, 900, 900 }, { 0, 5, 6 }, { 0, 700, 100 } }));
    ASSERT_EQ(sound->LoopCount(), 3);
    SoundLoop loop;
    sound->GetLoop(loop, 0);
    EXPECT_FALSE(loop.valid);
    EXPECT_EQ(sound->Params().looping, 0);
    EXPECT_EQ(sound->GetSampleDataSize(), (2009u + 8) * 2);

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
    std::unique_ptr<MSoundFileWAV> Stereo(const std::string& path, std::uint16_t channel)
    {
        auto sound = LoadWav(WavBuilder().Format(1, 2, 44100, 16).Frames(1000), path);
        sound->SetChannel(channel);
        sound->UpdateCompiledSize();
        return sound;
    }
};

TEST_F(Sharing, TheSameFileAndChannelShareAsThePreferencesAllow)
{
    auto a = LoadWav(WavBuilder().Frames(1000), "/kit/kick.wav");
    auto b = LoadWav(WavBuilder().Frames(1000), "/kit/kick.wav");
    EXPECT_FALSE(a->IsPhantom());
    EXPECT_TRUE(b->IsPhantom());
    EXPECT_EQ(b->SharedWith(), a->GetId());
    EXPECT_EQ(b->GetSampleDataSize(), 0u);
    EXPECT_EQ(b->GetCompiledSize(), 30u);
    EXPECT_EQ(test::CardWords(*b).size(), 0u);
    // The phantom's header points into its owner's data.
    a->AssignCardAddress(5000);
    EXPECT_EQ(b->AssignCardAddress(9000), 9000u);
    const auto h = b->BuildSampleHeader(false);
    EXPECT_EQ((h[9] << 16) | (h[10] << 8) | h[11], 5000);

    // Other folders share only when the preferences say so, and the name's case is no matter.
    env.prefs.allowPhantomsInAnyFolder = 0;
    EXPECT_FALSE(LoadWav(WavBuilder().Frames(1000), "/kit2/KICK.wav")->IsPhantom());
    env.prefs.allowPhantomsInAnyFolder = 1;
    EXPECT_TRUE(LoadWav(WavBuilder().Frames(1000), "/kit3/Kick.wav")->IsPhantom());
    env.prefs.allowPhantoms = 0;
    EXPECT_FALSE(LoadWav(WavBuilder().Frames(1000), "/kit/kick.wav")->IsPhantom());
}

TEST_F(Sharing, OnlyTheSameDataOfTheSameChannelIsShared)
{
    auto left = Stereo("/s/pad.wav", 1);
    auto right = Stereo("/s/pad.wav", 2);
    EXPECT_FALSE(right->IsPhantom());
    EXPECT_TRUE(Stereo("/s/pad.wav", 1)->IsPhantom());
    // Files that only share a name: other length, rate, sample size or bytes.
    auto a = LoadWav(WavBuilder().Frames(1000), "/kit1/kick.wav");
    EXPECT_TRUE(LoadWav(WavBuilder().Frames(1000), "/kit5/kick.wav")->IsPhantom());
    EXPECT_FALSE(LoadWav(WavBuilder().Data(Bytes(2000, 0x11)), "/kit5/kick.wav")->IsPhantom());
    EXPECT_FALSE(LoadWav(WavBuilder().Frames(1200), "/kit2/kick.wav")->IsPhantom());
    EXPECT_FALSE(
        LoadWav(WavBuilder().Format(1, 1, 22050, 16).Frames(1000), "/kit3/kick.wav")->IsPhantom());
    EXPECT_FALSE(
        LoadWav(WavBuilder().Format(1, 1, 44100, 8).Frames(1000), "/kit4/kick.wav")->IsPhantom());
}

TEST_F(Sharing, AnOwnerThatLeavesHandsItsDataToTheFirstSharer)
{
    auto a = LoadWav(WavBuilder().Frames(2000).Smpl(60, 0, { { 0, 100, 1000 } }), "/k/x.wav");
    auto b = LoadWav(WavBuilder().Frames(2000).Smpl(60, 0, { { 0, 100, 1000 } }), "/k/x.wav");
    auto c = LoadWav(WavBuilder().Frames(2000).Smpl(60, 0, { { 0, 100, 1000 } }), "/k/x.wav");
    SampleParams params = c->Params();
    params.loopEnd = 1900;
    ASSERT_TRUE(c->SetParams(params));
    EXPECT_EQ(c->SharedWith(), a->GetId());
    EXPECT_EQ(a->SpanLast(), 1900u); // the owner's data widens to cover its sharers

    a->Deactivate();
    EXPECT_FALSE(b->IsPhantom());
    EXPECT_EQ(c->SharedWith(), b->GetId());
    EXPECT_EQ(b->SpanLast(), 1900u);
    a->Activate();
    EXPECT_EQ(a->SharedWith(), b->GetId());

    // Destroying the owner does the same: the first sharer in registration order takes over.
    b.reset();
    EXPECT_FALSE(a->IsPhantom());
    EXPECT_EQ(c->SharedWith(), a->GetId());
    EXPECT_EQ(a->SpanLast(), 1900u);
}

TEST_F(Sharing, AnUnregisteredSoundTouchesNoOtherSound)
{
    auto a = LoadWav(WavBuilder().Frames(1000), "/k/x.wav");
    auto b = LoadWav(WavBuilder().Frames(1000), "/k/y.wav");
    auto fresh
        = test::OpenInMemory<MSoundFileWAV>(env, WavBuilder().Frames(1000).Build(), "/k/x.wav");
    ASSERT_EQ(fresh->GetId(), 0u);
    fresh->Unshare();
    EXPECT_FALSE(a->IsPhantom());
    EXPECT_FALSE(b->IsPhantom());
    EXPECT_FALSE(fresh->ShareData());
    fresh.reset();
    EXPECT_FALSE(a->IsPhantom());
    EXPECT_FALSE(b->IsPhantom());
}

TEST_F(Sharing, CopiesStartInactiveWithAnIdOfTheirOwn)
{
    auto a = LoadWav(WavBuilder().Format(1, 2, 44100, 16).Frames(1000), "/k/x.wav");
    auto copy = a->Duplicate();
    auto* sound = dynamic_cast<MSoundFileWAV*>(copy.get());
    ASSERT_TRUE(sound);
    EXPECT_NE(sound->GetId(), a->GetId());
    EXPECT_TRUE(sound->IsInactive());
    EXPECT_EQ(sound->SpanLast(), a->SpanLast());
    EXPECT_EQ(env.services.sounds.Find(sound->GetId()), sound);
    auto active = a->DuplicateActive();
    EXPECT_FALSE(dynamic_cast<MSoundFile&>(*active).IsInactive());
    // The stereo split: the copy takes the second channel and keeps its own data.
    dynamic_cast<MSoundFile&>(*active).SetChannel(2);
    a->SetChannel(1);
    EXPECT_FALSE(a->IsPhantom());
    EXPECT_FALSE(dynamic_cast<MSoundFile&>(*active).IsPhantom());
}

TEST_F(Sound, CompileReportsAFileThatVanished)
{
    test::TempDir dir;
    const std::string path = dir.Write("gone.wav", WavBuilder().Frames(1000).Build());
    MSoundFileWAV sound(env.services);
    ASSERT_TRUE(sound.OpenSound(path));
    ASSERT_EQ(sound.LoadStep(), 1);
    std::filesystem::resize_file(path, 100);
    NullProgressView progress;
    std::vector<std::uint8_t> buffer(4096);
    sound.BeginCompile(progress);
    std::uint32_t count = 512;
    EXPECT_EQ(sound.CompileChunk(progress, count, buffer), -1);
    EXPECT_EQ(env.prompter.beeps, 1);
    EXPECT_EQ(
        env.prompter.LastText(), "Sorry, but Cardmill can't read the sound file '" + path + "'");
}

} // namespace
} // namespace cardmill
