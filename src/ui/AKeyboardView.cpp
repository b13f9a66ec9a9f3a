#include "ui/AKeyboardView.h"

#include <QFont>
#include <QFontMetrics>
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
