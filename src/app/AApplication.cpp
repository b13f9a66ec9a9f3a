#include "app/AApplication.h"

#include "app/AMainFrame.h"
#include "app/MidiBackendAll.h"
#include "app/QtAudioOutput.h"
#include "model/ALoaderProgressDialog.h"
#include "model/APrefs.h"
#include "model/MCardmill.h"
#include "model/MProject.h"
#include "model/MissingFileLocator.h"
#include "model/Services.h"
#include "model/sound/ASoundSystem.h"
#include "synth/AMidi.h"
#include "synth/LinkPace.h"
#include "ui/AAddFilesDialog.h"
#include "ui/AMainWindow.h"
#include "ui/ProgressDialog.h"

#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QWindow>

namespace cardmill {

/// The controller is made before the window it talks to: it reaches the main window through
/// this, once the window exists. A project file being opened calls it from the loader's worker
/// thread: every call is carried out on the user-interface thread.
class AApplication::DocumentUiForwarder final : public DocumentUi {
public:
    void ResetView() override
    {
        OnUiThread([this] {
            if (target)
                target->ResetView();
        });
    }
    void SelectGroup(int group) override
    {
        OnUiThread([this, group] {
            if (target)
                target->SelectGroup(group);
        });
    }
    void SetTitle(const std::string& title) override
    {
        OnUiThread([this, &title] {
            if (target)
                target->SetTitle(title);
        });
    }
    std::optional<std::string> ChooseProjectToOpen() override
    {
        std::optional<std::string> path;
        OnUiThread([this, &path] {
            if (target)
                path = target->ChooseProjectToOpen();
        });
        return path;
    }
    std::optional<SaveChoice> ChooseSaveAs(const std::string& proposedName) override
    {
        std::optional<SaveChoice> choice;
        OnUiThread([this, &choice, &proposedName] {
            if (target)
                choice = target->ChooseSaveAs(proposedName);
        });
        return choice;
    }
    void CloseFrame() override
    {
        OnUiThread([this] {
            if (target)
                target->CloseFrame();
        });
    }

    AMainWindow* target = nullptr;
};

/// The find-file dialog, asked by the project file reader (on the loader's worker thread) when a
/// file it names is found neither where it was nor in a remembered folder.
class AApplication::FindFileDialog final : public FileFinder {
public:
    explicit FindFileDialog(AApplication& application)
        : app(application)
    {
    }
    Answer Find(
        const std::string& kindName, const std::string& fileName, bool allowSkip, bool) override
    {
        FileChooser::Found found;
        OnUiThread([&] {
            found = app.Chooser().FindFile(app.frame.get(), QString::fromStdString(kindName),
                QString::fromStdString(fileName), allowSkip);
        });
        Answer answer;
        answer.path = found.path.toUtf8().toStdString();
        switch (found.choice) {
        case FileChooser::Found::Choice::Substitute:
            answer.choice = Choice::Substitute;
            break;
        case FileChooser::Found::Choice::Skip:
            answer.choice = Choice::Skip;
            break;
        case FileChooser::Found::Choice::Cancel:
            answer.choice = Choice::Cancel;
            break;
        }
        return answer;
    }

private:
    AApplication& app;
};

AApplication::AApplication(AppOptions appOptions)
    : options(std::move(appOptions))
    , prompter(options.prompter ? *options.prompter : static_cast<Prompter&>(qtPrompter))
    , ownChooser(options.chooser ? nullptr : std::make_unique<QtFileChooser>())
    , chooser(options.chooser ? options.chooser : ownChooser.get())
    , documentUi(std::make_unique<DocumentUiForwarder>())
    , link(prompter)
{
}

AApplication::~AApplication()
{
    idleTimer.stop();
    pending.Clear();
    // Files held outside the project (clipboard, undo action, pending lists, the file in
    // preview) belong to the controller's registries and go first, then the preview; then the
    // controller destroys its singletons (the preferences write themselves back) while the
    // window still exists for any question.
    if (frame)
        frame->MainWindow().ReleaseFiles();
    addFiles.reset();
    createInstrument.reset();
    soundSystem.reset();
    if (controller) {
        Services& services = controller->GetServices();
        services.SetProgress(nullptr);
        services.locator = nullptr;
        services.player = nullptr;
    }
    controller.reset();
    documentUi->target = nullptr;
    frame.reset();
}

bool AApplication::Start()
{
    const std::string configDir = IniSettingsStore::ConfigDirectory(options.configDir);
    settings = std::make_unique<IniSettingsStore>(configDir + "/" + IniSettingsStore::kFileName);
    journal = std::make_unique<TransferJournal>(TransferJournal::Beside(configDir));
    controller = std::make_unique<MCardmill>(
        Platform { prompter, clock, *settings }, *documentUi, pending);
    // The ports offered: the sequencer's, raw devices (and stored paths), the virtual instrument.
    std::vector<std::string> storedPorts;
    for (const char* key : { "MidiInputPort", "MidiOutputPort" })
        storedPorts.push_back(settings->Find("Hardware", key).value_or(""));
    link.UseMidi(std::make_unique<MidiBackendAll>(storedPorts, options.sim), clock);
    if (!controller->Startup(&link))
        return false;
    SettlePorts();
    if (!options.audio) {
        ownAudio = std::make_unique<QtAudioOutput>();
        ownKeyboardAudio = std::make_unique<QtAudioOutput>();
    }
    keyboardAudio = options.audio ? options.audio : ownKeyboardAudio.get();
    soundSystem
        = std::make_unique<ASoundSystem>(options.audio ? *options.audio : *ownAudio, prompter);
    controller->GetServices().player = soundSystem.get();
    findFile = std::make_unique<FindFileDialog>(*this);
    locator = std::make_unique<MissingFileLocator>(prompter, findFile.get());
    controller->GetServices().locator = locator.get();
    frame = std::make_unique<AMainFrame>(*this);
    qtPrompter.SetParent(frame.get());
    addFiles = std::make_unique<AAddFilesDialog>(*controller, frame.get());
    createInstrument = std::make_unique<ACreateInstrumentDialog>(*controller, frame.get());
    addFiles->SetSoundSystem(soundSystem.get());
    addFiles->SetVoiceOutput(*keyboardAudio);
    createInstrument->SetSoundSystem(soundSystem.get());
    documentUi->target = &frame->MainWindow();
    if (options.splash)
        frame->ShowAbout(3);
    frame->MainWindow().ResetView();
    frame->show();
    qApp->installEventFilter(this);
    SettingsChanged(); // what the preferences were read from
    connect(&idleTimer, &QTimer::timeout, this, &AApplication::Idle);
    idleTimer.start(50);
    return true;
}

bool AApplication::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::Show)
        if (auto* dialog = qobject_cast<QFileDialog*>(watched))
            FitFileDialogColumns(*dialog);
    return QObject::eventFilter(watched, event);
}

MidiBackendAll* AApplication::MidiPorts() const
{
    return dynamic_cast<MidiBackendAll*>(link.Backend());
}

void AApplication::SettlePorts()
{
    // A stored port that is gone was replaced by the first one there is: no choice of the
    // user's, so `cardmill prefs` may still change it.
    for (const char* key : { "MidiInputPort", "MidiOutputPort" })
        controller->Prefs().Settle(key);
}

void AApplication::UseStoredPorts(bool reopen)
{
    APrefs& prefs = controller->Prefs();
    prefs.Reload();
    AMidi* midi = link.Midi();
    if (!midi)
        return;
    const std::string input = midi->PreferredInputName();
    const std::string output = midi->PreferredOutputName();
    // A path stored by the command line is offered like one typed into MIDI Setup.
    if (MidiBackendAll* ports = MidiPorts())
        for (const std::string* stored : { &prefs.midiInputPort, &prefs.midiOutputPort })
            ports->Offer(*stored);
    if (input != prefs.midiInputPort || output != prefs.midiOutputPort
        || input != midi->PreferredInputName() || output != midi->PreferredOutputName()) {
        // Chosen by name again, as at start-up.
        midi->StartUp(prefs.midiInputPort, prefs.midiOutputPort);
        SettlePorts();
    } else if (reopen) {
        // Each operation opens the ports again: an interface unplugged since they were opened
        // (or a pty whose instrument ended) is then told with its reason, not taken for a
        // silent instrument, and one plugged back in works without a visit to MIDI Setup.
        midi->OpenPreferred();
    }
    // The pace that worked on the port last time, found by this or another program.
    midi->SetPace(
        PortPaces(prefs.Store()).Find(midi->PreferredOutputName()).value_or(LinkPace::kFullSpeed));
}

bool AApplication::SettingsChanged()
{
    // Looked at twice a second: a stat of one file.
    if (settingsLook.isValid() && settingsLook.elapsed() < 500)
        return false;
    settingsLook.start();
    const QFileInfo file(QString::fromStdString(settings->Path()));
    const auto stamp = std::make_pair(file.exists() ? file.lastModified() : QDateTime(),
        file.exists() ? file.size() : qint64 { -1 });
    if (stamp == settingsStamp)
        return false;
    settingsStamp = stamp;
    return true;
}

AMainWindow& AApplication::MainWindow() const
{
    return frame->MainWindow();
}

void AApplication::Idle()
{
    // A modal dialog (an operation's, or one collecting files) is in charge until it closes.
    if (operationRunning || QApplication::activeModalWidget())
        return;
    if (!options.projectToOpen.empty()) {
        // As the desktop shell's open command, once the window stands where the window manager
        // put it: a question about the file then shows over the window, not at the screen's
        // corner where the window was before it was placed.
        if (!frame->windowHandle() || !frame->windowHandle()->isExposed())
            return;
        frame->MainWindow().DropFiles({ QString::fromStdString(options.projectToOpen) });
        options.projectToOpen.clear();
        return;
    }
    if (pending.HasPending() || addFiles->HasPending()) {
        RunLoader(addFiles.get());
    } else {
        if (SettingsChanged())
            UseStoredPorts(false);
        frame->MainWindow().IdleRefresh();
        frame->MainWindow().PollPreview();
    }
}

void AApplication::RunOperation(bool withBanner, const std::function<void(ProgressDialog&)>& work,
    const std::function<void(ProgressDialog&)>& after)
{
    ProgressDialog dialog(frame.get(), withBanner);
    operationRunning = true;
    if (runningObserver)
        runningObserver(dialog);
    dialog.Run([&] { work(dialog); });
    if (after)
        after(dialog);
    operationRunning = false;
}

void AApplication::RunLoader(WaitingFiles* waiting)
{
    Services& services = controller->GetServices();
    RunOperation(false, [&](ProgressDialog& view) {
        services.SetProgress(&view);
        ALoaderProgressDialog loader(*controller, view);
        loader.SetWaitingFiles(waiting);
        loader.Run();
        services.SetProgress(nullptr);
    });
    frame->MainWindow().RefreshFileList();
}

} // namespace cardmill
