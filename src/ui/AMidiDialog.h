#pragma once

#include <QDialog>
#include <functional>
#include <string>

class QLineEdit;
class QListWidget;

namespace cardmill {

class AMidi;
class APrefs;
class Prompter;

/// "MIDI Setup": the input and output ports in device order, the stored ones selected, a field
/// for the path of a raw MIDI device or a pty that the lists don't show (one path serves both
/// directions), and the pace of the output port (bytes a second, 0 or empty for full speed; the
/// one remembered for the port chosen is shown). OK remembers the choice by name and the pace for
/// the port, closes the ports and opens the chosen ones; a typed path that can't be a port, or a
/// pace that is none, is refused, saying why, and the dialog stays.
class AMidiDialog final : public QDialog {
public:
    AMidiDialog(AMidi& midi, APrefs& prefs, Prompter& prompter, QWidget* parent);
    void accept() override;

    /// Offers a typed path among the ports before it is chosen.
    std::function<void(const std::string&)> onPath;

    QListWidget* Inputs() const { return inputs; }
    QListWidget* Outputs() const { return outputs; }
    QLineEdit* DevicePath() const { return path; }
    QLineEdit* Pace() const { return pace; }

private:
    /// The typed path, made absolute; empty when none is typed or it was refused (`refused`).
    std::string TypedPath(bool& refused) const;

    AMidi& midi;
    APrefs& prefs;
    Prompter& prompter;
    QListWidget* inputs;
    QListWidget* outputs;
    QLineEdit* path;
    QLineEdit* pace;
    /// Shows the pace remembered for the output `port`.
    void ShowPace(const std::string& port);
};

} // namespace cardmill
