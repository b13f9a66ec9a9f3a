#pragma once

#include <QWidget>
#include <array>
#include <cstdint>
#include <functional>
#include <set>
#include <vector>

namespace cardmill {

/// The 128 MIDI keys as a piano keyboard with an instrument's key groups over it: each group's
/// range shaded (the current group stronger) and the root key of each of its samples marked.
/// It can be played: a key clicked sounds while the button is held; with the focus, the
/// computer's keys play two octaves (Z to M the lower, Q to U the upper, the black keys on the
/// rows above them, as trackers lay them out), minus and plus move them an octave.
class AKeyboardView final : public QWidget {
public:
    explicit AKeyboardView(QWidget* parent);

    /// The upper key of each of `groupCount` groups; a group starts one key above the previous.
    void SetGroups(const std::uint8_t* upperKeys, int groupCount);
    /// Root keys, one list per group.
    void SetRoots(std::vector<std::vector<int>> roots);
    void SetCurrentGroup(int group);

    int GroupCount() const { return count; }
    int Upper(int group) const { return keys[static_cast<std::size_t>(group)]; }
    /// The group that plays `key` now, or -1.
    int GroupOfKey(int key) const;
    /// The horizontal extent of a key, as drawn now.
    QRect KeyRect(int key) const;

    QSize sizeHint() const override { return { 600, 64 }; }

    /// Told of each key going down (true) or up; none: the keyboard only shows.
    std::function<void(int key, bool down)> onKey;
    /// The key the Z key plays (a C).
    int LowestComputerKey() const { return computerBase; }
    /// The key under a point, black keys first; -1 off the keys.
    int KeyAt(QPoint point) const;
    bool IsDown(int key) const { return down.count(key) != 0; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    std::array<std::uint8_t, 128> keys {};
    int count = 0;
    int current = 0;
    std::vector<std::vector<int>> roots;
    std::set<int> down;
    int mouseKey = -1;
    int computerBase = 48;
    void Press(int key);
    void Release(int key);
    void ReleaseAll();
    /// The key a computer key plays now; -1 for none.
    int ComputerKey(int qtKey) const;
};

} // namespace cardmill
