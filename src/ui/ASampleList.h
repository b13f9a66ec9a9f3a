#pragma once

#include <QListWidget>
#include <functional>

namespace cardmill {

/// Voice Info's sample list: one row per sample, one row always selected (a click on empty
/// space keeps the row that was selected). Enter opens the selected row, as a double-click does.
class ASampleList final : public QListWidget {
public:
    explicit ASampleList(QWidget* parent);

    /// Called with the selected row when Enter is pressed in the list.
    std::function<void(int)> onOpen;

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
};

} // namespace cardmill
