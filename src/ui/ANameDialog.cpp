#include "ui/ANameDialog.h"

#include "model/CardInfoEdit.h"
#include "model/MProject.h"
#include "platform/Prompter.h"
#include "ui/DialogKeys.h"

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
    setWindowTitle(QString::fromStdString(GroupTitle(group)));
    name->setMaxLength(kNameLimit);
    name->setText(QString::fromStdString(project.GetGroupName(group)));
    auto* form = new QFormLayout(this);
    form->setSizeConstraint(QLayout::SetFixedSize);
    form->addRow(QStringLiteral("Group &Name:"), name);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    form->addRow(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &ANameDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &ANameDialog::reject);
    FinishWithCtrlEnter(*this, *buttons);
    name->setFocus();
    name->selectAll();
}

void ANameDialog::accept()
{
    const auto typed = AcceptTyped(name->text().toStdString(), "group name", prompter);
    if (!typed)
        return;
    if (const auto refusal = GroupNameRefusal(project, group, *typed)) {
        ReportFailure(prompter, *refusal);
        return;
    }
    project.SetGroupName(group, *typed);
    QDialog::accept();
}

} // namespace cardmill
