#include "model/APrefs.h"
#include "model/PendingFilesQueue.h"
#include "platform/SettingsStore.h"

#include <gtest/gtest.h>

namespace cardmill {
namespace {

TEST(APrefs, AChangedValueIsWrittenBackWhenThePreferencesGo)
{
    MemorySettingsStore store;
    {
        APrefs prefs(store);
        std::string error;
        EXPECT_TRUE(prefs.SetValue("SplitStereoFiles", "1", error));
    }
    EXPECT_EQ(store.GetInt("User", "SplitStereoFiles", 0), 1);
    EXPECT_EQ(store.GetText("User", "StartMarker", ""), "start here");
    EXPECT_EQ(APrefs(store).splitStereoFiles, 1);
}

TEST(PendingFilesQueue, HoldsAtMost31PathsFirstInFirstOut)
{
    PendingFilesQueue queue;
    for (int i = 0; i < 32; ++i)
        queue.Push("file" + std::to_string(i));
    EXPECT_EQ(queue.Count(), 31);
    std::string path;
    ASSERT_TRUE(queue.Pop(path));
    EXPECT_EQ(path, "file0");
    for (int i = 1; i < 31; ++i)
        ASSERT_TRUE(queue.Pop(path));
    EXPECT_EQ(path, "file30");
    EXPECT_FALSE(queue.Pop(path));
    queue.Push("again");
    queue.Clear();
    EXPECT_FALSE(queue.HasPending());
}

} // namespace
} // namespace cardmill
