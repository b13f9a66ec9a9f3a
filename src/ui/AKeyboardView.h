#pragma once

#include <QWidget>
#include <array>
#include <cstdint>
#include <vector>

namespace cardmill {

/// The 128 MIDI keys as a piano keyboard with an instrument's key groups over it: each group's
/// range shaded (the current group stronger) and the root key of each of its samples marked.
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

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::array<std::uint8_t, 128> keys {};
    int count = 0;
    int current = 0;
    std::vector<std::vector<int>> roots;
};

} // namespace cardmill
