#include "ui/AWaveformView.h"

#include <QFont>
#include <QFontMetrics>
#include <QPainter>
#include <algorithm>

namespace cardmill {

AWaveformView::AWaveformView(QWidget* parent)
    : QWidget(parent)
{
    setMinimumSize(240, 80);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
}

void AWaveformView::SetOverview(std::optional<WaveOverview> built)
{
    overview = std::move(built);
    update();
}

void AWaveformView::SetStart(std::int64_t frame)
{
    if (frame != start) {
        start = frame;
        update();
    }
}

void AWaveformView::SetLoop(bool on, std::int64_t first, std::int64_t end)
{
    if (on != looping || first != loopStart || end != loopEnd) {
        looping = on;
        loopStart = first;
        loopEnd = end;
        update();
    }
}

int AWaveformView::FrameX(std::int64_t frame) const
{
    const std::int64_t frames = overview && overview->frames > 0 ? overview->frames : 1;
    const std::int64_t clamped = std::clamp<std::int64_t>(frame, 0, frames);
    return static_cast<int>(clamped * (width() - 1) / frames);
}

void AWaveformView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const QPalette& colours = palette();
    painter.fillRect(rect(), colours.base());
    painter.setPen(colours.mid().color());
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
    if (!overview || overview->frames == 0) {
        painter.setPen(colours.text().color());
        painter.drawText(rect(), Qt::AlignCenter,
            overview ? QStringLiteral("No sample data")
                     : QStringLiteral("The sample data can't be read"));
        return;
    }
    const WaveOverview& o = *overview;
    const int w = width();
    const int laneHeight = height() / o.channels;
    if (looping) {
        // The looped part, shaded under the waveform.
        const int x0 = FrameX(loopStart);
        const int x1 = FrameX(loopEnd);
        QColor shade = colours.highlight().color();
        shade.setAlpha(40);
        painter.fillRect(QRect(x0, 1, std::max(1, x1 - x0), height() - 2), shade);
    }
    const QColor wave = colours.text().color();
    for (int c = 0; c < o.channels; ++c) {
        const int top = c * laneHeight;
        const double middle = top + laneHeight / 2.0;
        const double scale = (laneHeight / 2.0 - 2) / 32768.0;
        painter.setPen(colours.mid().color());
        painter.drawLine(0, static_cast<int>(middle), w - 1, static_cast<int>(middle));
        if (c > 0)
            painter.drawLine(0, top, w - 1, top);
        painter.setPen(wave);
        // Each pixel column covers a run of buckets: draw the extremes of that run.
        for (int x = 0; x < w; ++x) {
            const std::size_t first
                = static_cast<std::size_t>(x) * o.buckets / static_cast<std::size_t>(w);
            std::size_t last
                = static_cast<std::size_t>(x + 1) * o.buckets / static_cast<std::size_t>(w);
            last = std::max(last, first + 1);
            if (first >= o.buckets)
                break;
            int lo = 32767;
            int hi = -32768;
            for (std::size_t b = first; b < std::min(last, o.buckets); ++b) {
                lo = std::min<int>(lo, o.Min(c, b));
                hi = std::max<int>(hi, o.Max(c, b));
            }
            painter.drawLine(
                x, static_cast<int>(middle - hi * scale), x, static_cast<int>(middle - lo * scale));
        }
    }
    const std::vector<Mark> marks = Marks();
    for (const Mark& mark : marks) {
        painter.setPen(QPen(mark.colour, 1));
        painter.drawLine(mark.x, 0, mark.x, height());
    }
    // Over every line, on a backing of their own: a label that stands beside a neighbour's line,
    // or over the waveform a line down, reads whole.
    for (const Mark& mark : marks) {
        painter.fillRect(mark.label.adjusted(-1, 0, 1, 0), colours.base());
        painter.setPen(mark.colour);
        painter.drawText(mark.label, Qt::AlignLeft | Qt::AlignVCenter, mark.text);
    }
}

std::vector<AWaveformView::Mark> AWaveformView::Marks() const
{
    std::vector<Mark> marks { { QStringLiteral("Start"), QColor(0, 150, 0), FrameX(start), {} } };
    if (looping) {
        marks.push_back({ QStringLiteral("Loop"), QColor(0, 70, 200), FrameX(loopStart), {} });
        marks.push_back({ QStringLiteral("End"), QColor(200, 40, 40), FrameX(loopEnd), {} });
    }
    const QFontMetrics metrics = fontMetrics();
    const int lineHeight = metrics.height();
    const int w = width();
    std::vector<QRect> placed;
    const auto free = [&](const QRect& label) {
        // A few pixels between labels, so that two words never read as one.
        const QRect apart = label.adjusted(-3, 0, 3, 0);
        return std::none_of(placed.begin(), placed.end(),
            [&](const QRect& other) { return other.intersects(apart); });
    };
    for (Mark& mark : marks) {
        const int textWidth = metrics.horizontalAdvance(mark.text);
        const int right = mark.x + 3;
        const int left = mark.x - 3 - textWidth;
        // The side with room first: right of the line unless the label would leave the view.
        const int sides[2]
            = { right + textWidth < w ? right : left, right + textWidth < w ? left : right };
        const int rows = std::max(1, height() / lineHeight);
        for (int row = 0; row < rows && mark.label.isNull(); ++row)
            for (const int x : sides) {
                const QRect candidate(x, 1 + row * lineHeight, textWidth, lineHeight);
                if (x >= 0 && x + textWidth <= w && free(candidate)) {
                    mark.label = candidate;
                    break;
                }
            }
        if (mark.label.isNull()) // a view too small for all: the first place, as before
            mark.label = QRect(sides[0], 1, textWidth, lineHeight);
        placed.push_back(mark.label);
    }
    return marks;
}

} // namespace cardmill
