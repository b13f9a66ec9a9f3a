#include "ui/FileChooser.h"

#include <QFileDialog>

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

} // namespace cardmill
