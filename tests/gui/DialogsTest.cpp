#include "GuiFixture.h"
#include "model/APrefs.h"
#include "synth/AMidi.h"
#include "synth/LinkPace.h"
#include "ui/AMidiDialog.h"
#include "ui/ProgressDialog.h"

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

TEST_F(Dialogs, MidiSetupTakesADevicePathAndStoresItAtOnce)
{
    // A pipe stands for the pty: both are what a raw MIDI port may be.
    const std::string synth = dir.File("synth");
    ASSERT_EQ(::mkfifo(synth.c_str(), 0600), 0);
    OnNextDialog<AMidiDialog>([&](AMidiDialog& dialog) {
        dialog.DevicePath()->setText(QString::fromStdString(synth));
        dialog.accept();
    });
    Trigger(AMainWindow::MidiSetup);
    const APrefs& prefs = app->Controller().Prefs();
    EXPECT_EQ(std::pair(prefs.midiInputPort, prefs.midiOutputPort), std::pair(synth, synth));
    EXPECT_TRUE(app->Link().Midi()->IsOpen());
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

} // namespace
} // namespace cardmill
