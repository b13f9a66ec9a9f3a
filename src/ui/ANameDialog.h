#pragma once

#include "model/CardInfoEdit.h"

#include <QDialog>

class QLineEdit;

namespace cardmill {

class MProject;
class Prompter;

/// "Rename Group": the name of one keyboard or drum group, checked as `cardmill set
/// --group-name` checks it (an empty name is taken). The title says which group it is.
class ANameDialog final : public QDialog {
public:
    static constexpr int kNameLimit = static_cast<int>(kGroupNameTyped);

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
