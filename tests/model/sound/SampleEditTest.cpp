#include "model/sound/SampleEdit.h"

#include "model/sound/MSoundFileWAV.h"
#include "support/SoundHelpers.h"

#include <gtest/gtest.h>

namespace cardmill {
namespace {

using test::WavBuilder;

class SampleEditing : public ::testing::Test {
protected:
    std::unique_ptr<MSoundFileWAV> Sound(WavBuilder builder)
    {
        return test::Load<MSoundFileWAV>(env, builder.Build(), "/tmp/sample-edit.wav");
    }

    test::TestEnv env;
};

TEST_F(SampleEditing, VolumeStartAndLoopStartAreCheckedInOrderWithTheirRanges)
{
    auto sound = Sound(WavBuilder().Format(1, 1, 44100, 16).Frames(1000));
    ASSERT_TRUE(sound);
    bool changed = false;

    SampleEdit volume(*sound);
    volume.volume = 253;
    volume.startFrame = 5000; // also wrong: the volume is told first
    EXPECT_FALSE(volume.Apply(env.prompter, changed));
    EXPECT_EQ(env.prompter.LastText(), "The volume must be 0-252. Please enter a valid volume.");
    EXPECT_EQ(env.prompter.shown.back().icon, Icon::Error);

    SampleEdit start(*sound);
    start.startFrame = 1000;
    EXPECT_FALSE(start.Apply(env.prompter, changed));
    EXPECT_EQ(env.prompter.LastText(),
        "The start frame must be 0-999. Please enter a valid start frame.");

    SampleEdit loop(*sound);
    loop.looping = true;
    loop.loopStart = 1000;
    EXPECT_FALSE(loop.Apply(env.prompter, changed));
    EXPECT_EQ(
        env.prompter.LastText(), "The loop start must be 0-999. Please enter a valid loop start.");
    EXPECT_EQ(sound->Params().looping, 0);

    SampleEdit accepted(*sound);
    accepted.volume = 252;
    accepted.rootKey = 72;
    accepted.startFrame = 10;
    ASSERT_TRUE(accepted.Apply(env.prompter, changed));
    EXPECT_EQ(VolumeByte(sound->Params().volume), 252);
    EXPECT_EQ(sound->GetRootKey(), 72);
    EXPECT_EQ(sound->Params().startFrame, 10u);
}

TEST_F(SampleEditing, LoopSwitchedOnEndsWithTheDataAndOffLeavesTheSilentTail)
{
    auto sound = Sound(WavBuilder().Format(1, 1, 44100, 16).Frames(1000));
    ASSERT_TRUE(sound);
    bool changed = false;

    SampleEdit on(*sound);
    on.looping = true;
    on.loopStart = 200;
    ASSERT_TRUE(on.Apply(env.prompter, changed));
    EXPECT_EQ(sound->Params().looping, 1);
    EXPECT_EQ(sound->Params().loopStart, 200u);
    EXPECT_EQ(sound->Params().loopEnd, 1000u);

    SampleEdit off(*sound);
    off.looping = false;
    ASSERT_TRUE(off.Apply(env.prompter, changed));
    EXPECT_EQ(sound->Params().looping, 0);
    EXPECT_EQ(sound->Params().loopStart, 1001u);
}

TEST_F(SampleEditing, RootAboveG8IsRefusedAndStereoChannelChangesTheContent)
{
    auto sound = Sound(WavBuilder().Format(1, 2, 44100, 16).Frames(100));
    ASSERT_TRUE(sound);
    SampleEdit edit(*sound);
    EXPECT_FALSE(edit.ChooseRoot(128, env.prompter));
    EXPECT_EQ(env.prompter.LastText(), "The root note must be within the range C-2 to G8.");
    EXPECT_EQ(edit.rootKey, 60);
    EXPECT_TRUE(edit.ChooseRoot(127, env.prompter));

    edit.channel = 2;
    bool changed = false;
    ASSERT_TRUE(edit.Apply(env.prompter, changed));
    EXPECT_TRUE(changed);
    EXPECT_EQ(sound->GetChannel(), 2);
    EXPECT_EQ(sound->GetRootKey(), 127);
}

} // namespace
} // namespace cardmill
