#include "ui/GroupLabels.h"

#include "model/CardInfoEdit.h"
#include "model/MProject.h"

#include <QPainter>
#include <QPixmap>

namespace cardmill {

namespace {

enum class Kind { Keyboard, Drum, Sequences, Programs };

Kind KindOf(int group)
{
    if (group < 8)
        return Kind::Keyboard;
    if (group < MProject::kSoundGroups)
        return Kind::Drum;
    return group == MProject::kSequenceGroup ? Kind::Sequences : Kind::Programs;
}

/// One kind's picture on a 16-unit square, whatever the pixmap's size.
void Draw(QPainter& painter, Kind kind)
{
    const QColor ink(40, 40, 48);
    painter.setPen(QPen(ink, 1.0));
    switch (kind) {
    case Kind::Keyboard:
        painter.setBrush(Qt::white);
        painter.drawRect(QRectF(0.5, 3.5, 15, 10));
        for (const double x : { 3.5, 6.5, 9.5, 12.5 })
            painter.drawLine(QPointF(x, 3.5), QPointF(x, 13.5));
        painter.setBrush(ink);
        for (const double x : { 2.5, 5.5, 11.5 })
            painter.drawRect(QRectF(x, 3.5, 2, 6));
        break;
    case Kind::Drum:
        painter.setBrush(QColor(190, 50, 40));
        painter.drawRect(QRectF(1.5, 6, 13, 7));
        painter.drawEllipse(QRectF(1.5, 10.5, 13, 4));
        painter.setPen(Qt::NoPen);
        painter.drawRect(QRectF(2, 8, 12, 4));
        painter.setPen(QPen(ink, 1.0));
        painter.setBrush(QColor(235, 230, 215));
        painter.drawEllipse(QRectF(1.5, 4, 13, 4));
        painter.drawLine(QPointF(3, 0.5), QPointF(8, 5.5));
        painter.drawLine(QPointF(13, 0.5), QPointF(8, 5.5));
        break;
    case Kind::Sequences:
        painter.setBrush(QColor(30, 70, 140));
        painter.setPen(QPen(QColor(30, 70, 140), 1.4));
        painter.drawEllipse(QRectF(2.5, 10.5, 5, 4));
        painter.drawEllipse(QRectF(9.5, 9, 5, 4));
        painter.drawLine(QPointF(7.3, 12.5), QPointF(7.3, 2.5));
        painter.drawLine(QPointF(14.3, 11), QPointF(14.3, 1));
        painter.drawLine(QPointF(7.3, 2.5), QPointF(14.3, 1));
        break;
    case Kind::Programs:
        for (const double offset : { 0.0, 2.5, 5.0 }) {
            painter.setBrush(offset == 5.0 ? QColor(70, 140, 90) : QColor(215, 235, 220));
            painter.drawRoundedRect(QRectF(0.5 + offset, 5.5 - offset + 5.0, 10, 5), 1, 1);
        }
        break;
    }
}

} // namespace

QString GroupLabel(const MProject& project, int group)
{
    const std::string name = project.GetGroupName(group);
    const QString text = QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size()));
    if (group >= MProject::kSoundGroups)
        return text;
    return QString::fromStdString(GroupToken(group)).toUpper() + QStringLiteral("  ") + text;
}

QIcon GroupIcon(int group)
{
    // Drawn at each size it is shown at (a scaled screen asks for the larger ones), so the lines
    // stay sharp.
    QIcon icon;
    for (const int size : { 16, 24, 32, 48 }) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.scale(size / 16.0, size / 16.0);
        Draw(painter, KindOf(group));
        icon.addPixmap(pixmap);
    }
    return icon;
}

} // namespace cardmill
