#include "model/instrument/KeyGroupEdit.h"

#include "model/MProject.h"
#include "model/sound/MSoundFileWAV.h"
#include "platform/ScriptedPrompter.h"
#include "support/SoundHelpers.h"

#include <gtest/gtest.h>

namespace cardmill {
namespace {

std::array<std::uint8_t, 128> Table(std::initializer_list<int> upper)
{
    std::array<std::uint8_t, 128> keys {};
    std::size_t g = 0;
    for (const int key : upper)
        keys[g++] = static_cast<std::uint8_t>(key);
    return keys;
}

std::vector<int> Uppers(const KeyGroupEdit& edit)
{
    std::vector<int> keys;
    for (int g = 0; g < edit.GroupCount(); ++g)
        keys.push_back(edit.Upper(g));
    return keys;
}

TEST(KeyGroupEdit, NewLowerKeyMovesPreviousGroupsDownEachKeepingOneKey)
{
    ScriptedPrompter prompter;
    const auto table = Table({ 59, 71, 127 });
    KeyGroupEdit edit(table.data(), 3);

    EXPECT_EQ(edit.Apply(2, 60, 127, prompter), KeyGroupEdit::Outcome::Adjusted);

    EXPECT_EQ(Uppers(edit), (std::vector<int> { 58, 59, 127 }));
    EXPECT_EQ(edit.Lower(1), 59);
    EXPECT_EQ(edit.Lower(2), 60);
    ASSERT_EQ(prompter.shown.size(), 1u);
    EXPECT_EQ(prompter.shown[0].text,
        "Some or all previous key groups have been adjusted for the new Lower Key.");
    EXPECT_EQ(prompter.shown[0].icon, Icon::Information);
}

TEST(KeyGroupEdit, NewUpperKeyPushesFollowingGroupsUntilOneHasRoom)
{
    ScriptedPrompter prompter;
    const auto table = Table({ 40, 50, 60, 127 });
    KeyGroupEdit edit(table.data(), 4);

    EXPECT_EQ(edit.Apply(0, 0, 55, prompter), KeyGroupEdit::Outcome::Adjusted);

    EXPECT_EQ(Uppers(edit), (std::vector<int> { 55, 56, 60, 127 }));
    EXPECT_EQ(prompter.LastText(),
        "Some or all following key groups have been adjusted for the new Upper Key.");
    EXPECT_EQ(prompter.shown.back().icon, Icon::Information);

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
    const auto table = Table({ 59, 71, 127 });
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        ScriptedPrompter prompter;
        KeyGroupEdit edit(table.data(), 3);
        EXPECT_EQ(edit.Apply(c.group, c.lower, c.upper, prompter), KeyGroupEdit::Outcome::Refused);
        EXPECT_EQ(Uppers(edit), (std::vector<int> { 59, 71, 127 }));
        ASSERT_EQ(prompter.shown.size(), 1u);
        EXPECT_EQ(prompter.shown[0].text, c.message);
        EXPECT_EQ(prompter.shown[0].icon, Icon::Error);
    }
}

TEST(KeyGroupEdit, VoiceNameMustNotBeEmptyAndAnEditIsStoredWithItsTime)
{
    ScriptedPrompter prompter;
    EXPECT_TRUE(CheckVoiceName("Piano", prompter));
    EXPECT_FALSE(CheckVoiceName("", prompter));
    EXPECT_EQ(prompter.LastText(), "Please enter the voice name.");

    test::TestEnv env;
    MProject project(env.prefs);
    auto sound = test::Load<MSoundFileWAV>(
        env, test::WavBuilder().Format(1, 1, 44100, 16).Frames(100).Build(), "/tmp/a.wav");
    ASSERT_TRUE(sound);
    project.ClearDirty();
    MarkEdited(*sound, project, env.clock);
    EXPECT_EQ(sound->ChangeTime(), SecondsSince1904(env.clock.Now()));
    EXPECT_TRUE(project.IsDirty());
}

} // namespace
} // namespace cardmill
