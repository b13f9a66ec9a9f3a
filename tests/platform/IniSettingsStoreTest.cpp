#include "platform/IniSettingsStore.h"

#include "support/TestEnv.h"

#include <cstdlib>
#include <tuple>

#include <gtest/gtest.h>

namespace cardmill {
namespace {

TEST(IniSettingsStore, WritesSectionsAndReadsThemBackKeepingForeignLinesAndMakingItsFolder)
{
    test::TempDir dir;
    const std::string path = dir.Write(
        "Cardmill.conf", std::string("\xEF\xBB\xBF[User]\r\nOther=5\n; kept comment\n"));
    {
        IniSettingsStore store(path);
        EXPECT_EQ(store.GetInt("User", "Other", 0), 5);
        EXPECT_EQ(store.GetText("User", "Missing", "fallback"), "fallback");
        store.SetText("Hardware", "MidiInputPort", "Port 1");
        store.SetInt("User", "SplitStereoFiles", 1);
        ASSERT_TRUE(store.Flush());
    }
    IniSettingsStore again(path);
    EXPECT_EQ(std::tuple(again.GetText("Hardware", "MidiInputPort", ""),
                  again.GetInt("User", "SplitStereoFiles", 0), again.GetInt("User", "Other", 0)),
        std::tuple("Port 1", 1, 5));
    const std::string text = test::ReadText(path);
    EXPECT_NE(text.find("; kept comment"), std::string::npos);
    // The new key joins its section rather than a second [User] header.
    EXPECT_EQ(text.find("[User]"), text.rfind("[User]"));

    IniSettingsStore deep(dir.File("deep/er/Cardmill.conf"));
    deep.SetText("User", "StartMarker", "go");
    EXPECT_TRUE(deep.Flush());
    EXPECT_EQ(
        IniSettingsStore(dir.File("deep/er/Cardmill.conf")).GetText("User", "StartMarker", ""),
        "go");
}

TEST(IniSettingsStore, ConfigDirectoryPrefersOptionThenEnvironmentThenXdg)
{
    {
        const test::ScopedEnv config("CARDMILL_CONFIG_DIR", "/env/dir");
        EXPECT_EQ(IniSettingsStore::ConfigDirectory("/option"), "/option");
        EXPECT_EQ(IniSettingsStore::ConfigDirectory(""), "/env/dir");
    }
    const test::ScopedEnv config("CARDMILL_CONFIG_DIR", nullptr);
    const test::ScopedEnv xdg("XDG_CONFIG_HOME", "/xdg");
    EXPECT_EQ(IniSettingsStore::ConfigDirectory(""), "/xdg/Orvane Inc.");
}

} // namespace
} // namespace cardmill
