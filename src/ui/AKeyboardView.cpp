#include "ui/AKeyboardView.h"

#include <QFont>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <algorithm>

namespace cardmill {

namespace {

constexpr int kKeys = 128;
constexpr bool kBlack[12]
    = { false, true, false, true, false, false, true, false, true, false, true, false };

/// White keys before `key` (C-2 is white key 0); 75 in all up to G8.
int WhitesBefore(int key)
{
    static constexpr int kWhitesInOctaveBefore[12] = { 0, 1, 1, 2, 2, 3, 4, 4, 5, 5, 6, 6 };
    return key / 12 * 7 + kWhitesInOctaveBefore[key % 12];
}

constexpr int kWhiteKeys = 75;

} // namespace

AKeyboardView::AKeyboardView(QWidget* parent)
    : QWidget(parent)
{
    setMinimumSize(kWhiteKeys * 4, 48);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setFocusPolicy(Qt::StrongFocus);
}

int AKeyboardView::KeyAt(QPoint point) const
{
    for (int pass = 0; pass < 2; ++pass)
        for (int key = 0; key < kKeys; ++key)
            if (kBlack[key % 12] == (pass == 0) && KeyRect(key).contains(point))
                return key;
    return -1;
}

void AKeyboardView::Press(int key)
{
    if (key < 0 || key >= kKeys || !down.insert(key).second)
        return;
    if (const int group = GroupOfKey(key); group >= 0)
        current = group;
    if (onKey)
        onKey(key, true);
    update();
}

void AKeyboardView::Release(int key)
{
    if (down.erase(key) == 0)
        return;
    if (onKey)
        onKey(key, false);
    update();
}

void AKeyboardView::ReleaseAll()
{
    while (!down.empty())
        Release(*down.begin());
    mouseKey = -1;
}

void AKeyboardView::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return QWidget::mousePressEvent(event);
    setFocus(Qt::MouseFocusReason);
    mouseKey = KeyAt(event->position().toPoint());
    Press(mouseKey);
}

void AKeyboardView::mouseMoveEvent(QMouseEvent* event)
{
    if (!(event->buttons() & Qt::LeftButton) || mouseKey < 0)
        return;
    // Dragged over the keys, as a finger slides along them.
    const int key = KeyAt(event->position().toPoint());
    if (key == mouseKey || key < 0)
        return;
    Release(mouseKey);
    mouseKey = key;
    Press(key);
}

void AKeyboardView::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return QWidget::mouseReleaseEvent(event);
    Release(mouseKey);
    mouseKey = -1;
}

int AKeyboardView::ComputerKey(int qtKey) const
{
    // Semitones from the lower C: the bottom row and the row above it, then the upper rows.
    static const std::pair<int, int> kLayout[] = { { Qt::Key_Z, 0 }, { Qt::Key_S, 1 },
        { Qt::Key_X, 2 }, { Qt::Key_D, 3 }, { Qt::Key_C, 4 }, { Qt::Key_V, 5 }, { Qt::Key_G, 6 },
        { Qt::Key_B, 7 }, { Qt::Key_H, 8 }, { Qt::Key_N, 9 }, { Qt::Key_J, 10 }, { Qt::Key_M, 11 },
        { Qt::Key_Q, 12 }, { Qt::Key_2, 13 }, { Qt::Key_W, 14 }, { Qt::Key_3, 15 },
        { Qt::Key_E, 16 }, { Qt::Key_R, 17 }, { Qt::Key_5, 18 }, { Qt::Key_T, 19 },
        { Qt::Key_6, 20 }, { Qt::Key_Y, 21 }, { Qt::Key_7, 22 }, { Qt::Key_U, 23 } };
    for (const auto& [code, semitone] : kLayout)
        if (code == qtKey) {
            const int key = computerBase + semitone;
            return key < kKeys ? key : -1;
        }
    return -1;
}

void AKeyboardView::keyPressEvent(QKeyEvent* event)
{
    if (!onKey || event->modifiers() & (Qt::ControlModifier | Qt::AltModifier))
        return QWidget::keyPressEvent(event);
    if (event->key() == Qt::Key_Minus || event->key() == Qt::Key_Plus
        || event->key() == Qt::Key_Equal) {
        if (!event->isAutoRepeat()) {
            ReleaseAll();
            const int move = event->key() == Qt::Key_Minus ? -12 : 12;
            computerBase = std::clamp(computerBase + move, 0, 108);
            setToolTip(QStringLiteral("Z plays C%1").arg(computerBase / 12 - 2));
        }
        return;
    }
    const int key = ComputerKey(event->key());
    if (key < 0)
        return QWidget::keyPressEvent(event);
    if (!event->isAutoRepeat())
        Press(key);
}

void AKeyboardView::keyReleaseEvent(QKeyEvent* event)
{
    const int key = onKey ? ComputerKey(event->key()) : -1;
    if (key < 0 || event->isAutoRepeat())
        return QWidget::keyReleaseEvent(event);
    Release(key);
}

void AKeyboardView::focusOutEvent(QFocusEvent* event)
{
    // A key let go while another window had the focus would sound for ever.
    ReleaseAll();
    QWidget::focusOutEvent(event);
}

void AKeyboardView::SetGroups(const std::uint8_t* upperKeys, int groupCount)
{
    count = std::clamp(groupCount, 0, kKeys);
    std::copy(upperKeys, upperKeys + count, keys.begin());
    update();
}

void AKeyboardView::SetRoots(std::vector<std::vector<int>> rootKeys)
{
    roots = std::move(rootKeys);
    update();
}

void AKeyboardView::SetCurrentGroup(int group)
{
    if (group != current) {
        current = group;
        update();
    }
}

int AKeyboardView::GroupOfKey(int key) const
{
    int lower = 0;
    for (int g = 0; g < count; ++g) {
        if (key >= lower && key <= keys[static_cast<std::size_t>(g)])
            return g;
        lower = keys[static_cast<std::size_t>(g)] + 1;
    }
    return -1;
}

QRect AKeyboardView::KeyRect(int key) const
{
    const double white = static_cast<double>(width() - 1) / kWhiteKeys;
    if (!kBlack[key % 12]) {
        const int x0 = static_cast<int>(WhitesBefore(key) * white);
        const int x1 = static_cast<int>((WhitesBefore(key) + 1) * white);
        return { x0, 0, x1 - x0, height() - 1 };
    }
    // A black key sits across the line between its two white neighbours.
    const double centre = WhitesBefore(key) * white;
    const int half = std::max(1, static_cast<int>(white * 0.3));
    return { static_cast<int>(centre) - half, 0, 2 * half, (height() - 1) * 3 / 5 };
}

void AKeyboardView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const QPalette& colours = palette();
    static const QColor kShades[2] = { QColor(90, 150, 230), QColor(240, 170, 60) };
    auto shadeOf = [&](int key) {
        const int g = GroupOfKey(key);
        if (g < 0)
            return QColor();
        QColor shade = kShades[g % 2];
        shade.setAlpha(g == current ? 170 : 70);
        return shade;
    };
    for (int key = 0; key < kKeys; ++key) {
        if (kBlack[key % 12])
            continue;
        const QRect r = KeyRect(key);
        painter.fillRect(r, Qt::white);
        if (const QColor shade = shadeOf(key); shade.isValid())
            painter.fillRect(r, shade);
        if (IsDown(key))
            painter.fillRect(r, QColor(40, 160, 60, 200));
        painter.setPen(colours.mid().color());
        painter.drawRect(r);
    }
    for (int key = 0; key < kKeys; ++key) {
        if (!kBlack[key % 12])
            continue;
        const QRect r = KeyRect(key);
        painter.fillRect(r, QColor(30, 30, 30));
        if (QColor shade = shadeOf(key); shade.isValid()) {
            shade.setAlpha(shade.alpha() + 60);
            painter.fillRect(r.adjusted(1, 1, -1, -1), shade.darker(150));
        }
        if (IsDown(key))
            painter.fillRect(r.adjusted(1, 1, -1, -1), QColor(40, 160, 60));
    }
    // Octave names under each C, so a key can be found.
    painter.setPen(QColor(60, 60, 60));
    QFont small = font();
    small.setPointSizeF(std::max(5.0, small.pointSizeF() * 0.7));
    painter.setFont(small);
    for (int key = 0; key < kKeys; key += 12) {
        const QRect r = KeyRect(key);
        painter.drawText(r.adjusted(1, 0, 20, -2), Qt::AlignLeft | Qt::AlignBottom,
            QStringLiteral("C%1").arg(key / 12 - 2));
    }
    // Root keys: a dot on the key.
    painter.setRenderHint(QPainter::Antialiasing);
    for (std::size_t g = 0; g < roots.size(); ++g) {
        for (int key : roots[g]) {
            if (key < 0 || key >= kKeys)
                continue;
            const QRect r = KeyRect(key);
            const int d = std::max(4, std::min(r.width() - 2, 8));
            const QPoint centre(
                r.center().x(), kBlack[key % 12] ? r.bottom() - d : r.bottom() - d - 12);
            painter.setPen(Qt::NoPen);
            painter.setBrush(
                static_cast<int>(g) == current ? QColor(200, 0, 0) : QColor(120, 0, 0));
            painter.drawEllipse(centre, d / 2, d / 2);
        }
    }
}

} // namespace cardmill
