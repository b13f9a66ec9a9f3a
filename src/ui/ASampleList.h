#pragma once

#include <QListWidget>

namespace cardmill {

/// Voice Info's sample list: one row per sample, one row always selected (a click on empty
/// space keeps the row that was selected).
class ASampleList final : public QListWidget {
public:
    explicit ASampleList(QWidget* parent);

protected:
    void mousePressEvent(QMouseEvent* event) override;
};

} // namespace cardmill
