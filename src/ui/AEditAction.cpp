#include "ui/AEditAction.h"

#include "model/MProject.h"
#include "model/MReadableFile.h"

namespace cardmill {

AEditAction::~AEditAction() = default;

void AEditAction::Record(MReadableFile*, int, int, int, int) { }

QString AEditAction::MenuText() const
{
    if (!canApply)
        return undone ? QStringLiteral("Can't Redo") : QStringLiteral("Can't Undo");
    return undone ? QStringLiteral("&Redo") : QStringLiteral("&Undo");
}

QString AEditAction::Named(const char* name) const
{
    if (!canApply)
        return AEditAction::MenuText();
    return (undone ? QStringLiteral("&Redo ") : QStringLiteral("&Undo ")) + QString::fromUtf8(name);
}

std::unique_ptr<MReadableFile> AEditAction::TakeOut(MReadableFile* item)
{
    auto removed = target.EditedProject().RemoveItem(item);
    if (removed)
        removed->Deactivate();
    return removed;
}

bool AEditAction::PutIn(std::unique_ptr<MReadableFile>& item, int toGroup, int toRow)
{
    MProject& project = target.EditedProject();
    if (!item) {
        Fail();
        return false;
    }
    item->SetCategory(static_cast<std::int16_t>(toGroup));
    if (!project.CanPlace(item.get(), toGroup)) {
        Fail();
        return false;
    }
    item->Activate();
    MReadableFile* placed = item.get();
    if (!project.InsertItem(std::move(item), toRow)) {
        Fail();
        return false;
    }
    file = placed;
    return true;
}

void AEditAction::ToggleRemoval()
{
    if (!undone) {
        if (!PutIn(owned, group, row))
            return;
        target.SetCurrent(group, row);
        target.ShowGroup(group);
    } else {
        target.SetCurrent(group, row);
        target.ShowGroup(group);
        Do();
    }
    undone = !undone;
}

void AEditAction::Fail()
{
    target.ReportCantPerform();
    canApply = false;
}

void AClearAction::Do()
{
    MReadableFile* current
        = target.EditedProject().GetItem(target.CurrentGroup(), target.CurrentRow());
    if (!current)
        return;
    group = target.CurrentGroup();
    row = target.CurrentRow();
    owned = TakeOut(current);
    file = owned.get();
    target.SetCurrent(group, -1);
    canApply = true;
    target.RemoveRow(row);
}

void AClearAction::Toggle()
{
    ToggleRemoval();
}

void ACutAction::Do()
{
    std::unique_ptr<MReadableFile>& clipboard = target.ClipboardFile();
    if (!undone)
        clipboard.reset();
    MReadableFile* current
        = target.EditedProject().GetItem(target.CurrentGroup(), target.CurrentRow());
    if (!current)
        return;
    group = target.CurrentGroup();
    row = target.CurrentRow();
    auto removed = TakeOut(current);
    if (!undone) {
        // The clipboard keeps the cut file; the action a copy of it, to put back on Undo.
        clipboard = std::move(removed);
        owned = clipboard->Duplicate();
        if (!owned) {
            Fail();
            target.RemoveRow(row);
            return;
        }
    } else {
        owned = std::move(removed);
    }
    file = owned.get();
    target.SetCurrent(group, -1);
    canApply = true;
    target.RemoveRow(row);
}

void ACutAction::Toggle()
{
    ToggleRemoval();
}

void APasteAction::Do()
{
    MProject& project = target.EditedProject();
    const int toGroup = target.CurrentGroup();
    const MReadableFile* source = undone ? owned.get() : target.ClipboardFile().get();
    if (!source || !project.CanPlace(source, toGroup))
        return;
    std::unique_ptr<MReadableFile> pasting;
    if (!undone) {
        pasting = source->Duplicate();
        if (!pasting) {
            target.SetCurrent(toGroup, -1);
            Fail();
            return;
        }
    } else {
        pasting = std::move(owned);
    }
    // Before the selected row; with none, at the end.
    const int toRow = target.CurrentRow() >= 0 ? target.CurrentRow() : target.RowCount();
    if (!PutIn(pasting, toGroup, toRow)) {
        target.SetCurrent(toGroup, -1);
        return;
    }
    group = toGroup;
    row = toRow;
    canApply = true;
    target.SetCurrent(group, row);
    target.ShowGroup(group);
}

void APasteAction::Toggle()
{
    MProject& project = target.EditedProject();
    if (!undone) {
        // Only the pasted file itself is taken back, if it is still where it was put.
        MReadableFile* there = project.GetItem(group, row);
        if (there && there == file) {
            owned = TakeOut(there);
            target.SetCurrent(group, -1);
            target.ShowGroup(group);
        }
    } else {
        target.SetCurrent(group, row);
        target.ShowGroup(group);
        Do();
    }
    undone = !undone;
}

void ADragAction::Record(
    MReadableFile* dragged, int sourceGroup, int sourceRow, int targetGroup, int targetRow)
{
    file = dragged;
    group = sourceGroup;
    row = sourceRow;
    toGroup = targetGroup;
    toRow = targetRow;
    canApply = true;
}

void ADragCopyAction::Toggle()
{
    if (!undone) {
        owned = TakeOut(file);
        target.SetCurrent(group, -1);
        target.ShowGroup(group);
    } else {
        if (!PutIn(owned, toGroup, toRow))
            return;
        target.SetCurrent(toGroup, -1);
        target.ShowGroup(toGroup);
    }
    undone = !undone;
}

void ADragMoveAction::Toggle()
{
    const int atGroup = undone ? group : toGroup;
    const int atRow = undone ? row : toRow;
    const int backGroup = undone ? toGroup : group;
    const int backRow = undone ? toRow : row;
    auto moving = TakeOut(file);
    if (!PutIn(moving, backGroup, backRow)) {
        // Refused: the file stays where it was.
        if (moving) {
            moving->SetCategory(static_cast<std::int16_t>(atGroup));
            moving->Activate();
            target.EditedProject().InsertItem(std::move(moving), atRow);
        }
        return;
    }
    target.SetCurrent(backGroup, backRow);
    target.ShowGroup(backGroup);
    undone = !undone;
}

void CopyToClipboard(EditTarget& target)
{
    std::unique_ptr<MReadableFile>& clipboard = target.ClipboardFile();
    clipboard.reset();
    const MReadableFile* current
        = target.EditedProject().GetItem(target.CurrentGroup(), target.CurrentRow());
    if (!current)
        return;
    clipboard = current->Duplicate();
    if (!clipboard)
        target.ReportCantPerform();
}

AFitAction::AFitAction(EditTarget& editTarget, std::vector<FitSwap> fitted)
    : AEditAction(editTarget)
    , swaps(std::move(fitted))
{
}

void AFitAction::Do()
{
    SwapItems(target.EditedProject(), swaps);
    canApply = !swaps.empty();
    target.ShowGroup(target.CurrentGroup());
}

void AFitAction::Toggle()
{
    SwapItems(target.EditedProject(), swaps);
    undone = !undone;
    target.ShowGroup(target.CurrentGroup());
}

} // namespace cardmill
