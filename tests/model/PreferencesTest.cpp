#include "model/APrefs.h"
#include "model/PendingFilesQueue.h"
#include "platform/SettingsStore.h"

#include <gtest/gtest.h>

namespace cardmill {
namespace {

TEST(APrefs, DefaultsWithNothingStoredAndWrittenBackOnDestruction)
{
    MemorySettingsStore store;
    {
        APrefs prefs(store);
        EXPECT_EQ(prefs.midiInputPort, "");
        EXPECT_EQ(prefs.midiOutputPort, "");
        EXPECT_EQ(prefs.startMarker, "start here");
        EXPECT_EQ(prefs.allowPhantoms, 1);
        EXPECT_EQ(prefs.allowPhantomsInAnyFolder, 1);
        EXPECT_EQ(prefs.eraseSectorBeforeWriting, 1);
        EXPECT_EQ(prefs.splitStereoFiles, 0);
        EXPECT_EQ(prefs.defaultCardSizeToken, 1);
        std::string error;
        EXPECT_TRUE(prefs.SetValue("SplitStereoFiles", "1", error));
    }
    EXPECT_EQ(store.GetInt("User", "SplitStereoFiles", 0), 1);
    EXPECT_EQ(store.GetText("User", "StartMarker", ""), "start here");
    EXPECT_EQ(APrefs(store).splitStereoFiles, 1);
}

TEST(PendingFilesQueue, HoldsAtMost31Paths)
{
    PendingFilesQueue queue;
    EXPECT_FALSE(queue.HasPending());
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
