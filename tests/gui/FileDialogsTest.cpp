#include "GuiFixture.h"
#include "model/instrument/MInstFile.h"
#include "model/sound/MSoundFile.h"
#include "support/SoundFontBuilder.h"
#include "ui/AAddFilesDialog.h"
#include "ui/FileChooser.h"

#include <QComboBox>
#include <QFileDialog>
#include <QHeaderView>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QTreeView>
#include <tuple>

namespace cardmill {
namespace {

class FileDialogs : public test::Gui {
protected:
    using B = test::SoundFontBuilder;

    /// A SoundFont of presets (name, bank, program) in the order given, each playing one tone
    /// through an instrument whose zone sets the generators given.
    std::string Font(const std::string& name,
        std::initializer_list<std::tuple<const char*, int, int>> presets,
        std::vector<std::pair<std::uint16_t, std::uint16_t>> generators = {})
    {
        B font;
        font.samples = { { "Tone", std::vector<std::int16_t>(100, 1000) } };
        generators.push_back({ 53, 0 }); // sampleID, last in its zone
        font.instruments = { { "Tone", 0, 0, { { generators } } } };
        for (const auto& [presetName, bank, program] : presets)
            font.presets.push_back({ presetName, bank, program, { { { { 41, 0 } } } } });
        return dir.Write(name, font.Build());
    }

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

    /// In Add Files, the file looked at in the chooser, added, looked at in the list, then Done:
    /// the message boxes shown before Done, and the panel's last line while it was looked at.
    std::pair<std::size_t, QString> LookAddAndDone(const QString& path)
    {
        std::pair<std::size_t, QString> seen { 99, {} };
        OnNextDialog<AAddFilesDialog>([&](AAddFilesDialog& dialog) {
            emit dialog.Chooser()->currentChanged(path);
            seen.second = dialog.InfoLine(5);
            Choose(dialog, path);
            EXPECT_EQ(dialog.PendingList()->count(), 1);
            if (auto* added = dialog.PendingList()->item(0))
                added->setSelected(true);
            seen.first = prompter.shown.size();
            dialog.DoneButton()->click();
        });
        Trigger(AMainWindow::AddFiles);
        EXPECT_TRUE(Wait([&] { return Project().CountItems(0) == 1; }));
        return seen;
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
        // Every file waiting is listed with its group, whichever group the chooser shows.
        EXPECT_EQ(dialog.GroupChooser()->itemText(3), QStringLiteral("K4  empty"));
        EXPECT_EQ(dialog.PendingList()->count(), 2);
        if (dialog.PendingList()->count() == 2) {
            EXPECT_EQ(
                dialog.PendingList()->item(0)->text(), QStringLiteral("kick.wav  (K4  empty)"));
            EXPECT_EQ(
                dialog.PendingList()->item(1)->text(), QStringLiteral("beat.mid  (Sequences)"));
        }
        dialog.DoneButton()->click();
    });
    Trigger(AMainWindow::AddFiles);
    EXPECT_EQ(std::tuple(entries, chooserHiddenForSequences, Project().CountItems(3),
                  Project().CountItems(11)),
        std::tuple(1, true, 1, 1));
    EXPECT_FALSE(app->AddFiles().HasPending());
}

TEST_F(FileDialogs, WhatAPresetLeavesOutIsToldOnceInOneLineWithTheListUnderDetails)
{
    // A filter, a reverb send and an attack: three kinds of setting the card has no place for.
    const std::string font
        = Font("pad.sf2", { { "Pad", 0, 0 } }, { { 8, 9000 }, { 16, 200 }, { 34, 0 } });
    // Looked at in the chooser, then added and looked at in the list: said in the panel.
    const auto [boxesBeforeDone, previewLine] = LookAddAndDone(QString::fromStdString(font));
    EXPECT_EQ(previewLine, QStringLiteral("3 kinds of setting are not on the card"));
    EXPECT_EQ(boxesBeforeDone, 0u);
    ASSERT_EQ(prompter.shown.size(), 1u);
    EXPECT_EQ(std::tuple(prompter.shown[0].text, prompter.shown[0].details, prompter.shown[0].icon),
        std::tuple("3 kinds of setting in the preset 'Pad' of pad.sf2 are not on the card.",
            "pad.sf2, instrument 'Tone': initialFilterFc: not on the card\n"
            "pad.sf2, instrument 'Tone': reverbEffectsSend: not on the card\n"
            "pad.sf2, instrument 'Tone': attackVolEnv: not on the card",
            Icon::Warning));
}

TEST_F(FileDialogs, ASoundsValuesTheCardCantTakeAreToldOnceWhenItIsAdded)
{
    const auto high
        = dir.Write("high.wav", test::WavBuilder().Frames(500).Smpl(200, 0, {}).Build());
    EXPECT_EQ(LookAddAndDone(QString::fromStdString(high)).first, 0u);
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
    // With samples, the acceptance tests make one by typing paths on a real display.
    OnNextDialog<ACreateInstrumentDialog>([](ACreateInstrumentDialog& dialog) { dialog.accept(); });
    chooser.Push(QString::fromStdString(dir.File("empty.cmt")));
    Trigger(AMainWindow::CreateInstrument);
    EXPECT_EQ(prompter.LastText(), "A Cardmill Instrument file must contain at least one sample.");
    EXPECT_FALSE(std::filesystem::exists(dir.File("empty.cmt")));
}

TEST_F(FileDialogs, CreateInstrumentAddsToTheGroupChosenWithKeysFromTheRoots)
{
    const auto sound = [&](const char* name, std::uint32_t root) {
        return QString::fromStdString(
            dir.Write(name, test::WavBuilder().Frames(500).Smpl(root, 0, {}).Build()));
    };
    const QString high = sound("high.wav", 72);
    const QString low = sound("low.wav", 48);
    Window().SelectGroup(2);
    OnNextDialog<ACreateInstrumentDialog>([&](ACreateInstrumentDialog& dialog) {
        Choose(dialog, high);
        Choose(dialog, low);
        dialog.accept();
    });
    chooser.Push(QString::fromStdString(dir.File("pad.cmt")));
    Trigger(AMainWindow::CreateInstrument);
    ASSERT_TRUE(Wait([&] { return Project().CountItems(2) == 1; }));
    auto* voice = dynamic_cast<MInstFile*>(Project().GetItem(2, 0));
    ASSERT_TRUE(voice && voice->UpperKeys());
    EXPECT_EQ(std::tuple(Project().CountItems(0), voice->GroupCount(), voice->UpperKeys()[0],
                  voice->Samples().front()->GetFileName()),
        std::tuple(0, 2, 60, std::string("low.wav")));
}

TEST_F(FileDialogs, FileDialogColumnsHoldTheWidestSize)
{
    QFileDialog dialog;
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    auto* view = dialog.findChild<QTreeView*>(QStringLiteral("treeView"));
    ASSERT_TRUE(view);
    FitFileDialogColumns(dialog);
    EXPECT_GT(view->header()->sectionSize(1),
        view->fontMetrics().horizontalAdvance(QStringLiteral("1023.99 KiB")));
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
