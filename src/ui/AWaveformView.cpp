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
    auto mark = [&](std::int64_t frame, const QColor& colour, const QString& label) {
        const int x = FrameX(frame);
        painter.setPen(QPen(colour, 1));
        painter.drawLine(x, 0, x, height());
        const int textWidth = painter.fontMetrics().horizontalAdvance(label);
        const int tx = x + 3 + textWidth < w ? x + 3 : x - 3 - textWidth;
        painter.drawText(tx, painter.fontMetrics().ascent() + 1, label);
    };
    mark(start, QColor(0, 150, 0), QStringLiteral("Start"));
    if (looping) {
        mark(loopStart, QColor(0, 70, 200), QStringLiteral("Loop"));
        mark(loopEnd, QColor(200, 40, 40), QStringLiteral("End"));
    }
}

} // namespace cardmill
