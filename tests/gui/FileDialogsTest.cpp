#include "GuiFixture.h"
#include "ui/AAddFilesDialog.h"

#include <QComboBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <tuple>

namespace cardmill {
namespace {

class FileDialogs : public test::Gui {
protected:
    /// Types the path into the chooser's name field and presses Enter, as a person does.
    static void Choose(ACollectFilesDialog& dialog, const QString& path)
    {
        auto* name = dialog.Chooser()->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        ASSERT_TRUE(name && name->isVisible()) << "the file chooser is not shown";
        // Offscreen, a window becomes active only when told: then the field it focused has it.
        dialog.activateWindow();
        ASSERT_TRUE(Wait([&] { return name->hasFocus(); }))
            << "the name field is not ready for typing";
        QTest::keyClicks(name, path);
        QTest::keyClick(name, Qt::Key_Return);
    }
};

TEST_F(FileDialogs, AddFilesCollectsPerGroupOnceEachAndDoneLoadsThem)
{
    const QString sound = QString::fromStdString(Wav("kick.wav"));
    const QString sequence = QString::fromStdString(Song("beat.mid"));
    Window().SelectGroup(3);
    bool chooserHiddenForSequences = false;
    int entries = 0;
    OnNextDialog<AAddFilesDialog>([&](AAddFilesDialog& dialog) {
        dialog.Chooser()->setDirectory(QString::fromStdString(dir.Path()));
        dialog.Chooser()->selectNameFilter(QStringLiteral("All Files (*)"));
        EXPECT_EQ(dialog.GroupChooser()->currentIndex(), 3);
        // Looking at a file shows its information lines.
        emit dialog.Chooser()->currentChanged(sound);
        EXPECT_EQ(dialog.InfoLine(0), QStringLiteral("kick.wav"));
        EXPECT_EQ(dialog.InfoLine(1), QStringLiteral("Windows *.wav"));
        Choose(dialog, sound);
        Choose(dialog, sound); // the same file twice: one entry
        entries = dialog.PendingList()->count();
        // A MIDI file goes to Sequences, whatever group is chosen; the chooser hides.
        Choose(dialog, sequence);
        chooserHiddenForSequences = dialog.GroupChooser()->isHidden();
        EXPECT_EQ(dialog.PendingList()->count(), 2);
        dialog.DoneButton()->click();
    });
    Trigger(AMainWindow::AddFiles);
    EXPECT_EQ(std::tuple(entries, chooserHiddenForSequences, Project().CountItems(3),
                  Project().CountItems(11)),
        std::tuple(1, true, 1, 1));
    EXPECT_FALSE(app->AddFiles().HasPending());
}

TEST_F(FileDialogs, ASoundsValuesTheCardCantTakeAreToldOnceWhenItIsAdded)
{
    const QString high = QString::fromStdString(
        dir.Write("high.wav", test::WavBuilder().Frames(500).Smpl(200, 0, {}).Build()));
    // Looked at in the chooser, added and looked at in the list: nothing is told before Done.
    std::size_t toldBeforeDone = 99;
    OnNextDialog<AAddFilesDialog>([&](AAddFilesDialog& dialog) {
        emit dialog.Chooser()->currentChanged(high);
        Choose(dialog, high);
        EXPECT_EQ(dialog.PendingList()->count(), 1);
        if (auto* added = dialog.PendingList()->item(0))
            added->setSelected(true);
        toldBeforeDone = prompter.shown.size();
        dialog.DoneButton()->click();
    });
    Trigger(AMainWindow::AddFiles);
    EXPECT_TRUE(Wait([&] { return Project().CountItems(0) == 1; }));
    EXPECT_EQ(toldBeforeDone, 0u);
    ASSERT_EQ(prompter.shown.size(), 1u);
    EXPECT_EQ(prompter.shown[0].text,
        "The sound file 'high.wav' gives the root key 200; it is used as 127.");
}

TEST_F(FileDialogs, CancelLeavesTheProjectAsItWasAndNothingPending)
{
    const QString sound = QString::fromStdString(Wav("snare.wav"));
    OnNextDialog<AAddFilesDialog>([&](AAddFilesDialog& dialog) {
        Choose(dialog, sound);
        EXPECT_EQ(dialog.PendingList()->count(), 1);
        dialog.reject();
    });
    Trigger(AMainWindow::AddFiles);
    EXPECT_FALSE(app->AddFiles().HasPending());
    for (int group = 0; group < MProject::kGroupCount; ++group)
        EXPECT_EQ(Project().CountItems(group), 0);
    EXPECT_TRUE(Project().IsUntouched());
}

TEST_F(FileDialogs, CreateInstrumentNeedsASample)
{
    OnNextDialog<ACreateInstrumentDialog>([](ACreateInstrumentDialog& dialog) { dialog.accept(); });
    chooser.Push(QString::fromStdString(dir.File("empty.cmt")));
    Trigger(AMainWindow::CreateInstrument);
    EXPECT_EQ(prompter.LastText(), "A Cardmill Instrument file must contain at least one sample.");
    EXPECT_FALSE(std::filesystem::exists(dir.File("empty.cmt")));
}

TEST_F(FileDialogs, AMovedFolderIsAskedForOnceAndItsOtherFilesFoundThere)
{
    Add({ Wav("before/one.wav"), Wav("before/two.wav") });
    const std::string project = SaveAs(dir.File("moved.cmr"));
    Trigger(AMainWindow::New);
    std::filesystem::rename(dir.File("before"), dir.File("after"));

    chooser.Push(QString::fromStdString(dir.File("after/one.wav")));
    Add({ project });
    ASSERT_TRUE(Wait([&] { return Project().CountItems(0) == 2; }));
    EXPECT_EQ(chooser.asked, QStringList { QStringLiteral("one.wav") });
    EXPECT_EQ(Project().GetItem(0, 1)->GetPath(), dir.File("after/two.wav"));
}

} // namespace
} // namespace cardmill
