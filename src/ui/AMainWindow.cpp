#include "ui/AMainWindow.h"

#include "app/AApplication.h"
#include "app/AMainFrame.h"
#include "app/APreferencesDialog.h"
#include "app/MidiBackendAll.h"
#include "compiler/AImageProgressDialog.h"
#include "compiler/CardImageReader.h"
#include "compiler/CardUnpacker.h"
#include "model/ALoaderProgressDialog.h"
#include "model/APrefs.h"
#include "model/CardInfoEdit.h"
#include "model/MProject.h"
#include "model/MReadableFile.h"
#include "model/TextEncoding.h"
#include "model/instrument/MInstFileCardmill.h"
#include "model/instrument/MInstFileInstrument.h"
#include "model/sequence/MSeqFile.h"
#include "model/sound/ASoundSystem.h"
#include "model/sound/MSoundFile.h"
#include "synth/ACompileProgressDialog.h"
#include "synth/AEraseProgressDialog.h"
#include "synth/AMidi.h"
#include "synth/CaptureReader.h"
#include "synth/LinkPace.h"
#include "ui/AAddFilesDialog.h"
#include "ui/ACardDialog.h"
#include "ui/AFitDialog.h"
#include "ui/AKeyboardPlayer.h"
#include "ui/AMidiDialog.h"
#include "ui/ANameDialog.h"
#include "ui/ASequenceDialog.h"
#include "ui/AVoiceDialog.h"
#include "ui/DialogKeys.h"
#include "ui/GroupLabels.h"
#include "ui/ProgressDialog.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QStyle>
#include <QTimer>
#include <QUrl>
#include <cctype>

namespace cardmill {

namespace {

/// After a transfer that failed with the card partly written, the failure's "Resume" choice:
/// true to write the rest now.
bool AskToResume(const ACompileProgressDialog& send, LinkOutcome outcome, Prompter& prompter)
{
    const auto onCard = send.SectorsOnCard();
    if (outcome != LinkOutcome::Ended || !onCard || onCard->first == onCard->second)
        return false;
    return prompter.Show("The transfer stopped with " + std::to_string(onCard->first)
                   + " of the card's " + SectorCount(onCard->second)
                   + " written.  Resume writes the rest now; Send to Synthesizer "
                     "offers to resume later.",
               Icon::Warning, Buttons::ResumeCancel)
        == Answer::Retry;
}

/// After a transfer stopped with Stop: how far it got, and how the card is finished.
void TellStopped(const ACompileProgressDialog& send, LinkOutcome outcome, Prompter& prompter)
{
    if (outcome != LinkOutcome::Stopped)
        return;
    std::string text = "The transfer was stopped.  " + send.HowFarItGot();
    if (send.CardChanged())
        text += send.SectorsOnCard()
            ? "  The card is only partly written: the next Send offers to resume where this "
              "one stopped."
            : "  The card is only partly written: send it again to write all of it.";
    prompter.Show(text, Icon::Warning, Buttons::Ok);
}

/// After Erase Card: what was erased, or how far it got.
/// A pace a transfer found for the port, kept for the next one; taken in on the worker thread,
/// stored from the window's once the run has ended.
void RememberPace(AApplication& app, std::optional<std::uint32_t> learned)
{
    AMidi* midi = app.Link().Midi();
    if (!learned || !midi)
        return;
    if (!PortPaces(app.Controller().Prefs().Store())
             .Remember(midi->PreferredOutputName(), *learned))
        app.GetPrompter().Show("The pace that worked (" + LinkPace::Text(*learned)
                + ") can't be remembered for the MIDI port: the settings file can't be written.",
            Icon::Warning, Buttons::Ok);
}

void TellErased(const AEraseProgressDialog& erase, LinkOutcome outcome, Prompter& prompter)
{
    if (outcome == LinkOutcome::Done)
        prompter.Show(erase.Erased()
                + "  That is the card size in Card Info: a larger card keeps its data past it.",
            Icon::Information, Buttons::Ok);
    else if (outcome != LinkOutcome::NotStarted)
        prompter.Show(
            (outcome == LinkOutcome::Stopped ? "Erasing was stopped.  " : "") + erase.HowFarItGot(),
            Icon::Warning, Buttons::Ok);
}

/// A transfer that offers what the journal allows, then resumes for as long as the user asks.
void SendWithResume(const std::function<bool(TransferMode)>& send)
{
    for (TransferMode mode = TransferMode::Offer; send(mode);)
        mode = TransferMode::Resume;
}

QString Text(const std::string& text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

std::string Std(const QString& text)
{
    return text.toUtf8().toStdString();
}

} // namespace

AGroupList::AGroupList(QWidget* parent)
    : QListWidget(parent)
{
    setSelectionMode(QAbstractItemView::SingleSelection);
    // Pictures of a line's height, so that the 13 groups still fit the list.
    setIconSize(QSize(16, 16));
    for (int group = 0; group < MProject::kGroupCount; ++group)
        addItem(new QListWidgetItem(GroupIcon(group), QString()));
}

AFileList::AFileList(QWidget* parent)
    : QTreeWidget(parent)
{
    setColumnCount(5);
    setHeaderHidden(true);
    setRootIsDecorated(false);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // The header's least width (some 20 pixels) would widen the 4-pixel spacer and push the
    // comments right of their heading.
    header()->setMinimumSectionSize(0);
    const int widths[] = { 134, 88, 61, 4 };
    for (int column = 0; column < 4; ++column)
        setColumnWidth(column, widths[column]);
}

void AFileList::focusInEvent(QFocusEvent* event)
{
    QTreeWidget::focusInEvent(event);
    // The view makes its first row current on focus without selecting it: a row that looks
    // current must be the one the commands act on, or Down from it goes nowhere in a list of one.
    if (QTreeWidgetItem* item = currentItem(); item && selectedItems().isEmpty())
        item->setSelected(true);
}

AMainWindow::AMainWindow(AApplication& application, QWidget* parent)
    : QWidget(parent)
    , app(application)
    , groups(new AGroupList(this))
    , files(new AFileList(this))
    , phrase(new AKeyboardPlayer(app.KeyboardAudio(), this))
    , rowMarker(new QFrame(files->viewport()))
    , groupMarker(new QFrame(groups->viewport()))
{
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 2, 2);
    layout->setSpacing(0);
    groups->setFixedWidth(136);
    layout->addWidget(groups);
    layout->addWidget(files, 1);
    for (QFrame* marker : { rowMarker, groupMarker }) {
        marker->setFrameShape(QFrame::Box);
        marker->setStyleSheet(QStringLiteral("border: 1px dotted palette(text);"));
        marker->hide();
    }
    MakeActions();
    connect(groups, &QListWidget::currentRowChanged, this, [this](int row) { GroupClicked(row); });
    connect(groups, &QListWidget::itemDoubleClicked, this,
        [this](QListWidgetItem* item) { RenameGroupRow(groups->row(item)); });
    connect(files, &QTreeWidget::itemSelectionChanged, this, [this] {
        const auto selected = files->selectedItems();
        const int row = selected.isEmpty() ? -1 : files->indexOfTopLevelItem(selected.front());
        if (row != currentRow)
            SelectFile(row);
    });
    connect(files, &QTreeWidget::itemDoubleClicked, this, [this] { ShowFileInfo(); });
    files->viewport()->installEventFilter(this);
    files->installEventFilter(this);
    groups->viewport()->installEventFilter(this);
    setFocusProxy(files);
    // F6 and Shift+F6 move the focus between the two lists.
    for (const char* keys : { "F6", "Shift+F6" }) {
        auto* next = new QAction(this);
        next->setShortcut(QKeySequence(QString::fromLatin1(keys)));
        next->setShortcutContext(Qt::WidgetWithChildrenShortcut);
        connect(next, &QAction::triggered, this,
            [this] { (files->hasFocus() ? static_cast<QWidget*>(groups) : files)->setFocus(); });
        addAction(next);
    }
}

AMainWindow::~AMainWindow() = default;

void AMainWindow::ReleaseFiles()
{
    undoAction.reset();
    clipboard.reset();
}

void AMainWindow::MakeActions()
{
    struct Entry {
        Command command;
        const char* text;
        QKeySequence keys;
    };
    const Entry entries[] = {
        { New, "&New", QKeySequence(QStringLiteral("Ctrl+N")) },
        { Open, "&Open...", QKeySequence(QStringLiteral("Ctrl+O")) },
        { OpenCardImage, "Open Card &Image...", {} },
        { CreateInstrument, "&Create Instrument...", {} },
        { AddFiles, "A&dd Files...", QKeySequence(QStringLiteral("Ctrl+D")) },
        { Save, "&Save", QKeySequence(QStringLiteral("Ctrl+S")) },
        { SaveAs, "Save &As...", {} },
        { Revert, "&Revert", {} },
        { Exit, "E&xit", QKeySequence(QKeySequence::Quit) },
        { Undo, "Can't Undo", QKeySequence(QStringLiteral("Ctrl+Z")) },
        { Cut, "Cu&t", QKeySequence(QStringLiteral("Ctrl+X")) },
        { Copy, "&Copy", QKeySequence(QStringLiteral("Ctrl+C")) },
        { Paste, "&Paste", QKeySequence(QStringLiteral("Ctrl+V")) },
        { Clear, "C&lear", {} },
        { Preferences, "Pre&ferences...", {} },
        { VoiceInfo, "&Voice Info...", QKeySequence(QStringLiteral("Ctrl+I")) },
        { RenameGroup, "&Rename Group...", {} },
        { CardInfo, "&Card Info...", {} },
        { FitToCard, "Fit to Car&d...", {} },
        { EraseCard, "&Erase Card", {} },
        { SendToSynth, "&Send to Synthesizer", {} },
        { CreateImageFile, "Create Image &File...", {} },
        { SendImageFile, "Send &Image File to Synthesizer...", {} },
        { TestMidi, "&Test MIDI I/O", {} },
        { MidiSetup, "&MIDI Setup...", {} },
        { HelpTopics, "Help &Topics", {} },
        { About, "&About Cardmill...", {} },
        { PlayStop, "Play/Stop", QKeySequence(Qt::Key_Space) },
        { SampleInfo, "Sam&ple Info...", QKeySequence(QStringLiteral("Ctrl+Shift+I")) },
    };
    for (const Entry& entry : entries) {
        auto* action = new QAction(QString::fromUtf8(entry.text), this);
        if (!entry.keys.isEmpty())
            action->setShortcut(entry.keys);
        const Command command = entry.command;
        connect(action, &QAction::triggered, this, [this, command] { Run(command); });
        actions[command] = action;
    }
    actions[Undo]->setShortcuts(
        { QKeySequence(QStringLiteral("Ctrl+Z")), QKeySequence(QStringLiteral("Alt+Backspace")) });
    actions[Cut]->setShortcuts(
        { QKeySequence(QStringLiteral("Ctrl+X")), QKeySequence(QStringLiteral("Shift+Del")) });
    actions[Copy]->setShortcuts(
        { QKeySequence(QStringLiteral("Ctrl+C")), QKeySequence(QStringLiteral("Ctrl+Ins")) });
    actions[Paste]->setShortcuts(
        { QKeySequence(QStringLiteral("Ctrl+V")), QKeySequence(QStringLiteral("Shift+Ins")) });
    actions[PlayStop]->setToolTip(QStringLiteral("Play/Stop (Space)"));
}

void AMainWindow::UpdateCommands()
{
    MProject& project = app.Controller().Project();
    const int selectedGroup = groups->currentRow();
    const bool fileThere = currentRow >= 0 && project.GetItem(currentGroup, currentRow) != nullptr;
    const bool empty = project.IsUntouched();
    actions[CreateInstrument]->setEnabled(selectedGroup <= 7);
    actions[Save]->setEnabled(project.IsDirty());
    window()->setWindowModified(project.IsDirty());
    actions[SaveAs]->setEnabled(!empty);
    actions[Revert]->setEnabled(app.Controller().HasFile() && project.IsDirty());
    actions[Undo]->setEnabled(undoAction && undoAction->CanApply());
    actions[Undo]->setText(undoAction ? undoAction->MenuText() : QStringLiteral("Can't Undo"));
    for (Command command : { Cut, Copy, Clear })
        actions[command]->setEnabled(fileThere);
    actions[Paste]->setEnabled(clipboard && project.CanPlace(clipboard.get(), currentGroup));
    actions[VoiceInfo]->setEnabled(currentRow >= 0 && currentGroup != MProject::kProgramGroup);
    actions[SampleInfo]->setEnabled(
        fileThere && dynamic_cast<const MInstFile*>(project.GetItem(currentGroup, currentRow)));
    actions[VoiceInfo]->setText(currentGroup == MProject::kSequenceGroup
            ? QStringLiteral("Se&quence Info...")
            : QStringLiteral("&Voice Info..."));
    actions[RenameGroup]->setEnabled(selectedGroup >= 0 && selectedGroup <= 10);
    actions[SendToSynth]->setEnabled(!empty);
    actions[CreateImageFile]->setEnabled(!empty);
    actions[FitToCard]->setEnabled(!empty);
    const MReadableFile* file = fileThere ? project.GetItem(currentGroup, currentRow) : nullptr;
    actions[PlayStop]->setEnabled(
        file && (file->CanPreview() || dynamic_cast<const MInstFileInstrument*>(file)));
}

void AMainWindow::Run(Command command)
{
    if (app.OperationRunning())
        return;
    UpdateCommands();
    if (!actions[command]->isEnabled())
        return;
    MCardmill& controller = app.Controller();
    MProject& project = controller.Project();
    LinkSingletons& link = app.Link();
    switch (command) {
    case New:
        controller.NewProject();
        break;
    case Open:
        controller.OpenProject();
        break;
    case OpenCardImage:
        UnpackCardImage();
        break;
    case CreateInstrument:
        CreateInstrumentFile();
        break;
    case AddFiles:
        if (app.AddFiles().Open(currentGroup) == QDialog::Accepted)
            app.RunLoader(&app.AddFiles());
        break;
    case Save:
        if (controller.SaveProject())
            LockDocument();
        break;
    case SaveAs:
        if (controller.SaveProjectAs())
            LockDocument();
        break;
    case Revert:
        controller.RevertProject();
        break;
    case Exit:
        CloseFrame();
        break;
    case Undo:
        if (undoAction && undoAction->CanApply())
            undoAction->Toggle();
        break;
    case Cut:
        StartAction(std::make_unique<ACutAction>(*this));
        break;
    case Clear:
        StartAction(std::make_unique<AClearAction>(*this));
        break;
    case Copy:
        CopyToClipboard(*this);
        break;
    case Paste:
        StartAction(std::make_unique<APasteAction>(*this));
        break;
    case Preferences: {
        APreferencesDialog dialog(controller.Prefs(), this);
        dialog.exec();
        break;
    }
    case VoiceInfo:
        ShowFileInfo();
        break;
    case SampleInfo:
        ShowFileInfo(true);
        break;
    case RenameGroup:
        RenameGroupRow(groups->currentRow());
        break;
    case CardInfo:
        ShowCardInfo();
        break;
    case FitToCard:
        FitToCardDialog();
        break;
    case EraseCard: {
        const std::uint32_t bytes = project.GetCardSizeBytes();
        app.UseStoredPorts(true);
        app.RunOperation(false, [&](ProgressDialog& view) {
            AEraseProgressDialog erase(
                *link.Midi(), *link.SysexHandler(), app.GetPrompter(), app.GetClock(), view);
            erase.UseJournal(app.Journal());
            TellErased(erase, erase.Run(bytes), app.GetPrompter());
        });
        break;
    }
    case SendToSynth: {
        const bool erase = controller.Prefs().eraseSectorBeforeWriting != 0;
        app.UseStoredPorts(true);
        std::optional<std::uint32_t> learned;
        app.RunOperation(true, [&](ProgressDialog& view) {
            SendWithResume([&](TransferMode mode) {
                ACompileProgressDialog send(project, link.CompileEngine(), *link.Midi(),
                    *link.SysexHandler(), app.GetPrompter(), app.GetClock(), view);
                send.OnPaceLearned([&learned](std::uint32_t pace) { learned = pace; });
                send.SetEraseSectorBeforeWriting(erase);
                send.UseJournal(app.Journal(), mode);
                const LinkOutcome outcome = send.Run();
                TellStopped(send, outcome, app.GetPrompter());
                return AskToResume(send, outcome, app.GetPrompter());
            });
        });
        RememberPace(app, learned);
        break;
    }
    case CreateImageFile: {
        const QString path = app.Chooser().SaveFile(this, QStringLiteral("Create Image File"),
            QStringLiteral("Image Files (*.img)"), Text(project.GetCardName()) + ".img");
        if (path.isEmpty())
            break;
        app.RunOperation(false, [&](ProgressDialog& view) {
            AImageProgressDialog image(
                project, link.CompileEngine(), app.GetPrompter(), app.GetClock(), view);
            image.TellWhereWhenReady();
            image.Run(Std(path));
        });
        break;
    }
    case SendImageFile: {
        const QString path = app.Chooser().OpenFile(
            this, QStringLiteral("Send Image File"), QStringLiteral("Image Files (*.img)"));
        if (path.isEmpty())
            break;
        const bool erase = controller.Prefs().eraseSectorBeforeWriting != 0;
        app.UseStoredPorts(true);
        std::optional<std::uint32_t> learned;
        app.RunOperation(true, [&](ProgressDialog& view) {
            SendWithResume([&](TransferMode mode) {
                AImageSendProgressDialog send(
                    *link.Midi(), *link.SysexHandler(), app.GetPrompter(), app.GetClock(), view);
                send.OnPaceLearned([&learned](std::uint32_t pace) { learned = pace; });
                send.SetEraseSectorBeforeWriting(erase);
                send.UseJournal(app.Journal(), mode);
                const LinkOutcome outcome = send.Run(Std(path));
                TellStopped(send, outcome, app.GetPrompter());
                return AskToResume(send, outcome, app.GetPrompter());
            });
        });
        RememberPace(app, learned);
        break;
    }
    case TestMidi: {
        bool identified = false;
        app.UseStoredPorts(true);
        app.RunOperation(
            false,
            [&](ProgressDialog& view) {
                AIOProgressDialog test(
                    *link.Midi(), *link.SysexHandler(), app.GetPrompter(), app.GetClock(), view);
                identified = test.Run() == LinkOutcome::Done;
            },
            [&](ProgressDialog& view) {
                if (identified)
                    view.WaitForOk();
            });
        break;
    }
    case MidiSetup: {
        // A port stored by `cardmill prefs` meanwhile is the one shown chosen.
        app.UseStoredPorts(false);
        AMidiDialog dialog(*link.Midi(), controller.Prefs(), app.GetPrompter(), this);
        dialog.onPath = [this](const std::string& path) {
            if (MidiBackendAll* ports = app.MidiPorts())
                ports->Offer(path);
        };
        if (dialog.exec() == QDialog::Accepted)
            controller.Prefs().Save();
        break;
    }
    case HelpTopics:
        ShowHelp();
        break;
    case About:
        app.Frame().ShowAbout(0);
        break;
    case PlayStop:
        if (MSoundFile* sound = CurrentSound()) {
            phrase->Stop();
            if (app.SoundSystem().IsPlaying(sound))
                app.SoundSystem().Stop();
            else
                app.SoundSystem().Play(*sound);
        } else if (auto* instrument
            = dynamic_cast<MInstFileInstrument*>(project.GetItem(currentGroup, currentRow))) {
            app.SoundSystem().Stop();
            std::string error;
            if (phrase->Playing())
                phrase->Stop();
            else if (phrase->Load(project, app.GetPrompter(), *instrument, error))
                phrase->Play(PhraseAcross(phrase->Voice()));
            else
                app.GetPrompter().Show("Sorry, but Cardmill can't play '"
                        + instrument->GetFileName() + "': " + error + ".",
                    Icon::Error, Buttons::Ok);
        }
        ShowPlaying();
        break;
    case kCommandCount:
        break;
    }
    UpdateCommands();
}

void AMainWindow::FillRow(QTreeWidgetItem* row, int index, const MReadableFile& file) const
{
    row->setText(0, Text(file.GetFileName()));
    // A sequence is named after its file; the number the instrument knows it by is a hover away.
    const QString number = QString::asprintf("Sequence %.2d", index);
    const bool sequence = currentGroup == MProject::kSequenceGroup;
    row->setText(1, sequence && file.GetShortName().empty() ? number : Text(file.GetShortName()));
    row->setToolTip(1, sequence ? number : QString());
    row->setText(2, QString::number(file.GetCompiledSize()));
    row->setTextAlignment(2, Qt::AlignRight | Qt::AlignVCenter);
    row->setText(4, Text(file.GetComment()));
}

void AMainWindow::SelectGroup(int group)
{
    SelectFile(-1);
    currentGroup = group;
    {
        const QSignalBlocker block(groups);
        groups->setCurrentRow(group);
    }
    RefreshFileList();
}

MSoundFile* AMainWindow::CurrentSound() const
{
    return dynamic_cast<MSoundFile*>(app.Controller().Project().GetItem(currentGroup, currentRow));
}

void AMainWindow::PollPreview()
{
    app.SoundSystem().Poll(CurrentSound());
    ShowPlaying();
}

void AMainWindow::ShowPlaying()
{
    const bool playing = app.SoundSystem().IsPlaying(CurrentSound()) || phrase->Playing();
    if (playing == showingPlaying)
        return;
    showingPlaying = playing;
    actions[PlayStop]->setIcon(
        style()->standardIcon(playing ? QStyle::SP_MediaStop : QStyle::SP_MediaPlay));
}

void AMainWindow::SelectFile(int row)
{
    MProject& project = app.Controller().Project();
    currentRow = row;
    if (row >= 0 && project.GetItem(currentGroup, row)) {
        const QSignalBlocker block(files);
        files->setCurrentItem(files->topLevelItem(row));
        files->scrollToItem(files->topLevelItem(row));
        files->setFocus();
    } else if (row < 0) {
        const QSignalBlocker block(files);
        files->clearSelection();
    }
    UpdateCommands();
}

void AMainWindow::RefreshFileList()
{
    MProject& project = app.Controller().Project();
    const QSignalBlocker block(files);
    files->clear();
    for (int index = 0;; ++index) {
        const MReadableFile* file = project.GetItem(currentGroup, index);
        if (!file)
            break;
        auto* row = new QTreeWidgetItem(files);
        FillRow(row, index, *file);
    }
    if (currentRow >= files->topLevelItemCount())
        currentRow = files->topLevelItemCount() - 1;
    if (currentRow >= 0)
        files->setCurrentItem(files->topLevelItem(currentRow));
    for (int group = 0; group < MProject::kGroupCount; ++group) {
        QListWidgetItem* item = groups->item(group);
        item->setText(GroupLabel(project, group));
        item->setFlags(project.IsGroupUnavailable(group) ? item->flags() & ~Qt::ItemIsEnabled
                                                         : item->flags() | Qt::ItemIsEnabled);
    }
}

void AMainWindow::IdleRefresh()
{
    MProject& project = app.Controller().Project();
    if (project.CountItems(currentGroup) != files->topLevelItemCount()) {
        const bool none = currentRow < 0;
        RefreshFileList();
        if (none && files->topLevelItemCount() > 0)
            SelectFile(files->topLevelItemCount() - 1);
        undoAction.reset();
    } else if (project.TakeNamesChanged()) {
        for (int group = 0; group < MProject::kGroupCount; ++group)
            groups->item(group)->setText(GroupLabel(project, group));
    }
    if (project.IsGroupUnavailable(currentGroup))
        SelectGroup(0);
    UpdateCommands();
}

void AMainWindow::GroupClicked(int row)
{
    MProject& project = app.Controller().Project();
    if (row < 0 || project.IsGroupUnavailable(row)) {
        const QSignalBlocker block(groups);
        groups->setCurrentRow(currentGroup);
        return;
    }
    if (row != currentGroup)
        SelectGroup(row);
}

void AMainWindow::ResetView()
{
    undoAction.reset();
    currentRow = -1;
    SetTitle("Cardmill - untitled");
    SelectGroup(0);
    app.ProjectLock().Unlock();
    app.Frame().Status().Restart();
}

void AMainWindow::SetTitle(const std::string& title)
{
    // "[*]" is where the mark of unsaved changes goes; one in a path is doubled to stand for
    // itself.
    window()->setWindowTitle(
        Text(title).replace(QStringLiteral("[*]"), QStringLiteral("[*][*]")) + "[*]");
    LockDocument();
}

void AMainWindow::LockDocument()
{
    // A save replaces the file by renaming a new one over it: the lock is taken again on the
    // file that now has the name, so a command-line change still finds the project in use.
    MCardmill& controller = app.Controller();
    if (!controller.HasFile())
        return;
    FileLock& lock = app.ProjectLock();
    lock.Unlock();
    if (lock.Lock(controller.DocumentPath(), std::chrono::milliseconds(0))
        == FileLock::Result::Busy)
        app.GetPrompter().Show("Another program is now changing '" + controller.DocumentPath()
                + "'; what this window saves may overwrite its change.",
            Icon::Warning, Buttons::Ok);
}

std::optional<std::string> AMainWindow::ChooseProjectToOpen()
{
    std::string path;
    if (droppedProject) {
        path = *droppedProject;
        droppedProject.reset();
    } else {
        path = Std(app.Chooser().OpenFile(
            this, QStringLiteral("Open"), QStringLiteral("Cardmill Files (*.cmr);;All Files (*)")));
    }
    if (path.empty())
        return std::nullopt;
    FileLock& lock = app.ProjectLock();
    lock.Unlock();
    if (lock.Lock(path, std::chrono::seconds(2)) == FileLock::Result::Busy) {
        ReportFailure(app.GetPrompter(),
            "Sorry, but '" + path
                + "' is in use by another program (a cardmill command changing it, or another "
                  "Cardmill window).  Try again when it is done.");
        LockDocument();
        return std::nullopt;
    }
    return path;
}

std::optional<DocumentUi::SaveChoice> AMainWindow::ChooseSaveAs(const std::string& proposedName)
{
    const QString path = app.Chooser().SaveFile(this, QStringLiteral("Save As"),
        QStringLiteral("Cardmill Project (*.cmr);;Text Dump (*.xls)"), Text(proposedName));
    if (path.isEmpty())
        return std::nullopt;
    SaveChoice choice;
    choice.path = Std(path);
    choice.fileType = path.endsWith(QStringLiteral(".xls"), Qt::CaseInsensitive) ? 2 : 1;
    return choice;
}

void AMainWindow::CloseFrame()
{
    window()->close();
}

void AMainWindow::AddFilesToGroup(const QStringList& paths)
{
    if (paths.isEmpty())
        return;
    WaitingFileList chosen;
    for (const QString& dropped : paths)
        for (const std::string& path : PresetPathsToAdd(this, Std(dropped)))
            if (auto file = app.Controller().CreateForAdding(path, MCardmill::AddFilter::Any, true))
                chosen.files.push_back(std::move(file));
    if (chosen.files.empty())
        return;
    // Sounds and instruments go to the group shown (to their own when that is Sequences or
    // Programs); sequences and banks always to theirs.
    if (currentGroup < MProject::kSoundGroups)
        chosen.targetGroup = currentGroup;
    app.RunLoader(&chosen);
    RefreshFileList();
}

void AMainWindow::DropFiles(const QStringList& paths)
{
    QStringList others;
    for (const QString& path : paths) {
        if (app.Controller().IsProjectFile(Std(path))) {
            // As Open does, with the path the desktop gave instead of the dialog's.
            droppedProject = Std(path);
            app.Controller().OpenProject();
            droppedProject.reset();
        } else {
            others.push_back(path);
        }
    }
    AddFilesToGroup(others);
}

void AMainWindow::StartAction(std::unique_ptr<AEditAction> action)
{
    undoAction = std::move(action);
    undoAction->Do();
    UpdateCommands();
}

MProject& AMainWindow::EditedProject()
{
    return app.Controller().Project();
}

void AMainWindow::SetCurrent(int group, int row)
{
    currentGroup = group;
    currentRow = row;
}

void AMainWindow::ShowGroup(int group)
{
    const int row = currentRow;
    currentGroup = group;
    {
        const QSignalBlocker block(groups);
        groups->setCurrentRow(group);
    }
    currentRow = -1;
    RefreshFileList();
    SelectFile(row < files->topLevelItemCount() ? row : -1);
}

void AMainWindow::RemoveRow(int row)
{
    currentRow = -1;
    RefreshFileList();
    SelectFile(std::min(row, files->topLevelItemCount() - 1));
}

void AMainWindow::ReportCantPerform()
{
    app.GetPrompter().Show(
        "Sorry, but Cardmill can't perform that operation because there is not enough memory.",
        Icon::Error, Buttons::Ok);
}

void AMainWindow::ShowFileInfo(bool openSample)
{
    MProject& project = app.Controller().Project();
    MReadableFile* file = project.GetItem(currentGroup, currentRow);
    if (!file)
        return;
    // Which dialog opens is the item's kind: voices and sequences have one, banks none.
    bool changed = false;
    bool contentChanged = false;
    if (auto* voice = dynamic_cast<MInstFile*>(file)) {
        phrase->Stop(); // the keyboard plays through the same output
        AVoiceDialog dialog(
            *voice, project, app.GetPrompter(), app.GetClock(), this, &app.KeyboardAudio());
        if (openSample)
            QTimer::singleShot(0, &dialog, [&dialog] { dialog.EditSample(0); });
        dialog.exec();
        changed = dialog.Changed();
        contentChanged = dialog.ContentChanged();
    } else if (auto* sequence = dynamic_cast<MSeqFile*>(file)) {
        ASequenceDialog dialog(*sequence, this);
        changed = dialog.exec() == QDialog::Accepted;
    }
    if (!changed)
        return;
    if (QTreeWidgetItem* row = files->topLevelItem(currentRow))
        FillRow(row, currentRow, *file);
    if (contentChanged)
        app.Frame().Status().Restart();
    UpdateCommands();
}

void AMainWindow::RenameGroupRow(int row)
{
    MProject& project = app.Controller().Project();
    if (row < 0 || row > 10 || project.IsGroupUnavailable(row))
        return;
    ANameDialog dialog(project, row, app.GetPrompter(), this);
    if (dialog.exec() != QDialog::Accepted)
        return;
    undoAction.reset();
    groups->item(row)->setText(GroupLabel(project, row));
    UpdateCommands();
}

void AMainWindow::ShowCardInfo()
{
    MProject& project = app.Controller().Project();
    ACardDialog dialog(project, app.GetPrompter(), this);
    if (dialog.exec() != QDialog::Accepted)
        return;
    // The target decides whether the drum groups can be used; the card size, the free bytes.
    RefreshFileList();
    if (project.IsGroupUnavailable(currentGroup))
        SelectGroup(0);
    app.Frame().Status().Restart();
    UpdateCommands();
}

void AMainWindow::FitToCardDialog()
{
    AFitDialog dialog(app.Controller(), app.GetPrompter(), this);
    if (!dialog.Ready() || dialog.exec() != QDialog::Accepted)
        return;
    StartAction(std::make_unique<AFitAction>(*this, dialog.TakeSwaps()));
    app.Frame().Status().Restart();
}

void AMainWindow::ShowHelp()
{
    const QString manual = app.Frame().ManualPath();
    if (manual.isEmpty() || !QDesktopServices::openUrl(QUrl::fromLocalFile(manual)))
        app.GetPrompter().Show(
            "The user manual can't be opened: " + Std(manual), Icon::Error, Buttons::Ok);
}

void AMainWindow::UnpackCardImage()
{
    MCardmill& controller = app.Controller();
    Prompter& prompter = app.GetPrompter();
    if (!controller.AskSaveChanges())
        return;
    const QString path = app.Chooser().OpenFile(this, QStringLiteral("Open Card Image"),
        QStringLiteral("Card Images and Captures (*.img *.syx);;All Files (*)"));
    if (path.isEmpty())
        return;
    std::string error;
    auto file = ReadCardFile(Std(path), controller.GetServices().makerId, error);
    if (!file) {
        error[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(error[0])));
        ReportFailure(prompter, error);
        return;
    }
    std::string notes;
    for (const std::string& note : file->notes)
        notes += (notes.empty() ? "" : "\n") + note;
    if (!notes.empty())
        prompter.Show(notes, Icon::Information, Buttons::Ok);
    if (!file->holes.empty()
        && prompter.Ask(file->holes + "  Unpack it anyway?", Icon::Warning, Buttons::OkCancel,
               Answer::Cancel)
            != Answer::Ok)
        return;
    const auto card = ReadCardImage(file->image, error);
    if (!card) {
        ReportFailure(prompter, "'" + Std(path) + "' can't be unpacked: " + error);
        return;
    }
    // A new folder beside the image, named after it, unless another is chosen.
    const QFileInfo image(path);
    const QString folder = app.Chooser().ChooseFolder(this, QStringLiteral("Unpack Into Folder"),
        image.absolutePath() + "/" + image.completeBaseName());
    if (folder.isEmpty())
        return;

    // The unpacker builds the project it saves in the controller's, which must start empty.
    const std::optional<std::string> previous
        = controller.HasFile() ? std::optional(controller.DocumentPath()) : std::nullopt;
    controller.StartEmptyProject();
    std::string project;
    bool unpacked = false;
    Services& services = controller.GetServices();
    app.RunOperation(false, [&](ProgressDialog& view) {
        services.SetProgress(&view);
        CardUnpacker unpacker(controller, view);
        unpacked = unpacker.Unpack(file->image, *card, Std(folder), project);
        services.SetProgress(nullptr);
    });
    if (unpacked)
        controller.OpenProjectAt(project);
    else if (previous)
        controller.OpenProjectAt(*previous);
    else
        controller.StartEmptyProject();
}

void AMainWindow::CreateInstrumentFile()
{
    // The new instrument joins the keyboard group chosen, so a full one is said at once, before
    // the samples are chosen for nothing.
    MProject& project = app.Controller().Project();
    const int group = std::clamp(currentGroup, 0, MProject::kSoundGroups - 1);
    if (project.CountItems(group) >= project.GetCapacity(group)) {
        ReportFailure(app.GetPrompter(),
            GroupTitle(group) + " ('" + project.GetGroupName(group) + "') holds "
                + std::to_string(project.GetCapacity(group))
                + " files, its limit.  Choose another keyboard group for the new instrument.");
        return;
    }
    ACreateInstrumentDialog& dialog = app.CreateInstrument();
    QString path;
    if (dialog.exec() == QDialog::Accepted)
        path = app.Chooser().SaveFile(this, QStringLiteral("Save Instrument"),
            QStringLiteral("Cardmill Instrument (*.cmt)"), QStringLiteral("untitled.cmt"));
    const bool written = !path.isEmpty() && dialog.WriteInstrument(Std(path), app.GetPrompter());
    dialog.CleanUp();
    if (written)
        AddFilesToGroup({ path });
}

std::optional<int> AMainWindow::TargetRowAt(const QPoint& point) const
{
    const QRect area = files->viewport()->rect();
    if (!area.contains(point))
        return std::nullopt;
    // Only the height counts: the row under a point near the left edge.
    const QModelIndex index = files->indexAt(QPoint(10, point.y()));
    if (!index.isValid())
        return files->topLevelItemCount();
    const QRect rect = files->visualRect(index);
    return index.row() + (point.y() > rect.center().y() ? 1 : 0);
}

std::optional<int> AMainWindow::TargetGroupAt(const QPoint& globalPoint) const
{
    const QPoint point = groups->viewport()->mapFromGlobal(globalPoint);
    if (!groups->viewport()->rect().contains(point))
        return std::nullopt;
    const int row = groups->indexAt(point).row();
    if (row < 0 || row >= MProject::kSoundGroups
        || app.Controller().Project().IsGroupUnavailable(row))
        return std::nullopt;
    return row;
}

void AMainWindow::ShowDropMarker(std::optional<int> row, std::optional<int> group)
{
    rowMarker->setVisible(row.has_value());
    if (row) {
        const int count = files->topLevelItemCount();
        int y = 0;
        if (*row < count)
            y = files->visualItemRect(files->topLevelItem(*row)).top();
        else if (count > 0)
            y = files->visualItemRect(files->topLevelItem(count - 1)).bottom();
        rowMarker->setGeometry(0, std::max(0, y - 1), files->viewport()->width(), 2);
    }
    groupMarker->setVisible(group.has_value());
    if (group)
        groupMarker->setGeometry(groups->visualItemRect(groups->item(*group)));
}

bool AMainWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == files && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Delete) {
            Run(Clear);
            return true;
        }
        // Enter opens the file as a double-click does: the one with the focus frame, which the
        // list gives a current row without selecting it when it takes the focus.
        if (IsPlainEnter(*key)) {
            if (currentRow < 0 && files->currentItem())
                files->currentItem()->setSelected(true);
            Run(VoiceInfo);
            return true;
        }
    }
    if (watched == groups->viewport()) {
        // Right-button presses do nothing in either list.
        const bool right = (event->type() == QEvent::MouseButtonPress
                               || event->type() == QEvent::MouseButtonDblClick)
            && static_cast<QMouseEvent*>(event)->button() == Qt::RightButton;
        return right;
    }
    if (watched != files->viewport())
        return QWidget::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::MouseButtonPress: {
        auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() == Qt::RightButton)
            return true;
        if (mouse->button() == Qt::LeftButton) {
            const QModelIndex index = files->indexAt(mouse->position().toPoint());
            pressed = index.isValid();
            dragSource = index.row();
            pressPoint = mouse->position().toPoint();
        }
        return false;
    }
    case QEvent::MouseMove: {
        auto* mouse = static_cast<QMouseEvent*>(event);
        if (!pressed)
            return false;
        if (!dragging
            && (mouse->position().toPoint() - pressPoint).manhattanLength()
                < QApplication::startDragDistance())
            return false;
        dragging = true;
        const auto row = TargetRowAt(mouse->position().toPoint());
        ShowDropMarker(row, row ? std::nullopt : TargetGroupAt(mouse->globalPosition().toPoint()));
        return true;
    }
    case QEvent::MouseButtonRelease: {
        auto* mouse = static_cast<QMouseEvent*>(event);
        const bool wasDragging = dragging;
        pressed = dragging = false;
        ShowDropMarker(std::nullopt, std::nullopt);
        if (!wasDragging)
            return false;
        const auto row = TargetRowAt(mouse->position().toPoint());
        const auto group = row ? std::nullopt : TargetGroupAt(mouse->globalPosition().toPoint());
        DropDragged(dragSource, row, group, (mouse->modifiers() & Qt::ControlModifier) != 0);
        return true;
    }
    default:
        return false;
    }
}

void AMainWindow::DropDragged(
    int source, std::optional<int> targetRow, std::optional<int> targetGroup, bool copy)
{
    MProject& project = app.Controller().Project();
    MReadableFile* file = project.GetItem(currentGroup, source);
    if (!file || (!targetRow && !targetGroup))
        return;
    const int sourceGroup = currentGroup;
    int toGroup = currentGroup;
    int toRow = 0;
    if (targetRow) {
        if (*targetRow == source)
            return;
        // Moved down, the file lands where the marker was: one row up once it has left.
        toRow = copy || *targetRow < source ? *targetRow : *targetRow - 1;
        if (!copy && toRow == source)
            return;
    } else {
        toGroup = *targetGroup;
        if (toGroup == currentGroup)
            return;
        if (!project.CanPlace(file, toGroup)) {
            currentRow = -1;
            RefreshFileList();
            return;
        }
        toRow = project.CountItems(toGroup);
    }
    std::unique_ptr<MReadableFile> placed;
    if (copy) {
        placed = file->Duplicate();
        if (!placed) {
            ReportCantPerform();
            return;
        }
        placed->Activate();
    } else {
        placed = project.RemoveItem(file);
    }
    MReadableFile* moved = placed.get();
    placed->SetCategory(static_cast<std::int16_t>(toGroup));
    project.InsertItem(std::move(placed), toRow);
    undoAction = copy ? std::unique_ptr<AEditAction>(std::make_unique<ADragCopyAction>(*this))
                      : std::make_unique<ADragMoveAction>(*this);
    undoAction->Record(moved, sourceGroup, source, toGroup, toRow);
    if (toGroup == sourceGroup) {
        currentRow = toRow;
        ShowGroup(toGroup);
    } else {
        SelectGroup(toGroup);
    }
}

void AMainWindow::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    files->setColumnWidth(4, std::max(40, files->viewport()->width() - 287));
}

} // namespace cardmill
