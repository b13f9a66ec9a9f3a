#pragma once

#include "app/AApplication.h"
#include "app/AMainFrame.h"
#include "model/MCardmill.h"
#include "model/MProject.h"
#include "platform/ScriptedPrompter.h"
#include "support/Builders.h"
#include "support/Midi.h"
#include "support/TestEnv.h"
#include "ui/AMainWindow.h"
#include "ui/FileChooser.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sys/wait.h>

#include <gtest/gtest.h>

/// QStrings in test failures, as text.
inline void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}

namespace cardmill::test {

/// File dialogs answered from a script: each call takes the next answer (empty: Cancel).
class ScriptedChooser final : public FileChooser {
public:
    QString OpenFile(QWidget*, const QString&, const QString&) override { return Next(); }
    QString SaveFile(QWidget*, const QString&, const QString&, const QString&) override
    {
        return Next();
    }
    QString ChooseFolder(QWidget*, const QString&, const QString&) override { return Next(); }
    /// The find-file dialog answers Substitute with the next answer, Skip for "skip", Cancel for
    /// none.
    Found FindFile(QWidget*, const QString&, const QString& name, bool) override
    {
        asked.push_back(name);
        const QString answer = Next();
        if (answer.isEmpty())
            return {};
        if (answer == QStringLiteral("skip"))
            return { Found::Choice::Skip, {} };
        return { Found::Choice::Substitute, answer };
    }
    void Push(const QString& answer) { answers.push_back(answer); }

    QStringList asked;

private:
    QString Next()
    {
        if (answers.empty())
            return {};
        const QString answer = answers.front();
        answers.pop_front();
        return answer;
    }
    std::deque<QString> answers;
};

/// The whole application, started offscreen with a settings folder of its own, scripted
/// message boxes and file dialogs, and the virtual instrument as its MIDI port.
class Gui : public ::testing::Test {
protected:
    void SetUp() override
    {
        // The virtual instrument is the stored port, as MIDI Setup would leave it.
        std::filesystem::create_directories(dir.File("config"));
        std::ofstream(dir.File("config/Cardmill.conf"))
            << "[Hardware]\nMidiInputPort=sim\nMidiOutputPort=sim\n";
        AppOptions options;
        options.configDir = dir.File("config");
        options.prompter = &prompter;
        options.chooser = &chooser;
        options.splash = false;
        options.sim.instrument.cardBytes = 16 * 1024 * 1024;
        Configure(options);
        app = std::make_unique<AApplication>(options);
        ASSERT_TRUE(app->Start());
    }
    void TearDown() override
    {
        EXPECT_EQ(dialogsDriven, dialogsToDrive) << "a dialog the test drives never opened";
        // Nothing unsaved is asked about when the window goes.
        if (app)
            app->Controller().Project().ClearDirty();
        app.reset();
    }
    /// Tests may change the options before the application starts.
    virtual void Configure(AppOptions&) { }

    AMainWindow& Window() { return app->MainWindow(); }
    MProject& Project() { return app->Controller().Project(); }
    /// Chooses a command as the menu does: its enabling is brought up to date as it opens.
    void Trigger(AMainWindow::Command command)
    {
        Window().UpdateCommands();
        Window().Action(command)->trigger();
    }
    /// Lets the event loop run until `done` or the time is up.
    static bool Wait(const std::function<bool()>& done, int ms = 10000)
    {
        QElapsedTimer timer;
        timer.start();
        while (!done() && timer.elapsed() < ms)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        return done();
    }
    /// Loads files into the current group (or opens a project), as dropping them on the window
    /// does.
    void Add(std::initializer_list<std::string> paths)
    {
        QStringList list;
        for (const std::string& path : paths)
            list << QString::fromStdString(path);
        Window().DropFiles(list);
    }
    /// Saves the project through Save As under `path`; the path.
    std::string SaveAs(const std::string& path)
    {
        chooser.Push(QString::fromStdString(path));
        Trigger(AMainWindow::SaveAs);
        return path;
    }
    std::string Wav(
        const std::string& name, std::uint32_t frames = 2000, std::uint16_t channels = 1)
    {
        return dir.Write(name, WavBuilder().Format(1, channels, 44100, 16).Frames(frames).Build());
    }
    /// A MIDI file of one note.
    std::string Song(const std::string& name)
    {
        const auto track = TrackBuilder().Note(0, 0x90, 60, 100).Note(96, 0x80, 60, 0).End(0);
        return dir.Write(name, MidiFile(0, 96, { track.Build() }));
    }

    /// Runs `drive` on the next modal dialog of type Dialog once it shows. The test fails if it
    /// never does.
    template <typename Dialog> void OnNextDialog(std::function<void(Dialog&)> drive)
    {
        ++dialogsToDrive;
        auto* poll = new QTimer(&dialogPolls);
        QObject::connect(poll, &QTimer::timeout, [this, poll, drive] {
            if (auto* dialog = dynamic_cast<Dialog*>(QApplication::activeModalWidget())) {
                poll->stop();
                poll->deleteLater();
                ++dialogsDriven;
                drive(*dialog);
            }
        });
        poll->start(10);
    }

    /// Runs the command line with the window's settings folder; its exit status. What it says
    /// goes to `errors` when given.
    int RunCli(const std::string& arguments, const std::string& errors = "/dev/null")
    {
        const std::string command = "CARDMILL_CONFIG_DIR='" + dir.File("config")
            + "' '" CARDMILL_CLI "' " + arguments + " >/dev/null 2>'" + errors + "'";
        const int status = std::system(command.c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    TempDir dir;
    ScriptedPrompter prompter;
    ScriptedChooser chooser;
    std::unique_ptr<AApplication> app;

private:
    QObject dialogPolls; // owns the polls, so none outlives the test
    int dialogsToDrive = 0;
    int dialogsDriven = 0;
};

} // namespace cardmill::test
