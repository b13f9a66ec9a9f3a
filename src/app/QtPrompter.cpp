#include "app/QtPrompter.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QThread>

namespace cardmill {

void OnUiThread(const std::function<void()>& work)
{
    QCoreApplication* app = QCoreApplication::instance();
    if (!app || QThread::currentThread() == app->thread()) {
        work();
        return;
    }
    QMetaObject::invokeMethod(app, work, Qt::BlockingQueuedConnection);
}

void QtPrompter::Beep()
{
    QApplication::beep();
}

Answer QtPrompter::Show(std::string_view text, Icon icon, Buttons buttons)
{
    return Box(text, {}, icon, buttons, AcceptingAnswer(buttons));
}

Answer QtPrompter::Ask(std::string_view text, Icon icon, Buttons buttons, Answer byDefault)
{
    return Box(text, {}, icon, buttons, byDefault);
}

Answer QtPrompter::ShowWithDetails(
    std::string_view text, std::string_view details, Icon icon, Buttons buttons)
{
    return Box(text, details, icon, buttons, AcceptingAnswer(buttons));
}

Answer QtPrompter::Box(
    std::string_view text, std::string_view details, Icon icon, Buttons buttons, Answer byDefault)
{
    // Over the window in front (a dialog that asked), else over the main window.
    QWidget* modal = QApplication::activeModalWidget();
    QMessageBox box(modal && modal->isVisible() ? modal : parentWidget);
    box.setWindowTitle(QStringLiteral("Cardmill"));
    box.setText(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
    if (!details.empty())
        box.setDetailedText(
            QString::fromUtf8(details.data(), static_cast<qsizetype>(details.size())));
    switch (icon) {
    case Icon::Error:
        box.setIcon(QMessageBox::Critical);
        break;
    case Icon::Warning:
    case Icon::Exclamation:
        box.setIcon(QMessageBox::Warning);
        break;
    case Icon::Information:
        box.setIcon(QMessageBox::Information);
        break;
    case Icon::None:
        break;
    }
    switch (buttons) {
    case Buttons::Ok:
        box.setStandardButtons(QMessageBox::Ok);
        break;
    case Buttons::OkCancel:
        box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
        break;
    case Buttons::RetryCancel:
        box.setStandardButtons(QMessageBox::Retry | QMessageBox::Cancel);
        break;
    case Buttons::YesNoCancel:
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
        break;
    case Buttons::ResumeCancel:
        box.setStandardButtons(QMessageBox::Retry | QMessageBox::Cancel);
        box.button(QMessageBox::Retry)->setText(QStringLiteral("Resume"));
        break;
    }
    const QMessageBox::StandardButton focused = byDefault == Answer::Ok ? QMessageBox::Ok
        : byDefault == Answer::Retry                                    ? QMessageBox::Retry
        : byDefault == Answer::Yes                                      ? QMessageBox::Yes
        : byDefault == Answer::No                                       ? QMessageBox::No
                                                                        : QMessageBox::Cancel;
    if (box.button(focused))
        box.setDefaultButton(focused);
    switch (box.exec()) {
    case QMessageBox::Ok:
        return Answer::Ok;
    case QMessageBox::Retry:
        return Answer::Retry;
    case QMessageBox::Yes:
        return Answer::Yes;
    case QMessageBox::No:
        return Answer::No;
    default:
        return Answer::Cancel;
    }
}

} // namespace cardmill
