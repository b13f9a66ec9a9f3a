#include "model/MCardmill.h"

#include "model/MProject.h"
#include "model/PendingFilesQueue.h"
#include "support/FakeFile.h"
#include "support/Fakes.h"
#include "support/TestEnv.h"

#include <filesystem>

#include <gtest/gtest.h>

namespace cardmill {
namespace {

class Controller : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(controller.Startup()); }

    void MakeDirty()
    {
        controller.Project().AddItem(
            std::make_unique<test::FakeFile>(controller.GetServices(), 0, 1));
    }

    test::TempDir dir;
    ScriptedPrompter prompter;
    ManualClock clock;
    MemorySettingsStore settings;
    test::RecordingUi ui;
    PendingFilesQueue pending;
    MCardmill controller { Platform { prompter, clock, settings }, ui, pending };
};

TEST_F(Controller, NewOnACleanProjectAsksNothing)
{
    controller.NewProject();
    EXPECT_TRUE(prompter.shown.empty());
    EXPECT_EQ(ui.resets, 1);
    EXPECT_EQ(ui.selected, 0);
}

TEST_F(Controller, NewOnADirtyUntitledProjectAsksWithTheCardNameAndYesOpensSaveAs)
{
    MakeDirty();
    prompter.Push(Answer::Yes);
    controller.NewProject(); // the save dialog is cancelled: New does not go on
    ASSERT_EQ(prompter.shown.size(), 1u);
    EXPECT_EQ(prompter.shown[0].text, "Save changes to the Cardmill document untitled?");
    EXPECT_EQ(prompter.shown[0].buttons, Buttons::YesNoCancel);
    EXPECT_EQ(prompter.shown[0].icon, Icon::None);
    EXPECT_EQ(ui.proposedNames, std::vector<std::string> { "untitled" });
    EXPECT_EQ(ui.resets, 0);
    EXPECT_TRUE(controller.Project().IsDirty());

    prompter.Push(Answer::No);
    controller.NewProject();
    EXPECT_EQ(ui.resets, 1);
    EXPECT_FALSE(controller.Project().IsDirty());
}

TEST_F(Controller, SaveAsTextDumpLeavesTheDocumentAsItWas)
{
    controller.Project().SetDirty();
    ui.saveChoice = DocumentUi::SaveChoice { dir.File("dump.xls"), 2 };
    EXPECT_FALSE(controller.SaveProjectAs());
    EXPECT_TRUE(std::filesystem::exists(dir.File("dump.xls")));
    EXPECT_FALSE(controller.HasFile());
    EXPECT_EQ(controller.DocumentPath(), "untitled");
    EXPECT_TRUE(ui.title.empty());
    EXPECT_TRUE(controller.Project().IsDirty());
}

TEST_F(Controller, OpenAndRevertQueueThePathForTheLoader)
{
    controller.OpenProject(); // the dialog is cancelled
    EXPECT_FALSE(pending.HasPending());
    EXPECT_EQ(ui.resets, 0);

    ui.openChoice = dir.File("a.cmr");
    controller.OpenProject();
    std::string queued;
    ASSERT_TRUE(pending.Pop(queued));
    EXPECT_EQ(queued, dir.File("a.cmr"));
    EXPECT_FALSE(controller.HasFile()); // until the reader calls SetDocumentPath

    MakeDirty();
    prompter.Push(Answer::Cancel);
    controller.RevertProject();
    EXPECT_FALSE(pending.HasPending());
}

TEST_F(Controller, CancelInTheSaveQuestionStopsClosing)
{
    MakeDirty();
    prompter.Push(Answer::Cancel);
    EXPECT_FALSE(controller.QueryClose());
    prompter.Push(Answer::No);
    EXPECT_TRUE(controller.QueryClose());
}

} // namespace
} // namespace cardmill
