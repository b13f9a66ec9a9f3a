#pragma once

#include "model/instrument/KeyGroupEdit.h"

#include <QDialog>
#include <optional>
#include <vector>

class QKeyEvent;
class QLabel;
class QLineEdit;

namespace cardmill {

class AKeyLists;
class AKeyboardPlayer;
class AKeyboardView;
class AudioOutput;
class ASampleList;
class Clock;
class MInstFile;
class MInstFileInstrument;
class MProject;
class MSoundFile;
class Prompter;

/// "Voice Info": a voice's name, its samples, and for an instrument the lower and upper key of
/// the key group of the selected sample, over a keyboard that shows every group. Key changes are
/// checked once both lists of a key are set and kept in a copy of the key table that reaches the
/// instrument only on OK. A double-click on a sample, or Enter on it, opens Sample Info for it;
/// what that changes is kept even when this dialog is cancelled. Enter acts on the control that
/// has the focus and never closes the dialog: OK, Ctrl+Enter and Escape do.
class AVoiceDialog final : public QDialog {
public:
    /// With `keysOutput` the keyboard plays the voice through it, as the card will play it.
    AVoiceDialog(MInstFile& voice, MProject& project, Prompter& prompter, const Clock& clock,
        QWidget* parent, AudioOutput* keysOutput = nullptr);
    ~AVoiceDialog() override;
    void accept() override;

    /// Sample Info for `row`'s sample, as a double-click opens it.
    void EditSample(int row);
    /// Something reached the voice (OK here, or OK in Sample Info).
    bool Changed() const { return changed; }
    /// The card data of a sample changed in Sample Info.
    bool ContentChanged() const { return contentChanged; }

    QLineEdit* VoiceName() const { return name; }
    ASampleList* Samples() const { return samples; }
    AKeyLists* LowerKey() const { return lower; }
    AKeyLists* UpperKey() const { return upper; }
    AKeyboardView* Keyboard() const { return keyboard; }
    AKeyboardPlayer* Player() const { return player; }

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    int GroupOfRow(int row) const;
    void ShowRow(int row);
    /// Checks the keys shown in the lists; false when they were refused.
    bool KeyChosen();
    void ShowKeyboard();

    MInstFile& voice;
    MInstFileInstrument* instrument;
    MProject& project;
    Prompter& prompter;
    const Clock& clock;
    std::optional<KeyGroupEdit> keyTable;
    std::vector<MSoundFile*> rowSamples; // none where a sample is missing
    int rowsPerGroup = 1;
    int shownRow = 0;
    bool changed = false;
    bool contentChanged = false;
    QLineEdit* name;
    ASampleList* samples;
    AKeyLists* lower;
    AKeyLists* upper;
    AKeyboardView* keyboard;
    AKeyboardPlayer* player = nullptr;
    QLabel* playHint = nullptr;
};

} // namespace cardmill
