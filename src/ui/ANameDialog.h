#pragma once

#include <QDialog>

class QLineEdit;

namespace cardmill {

class MProject;
class Prompter;

/// "Rename Group": the name of one keyboard or drum group, at most 6 characters; an empty
/// name is taken. The title says which group it is.
class ANameDialog final : public QDialog {
public:
    static constexpr int kNameLimit = 6;

    ANameDialog(MProject& project, int group, Prompter& prompter, QWidget* parent);
    void accept() override;

    QLineEdit* Name() const { return name; }

private:
    MProject& project;
    int group;
    Prompter& prompter;
    QLineEdit* name;
};

} // namespace cardmill
