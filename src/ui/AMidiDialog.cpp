#include "ui/AMidiDialog.h"

#include "model/APrefs.h"
#include "synth/AMidi.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QListWidget>

namespace cardmill {

namespace {

void Fill(QListWidget* list, const std::vector<std::string>& names, const std::string& chosen)
{
    for (const std::string& name : names)
        list->addItem(QString::fromStdString(name));
    // With several ports of one name, the first wins.
    for (int row = 0; row < list->count(); ++row)
        if (list->item(row)->text().toStdString() == chosen) {
            list->setCurrentRow(row);
            break;
        }
}

} // namespace

AMidiDialog::AMidiDialog(AMidi& midiPorts, APrefs& preferences, QWidget* parent)
    : QDialog(parent)
    , midi(midiPorts)
    , prefs(preferences)
    , inputs(new QListWidget(this))
    , outputs(new QListWidget(this))
{
    setWindowTitle(QStringLiteral("MIDI Setup"));
    auto* layout = new QGridLayout(this);
    layout->addWidget(new QLabel(QStringLiteral("MIDI Input Port"), this), 0, 0);
    layout->addWidget(new QLabel(QStringLiteral("MIDI Output Port"), this), 0, 1);
    layout->addWidget(inputs, 1, 0);
    layout->addWidget(outputs, 1, 1);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    layout->addWidget(buttons, 2, 0, 1, 2);
    Fill(inputs, midi.InputNames(), prefs.midiInputPort);
    Fill(outputs, midi.OutputNames(), prefs.midiOutputPort);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

void AMidiDialog::accept()
{
    QDialog::accept();
    if (inputs->currentRow() >= 0) {
        prefs.midiInputPort = inputs->currentItem()->text().toStdString();
        midi.SetPreferredInputIndex(static_cast<std::uint16_t>(inputs->currentRow()));
    }
    if (outputs->currentRow() >= 0) {
        prefs.midiOutputPort = outputs->currentItem()->text().toStdString();
        midi.SetPreferredOutputIndex(static_cast<std::uint16_t>(outputs->currentRow()));
    }
    midi.Close();
    midi.OpenPreferred();
}

} // namespace cardmill
