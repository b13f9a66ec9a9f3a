#include "ui/FileChooser.h"

#include <QFileDialog>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>

namespace cardmill {

namespace {

constexpr auto kOptions = QFileDialog::DontUseNativeDialog;

} // namespace

QString QtFileChooser::OpenFile(QWidget* parent, const QString& title, const QString& filter)
{
    return QFileDialog::getOpenFileName(parent, title, QString(), filter, nullptr, kOptions);
}

QString QtFileChooser::SaveFile(
    QWidget* parent, const QString& title, const QString& filter, const QString& proposed)
{
    return QFileDialog::getSaveFileName(parent, title, proposed, filter, nullptr, kOptions);
}

FileChooser::Found QtFileChooser::FindFile(
    QWidget* parent, const QString& kind, const QString& name, bool allowSkip)
{
    bool skipped = false;
    QFileDialog dialog(
        parent, QStringLiteral("Find file"), QString(), QStringLiteral("All Files (*)"));
    dialog.setOption(kOptions);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setLabelText(QFileDialog::Accept, QStringLiteral("Substitute"));
    // The question, and Skip, in a row of the chooser's own layout.
    if (auto* grid = qobject_cast<QGridLayout*>(dialog.layout())) {
        const int row = grid->rowCount();
        grid->addWidget(
            new QLabel(QStringLiteral("Where is the ") + kind + "\n'" + name + "'?", &dialog), row,
            0, 1, grid->columnCount() - 1);
        if (allowSkip) {
            auto* skip = new QPushButton(QStringLiteral("Skip this file"), &dialog);
            QObject::connect(skip, &QPushButton::clicked, &dialog, [&] {
                skipped = true;
                dialog.reject();
            });
            grid->addWidget(skip, row, grid->columnCount() - 1);
        }
    }
    const int result = dialog.exec();
    Found found;
    if (skipped)
        found.choice = Found::Choice::Skip;
    else if (result == QDialog::Accepted && !dialog.selectedFiles().isEmpty()) {
        found.choice = Found::Choice::Substitute;
        found.path = dialog.selectedFiles().front();
    }
    return found;
}

} // namespace cardmill
