#include "ui/DialogKeys.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QKeyEvent>
#include <QPushButton>
#include <QShortcut>

namespace cardmill {

void FinishWithCtrlEnter(QDialog& dialog, QDialogButtonBox& buttons)
{
    QPushButton* ok = buttons.button(QDialogButtonBox::Ok);
    if (!ok)
        return;
    ok->setToolTip(QStringLiteral("Ctrl+Enter"));
    for (const Qt::Key key : { Qt::Key_Return, Qt::Key_Enter }) {
        auto* shortcut = new QShortcut(QKeySequence(Qt::CTRL | key), &dialog);
        QObject::connect(shortcut, &QShortcut::activated, ok, [ok] {
            if (ok->isEnabled())
                ok->click();
        });
    }
}

bool IsPlainEnter(const QKeyEvent& event)
{
    return (event.key() == Qt::Key_Return || event.key() == Qt::Key_Enter)
        && (event.modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
}

} // namespace cardmill
