#include "ui/ACardDialog.h"

#include "model/CardInfoEdit.h"
#include "model/MProject.h"
#include "ui/DialogKeys.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLineEdit>

namespace cardmill {

namespace {

QString Text(const std::string& text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

} // namespace

ACardDialog::ACardDialog(MProject& edited, Prompter& messages, QWidget* parent)
    : QDialog(parent)
    , project(edited)
    , prompter(messages)
    , name(new QLineEdit(this))
    , version(new QLineEdit(this))
    , size(new QComboBox(this))
    , target(new QComboBox(this))
{
    setWindowTitle(QStringLiteral("Card Info"));
    const CardInfo info = ReadCardInfo(project);
    name->setMaxLength(static_cast<int>(MProject::kCardNameLimit));
    version->setMaxLength(static_cast<int>(MProject::kVersionLimit));
    name->setText(Text(info.name));
    version->setText(Text(info.version));
    for (int token = 0; token < 10; ++token)
        size->addItem(Text(MProject::CardSizeText(token)));
    size->setCurrentIndex(info.sizeToken);
    target->addItem(QStringLiteral("Zelta Synthesizer"), MProject::kZelta);
    target->addItem(QStringLiteral("Percula"), MProject::kPercula);
    target->setCurrentIndex(info.target == MProject::kPercula ? 1 : 0);

    auto* form = new QFormLayout(this);
    // Its size is its contents': a resizable window gets a resize strip from the window manager.
    form->setSizeConstraint(QLayout::SetFixedSize);
    form->addRow(QStringLiteral("Card &Name:"), name);
    form->addRow(QStringLiteral("&Version:"), version);
    form->addRow(QStringLiteral("Card &Size:"), size);
    form->addRow(QStringLiteral("&Target:"), target);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    form->addRow(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &ACardDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &ACardDialog::reject);
    FinishWithCtrlEnter(*this, *buttons);
    name->setFocus();
    name->selectAll();
}

void ACardDialog::accept()
{
    const auto cardName = AcceptTyped(name->text().toStdString(), "card name", prompter);
    if (!cardName)
        return;
    const auto cardVersion = AcceptTyped(version->text().toStdString(), "version", prompter);
    if (!cardVersion)
        return;
    const CardInfo info { *cardName, *cardVersion, static_cast<std::uint16_t>(size->currentIndex()),
        static_cast<std::uint16_t>(target->currentData().toInt()) };
    if (!ApplyCardInfo(project, info, prompter))
        return;
    QDialog::accept();
}

} // namespace cardmill
