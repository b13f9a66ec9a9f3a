#pragma once

#include <QWidget>
#include <functional>

class QComboBox;

namespace cardmill {

/// A key chosen with two lists, a note ("C" to "B") and an octave ("-2" to "8"): key = octave
/// index x 12 + note index. The lists reach B8 (131); whoever takes the key refuses what lies
/// above G8.
class AKeyLists final : public QWidget {
public:
    explicit AKeyLists(QWidget* parent);

    int Key() const;
    /// Shows `key` without telling `onChosen`.
    void SetKey(int key);
    QComboBox* Notes() const { return notes; }
    QComboBox* Octaves() const { return octaves; }
    /// Called when the user confirms a choice in either list.
    std::function<void()> onChosen;

private:
    QComboBox* notes;
    QComboBox* octaves;
};

} // namespace cardmill
