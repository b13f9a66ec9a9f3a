#include "ui/ANameDialog.h"

#include "model/CardInfoEdit.h"
#include "model/MProject.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLineEdit>

namespace cardmill {

ANameDialog::ANameDialog(MProject& edited, int editedGroup, Prompter& messages, QWidget* parent)
    : QDialog(parent)
    , project(edited)
    , group(editedGroup)
    , prompter(messages)
    , name(new QLineEdit(this))
{
    setWindowTitle(group < 8 ? QStringLiteral("Keyboard Group %1").arg(group + 1)
                             : QStringLiteral("Drum Group %1").arg(group - 7));
    name->setMaxLength(kNameLimit);
    name->setText(QString::fromStdString(project.GetGroupName(group)));
    auto* form = new QFormLayout(this);
    form->addRow(QStringLiteral("Group Name:"), name);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    form->addRow(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &ANameDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &ANameDialog::reject);
    name->setFocus();
    name->selectAll();
}

void ANameDialog::accept()
{
    const auto typed = AcceptTyped(name->text().toStdString(), "group name", prompter);
    if (!typed)
        return;
    project.SetGroupName(group, typed->substr(0, kNameLimit));
    QDialog::accept();
}

} // namespace cardmill
