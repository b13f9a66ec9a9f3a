#pragma once

#include "model/sound/SampleEdit.h"

#include <QDialog>

class QCheckBox;
class QKeyEvent;
class QLineEdit;
class QRadioButton;

namespace cardmill {

class AKeyLists;
class AWaveformView;
class MSoundFile;
class Prompter;

/// "Sample Info": one sample's smoothing, stereo channel, root key, volume, start frame and
/// loop, over a picture of its waveform with the start and loop marked where the fields put
/// them. OK runs the sample checks and changes the sample only when they all pass. Enter moves
/// from field to field; OK, Ctrl+Enter and Escape finish.
class ASampleDialog final : public QDialog {
public:
    ASampleDialog(MSoundFile& sample, Prompter& prompter, QWidget* parent);
    void accept() override;

    /// After OK: the sample's card data changed (channel or length).
    bool ContentChanged() const { return contentChanged; }

    QCheckBox* Smooth() const { return smooth; }
    QRadioButton* Left() const { return left; }
    QRadioButton* Mixed() const { return mixed; }
    QRadioButton* Right() const { return right; }
    AKeyLists* Root() const { return root; }
    QLineEdit* Volume() const { return volume; }
    QLineEdit* StartFrame() const { return start; }
    QCheckBox* EnableLoop() const { return enableLoop; }
    QLineEdit* LoopStart() const { return loopStart; }
    AWaveformView* Waveform() const { return waveform; }

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    /// Takes the root set in the lists; false (the lists put back) when it is refused.
    bool RootChosen();
    /// The picture follows the start and loop fields as they are typed.
    void ShowMarks();

    MSoundFile& sample;
    Prompter& prompter;
    SampleEdit edit;
    bool contentChanged = false;
    QCheckBox* smooth;
    QRadioButton* left;
    QRadioButton* mixed;
    QRadioButton* right;
    AKeyLists* root;
    QLineEdit* volume;
    QLineEdit* start;
    QCheckBox* enableLoop;
    QLineEdit* loopStart;
    AWaveformView* waveform;
};

} // namespace cardmill
