#include "ui/ASampleList.h"

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

} // namespace cardmill
