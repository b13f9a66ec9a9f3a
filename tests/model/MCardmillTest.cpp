#include "model/MCardmill.h"

#include "model/APrefs.h"
#include "model/ASafeFile.h"
#include "model/MProject.h"
#include "model/PendingFilesQueue.h"
#include "platform/IniSettingsStore.h"
#include "support/FakeFile.h"
#include "support/Fakes.h"
#include "support/TestEnv.h"

#include <filesystem>
#include <sys/stat.h>
#include <tuple>
#include <unistd.h>

#include <gtest/gtest.h>

namespace cardmill {
namespace {

namespace fs = std::filesystem;

class Controller : public ::testing::Test, protected test::ControllerDoubles {
protected:
    void SetUp() override { ASSERT_TRUE(controller.Startup()); }

    void MakeDirty()
    {
        controller.Project().AddItem(
            std::make_unique<test::FakeFile>(controller.GetServices(), 0, 1));
    }

    test::TempDir dir;
};

TEST_F(Controller, NewAndCloseAskOnlyForADirtyProjectWithTheCardNameAndYesOpensSaveAs)
{
    controller.NewProject();
    EXPECT_TRUE(prompter.shown.empty());
    EXPECT_EQ(std::tuple(ui.resets, ui.selected), std::tuple(1, 0));

    MakeDirty();
    prompter.Push(Answer::Yes);
    controller.NewProject(); // the save dialog is cancelled: New does not go on
    ASSERT_EQ(prompter.shown.size(), 1u);
    EXPECT_EQ(std::tuple(prompter.shown[0].text, prompter.shown[0].buttons, prompter.shown[0].icon),
        std::tuple(
            "Save changes to the Cardmill document untitled?", Buttons::YesNoCancel, Icon::None));
    EXPECT_EQ(ui.proposedNames, std::vector<std::string> { "untitled" });
    EXPECT_EQ(std::tuple(ui.resets, controller.Project().IsDirty()), std::tuple(1, true));

    prompter.Push(Answer::Cancel);
    EXPECT_FALSE(controller.QueryClose());
    prompter.Push(Answer::No);
    EXPECT_TRUE(controller.QueryClose());
    prompter.Push(Answer::No);
    controller.NewProject();
    EXPECT_EQ(std::tuple(ui.resets, controller.Project().IsDirty()), std::tuple(2, false));
}

TEST_F(Controller, SaveAsTextDumpLeavesTheDocumentAsItWas)
{
    controller.Project().SetDirty();
    ui.saveChoice = DocumentUi::SaveChoice { dir.File("dump.xls"), 2 };
    EXPECT_FALSE(controller.SaveProjectAs());
    EXPECT_TRUE(fs::exists(dir.File("dump.xls")));
    EXPECT_EQ(std::tuple(controller.HasFile(), controller.DocumentPath(), ui.title,
                  controller.Project().IsDirty()),
        std::tuple(false, "untitled", "", true));
}

TEST_F(Controller, OpenAndRevertQueueThePathForTheLoader)
{
    controller.OpenProject(); // the dialog is cancelled
    EXPECT_EQ(std::tuple(pending.HasPending(), ui.resets), std::tuple(false, 0));

    ui.openChoice = dir.File("a.cmr");
    controller.OpenProject();
    std::string queued;
    EXPECT_TRUE(pending.Pop(queued));
    EXPECT_EQ(queued, dir.File("a.cmr"));
    EXPECT_FALSE(controller.HasFile()); // until the reader calls SetDocumentPath

    MakeDirty();
    prompter.Push(Answer::Cancel);
    controller.RevertProject();
    EXPECT_FALSE(pending.HasPending());
}

TEST_F(Controller, NothingButAProjectsFormIsTakenForAProject)
{
    EXPECT_TRUE(controller.IsProjectFile(dir.File("missing.cmr")));
    // An instrument shares the form's name, not its type; a pipe is never read to find out.
    const std::string instrument = "ORCM" + std::string(4, '\0') + "CMinVERS";
    EXPECT_FALSE(controller.IsProjectFile(dir.Write("piano", instrument)));
    EXPECT_FALSE(controller.IsProjectFile(dir.Write("short", "ORCM")));
    ASSERT_EQ(::mkfifo(dir.File("pipe").c_str(), 0600), 0);
    EXPECT_FALSE(controller.IsProjectFile(dir.File("pipe")));
}

class SafeWrite : public ::testing::Test {
protected:
    bool Write(const std::string& path, const std::string& text, bool keepBackup)
    {
        std::unique_ptr<SafeOutput> file;
        std::string backupName;
        if (!writer.CreateSafely(path, keepBackup, file, backupName))
            return false;
        if (!file->Write(text)) {
            writer.AbortSafely(path, keepBackup, file, backupName);
            return false;
        }
        return writer.CommitSafely(path, keepBackup, file, backupName);
    }

    test::TempDir dir;
    ScriptedPrompter prompter;
    ASafeFile writer { prompter };
};

TEST_F(SafeWrite, AFolderInTheBackupsPlaceDoesNotStopTheSave)
{
    const std::string path = dir.Write("live.cmr", "old");
    fs::create_directory(dir.File("live.bak"));
    EXPECT_TRUE(Write(path, "new", true));
    EXPECT_EQ(test::ReadText(path), "new");
    EXPECT_TRUE(fs::is_directory(dir.File("live.bak")));
    EXPECT_TRUE(prompter.shown.empty());
}

TEST_F(SafeWrite, ALinkStaysALinkAndItsTargetIsReplaced)
{
    fs::create_directory(dir.File("real"));
    const std::string target = dir.Write("real/live.cmr", "old");
    fs::create_symlink("real/live.cmr", dir.File("live.cmr"));
    fs::create_symlink("live.cmr", dir.File("again.cmr"));
    EXPECT_TRUE(Write(dir.File("again.cmr"), "new", true));
    EXPECT_TRUE(fs::is_symlink(dir.File("live.cmr")));
    EXPECT_TRUE(fs::is_symlink(dir.File("again.cmr")));
    EXPECT_EQ(test::ReadText(target), "new");
    EXPECT_FALSE(fs::exists(dir.File("real/live.bak")));
    EXPECT_EQ(ASafeFile::ResolveTarget(dir.File("again.cmr")), dir.File("real/live.cmr"));
}

TEST_F(SafeWrite, TemporaryFilesOfKilledWritesGoAtTheNextWrite)
{
    const std::string path = dir.Write("live.cmr", "old");
    const std::string ours = "live.cmr.tmp" + std::to_string(::getpid()) + ".7";
    dir.Write("live.cmr.tmp2147483646.12", "left by a killed save");
    dir.Write(ours, "a write of this process, still running");
    dir.Write("live.cmr.tmpnotes", "not ours");
    dir.Write("other.cmr.tmp2147483646.3", "another file's");
    EXPECT_TRUE(Write(path, "new", false));
    EXPECT_EQ(std::tuple(fs::exists(dir.File("live.cmr.tmp2147483646.12")),
                  fs::exists(dir.File(ours)), fs::exists(dir.File("live.cmr.tmpnotes")),
                  fs::exists(dir.File("other.cmr.tmp2147483646.3"))),
        std::tuple(false, true, true, true));
}

TEST(ASafeFile, TheBackupReplacesOnlyTheFileNamesExtension)
{
    EXPECT_EQ(ASafeFile::BackupName("/p/proj.cmr"), "/p/proj.bak");
    EXPECT_EQ(ASafeFile::BackupName("/p.d/project"), "/p.d/project.bak");
}

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

TEST(APrefs, WhatAnotherProgramStoredIsTakenInAndNotWrittenOver)
{
    test::TempDir dir;
    const std::string path = dir.File("Cardmill.conf");
    IniSettingsStore windowStore(path);
    APrefs window(windowStore);
    std::string error;
    // Changed here and not yet saved: it stays, whatever the other program stores.
    ASSERT_TRUE(window.SetValue("SplitStereoFiles", "1", error));
    {
        // `cardmill prefs` in a terminal meanwhile.
        IniSettingsStore commandStore(path);
        APrefs command(commandStore);
        ASSERT_TRUE(command.SetValue("MidiOutputPort", "/dev/pts/7", error));
        ASSERT_TRUE(command.SetValue("SplitStereoFiles", "0", error));
        ASSERT_TRUE(command.Save());
    }
    EXPECT_TRUE(window.Reload());
    EXPECT_EQ(window.midiOutputPort, "/dev/pts/7");
    EXPECT_FALSE(window.Reload()); // nothing new since
    ASSERT_TRUE(window.SetValue("StartMarker", "go", error));
    ASSERT_TRUE(window.Save());

    IniSettingsStore after(path);
    EXPECT_EQ(
        std::tuple(after.GetText("Hardware", "MidiOutputPort", ""),
            after.GetText("User", "StartMarker", ""), after.GetInt("User", "SplitStereoFiles", 9)),
        std::tuple("/dev/pts/7", "go", 1));
}

TEST(PendingFilesQueue, HoldsAtMost31PathsFirstInFirstOut)
{
    PendingFilesQueue queue;
    for (int i = 0; i < 32; ++i)
        queue.Push("file" + std::to_string(i));
    EXPECT_EQ(queue.Count(), 31);
    std::vector<std::string> popped;
    for (std::string path; queue.Pop(path);)
        popped.push_back(path);
    ASSERT_EQ(popped.size(), 31u);
    EXPECT_EQ(std::tuple(popped.front(), popped.back()), std::tuple("file0", "file30"));
    queue.Push("again");
    queue.Clear();
    EXPECT_FALSE(queue.HasPending());
}

} // namespace
} // namespace cardmill
