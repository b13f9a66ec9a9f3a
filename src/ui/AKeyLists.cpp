#include "ui/AKeyLists.h"

#include "ui/DialogKeys.h"

#include <QApplication>
#include <QComboBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QSignalBlocker>

namespace cardmill {

AKeyLists::AKeyLists(QWidget* parent)
    : QWidget(parent)
    , notes(new QComboBox(this))
    , octaves(new QComboBox(this))
{
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(notes);
    layout->addWidget(octaves);
    for (const char* note :
        { "C", "C#/Db", "D", "D#/Eb", "E", "F", "F#/Gb", "G", "G#/Ab", "A", "A#/Bb", "B" })
        notes->addItem(QString::fromLatin1(note));
    for (int octave = -2; octave <= 8; ++octave)
        octaves->addItem(QString::number(octave));
    notes->setAccessibleName(QStringLiteral("Note"));
    octaves->setAccessibleName(QStringLiteral("Octave"));
    setFocusProxy(notes);
    for (QComboBox* list : { notes, octaves }) {
        connect(list, &QComboBox::activated, this, [this] { pending = true; });
        list->installEventFilter(this);
    }
    connect(qApp, &QApplication::focusChanged, this, &AKeyLists::FocusMoved);
}

AKeyLists::~AKeyLists()
{
    // Before the lists go: deleting the one with the focus moves it, and this part of the
    // object is gone by then.
    disconnect(qApp, &QApplication::focusChanged, this, &AKeyLists::FocusMoved);
}

void AKeyLists::LabelLeadsHere(QWidget* label) const
{
    // A label gives the focus only to a buddy that takes it, which the pair itself doesn't.
    if (auto* text = qobject_cast<QLabel*>(label))
        text->setBuddy(notes);
}

int AKeyLists::Key() const
{
    return octaves->currentIndex() * 12 + notes->currentIndex();
}

void AKeyLists::SetKey(int key)
{
    const QSignalBlocker blockNotes(notes);
    const QSignalBlocker blockOctaves(octaves);
    notes->setCurrentIndex(key % 12);
    octaves->setCurrentIndex(key / 12);
    pending = false;
}

bool AKeyLists::Commit()
{
    if (!pending)
        return false;
    // Cleared first: the check may show a message, which takes the focus out of the pair.
    pending = false;
    if (onChosen)
        onChosen();
    return true;
}

void AKeyLists::FocusMoved(QWidget* from, QWidget* to)
{
    // A list's popup is part of the pair; the focus comes back from it to the list.
    if (!pending || !from || !to || QApplication::activePopupWidget())
        return;
    const bool wasHere = from == notes || from == octaves;
    const bool staysHere = to == notes || to == octaves;
    if (wasHere && !staysHere)
        Commit();
}

bool AKeyLists::eventFilter(QObject* watched, QEvent* event)
{
    // Enter in a closed list confirms the key and leaves the dialog open.
    if (event->type() == QEvent::KeyPress) {
        if (IsPlainEnter(*static_cast<QKeyEvent*>(event))) {
            Commit();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace cardmill
