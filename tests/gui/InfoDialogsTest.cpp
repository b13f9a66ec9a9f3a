#include "GuiFixture.h"
#include "model/instrument/MInstFileInstrument.h"
#include "model/sequence/MSeqFile.h"
#include "model/sound/MSoundFile.h"
#include "support/Banks.h"
#include "ui/ACardDialog.h"
#include "ui/AKeyLists.h"
#include "ui/AKeyboardView.h"
#include "ui/ANameDialog.h"
#include "ui/ASampleDialog.h"
#include "ui/ASampleList.h"
#include "ui/ASequenceDialog.h"
#include "ui/AVoiceDialog.h"
#include "ui/AWaveformView.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QRadioButton>
#include <QTest>
#include <tuple>

namespace cardmill {
namespace {

using test::Gui;

/// One list of a pair set by the user, as a click or an arrow key sets it.
void Pick(QComboBox* list, int index)
{
    list->setCurrentIndex(index);
    emit list->activated(index);
}

/// A key chosen in the two lists and confirmed, as leaving the pair confirms it.
void Choose(AKeyLists& lists, int key)
{
    Pick(lists.Notes(), key % 12);
    Pick(lists.Octaves(), key / 12);
    lists.Commit();
}

/// The two saved projects are the same bytes, except that a voice edited by both remembers
/// its own second of the edit (a big-endian time that may differ by a tick or two).
::testing::AssertionResult SameProject(const std::string& guiPath, const std::string& cliPath)
{
    const auto gui = test::ReadFile(guiPath);
    const auto cli = test::ReadFile(cliPath);
    if (gui.size() != cli.size())
        return ::testing::AssertionFailure() << "sizes " << gui.size() << " and " << cli.size();
    std::size_t first = gui.size();
    std::size_t last = 0;
    for (std::size_t i = 0; i < gui.size(); ++i)
        if (gui[i] != cli[i]) {
            first = std::min(first, i);
            last = i;
        }
    if (first == gui.size())
        return ::testing::AssertionSuccess();
    if (last - first >= 4 || first < 3)
        return ::testing::AssertionFailure() << "bytes differ from " << first << " to " << last;
    // The four bytes of the time end at the last difference at the latest.
    const std::size_t at = last - 3;
    auto time = [at](const std::vector<std::uint8_t>& b) {
        return (std::uint32_t { b[at] } << 24) | (std::uint32_t { b[at + 1] } << 16)
            | (std::uint32_t { b[at + 2] } << 8) | b[at + 3];
    };
    const auto a = time(gui);
    const auto b = time(cli);
    if ((a > b ? a - b : b - a) <= 5)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "bytes differ at " << first;
}

class InfoDialogs : public Gui {
protected:
    /// An instrument of three one-sample key groups [0..59], [60..71], [72..127].
    std::string ThreeGroupInstrument()
    {
        const std::string path = dir.File("three.cmt");
        EXPECT_EQ(RunCli("instrument -o '" + path + "' '" + Wav("a.wav", 4000) + "' '"
                      + Wav("b.wav", 4000) + "' '" + Wav("c.wav", 4000) + "'"),
            0);
        return path;
    }
    /// The same project made by the command line: `add` of `file` to k1 of a new project, then
    /// `edit` (a cardmill command with its options; the project and "k1 1" are added).
    std::string CliProject(const std::string& file, const std::string& command,
        const std::string& options, bool voiceCommand = true)
    {
        const std::string path = dir.File("cli.cmr");
        std::filesystem::remove(path);
        EXPECT_EQ(RunCli("new '" + path + "'"), 0);
        EXPECT_EQ(RunCli("add '" + path + "' --group k1 '" + file + "'"), 0);
        EXPECT_EQ(
            RunCli(command + " '" + path + "'" + (voiceCommand ? " k1 1 " : " ") + options), 0);
        return path;
    }
    /// Loads a file into the group shown and waits until it is there.
    bool Added(const std::string& path, int group = 0)
    {
        Add({ path });
        return Wait([&] { return Project().CountItems(group) == 1; });
    }
    MInstFile* Voice(int group = 0, int index = 0)
    {
        return dynamic_cast<MInstFile*>(Project().GetItem(group, index));
    }
};

TEST_F(InfoDialogs, CardInfoRefusesPerculaWithADrumFileAndWarnsAboutABank)
{
    Window().SelectGroup(8);
    ASSERT_TRUE(Added(Wav("kick.wav", 2000), 8));
    bool stayedOpen = false;
    OnNextDialog<ACardDialog>([&](ACardDialog& dialog) {
        dialog.Target()->setCurrentIndex(1);
        dialog.accept();
        stayedOpen = dialog.isVisible();
        dialog.reject();
    });
    Trigger(AMainWindow::CardInfo);
    EXPECT_TRUE(stayedOpen);
    EXPECT_EQ(prompter.LastText(),
        "This project contains a sound or instrument file in a drum group.  Choose a target other "
        "than Percula or remove all files from all drum groups.");
    EXPECT_EQ(Project().GetTarget(), MProject::kZelta);

    // Without drum files, but with a program bank: a warning, and the switch is made.
    Window().SelectFile(0);
    Trigger(AMainWindow::Clear);
    ASSERT_EQ(Project().CountItems(8), 0);
    Window().SelectGroup(MProject::kProgramGroup);
    ASSERT_TRUE(
        Added(dir.Write("bank.syx", test::BankCapture { 0x0E }.Build()), MProject::kProgramGroup));
    prompter.Forget();
    OnNextDialog<ACardDialog>([&](ACardDialog& dialog) {
        dialog.Name()->setText(QStringLiteral(""));
        dialog.accept();
        EXPECT_EQ(prompter.LastText(), "Please enter both the card name and version.");
        dialog.Name()->setText(QStringLiteral("Drums"));
        dialog.Version()->setText(QStringLiteral("1.2"));
        dialog.Target()->setCurrentIndex(1);
        dialog.accept();
    });
    Trigger(AMainWindow::CardInfo);
    EXPECT_EQ(prompter.LastText(),
        "This project contains a program bank.  Be sure the file was intended for the new target "
        "device.");
    EXPECT_EQ(prompter.shown.back().icon, Icon::Warning);
    EXPECT_EQ(Project().GetTarget(), MProject::kPercula);
    EXPECT_EQ(Project().GetCardName(), "Drums");
}

TEST_F(InfoDialogs, CardInfoAndRenameGroupSaveWhatSetSaves)
{
    const std::string sound = Wav("tone.wav", 3000);
    ASSERT_TRUE(Added(sound));
    OnNextDialog<ACardDialog>([&](ACardDialog& dialog) {
        dialog.Name()->setText(QStringLiteral("Strings"));
        dialog.Version()->setText(QStringLiteral("2.0"));
        dialog.Size()->setCurrentIndex(4);
        dialog.accept();
    });
    Trigger(AMainWindow::CardInfo);
    QString titles;
    OnNextDialog<ANameDialog>([&](ANameDialog& dialog) {
        titles = dialog.windowTitle();
        EXPECT_EQ(dialog.Name()->maxLength(), 6);
        dialog.Name()->setText(QStringLiteral("Bows"));
        dialog.accept();
    });
    Trigger(AMainWindow::RenameGroup);
    EXPECT_EQ(titles, QStringLiteral("Keyboard Group 1"));
    EXPECT_EQ(Window().Groups()->item(0)->text(), QStringLiteral("K1  Bows"));
    const std::string gui = SaveAs(dir.File("gui.cmr"));
    const std::string cli = CliProject(
        sound, "set", "--name Strings --version 2.0 --card-size 2M --group-name k1=Bows", false);
    EXPECT_TRUE(SameProject(gui, cli));

    // The drum groups are named from 1 again.
    Window().SelectGroup(8);
    OnNextDialog<ANameDialog>([&](ANameDialog& dialog) {
        titles = dialog.windowTitle();
        dialog.reject();
    });
    Trigger(AMainWindow::RenameGroup);
    EXPECT_EQ(titles, QStringLiteral("Drum Group 1"));
}

TEST_F(InfoDialogs, KeyGroupChecksAdjustNeighboursAndSaveWhatVoiceSaves)
{
    const std::string instrument = ThreeGroupInstrument();
    ASSERT_TRUE(Added(instrument));
    auto* voice = dynamic_cast<MInstFileInstrument*>(Voice());
    ASSERT_NE(voice, nullptr);
    ASSERT_EQ(voice->GroupCount(), 3);
    voice->SetUpperKeys({ 59, 71, 127 });
    Window().SelectFile(0);

    OnNextDialog<AVoiceDialog>([&](AVoiceDialog& dialog) {
        EXPECT_FALSE(dialog.LowerKey()->isEnabled()); // group 0 starts at C-2
        dialog.Samples()->setCurrentRow(2);
        EXPECT_EQ(dialog.LowerKey()->Key(), 72);
        Choose(*dialog.LowerKey(), 60);
        EXPECT_EQ(prompter.LastText(),
            "Some or all previous key groups have been adjusted for the new Lower Key.");
        EXPECT_EQ(std::tuple(dialog.Keyboard()->Upper(0), dialog.Keyboard()->Upper(1),
                      dialog.Keyboard()->GroupOfKey(60)),
            std::tuple(58, 59, 2));

        // A refused key puts the lists back (the checks themselves are the model's).
        dialog.Samples()->setCurrentRow(1);
        EXPECT_EQ(std::pair(dialog.LowerKey()->Key(), dialog.UpperKey()->Key()), std::pair(59, 59));
        Choose(*dialog.UpperKey(), 127);
        EXPECT_EQ(prompter.LastText(), "The Upper Key must not overlap the following key groups.");
        EXPECT_EQ(dialog.UpperKey()->Key(), 59);

        dialog.VoiceName()->setText(QString());
        dialog.accept();
        EXPECT_EQ(prompter.LastText(), "Please enter the voice name.");
        EXPECT_TRUE(dialog.isVisible());
        dialog.VoiceName()->setText(QStringLiteral("Keys"));
        dialog.accept();
    });
    Trigger(AMainWindow::VoiceInfo);
    EXPECT_EQ(std::vector<int>(voice->UpperKeys(), voice->UpperKeys() + 3),
        (std::vector<int> { 58, 59, 127 }));
    EXPECT_EQ(Window().Files()->topLevelItem(0)->text(1), QStringLiteral("Keys"));
    EXPECT_TRUE(Project().IsDirty());

    const std::string gui = SaveAs(dir.File("gui.cmr"));
    const std::string cli
        = CliProject(instrument, "voice", "--keys 59,71,127 --lower 3=C3 --name Keys");
    EXPECT_TRUE(SameProject(gui, cli));
}

TEST_F(InfoDialogs, AKeyLeftInItsListsIsCheckedByEnterThereOrByOk)
{
    ASSERT_TRUE(Added(ThreeGroupInstrument()));
    auto* voice = dynamic_cast<MInstFileInstrument*>(Voice());
    ASSERT_NE(voice, nullptr);
    voice->SetUpperKeys({ 59, 71, 127 });
    Window().SelectFile(0);
    OnNextDialog<AVoiceDialog>([&](AVoiceDialog& dialog) {
        // Enter in a list confirms the pair: B above G8 is refused and the lists put back.
        Pick(dialog.UpperKey()->Octaves(), 10);
        QTest::keyClick(dialog.UpperKey()->Octaves(), Qt::Key_Return);
        EXPECT_EQ(prompter.LastText(), "The Upper Key must be within the range C-2 to G8.");
        EXPECT_EQ(dialog.UpperKey()->Key(), 59);
        EXPECT_TRUE(dialog.isVisible());

        // A key left unconfirmed is checked by OK: refused, the dialog stays.
        prompter.Forget();
        Pick(dialog.UpperKey()->Octaves(), 10);
        dialog.accept();
        EXPECT_EQ(prompter.LastText(), "The Upper Key must be within the range C-2 to G8.");
        EXPECT_TRUE(dialog.isVisible());
        dialog.reject();
    });
    Trigger(AMainWindow::VoiceInfo);
    EXPECT_EQ(std::vector<int>(voice->UpperKeys(), voice->UpperKeys() + 3),
        (std::vector<int> { 59, 71, 127 }));
}

TEST_F(InfoDialogs, ASoundFileIsOneKeyGroupOverTheWholeKeyboard)
{
    ASSERT_TRUE(Added(Wav("tone.wav", 2000)));
    Window().SelectFile(0);
    OnNextDialog<AVoiceDialog>([&](AVoiceDialog& dialog) {
        EXPECT_EQ(std::tuple(dialog.Samples()->count(), dialog.Samples()->currentRow(),
                      dialog.LowerKey()->isEnabled(), dialog.UpperKey()->isEnabled(),
                      dialog.LowerKey()->Key(), dialog.UpperKey()->Key(),
                      dialog.Keyboard()->GroupOfKey(0), dialog.Keyboard()->GroupOfKey(127)),
            std::tuple(1, 0, false, false, 0, 127, 0, 0));
        dialog.reject();
    });
    // A double-click on the row opens it as the menu command does.
    emit Window().Files()->itemDoubleClicked(Window().Files()->topLevelItem(0), 0);
}

TEST_F(InfoDialogs, SampleInfoChecksTheVolumeDrawsTheMarksAndSavesWhatSampleSaves)
{
    const std::string sound = Wav("pad.wav", 20000, 2);
    ASSERT_TRUE(Added(sound));
    Window().SelectFile(0);
    OnNextDialog<AVoiceDialog>([&](AVoiceDialog& voice) {
        OnNextDialog<ASampleDialog>([&](ASampleDialog& dialog) {
            EXPECT_TRUE(dialog.Left()->isEnabled()); // a stereo sample
            ASSERT_TRUE(dialog.Waveform()->Overview());
            EXPECT_EQ(dialog.Waveform()->Overview()->channels, 2);
            // A refused value keeps the dialog open (the checks themselves are the model's).
            dialog.Volume()->setText(QStringLiteral("252"));
            dialog.StartFrame()->setText(QStringLiteral("20000"));
            dialog.accept();
            EXPECT_EQ(prompter.LastText(),
                "The start frame must be 0-19999. Please enter a valid start frame.");
            EXPECT_TRUE(dialog.isVisible());
            // The marks follow the fields.
            dialog.StartFrame()->setText(QStringLiteral("1000"));
            EXPECT_EQ(dialog.Waveform()->Start(), 1000);
            EXPECT_FALSE(dialog.LoopStart()->isEnabled());
            dialog.EnableLoop()->setChecked(true);
            EXPECT_TRUE(dialog.LoopStart()->isEnabled());
            dialog.LoopStart()->setText(QStringLiteral("5000"));
            EXPECT_EQ(std::tuple(dialog.Waveform()->Looping(), dialog.Waveform()->LoopStart(),
                          dialog.Waveform()->LoopEnd()),
                std::tuple(true, 5000, 20000));
            // A loop near the end: its two labels stand apart, each whole in the picture.
            dialog.LoopStart()->setText(QStringLiteral("19900"));
            const auto marks = dialog.Waveform()->Marks();
            ASSERT_EQ(marks.size(), 3u);
            for (std::size_t a = 0; a < marks.size(); ++a) {
                EXPECT_TRUE(dialog.Waveform()->rect().contains(marks[a].label)) << a;
                for (std::size_t b = a + 1; b < marks.size(); ++b)
                    EXPECT_FALSE(marks[a].label.intersects(marks[b].label)) << a << " " << b;
            }
            dialog.LoopStart()->setText(QStringLiteral("5000"));
            Choose(*dialog.Root(), 48);
            dialog.Right()->setChecked(true);
            dialog.Smooth()->setChecked(true);
            dialog.accept();
            EXPECT_FALSE(dialog.isVisible());
        });
        voice.EditSample(0);
        EXPECT_TRUE(voice.ContentChanged());
        voice.reject();
    });
    Trigger(AMainWindow::VoiceInfo);
    const SampleParams& params = Voice()->Samples()[0]->Params();
    EXPECT_EQ(std::tuple(params.rootKey, params.startFrame, params.loopStart,
                  Voice()->Samples()[0]->GetChannel()),
        std::tuple(48, 1000u, 5000u, 2));

    const std::string gui = SaveAs(dir.File("gui.cmr"));
    const std::string cli = CliProject(sound, "sample",
        "--volume 252 --start 1000 --loop 5000 --root C2 --channel right --smooth on");
    EXPECT_TRUE(SameProject(gui, cli));
}

TEST_F(InfoDialogs, SequenceInfoSetsTheOutPortFlagAsSetDoes)
{
    const std::string song = Song("song.mid");
    Window().SelectGroup(MProject::kSequenceGroup);
    ASSERT_TRUE(Added(song, MProject::kSequenceGroup));
    Window().SelectFile(0);
    OnNextDialog<ASequenceDialog>([&](ASequenceDialog& dialog) {
        EXPECT_FALSE(dialog.OutPort()->isChecked());
        dialog.OutPort()->setChecked(true);
        dialog.accept();
    });
    Trigger(AMainWindow::VoiceInfo);
    auto* sequence = dynamic_cast<MSeqFile*>(Project().GetItem(MProject::kSequenceGroup, 0));
    ASSERT_NE(sequence, nullptr);
    EXPECT_EQ(sequence->GetOutPort(), 1);

    // A sequence goes to Sequences whatever group the command line names.
    EXPECT_TRUE(
        SameProject(SaveAs(dir.File("gui.cmr")), CliProject(song, "set", "--out-port 1=1", false)));
}

} // namespace
} // namespace cardmill
