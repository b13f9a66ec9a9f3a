#pragma once

class QDialog;
class QDialogButtonBox;
class QKeyEvent;

namespace cardmill {

/// Ctrl+Enter presses `buttons`' OK from any control of `dialog`, so that a dialog whose Enter
/// acts on the focused control can still be finished from the keyboard where the focus is.
void FinishWithCtrlEnter(QDialog& dialog, QDialogButtonBox& buttons);

/// Enter (or the keypad's) with no modifier. In a dialog whose controls open or confirm things
/// (Voice Info, Sample Info), a control that takes Enter has had it (a sample list opens the
/// sample, key lists confirm the key, a button presses itself); one that reaches the dialog comes
/// from a field or a check box and moves on to the next control instead of closing the dialog.
bool IsPlainEnter(const QKeyEvent& event);

} // namespace cardmill
