#include "ui/AKeyLists.h"

#include <QComboBox>
#include <QHBoxLayout>
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
    for (QComboBox* list : { notes, octaves })
        connect(list, &QComboBox::activated, this, [this] {
            if (onChosen)
                onChosen();
        });
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
}

} // namespace cardmill
