#pragma once

#include "model/MCardmill.h"
#include "ui/AEditAction.h"

#include <QAction>
#include <QListWidget>
#include <QTreeWidget>
#include <QWidget>
#include <memory>
#include <optional>
#include <string>

class QFrame;

namespace cardmill {

class AApplication;
class AKeyboardPlayer;
class MReadableFile;
class MSoundFile;

/// The group list: the project's 13 groups, one row each.
class AGroupList final : public QListWidget {
public:
    explicit AGroupList(QWidget* parent);
};

/// The file list: the files of the group shown, in five columns, without a header of its own
/// (the frame's heading strip is its header).
class AFileList final : public QTreeWidget {
public:
    explicit AFileList(QWidget* parent);

protected:
    void focusInEvent(QFocusEvent* event) override;
};

/// The application's single view: the group list and the file list side by side, every command
/// of the File, Edit and Project menus with its enabling rule, the current group and file, the
/// clipboard and the undoable action, and dragging files within the list and onto groups. It is
/// also what the controller sees of the window (titles, resets, the project file dialogs).
class AMainWindow final : public QWidget, public DocumentUi, public EditTarget {
public:
    enum Command {
        New,
        Open,
        OpenCardImage,
        CreateInstrument,
        AddFiles,
        Save,
        SaveAs,
        Revert,
        Exit,
        Undo,
        Cut,
        Copy,
        Paste,
        Clear,
        Preferences,
        VoiceInfo,
        RenameGroup,
        CardInfo,
        FitToCard,
        EraseCard,
        SendToSynth,
        CreateImageFile,
        SendImageFile,
        TestMidi,
        MidiSetup,
        HelpTopics,
        About,
        PlayStop,
        SampleInfo,
        kCommandCount
    };

    AMainWindow(AApplication& app, QWidget* parent);
    ~AMainWindow() override;

    QAction* Action(Command command) const { return actions[command]; }
    /// Sets every command's enabling and texts from the state now.
    void UpdateCommands();

    void SelectGroup(int group) override;
    void SelectFile(int row);
    void RefreshFileList();
    /// The idle-time refresh: rows added behind the list's back, renamed groups.
    void IdleRefresh();
    // EditTarget
    MProject& EditedProject() override;
    int CurrentGroup() const override { return currentGroup; }
    int CurrentRow() const override { return currentRow; }
    void SetCurrent(int group, int row) override;
    void ShowGroup(int group) override;
    void RemoveRow(int row) override;
    int RowCount() const override { return files->topLevelItemCount(); }
    std::unique_ptr<MReadableFile>& ClipboardFile() override { return clipboard; }
    void ReportCantPerform() override;

    AGroupList* Groups() const { return groups; }
    AFileList* Files() const { return files; }
    const MReadableFile* Clipboard() const { return clipboard.get(); }
    /// One step of the preview of the selected sound; the Play/Stop image follows it.
    void PollPreview();
    bool ShowingPlaying() const { return showingPlaying; }
    /// Lets go of the files held outside the project (clipboard, undo action).
    void ReleaseFiles();
    /// Files dropped on the window from the desktop: a project opens, the rest are added.
    void DropFiles(const QStringList& paths);
    /// The drag gesture's end, as the mouse gives it: a row of the file list or a group.
    void DropDragged(
        int sourceRow, std::optional<int> targetRow, std::optional<int> targetGroup, bool copy);

    // DocumentUi
    void ResetView() override;
    void SetTitle(const std::string& title) override;
    std::optional<std::string> ChooseProjectToOpen() override;
    std::optional<SaveChoice> ChooseSaveAs(const std::string& proposedName) override;
    void CloseFrame() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void MakeActions();
    MSoundFile* CurrentSound() const;
    void ShowPlaying();
    void Run(Command command);
    void FillRow(QTreeWidgetItem* row, int index, const MReadableFile& file) const;
    void GroupClicked(int row);
    void AddFilesToGroup(const QStringList& paths);
    /// The item's information dialog; for a voice with `openSample`, Sample Info of its first
    /// sample opens over Voice Info at once.
    void ShowFileInfo(bool openSample = false);
    void RenameGroupRow(int row);
    void ShowCardInfo();
    void FitToCardDialog();
    void ShowHelp();
    void CreateInstrumentFile();
    void UnpackCardImage();
    /// Clear, Cut and Paste: the new action replaces the undo action and is carried out.
    void StartAction(std::unique_ptr<AEditAction> action);
    void LockDocument();
    // Dragging, from the file list's mouse events.
    std::optional<int> TargetRowAt(const QPoint& listPoint) const;
    std::optional<int> TargetGroupAt(const QPoint& globalPoint) const;
    void ShowDropMarker(std::optional<int> row, std::optional<int> group);

    AApplication& app;
    AGroupList* groups;
    AFileList* files;
    QAction* actions[kCommandCount] {};
    int currentGroup = 0;
    int currentRow = -1;
    std::unique_ptr<MReadableFile> clipboard;
    std::unique_ptr<AEditAction> undoAction;
    std::optional<std::string> droppedProject;
    bool showingPlaying = false;
    /// Play on an instrument: a phrase across its key groups, as the card will play it.
    AKeyboardPlayer* phrase;
    // Drag state.
    bool pressed = false;
    bool dragging = false;
    int dragSource = -1;
    QPoint pressPoint;
    QFrame* rowMarker;
    QFrame* groupMarker;
};

} // namespace cardmill
