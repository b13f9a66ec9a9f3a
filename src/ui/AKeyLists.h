#pragma once

#include <QWidget>
#include <functional>

class QComboBox;

namespace cardmill {

/// A key chosen with two lists, a note ("C" to "B") and an octave ("-2" to "8"): key = octave
/// index x 12 + note index. The lists reach B8 (131); whoever takes the key refuses what lies
/// above G8.
///
/// A key is one choice made in two lists: B with octave 8 on the way to B7 is no error. So a
/// change is handed on only when both parts are set: when the focus leaves the pair, when Enter
/// is pressed in it, or when the dialog asks with Commit() (on OK).
class AKeyLists final : public QWidget {
public:
    explicit AKeyLists(QWidget* parent);
    ~AKeyLists() override;

    int Key() const;
    /// Shows `key` without telling `onChosen`; a change not yet handed on is dropped.
    void SetKey(int key);
    /// Hands a change made in the lists to `onChosen`; false when there was none.
    bool Commit();
    /// The user changed a list since the key was last shown or handed on.
    bool Pending() const { return pending; }
    /// The mnemonic of `label` (a form's label of this pair) leads to the note list.
    void LabelLeadsHere(QWidget* label) const;
    QComboBox* Notes() const { return notes; }
    QComboBox* Octaves() const { return octaves; }
    /// Called with a key the user set in the lists, once both parts are set.
    std::function<void()> onChosen;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void FocusMoved(QWidget* from, QWidget* to);

    QComboBox* notes;
    QComboBox* octaves;
    bool pending = false;
};

} // namespace cardmill
