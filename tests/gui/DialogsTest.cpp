#include "GuiFixture.h"
#include "model/APrefs.h"
#include "model/MReadableFile.h"
#include "support/SoundFontBuilder.h"
#include "synth/AMidi.h"
#include "synth/LinkPace.h"
#include "ui/AMidiDialog.h"
#include "ui/ProgressDialog.h"

#include <QDialog>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTimer>
#include <fstream>
#include <iterator>
#include <sys/stat.h>

namespace cardmill {
namespace {

using test::Gui;

using Dialogs = Gui;

TEST_F(Dialogs, MidiSetupListsThePortsWithTheStoredOneChosen)
{
    QStringList inputs;
    bool simChosen = false;
    OnNextDialog<AMidiDialog>([&](AMidiDialog& dialog) {
        for (int row = 0; row < dialog.Inputs()->count(); ++row)
            inputs.push_back(dialog.Inputs()->item(row)->text());
        simChosen = dialog.Inputs()->currentItem()
            && dialog.Inputs()->currentItem()->text() == QStringLiteral("sim");
        dialog.accept();
    });
    Trigger(AMainWindow::MidiSetup);
    ASSERT_FALSE(inputs.isEmpty());
    EXPECT_EQ(inputs.back(), QStringLiteral("sim"));
    EXPECT_TRUE(simChosen);
    EXPECT_EQ(app->Controller().Prefs().midiInputPort, "sim");
}

TEST_F(Dialogs, MidiSetupTakesADevicePathAndRefusesWhatCantBeAPort)
{
    // A pipe stands for the pty: both are what a raw MIDI port may be.
    const std::string synth = dir.File("synth");
    ASSERT_EQ(::mkfifo(synth.c_str(), 0600), 0);
    const std::string missing = dir.File("no-such-device");
    const std::string file = Wav("a.wav", 100);
    std::vector<std::string> refusals;
    bool stayedOpen = true;
    OnNextDialog<AMidiDialog>([&](AMidiDialog& dialog) {
        for (const std::string& typed : { missing, file }) {
            dialog.DevicePath()->setText(QString::fromStdString(typed));
            dialog.accept();
            stayedOpen = stayedOpen && dialog.isVisible();
            refusals.push_back(prompter.LastText());
        }
        dialog.DevicePath()->setText(QString::fromStdString(synth));
        dialog.accept();
    });
    Trigger(AMainWindow::MidiSetup);
    EXPECT_TRUE(stayedOpen);
    EXPECT_EQ(refusals,
        (std::vector<std::string> { "Sorry, but '" + missing
                + "' can't be a MIDI port: it doesn't exist (a port is a MIDI device such as "
                  "/dev/snd/midiC1D0, or a pty).",
            "Sorry, but '" + file
                + "' can't be a MIDI port: it is not a MIDI port but a file (a port is a MIDI "
                  "device such as /dev/snd/midiC1D0, or a pty)." }));
    const APrefs& prefs = app->Controller().Prefs();
    EXPECT_EQ(std::pair(prefs.midiInputPort, prefs.midiOutputPort), std::pair(synth, synth));
    EXPECT_TRUE(app->Link().Midi()->IsOpen());
    EXPECT_TRUE(Wait([&] {
        return app->Frame().Status().PortText() == QString::fromStdString("MIDI port: " + synth);
    }));
    // Stored at once: a command in a terminal sends to the same port.
    std::ifstream stored(dir.File("config/Cardmill.conf"));
    const std::string text((std::istreambuf_iterator<char>(stored)), {});
    EXPECT_NE(text.find("MidiOutputPort=" + synth), std::string::npos) << text;
}

TEST_F(Dialogs, MidiSetupShowsThePaceRememberedForTheOutputAndRefusesOneThatIsNone)
{
    PortPaces paces(app->Controller().Prefs().Store());
    ASSERT_TRUE(paces.Remember("sim", 3125));
    QString shown;
    std::string refusal;
    bool stayedOpen = false;
    OnNextDialog<AMidiDialog>([&](AMidiDialog& dialog) {
        shown = dialog.Pace()->text();
        dialog.Pace()->setText(QStringLiteral("999"));
        dialog.accept();
        stayedOpen = dialog.isVisible();
        refusal = prompter.LastText();
        dialog.Pace()->setText(QStringLiteral("15625"));
        dialog.accept();
    });
    Trigger(AMainWindow::MidiSetup);
    EXPECT_EQ(shown, QStringLiteral("3125"));
    EXPECT_TRUE(stayedOpen);
    EXPECT_EQ(refusal,
        "Sorry, but the pace takes bytes a second from 1,000 to 1,000,000 (3125 is a DIN MIDI "
        "cable's rate), or 0 for full speed, not '999'.");
    EXPECT_EQ(paces.Find("sim"), 15625u);
    EXPECT_EQ(app->Link().Midi()->Pace(), 15625u);
    // Emptied, the field means full speed: the port's pace is forgotten.
    OnNextDialog<AMidiDialog>([&](AMidiDialog& dialog) {
        shown = dialog.Pace()->text();
        dialog.Pace()->clear();
        dialog.accept();
    });
    Trigger(AMainWindow::MidiSetup);
    EXPECT_EQ(shown, QStringLiteral("15625"));
    EXPECT_EQ(paces.Find("sim"), LinkPace::kFullSpeed);
    EXPECT_EQ(app->Link().Midi()->Pace(), LinkPace::kFullSpeed);
}

TEST_F(Dialogs, APortSetByTheCommandLineIsSeenWhileTheWindowIsOpen)
{
    const std::string synth = dir.File("synth");
    ASSERT_EQ(::mkfifo(synth.c_str(), 0600), 0);
    ASSERT_EQ(RunCli("prefs MidiInputPort='" + synth + "' MidiOutputPort='" + synth + "'"), 0);
    // The status bar follows without a visit to MIDI Setup, which then shows it chosen.
    EXPECT_TRUE(Wait([&] {
        return app->Frame().Status().PortText() == QString::fromStdString("MIDI port: " + synth);
    }));
    QString input;
    QString output;
    OnNextDialog<AMidiDialog>([&](AMidiDialog& dialog) {
        input = dialog.Inputs()->currentItem() ? dialog.Inputs()->currentItem()->text() : "";
        output = dialog.Outputs()->currentItem() ? dialog.Outputs()->currentItem()->text() : "";
        dialog.reject();
    });
    Trigger(AMainWindow::MidiSetup);
    EXPECT_EQ(std::pair(input, output),
        std::pair(QString::fromStdString(synth), QString::fromStdString(synth)));
    EXPECT_EQ(app->Link().Midi()->PreferredOutputName(), synth);
}

TEST_F(Dialogs, TestMidiShowsTheBannerUntilOk)
{
    QString sector;
    app->SetRunningObserver([&](ProgressDialog& dialog) {
        auto* poll = new QTimer(&dialog);
        QObject::connect(poll, &QTimer::timeout, [&dialog, &sector] {
            if (dialog.StopButton()->text() == QStringLiteral("OK")) {
                sector = dialog.LineText(2);
                dialog.StopButton()->click();
            }
        });
        poll->start(10);
    });
    Trigger(AMainWindow::TestMidi);
    EXPECT_EQ(sector, QStringLiteral("Orvane Device: Zelta Grand v01.00"));
}

TEST_F(Dialogs, AnOpenProjectIsLockedAgainstTheCommandLineAndADroppedProjectOpens)
{
    const std::string sound = Wav("a.wav", 500);
    Add({ sound });
    Project().SetCardName("Locked");
    const std::string project = SaveAs(dir.File("locked.cmr"));
    EXPECT_EQ(app->Frame().windowTitle(), QString::fromStdString("Cardmill - " + project + "[*]"));

    const std::string add = "add '" + project + "' '" + sound + "'";
    EXPECT_NE(RunCli(add, dir.File("err.txt")), 0);
    EXPECT_NE(
        test::ReadText(dir.File("err.txt")).find("in use by another program"), std::string::npos);

    // A new project lets go of it; dropping the file opens it again.
    Trigger(AMainWindow::New);
    EXPECT_EQ(RunCli(add), 0);
    Add({ project });
    ASSERT_TRUE(Wait([&] { return Project().CountItems(0) == 2; }));
    EXPECT_EQ(app->Frame().windowTitle(), QString::fromStdString("Cardmill - " + project + "[*]"));
    // The free space of the project just opened, not of the empty one before it.
    Project().ComputeTotalBytes();
    const QString free = QString::number(Project().FreeBytes());
    EXPECT_TRUE(Wait([&] { return app->Frame().Status().PaneText(4) == free; }));
}

TEST_F(Dialogs, ADroppedSoundFontAddsThePresetsChosenFromItsList)
{
    using B = test::SoundFontBuilder;
    B font;
    font.samples = { { "Tone", std::vector<std::int16_t>(100, 1000) } };
    font.instruments = { { "Tone", 0, 0, { { { { 53, 0 } } } } } };
    font.presets = { { "Grand", 0, 0, { { { { 41, 0 } } } } },
        { "Bells", 0, 9, { { { { 41, 0 } } } } }, { "Kit", 128, 0, { { { { 41, 0 } } } } } };
    const std::string path = dir.Write("three.sf2", font.Build());
    QStringList listed;
    OnNextDialog<QDialog>([&](QDialog& dialog) {
        auto* list = dialog.findChild<QListWidget*>(QStringLiteral("presetList"));
        ASSERT_NE(list, nullptr);
        for (int row = 0; row < list->count(); ++row)
            listed << list->item(row)->text();
        list->clearSelection();
        list->item(1)->setSelected(true);
        list->item(2)->setSelected(true);
        dialog.accept();
    });
    Add({ path });
    ASSERT_TRUE(Wait([&] { return Project().CountItems(0) == 2; }));
    EXPECT_EQ(listed, QStringList({ "0:0  Grand", "0:9  Bells", "128:0  Kit" }));
    EXPECT_EQ(Project().GetItem(0, 0)->GetFileName(), "Bells");
    EXPECT_EQ(Project().GetItem(0, 1)->GetFileName(), "Kit");
}

} // namespace
} // namespace cardmill
