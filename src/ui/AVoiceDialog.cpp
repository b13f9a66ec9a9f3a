#include "ui/AVoiceDialog.h"

#include "model/CardInfoEdit.h"
#include "model/MProject.h"
#include "model/instrument/MInstFileInstrument.h"
#include "model/sound/MSoundFile.h"
#include "ui/AKeyLists.h"
#include "ui/AKeyboardPlayer.h"
#include "ui/AKeyboardView.h"
#include "ui/ASampleDialog.h"
#include "ui/ASampleList.h"
#include "ui/DialogKeys.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>

namespace cardmill {

namespace {

QString Text(const std::string& text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

constexpr int kHighestKey = 127;

} // namespace

AVoiceDialog::AVoiceDialog(MInstFile& edited, MProject& editedProject, Prompter& messages,
    const Clock& time, QWidget* parent, AudioOutput* keysOutput)
    : QDialog(parent)
    , voice(edited)
    , instrument(dynamic_cast<MInstFileInstrument*>(&edited))
    , project(editedProject)
    , prompter(messages)
    , clock(time)
    , name(new QLineEdit(this))
    , samples(new ASampleList(this))
    , lower(new AKeyLists(this))
    , upper(new AKeyLists(this))
    , keyboard(new AKeyboardView(this))
{
    setWindowTitle(QStringLiteral("Voice Info"));
    name->setMaxLength(static_cast<int>(MReadableFile::kShortNameLimit));
    name->setText(Text(voice.GetShortName()));
    if (instrument) {
        keyTable.emplace(instrument->UpperKeys(), instrument->GroupCount());
        rowsPerGroup = std::max(1, int { instrument->GroupSize() });
        // One row per layer of every key group, so that row div rows per group is the group.
        for (int group = 0; group < keyTable->GroupCount(); ++group)
            for (int layer = 0; layer < rowsPerGroup; ++layer)
                rowSamples.push_back(instrument->SampleAt(group, layer));
    } else {
        rowSamples = voice.Samples();
    }
    for (const MSoundFile* sample : rowSamples)
        samples->addItem(sample ? Text(sample->GetFileName()) : QStringLiteral("(missing)"));

    auto* layout = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("File:"), new QLabel(Text(voice.GetFileName()), this));
    form->addRow(QStringLiteral("Voice &Name:"), name);
    layout->addLayout(form);
    auto* samplesLabel = new QLabel(QStringLiteral("Double-click to edit &samples:"), this);
    samplesLabel->setBuddy(samples);
    samplesLabel->setToolTip(QStringLiteral("Enter opens the selected sample's Sample Info"));
    layout->addWidget(samplesLabel);
    layout->addWidget(samples, 1);
    auto* keys = new QFormLayout;
    keys->addRow(QStringLiteral("&Lower Key:"), lower);
    keys->addRow(QStringLiteral("&Upper Key:"), upper);
    for (AKeyLists* lists : { lower, upper })
        lists->LabelLeadsHere(keys->labelForField(lists));
    layout->addLayout(keys);
    layout->addWidget(keyboard);
    if (keysOutput) {
        player = new AKeyboardPlayer(*keysOutput, this);
        playHint = new QLabel(QStringLiteral("&Keys sound as the card will play them: click "
                                             "one, or with the keys selected, Z to M and Q to U "
                                             "play two octaves from C2, - and + move them."),
            this);
        playHint->setBuddy(keyboard);
        playHint->setWordWrap(true);
        layout->addWidget(playHint);
        keyboard->onKey = [this](int key, bool down) { player->Key(key, down); };
        // Once the dialog shows: the card is compiled and the stream opened before a key is
        // pressed, so that the first key sounds at once.
        QTimer::singleShot(0, this, [this] {
            std::string error;
            if (!player->Load(project, prompter, voice, error))
                playHint->setText(QStringLiteral("The keyboard can't play: %1.").arg(Text(error)));
            ShowKeyboard();
        });
    }
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &AVoiceDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &AVoiceDialog::reject);
    FinishWithCtrlEnter(*this, *buttons);

    lower->onChosen = [this] { KeyChosen(); };
    upper->onChosen = [this] { KeyChosen(); };
    connect(samples, &QListWidget::currentRowChanged, this, [this](int row) {
        if (row >= 0)
            ShowRow(row);
    });
    connect(samples, &QListWidget::itemDoubleClicked, this,
        [this](QListWidgetItem* item) { EditSample(samples->row(item)); });
    samples->onOpen = [this](int row) { EditSample(row); };
    samples->setCurrentRow(0);
    ShowRow(0);
    name->setFocus();
    name->selectAll();
}

AVoiceDialog::~AVoiceDialog() = default;

int AVoiceDialog::GroupOfRow(int row) const
{
    return row / rowsPerGroup;
}

void AVoiceDialog::ShowRow(int row)
{
    shownRow = row;
    if (!keyTable) {
        // A sound file is one key group over the whole keyboard.
        lower->SetKey(0);
        upper->SetKey(kHighestKey);
        for (AKeyLists* lists : { lower, upper })
            lists->setEnabled(false);
        ShowKeyboard();
        return;
    }
    const int group = std::min(GroupOfRow(row), keyTable->GroupCount() - 1);
    lower->setEnabled(group > 0);
    lower->SetKey(keyTable->Lower(group));
    upper->setEnabled(true);
    upper->SetKey(keyTable->Upper(group));
    ShowKeyboard();
}

bool AVoiceDialog::KeyChosen()
{
    if (!keyTable)
        return true;
    const int group = std::min(GroupOfRow(shownRow), keyTable->GroupCount() - 1);
    // A refusal leaves the table as it was; either way the lists show the table now.
    const auto outcome
        = keyTable->Apply(group, group == 0 ? 0 : lower->Key(), upper->Key(), prompter);
    ShowRow(shownRow);
    return outcome != KeyGroupEdit::Outcome::Refused;
}

void AVoiceDialog::keyPressEvent(QKeyEvent* event)
{
    if (!IsPlainEnter(*event)) {
        QDialog::keyPressEvent(event);
        return;
    }
    event->accept();
    focusNextChild();
}

void AVoiceDialog::ShowKeyboard()
{
    std::vector<std::vector<int>> roots;
    if (keyTable) {
        keyboard->SetGroups(keyTable->Keys().data(), keyTable->GroupCount());
        if (player)
            player->SetUpperKeys(
                { keyTable->Keys().begin(), keyTable->Keys().begin() + keyTable->GroupCount() });
        roots.resize(static_cast<std::size_t>(keyTable->GroupCount()));
        for (std::size_t i = 0; i < rowSamples.size(); ++i) {
            const auto group = static_cast<std::size_t>(GroupOfRow(static_cast<int>(i)));
            if (rowSamples[i] && group < roots.size())
                roots[group].push_back(rowSamples[i]->GetRootKey());
        }
        keyboard->SetCurrentGroup(std::min(GroupOfRow(shownRow), keyTable->GroupCount() - 1));
    } else {
        const std::uint8_t whole = kHighestKey;
        keyboard->SetGroups(&whole, 1);
        if (!rowSamples.empty() && rowSamples[0])
            roots.push_back({ rowSamples[0]->GetRootKey() });
        keyboard->SetCurrentGroup(0);
    }
    keyboard->SetRoots(std::move(roots));
}

void AVoiceDialog::EditSample(int row)
{
    if (row < 0 || static_cast<std::size_t>(row) >= rowSamples.size()
        || !rowSamples[static_cast<std::size_t>(row)])
        return;
    ASampleDialog dialog(*rowSamples[static_cast<std::size_t>(row)], prompter, this);
    if (dialog.exec() != QDialog::Accepted)
        return;
    voice.UpdateCompiledSize();
    MarkEdited(voice, project, clock);
    changed = true;
    contentChanged = contentChanged || dialog.ContentChanged();
    // The keyboard plays what the card will hold: the sample's new settings.
    if (player && player->Loaded()) {
        std::string error;
        if (!player->Load(project, prompter, voice, error))
            playHint->setText(QStringLiteral("The keyboard can't play: %1.").arg(Text(error)));
    }
    ShowKeyboard();
}

void AVoiceDialog::accept()
{
    // A key set in the lists and not yet checked (the focus went straight to OK) is checked
    // now; a refused one keeps the dialog open.
    if ((lower->Pending() || upper->Pending()) && !KeyChosen())
        return;
    const std::string typed = name->text().toStdString();
    if (!CheckVoiceName(typed, prompter))
        return;
    const auto card = AcceptTyped(typed, "voice name", prompter);
    if (!card)
        return;
    voice.SetShortName(*card);
    if (keyTable)
        instrument->SetUpperKeys(keyTable->Keys());
    MarkEdited(voice, project, clock);
    changed = true;
    QDialog::accept();
}

} // namespace cardmill
