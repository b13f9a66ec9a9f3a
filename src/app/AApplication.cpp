#include "app/AApplication.h"

#include "app/AMainFrame.h"
#include "model/MCardmill.h"
#include "model/MProject.h"
#include "model/Services.h"
#include "synth/ALoaderProgressDialog.h"
#include "synth/MidiBackendAll.h"
#include "ui/AMainWindow.h"
#include "ui/ProgressDialog.h"

#include <QApplication>

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
    if (controller)
        controller->GetServices().SetProgress(nullptr);
    // Files the window holds outside the project (the undo action's, the clipboard's) are
    // registered sounds: they go while the sound registry they unregister from still exists.
    if (frame)
        frame->MainWindow().ReleaseHeldFiles();
    // The controller destroys its singletons (the preferences write themselves back) while the
    // window still exists for the questions it may ask.
    controller.reset();
    documentUi->target = nullptr;
    frame.reset();
}

bool AApplication::Start()
{
    configDir = IniSettingsStore::ConfigDirectory(options.configDir);
    settings = std::make_unique<IniSettingsStore>(configDir + "/" + IniSettingsStore::kFileName);
    controller = std::make_unique<MCardmill>(
        Platform { prompter, clock, *settings }, *documentUi, pending);
    // The ports offered: the sequencer's, raw devices (and stored paths), the virtual instrument.
    std::vector<std::string> storedPorts;
    for (const char* key : { "MidiInputPort", "MidiOutputPort" })
        storedPorts.push_back(settings->Find("Hardware", key).value_or(""));
    link.UseMidi(std::make_unique<MidiBackendAll>(storedPorts, options.sim), clock);
    if (!controller->Startup(&link))
        return false;
    frame = std::make_unique<AMainFrame>(*this);
    qtPrompter.SetParent(frame.get());
    documentUi->target = &frame->MainWindow();
    if (options.splash)
        frame->ShowAbout(3);
    frame->MainWindow().ResetView();
    frame->show();
    if (!options.projectToOpen.empty()) {
        // As the desktop shell's open command: the project is loaded at the first idle moment.
        frame->MainWindow().DropFiles({ QString::fromStdString(options.projectToOpen) });
    }
    connect(&idleTimer, &QTimer::timeout, this, &AApplication::Idle);
    idleTimer.start(50);
    return true;
}

MidiBackendAll* AApplication::MidiPorts() const
{
    return dynamic_cast<MidiBackendAll*>(link.Backend());
}

AMainWindow& AApplication::MainWindow() const
{
    return frame->MainWindow();
}

void AApplication::Idle()
{
    if (operationRunning)
        return;
    if (pending.HasPending())
        RunLoader();
    else
        frame->MainWindow().IdleRefresh();
}

void AApplication::RunOperation(bool withBanner, const std::function<void(ProgressDialog&)>& work,
    const std::function<void(ProgressDialog&)>& after)
{
    ProgressDialog dialog(frame.get(), withBanner);
    operationRunning = true;
    runningDialog = &dialog;
    if (runningObserver)
        runningObserver(dialog);
    dialog.Run([&] { work(dialog); });
    if (after)
        after(dialog);
    runningDialog = nullptr;
    operationRunning = false;
}

void AApplication::RunLoader(WaitingFiles* waiting, std::optional<int> group)
{
    Services& services = controller->GetServices();
    RunOperation(false, [&](ProgressDialog& view) {
        services.SetProgress(&view);
        ALoaderProgressDialog loader(*controller, view);
        loader.SetWaitingFiles(waiting);
        loader.SetTargetGroup(group);
        loader.Run();
        services.SetProgress(nullptr);
    });
    frame->MainWindow().RefreshFileList();
}

} // namespace cardmill
