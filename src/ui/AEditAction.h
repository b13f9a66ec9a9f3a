#pragma once

#include "model/fit/ProjectFit.h"

#include <QString>
#include <memory>
#include <vector>

namespace cardmill {

class MProject;
class MReadableFile;

/// What the edit actions change besides the project: the main window's current group and file,
/// its file list and its one-file clipboard.
class EditTarget {
public:
    virtual ~EditTarget() = default;
    virtual MProject& EditedProject() = 0;
    virtual int CurrentGroup() const = 0;
    virtual int CurrentRow() const = 0;
    /// Makes (group, row) current without showing anything yet.
    virtual void SetCurrent(int group, int row) = 0;
    /// Shows a group afresh with its current row.
    virtual void ShowGroup(int group) = 0;
    /// Removes a row of the list: the same index is selected again, or the previous one when it
    /// was the last.
    virtual void RemoveRow(int row) = 0;
    virtual int RowCount() const = 0;
    virtual std::unique_ptr<MReadableFile>& ClipboardFile() = 0;
    /// "Sorry, but Cardmill can't perform that operation because there is not enough memory."
    virtual void ReportCantPerform() = 0;
};

/// One undoable change of the project. The main window keeps the latest; Undo toggles it between
/// done and undone. Every file has one owner at a time (the project, the clipboard or an
/// action); an action owns its file only in the state its class says, and deletes it then.
class AEditAction {
public:
    explicit AEditAction(EditTarget& editTarget)
        : target(editTarget)
    {
    }
    virtual ~AEditAction();
    AEditAction(const AEditAction&) = delete;
    AEditAction& operator=(const AEditAction&) = delete;

    bool CanApply() const { return canApply; }
    bool Undone() const { return undone; }
    /// The drag actions: the file and where it came from and went to.
    virtual void Record(
        MReadableFile* file, int sourceGroup, int sourceRow, int targetGroup, int targetRow);
    virtual void Do() { }
    virtual QString MenuText() const;
    virtual void Toggle() { }

protected:
    /// The action's text while it can apply ("Clear", "Cut", ...).
    QString Named(const char* name) const;
    /// Takes a file out of the project; it leaves use (its shared data, its preview).
    std::unique_ptr<MReadableFile> TakeOut(MReadableFile* file);
    /// Puts a file into the project at (group, row); false (told) when the project won't take it.
    bool PutIn(std::unique_ptr<MReadableFile>& file, int group, int row);
    void Fail();
    /// Undo puts the removed file back at its row; redo removes it again (Clear and Cut).
    void ToggleRemoval();

    EditTarget& target;
    bool canApply = false;
    bool undone = false;
    /// Owned in the states the subclass names; otherwise only pointed at (held by the project).
    std::unique_ptr<MReadableFile> owned;
    MReadableFile* file = nullptr;
    int group = -1;
    int row = -1;
};

class AClearAction final : public AEditAction {
public:
    using AEditAction::AEditAction;
    void Do() override;
    QString MenuText() const override { return Named("Clear"); }
    void Toggle() override;
};

class ACutAction final : public AEditAction {
public:
    using AEditAction::AEditAction;
    void Do() override;
    QString MenuText() const override { return Named("Cut"); }
    void Toggle() override;
};

class APasteAction final : public AEditAction {
public:
    using AEditAction::AEditAction;
    void Do() override;
    QString MenuText() const override { return Named("Paste"); }
    void Toggle() override;
};

/// What the two drags share: the file, where it came from and where it went.
class ADragAction : public AEditAction {
public:
    using AEditAction::AEditAction;
    void Record(MReadableFile* dragged, int sourceGroup, int sourceRow, int targetGroup,
        int targetRow) override;

protected:
    int toGroup = -1;
    int toRow = -1;
};

class ADragCopyAction final : public ADragAction {
public:
    using ADragAction::ADragAction;
    QString MenuText() const override { return Named("Drag Copy"); }
    void Toggle() override;
};

class ADragMoveAction final : public ADragAction {
public:
    using ADragAction::ADragAction;
    QString MenuText() const override { return Named("Drag Move"); }
    void Toggle() override;
};

/// Fit to Card: the fitted items in the places of the old ones, all at once; Undo puts the old
/// ones back as they were, Redo the fitted ones.
class AFitAction final : public AEditAction {
public:
    AFitAction(EditTarget& editTarget, std::vector<FitSwap> fitted);
    void Do() override;
    QString MenuText() const override { return Named("Fit to Card"); }
    void Toggle() override;

private:
    std::vector<FitSwap> swaps;
};

/// Copy: not undoable; the clipboard gets a duplicate of the current file.
void CopyToClipboard(EditTarget& target);

} // namespace cardmill
