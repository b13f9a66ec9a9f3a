#pragma once

#include <QDialog>

class QListWidget;

namespace cardmill {

class AMidi;
class APrefs;

/// "MIDI Setup": the input and output ports in device order, the stored ones selected. OK
/// remembers the choice by name, closes the ports and opens the chosen ones.
class AMidiDialog final : public QDialog {
public:
    AMidiDialog(AMidi& midi, APrefs& prefs, QWidget* parent);
    void accept() override;

    QListWidget* Inputs() const { return inputs; }
    QListWidget* Outputs() const { return outputs; }

private:
    AMidi& midi;
    APrefs& prefs;
    QListWidget* inputs;
    QListWidget* outputs;
};

} // namespace cardmill
