#include "ui/AMidiDialog.h"

#include "model/APrefs.h"
#include "platform/FileSystem.h"
#include "platform/MidiBackendRaw.h"
#include "platform/Prompter.h"
#include "synth/AMidi.h"
#include "synth/LinkPace.h"
#include "ui/DialogKeys.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QSignalBlocker>
#include <algorithm>

namespace cardmill {

namespace {

void Fill(QListWidget* list, const std::vector<std::string>& names, const std::string& chosen)
{
    const QSignalBlocker block(list);
    for (const std::string& name : names)
        list->addItem(QString::fromStdString(name));
    // With several ports of one name, the first wins.
    for (int row = 0; row < list->count(); ++row)
        if (list->item(row)->text().toStdString() == chosen) {
            list->setCurrentRow(row);
            break;
        }
}

int RowOf(const std::vector<std::string>& names, const std::string& name)
{
    const auto found = std::find(names.begin(), names.end(), name);
    return found == names.end() ? -1 : static_cast<int>(found - names.begin());
}

} // namespace

AMidiDialog::AMidiDialog(AMidi& midiPorts, APrefs& preferences, Prompter& messages, QWidget* parent)
    : QDialog(parent)
    , midi(midiPorts)
    , prefs(preferences)
    , prompter(messages)
    , inputs(new QListWidget(this))
    , outputs(new QListWidget(this))
    , path(new QLineEdit(this))
    , pace(new QLineEdit(this))
{
    setWindowTitle(QStringLiteral("MIDI Setup"));
    auto* layout = new QGridLayout(this);
    auto* inputLabel = new QLabel(QStringLiteral("MIDI &Input Port"), this);
    auto* outputLabel = new QLabel(QStringLiteral("MIDI O&utput Port"), this);
    inputLabel->setBuddy(inputs);
    outputLabel->setBuddy(outputs);
    layout->addWidget(inputLabel, 0, 0);
    layout->addWidget(outputLabel, 0, 1);
    layout->addWidget(inputs, 1, 0);
    layout->addWidget(outputs, 1, 1);
    auto* pathLabel = new QLabel(
        QStringLiteral("Or the &path of a MIDI device or pty (both directions):"), this);
    pathLabel->setBuddy(path);
    path->setPlaceholderText(QStringLiteral("/dev/snd/midiC1D0 or /dev/pts/N"));
    path->setClearButtonEnabled(true);
    layout->addWidget(pathLabel, 2, 0, 1, 2);
    layout->addWidget(path, 3, 0, 1, 2);
    // For USB-MIDI interfaces that lose bytes of long messages sent at full speed; a transfer
    // finds a pace that works by itself, and it shows here afterwards.
    auto* paceLabel = new QLabel(
        QStringLiteral("Pac&e of the output (bytes a second; empty or 0: full speed):"), this);
    paceLabel->setBuddy(pace);
    pace->setPlaceholderText(QStringLiteral("full speed (3125 is a DIN MIDI cable's rate)"));
    pace->setClearButtonEnabled(true);
    layout->addWidget(paceLabel, 4, 0, 1, 2);
    layout->addWidget(pace, 5, 0, 1, 2);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    layout->addWidget(buttons, 6, 0, 1, 2);
    Fill(inputs, midi.InputNames(), prefs.midiInputPort);
    Fill(outputs, midi.OutputNames(), prefs.midiOutputPort);
    ShowPace(prefs.midiOutputPort);
    connect(outputs, &QListWidget::currentRowChanged, this, [this](int row) {
        if (row >= 0)
            ShowPace(outputs->item(row)->text().toStdString());
    });
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    FinishWithCtrlEnter(*this, *buttons);
    // A path typed wins over the lists: their choice is cleared so that nothing says otherwise,
    // and a port chosen in a list afterwards empties the path.
    connect(path, &QLineEdit::textEdited, this, [this](const QString& text) {
        if (text.trimmed().isEmpty())
            return;
        for (QListWidget* list : { inputs, outputs }) {
            const QSignalBlocker block(list);
            list->setCurrentRow(-1);
        }
    });
    for (QListWidget* list : { inputs, outputs })
        connect(list, &QListWidget::currentRowChanged, this, [this](int row) {
            if (row >= 0)
                path->clear();
        });
    setTabOrder(inputs, outputs);
    setTabOrder(outputs, path);
    setTabOrder(path, pace);
    if (inputs->currentRow() >= 0)
        inputs->setFocus();
    else
        path->setFocus();
}

void AMidiDialog::ShowPace(const std::string& port)
{
    const auto remembered = PortPaces(prefs.Store()).Find(port);
    pace->setText(remembered && *remembered != LinkPace::kFullSpeed ? QString::number(*remembered)
                                                                    : QString());
}

std::string AMidiDialog::TypedPath(bool& refused) const
{
    refused = false;
    const std::string typed = path->text().trimmed().toStdString();
    if (typed.empty())
        return {};
    const std::string absolute = AbsolutePath(typed);
    const std::string why = MidiBackendRaw::WhyNotAPort(absolute);
    if (why.empty())
        return absolute;
    ReportFailure(prompter, "Sorry, but '" + typed + "' can't be a MIDI port: " + why + ".");
    refused = true;
    return {};
}

void AMidiDialog::accept()
{
    bool refused = false;
    const std::string device = TypedPath(refused);
    if (refused) {
        path->setFocus();
        path->selectAll();
        return;
    }
    const std::string typedPace = pace->text().trimmed().toStdString();
    std::string error;
    const auto chosenPace = typedPace.empty() ? std::optional(LinkPace::kFullSpeed)
                                              : LinkPace::Parse(typedPace, error);
    if (!chosenPace) {
        // The option's words, for the field.
        ReportFailure(
            prompter, "Sorry, but the pace " + error.substr(std::string("--pace ").size()) + ".");
        pace->setFocus();
        pace->selectAll();
        return;
    }
    QDialog::accept();
    if (!device.empty()) {
        if (onPath)
            onPath(device);
        prefs.midiInputPort = prefs.midiOutputPort = device;
        const int input = RowOf(midi.InputNames(), device);
        const int output = RowOf(midi.OutputNames(), device);
        if (input >= 0)
            midi.SetPreferredInputIndex(static_cast<std::uint16_t>(input));
        if (output >= 0)
            midi.SetPreferredOutputIndex(static_cast<std::uint16_t>(output));
    } else {
        if (inputs->currentRow() >= 0) {
            prefs.midiInputPort = inputs->currentItem()->text().toStdString();
            midi.SetPreferredInputIndex(static_cast<std::uint16_t>(inputs->currentRow()));
        }
        if (outputs->currentRow() >= 0) {
            prefs.midiOutputPort = outputs->currentItem()->text().toStdString();
            midi.SetPreferredOutputIndex(static_cast<std::uint16_t>(outputs->currentRow()));
        }
    }
    // Stored only when changed: a port nobody paced gets no entry.
    PortPaces paces(prefs.Store());
    if (paces.Find(prefs.midiOutputPort).value_or(LinkPace::kFullSpeed) != *chosenPace)
        paces.Remember(prefs.midiOutputPort, *chosenPace);
    midi.SetPace(*chosenPace);
    midi.Close();
    midi.OpenPreferred();
}

} // namespace cardmill
