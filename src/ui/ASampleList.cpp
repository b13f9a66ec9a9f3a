#include "ui/ASampleList.h"

#include "ui/DialogKeys.h"

#include <QKeyEvent>
#include <QMouseEvent>

namespace cardmill {

ASampleList::ASampleList(QWidget* parent)
    : QListWidget(parent)
{
    setSelectionMode(QAbstractItemView::SingleSelection);
}

void ASampleList::mousePressEvent(QMouseEvent* event)
{
    if (!itemAt(event->position().toPoint()))
        return;
    QListWidget::mousePressEvent(event);
}

void ASampleList::keyPressEvent(QKeyEvent* event)
{
    if (!IsPlainEnter(*event)) {
        QListWidget::keyPressEvent(event);
        return;
    }
    // Taken here: left to the dialog, Enter would close it.
    event->accept();
    if (onOpen && currentRow() >= 0)
        onOpen(currentRow());
}

} // namespace cardmill
