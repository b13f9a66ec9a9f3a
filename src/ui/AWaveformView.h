#pragma once

#include "model/sound/WaveOverview.h"

#include <QColor>
#include <QRect>
#include <QString>
#include <QWidget>
#include <optional>
#include <vector>

namespace cardmill {

/// A sample's waveform, one lane per channel, drawn as the lowest and highest value of each
/// pixel column taken from an overview built once; the start frame, loop start and loop end are
/// drawn over it and move as they are set.
class AWaveformView final : public QWidget {
public:
    explicit AWaveformView(QWidget* parent);

    /// Nothing: the data could not be read, and the view says so.
    void SetOverview(std::optional<WaveOverview> overview);
    void SetStart(std::int64_t frame);
    /// The loop, or none (`looping` false) to hide its two marks.
    void SetLoop(bool looping, std::int64_t start, std::int64_t end);

    const std::optional<WaveOverview>& Overview() const { return overview; }
    std::int64_t Start() const { return start; }
    bool Looping() const { return looping; }
    std::int64_t LoopStart() const { return loopStart; }
    std::int64_t LoopEnd() const { return loopEnd; }
    /// The x position of a frame in the view now.
    int FrameX(std::int64_t frame) const;

    QSize sizeHint() const override { return { 480, 140 }; }

    /// A mark drawn over the waveform: its line at `x`, its label in `label`.
    struct Mark {
        QString text;
        QColor colour;
        int x;
        QRect label;
    };
    /// The marks shown now (start, and loop start and end while looping), their labels placed
    /// beside their lines where they don't cover one another: a label that would is moved to
    /// the other side of its line, or down a line.
    std::vector<Mark> Marks() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::optional<WaveOverview> overview;
    std::int64_t start = 0;
    bool looping = false;
    std::int64_t loopStart = 0;
    std::int64_t loopEnd = 0;
};

} // namespace cardmill
