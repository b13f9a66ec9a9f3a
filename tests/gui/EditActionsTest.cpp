#include "GuiFixture.h"
#include "support/FakeFile.h"

#include <tuple>

namespace cardmill {
namespace {

class EditActions : public test::Gui {
protected:
    /// Group 0 holds files named A, B, C (their short names), shown.
    void SetUp() override
    {
        Gui::SetUp();
        for (const char* name : { "A", "B", "C" }) {
            auto file = std::make_unique<test::FakeFile>(
                app->Controller().GetServices(), 0, 100, 1, &destroyed);
            file->SetShortName(name);
            Project().AddItem(std::move(file));
        }
        Window().SelectGroup(0);
    }
    std::string Names(int group = 0)
    {
        std::string names;
        for (int i = 0; i < Project().CountItems(group); ++i)
            names += Project().GetItem(group, i)->GetShortName();
        return names;
    }
    QString UndoText()
    {
        Window().UpdateCommands();
        return Window().Action(AMainWindow::Undo)->text();
    }
    void Select(int row) { Window().SelectFile(row); }

    int destroyed = 0;
};

TEST_F(EditActions, CutClearCopyAndPasteUndoAndRedoOneLevel)
{
    using State = std::tuple<std::string, QString, int>; // names, Undo's text, the row selected
    const auto state = [&] { return State(Names(), UndoText(), Window().CurrentRow()); };
    Select(1);
    Trigger(AMainWindow::Cut);
    const MReadableFile* cut = Window().Clipboard();
    ASSERT_NE(cut, nullptr);
    EXPECT_EQ(cut->GetShortName(), "B");
    EXPECT_EQ(state(), State("AC", "&Undo Cut", 1)); // the same index again
    Trigger(AMainWindow::Undo);
    EXPECT_EQ(state(), State("ABC", "&Redo Cut", 1));
    EXPECT_EQ(Window().Clipboard(), cut); // still the cut file
    Trigger(AMainWindow::Undo);
    EXPECT_EQ(state(), State("AC", "&Undo Cut", 1));
    EXPECT_EQ(Window().Clipboard(), cut); // the redo leaves the clipboard alone
    Trigger(AMainWindow::Undo);

    // Clear of the last row selects the new last; a Copy keeps the Undo.
    Select(2);
    Trigger(AMainWindow::Clear);
    EXPECT_EQ(state(), State("AB", "&Undo Clear", 1));
    Select(0);
    Trigger(AMainWindow::Copy);
    EXPECT_EQ(UndoText(), QStringLiteral("&Undo Clear"));
    EXPECT_EQ(Window().Clipboard()->GetShortName(), "A");
    Trigger(AMainWindow::Undo);
    EXPECT_EQ(Names(), "ABC");

    // Paste with no selection appends at the old row count.
    Select(-1);
    Trigger(AMainWindow::Paste);
    EXPECT_EQ(state(), State("ABCA", "&Undo Paste", 3));
    Trigger(AMainWindow::Undo);
    EXPECT_EQ(std::tuple(Names(), UndoText()), std::tuple("ABC", QStringLiteral("&Redo Paste")));
    Trigger(AMainWindow::Undo);
    EXPECT_EQ(Names(), "ABCA");
}

TEST_F(EditActions, UndoingAPasteWhoseFileMovedRemovesNothing)
{
    Select(0);
    Trigger(AMainWindow::Copy);
    Select(1);
    Trigger(AMainWindow::Paste);
    EXPECT_EQ(Names(), "AABC");
    // The project changes behind the action: the pasted file is no longer at row 1.
    auto first = Project().RemoveItem(Project().GetItem(0, 0));
    Project().AddItem(std::move(first));
    EXPECT_EQ(Names(), "ABCA");
    Trigger(AMainWindow::Undo);
    EXPECT_EQ(std::tuple(Names(), UndoText()), std::tuple("ABCA", QStringLiteral("&Redo Paste")));
}

TEST_F(EditActions, WhatEachActionDeletesWhenItGoes)
{
    // A done Clear owns the cleared file.
    Select(0);
    Trigger(AMainWindow::Clear);
    EXPECT_EQ(destroyed, 0);
    Select(0);
    Trigger(AMainWindow::Copy); // a copy of B on the clipboard; the Clear stays
    Select(-1);
    Trigger(AMainWindow::Paste); // replaces the Clear: A goes
    EXPECT_EQ(destroyed, 1);
    // An undone Paste owns the pasted copy.
    Trigger(AMainWindow::Undo);
    EXPECT_EQ(Names(), "BC");
    Window().DropDragged(0, 2, std::nullopt, false); // a drag move replaces the paste
    EXPECT_EQ(std::tuple(destroyed, Names()), std::tuple(2, "CB"));
    // A drag move owns nothing; an undone drag copy owns its copy.
    Window().DropDragged(0, std::nullopt, 3, true);
    EXPECT_EQ(destroyed, 2);
    Window().SelectGroup(0);
    EXPECT_EQ(Names(3), "C");
    Trigger(AMainWindow::Undo);
    EXPECT_EQ(Names(3), "");
    Select(0);
    Trigger(AMainWindow::Cut); // replaces the undone drag copy: the copy goes
    EXPECT_EQ(destroyed, 4); // the copy, and the clipboard's copy of B replaced by C
}

} // namespace
} // namespace cardmill
