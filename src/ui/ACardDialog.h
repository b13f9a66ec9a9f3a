#pragma once

#include <QDialog>

class QComboBox;
class QLineEdit;

namespace cardmill {

class MProject;
class Prompter;

/// "Card Info": the card's name, version, size and target. OK runs the card checks and writes
/// all four into the project only when they pass; a refusal keeps the dialog open.
class ACardDialog final : public QDialog {
public:
    ACardDialog(MProject& project, Prompter& prompter, QWidget* parent);
    void accept() override;

    QLineEdit* Name() const { return name; }
    QLineEdit* Version() const { return version; }
    QComboBox* Size() const { return size; }
    QComboBox* Target() const { return target; }

private:
    MProject& project;
    Prompter& prompter;
    QLineEdit* name;
    QLineEdit* version;
    QComboBox* size;
    QComboBox* target;
};

} // namespace cardmill
