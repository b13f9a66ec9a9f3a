#include "ui/ASequenceDialog.h"

#include "model/sequence/MSeqFile.h"
#include "ui/DialogKeys.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>

namespace cardmill {

ASequenceDialog::ASequenceDialog(MSeqFile& edited, QWidget* parent)
    : QDialog(parent)
    , sequence(edited)
    , outPort(new QCheckBox(QStringLiteral("Sequence &Data via Out Port"), this))
{
    setWindowTitle(QStringLiteral("Sequence Info"));
    outPort->setChecked(sequence.GetOutPort() != 0);
    auto* form = new QFormLayout(this);
    form->setSizeConstraint(QLayout::SetFixedSize);
    form->addRow(
        QStringLiteral("File:"), new QLabel(QString::fromStdString(sequence.GetFileName()), this));
    form->addRow(outPort);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    form->addRow(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &ASequenceDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &ASequenceDialog::reject);
    FinishWithCtrlEnter(*this, *buttons);
}

void ASequenceDialog::accept()
{
    sequence.SetOutPort(outPort->isChecked() ? 1 : 0);
    QDialog::accept();
}

} // namespace cardmill
