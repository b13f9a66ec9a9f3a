#pragma once

#include "app/QtPrompter.h"
#include "model/PendingFilesQueue.h"
#include "platform/Clock.h"
#include "platform/FileLock.h"
#include "platform/IniSettingsStore.h"
#include "sim/SimOptions.h"
#include "synth/LinkSingletons.h"
#include "synth/TransferJournal.h"
#include "ui/FileChooser.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>

namespace cardmill {

class AAddFilesDialog;
class ASoundSystem;
class AudioOutput;
class ACreateInstrumentDialog;
class AMainFrame;
class MissingFileLocator;
class AMainWindow;
class MCardmill;
class MidiBackendAll;
class ProgressDialog;
class WaitingFiles;

/// How the application is started; tests give their own prompter, file chooser and folders.
struct AppOptions {
    /// The settings folder (empty: $XDG_CONFIG_HOME/Orvane Inc., or CARDMILL_CONFIG_DIR).
    std::string configDir;
    /// Message boxes (none: Qt's); called on the user-interface thread only.
    Prompter* prompter = nullptr;
    /// File dialogs (none: Qt's own).
    FileChooser* chooser = nullptr;
    bool splash = true;
    /// A project to open at start (the command line's argument).
    std::string projectToOpen;
    /// The virtual instrument offered as the port "sim".
    SimOptions sim;
    /// Sound preview output (none: Qt Multimedia's default device).
    AudioOutput* audio = nullptr;
};

/// The desktop application: starts the controller with its singletons, owns the queue of files
/// waiting to be loaded and the main frame, runs the long operations in their progress dialogs
/// and does the idle-time work (loading waiting files, the main window's refresh).
class AApplication final : public QObject {
public:
    explicit AApplication(AppOptions options);
    ~AApplication() override;
    AApplication(const AApplication&) = delete;
    AApplication& operator=(const AApplication&) = delete;

    /// The start-up sequence; false when the application can't run (the user was told).
    bool Start();

    MCardmill& Controller() const { return *controller; }
    Prompter& GetPrompter() { return prompter; }
    Clock& GetClock() { return clock; }
    PendingFilesQueue& Pending() { return pending; }
    LinkSingletons& Link() { return link; }
    MidiBackendAll* MidiPorts() const;
    FileChooser& Chooser() const { return *chooser; }
    AMainFrame& Frame() const { return *frame; }
    AMainWindow& MainWindow() const;
    FileLock& ProjectLock() { return projectLock; }
    AAddFilesDialog& AddFiles() const { return *addFiles; }
    ASoundSystem& SoundSystem() const { return *soundSystem; }
    /// The output Voice Info's keyboard plays through, a stream apart from the preview's.
    AudioOutput& KeyboardAudio() const { return *keyboardAudio; }
    ACreateInstrumentDialog& CreateInstrument() const { return *createInstrument; }
    const TransferJournal& Journal() const { return *journal; }

    /// Runs a long operation in a progress dialog (its work on a worker thread; the idle work
    /// and the size scan pause meanwhile); `after` runs once the work has ended, the dialog
    /// still open.
    void RunOperation(bool withBanner, const std::function<void(ProgressDialog&)>& work,
        const std::function<void(ProgressDialog&)>& after = {});
    bool OperationRunning() const { return operationRunning; }
    /// Reads the preferences again and opens the MIDI ports they name when those changed (set by
    /// `cardmill prefs` meanwhile); with `reopen`, opens them again even when they didn't.
    void UseStoredPorts(bool reopen);
    /// Loads the files waiting in the queue, and then the `waiting` ones.
    void RunLoader(WaitingFiles* waiting = nullptr);
    /// Tests look at each operation's dialog as it opens.
    void SetRunningObserver(std::function<void(ProgressDialog&)> observer)
    {
        runningObserver = std::move(observer);
    }

protected:
    /// Every file dialog shown, whoever opens it, gets columns wide enough for what they show.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    class DocumentUiForwarder;
    class FindFileDialog;
    void Idle();
    void SettlePorts();
    /// The preferences file changed since it was last looked at.
    bool SettingsChanged();

    AppOptions options;
    QtPrompter qtPrompter;
    UiThreadPrompter prompter;
    std::unique_ptr<FileChooser> ownChooser;
    FileChooser* chooser;
    SystemClock clock;
    std::unique_ptr<IniSettingsStore> settings;
    std::unique_ptr<TransferJournal> journal;
    PendingFilesQueue pending;
    std::unique_ptr<DocumentUiForwarder> documentUi;
    LinkSingletons link;
    std::unique_ptr<MCardmill> controller;
    std::unique_ptr<AMainFrame> frame;
    std::unique_ptr<AAddFilesDialog> addFiles;
    std::unique_ptr<ACreateInstrumentDialog> createInstrument;
    std::unique_ptr<FindFileDialog> findFile;
    std::unique_ptr<AudioOutput> ownAudio;
    std::unique_ptr<AudioOutput> ownKeyboardAudio;
    AudioOutput* keyboardAudio = nullptr;
    std::unique_ptr<ASoundSystem> soundSystem;
    std::unique_ptr<MissingFileLocator> locator;
    FileLock projectLock;
    QTimer idleTimer;
    QElapsedTimer settingsLook;
    std::pair<QDateTime, qint64> settingsStamp { QDateTime(), -1 };
    bool operationRunning = false;
    std::function<void(ProgressDialog&)> runningObserver;
};

} // namespace cardmill
