#include "ui/ASampleDialog.h"

#include "model/sound/MSoundFile.h"
#include "model/sound/WaveOverview.h"
#include "ui/AKeyLists.h"
#include "ui/AWaveformView.h"
#include "ui/DialogKeys.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QVBoxLayout>

namespace cardmill {

namespace {

/// Columns of the overview: more than any screen is wide, so the picture needs no second read.
constexpr std::size_t kOverviewBuckets = 4096;

/// A number typed in a field; -1 (refused by every check) when it is not a whole number.
std::int64_t Number(const QLineEdit* field)
{
    bool ok = false;
    const qlonglong value = field->text().trimmed().toLongLong(&ok);
    return ok ? value : -1;
}

QString Number(std::int64_t value)
{
    return QString::number(value);
}

} // namespace

ASampleDialog::ASampleDialog(MSoundFile& edited, Prompter& messages, QWidget* parent)
    : QDialog(parent)
    , sample(edited)
    , prompter(messages)
    , edit(edited)
    , smooth(new QCheckBox(QStringLiteral("S&mooth Attacks"), this))
    , left(new QRadioButton(QStringLiteral("Use L&eft Channel Audio"), this))
    , mixed(new QRadioButton(QStringLiteral("Use 50 / 50 M&ixed Audio"), this))
    , right(new QRadioButton(QStringLiteral("Use Ri&ght Channel Audio"), this))
    , root(new AKeyLists(this))
    , volume(new QLineEdit(this))
    , start(new QLineEdit(this))
    , enableLoop(new QCheckBox(QStringLiteral("Enable &Loop"), this))
    , loopStart(new QLineEdit(this))
    , waveform(new AWaveformView(this))
{
    setWindowTitle(QStringLiteral("Sample Info"));
    smooth->setChecked(edit.smoothing);
    const bool stereo = sample.ChannelCount() == 2;
    for (QRadioButton* button : { left, mixed, right })
        button->setEnabled(stereo);
    (edit.channel == 1 ? left : edit.channel == 2 ? right : mixed)->setChecked(true);
    root->SetKey(static_cast<int>(edit.rootKey));
    root->onChosen = [this] { RootChosen(); };
    volume->setMaxLength(3);
    start->setMaxLength(7);
    loopStart->setMaxLength(7);
    volume->setText(Number(edit.volume));
    start->setText(Number(edit.startFrame));
    enableLoop->setChecked(edit.looping);
    loopStart->setText(Number(edit.loopStart));
    loopStart->setEnabled(edit.looping);
    connect(enableLoop, &QCheckBox::toggled, this, [this](bool on) {
        loopStart->setEnabled(on);
        ShowMarks();
    });
    connect(start, &QLineEdit::textChanged, this, [this] { ShowMarks(); });
    connect(loopStart, &QLineEdit::textChanged, this, [this] { ShowMarks(); });

    auto* layout = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    form->addRow(
        QStringLiteral("File:"), new QLabel(QString::fromStdString(sample.GetFileName()), this));
    form->addRow(QStringLiteral("Sample Rate:"),
        new QLabel(QString::fromStdString(sample.SampleRateText()), this));
    layout->addLayout(form);
    layout->addWidget(waveform, 1);
    layout->addWidget(smooth);
    auto* channels = new QVBoxLayout;
    for (QRadioButton* button : { left, mixed, right })
        channels->addWidget(button);
    layout->addLayout(channels);
    auto* values = new QFormLayout;
    values->addRow(QStringLiteral("&Root/Octave:"), root);
    root->LabelLeadsHere(values->labelForField(root));
    values->addRow(QStringLiteral("&Volume:"), volume);
    values->addRow(QStringLiteral("Start &Frame:"), start);
    values->addRow(enableLoop);
    values->addRow(QStringLiteral("Loop S&tart:"), loopStart);
    layout->addLayout(values);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &ASampleDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &ASampleDialog::reject);
    FinishWithCtrlEnter(*this, *buttons);

    waveform->SetOverview(BuildWaveOverview(sample, kOverviewBuckets));
    ShowMarks();
    volume->setFocus();
    volume->selectAll();
}

bool ASampleDialog::RootChosen()
{
    if (edit.ChooseRoot(root->Key(), prompter))
        return true;
    root->SetKey(static_cast<int>(edit.rootKey));
    return false;
}

void ASampleDialog::keyPressEvent(QKeyEvent* event)
{
    if (!IsPlainEnter(*event)) {
        QDialog::keyPressEvent(event);
        return;
    }
    event->accept();
    focusNextChild();
}

void ASampleDialog::ShowMarks()
{
    const SampleParams& params = sample.Params();
    // A loop switched on here ends where the sample data ends, as the loop check will make it.
    const std::int64_t end = params.looping ? std::int64_t { params.loopEnd }
                                            : std::int64_t { sample.GetFrameCount() };
    waveform->SetStart(std::max<std::int64_t>(0, Number(start)));
    waveform->SetLoop(enableLoop->isChecked(), std::max<std::int64_t>(0, Number(loopStart)), end);
}

void ASampleDialog::accept()
{
    if (root->Pending() && !RootChosen())
        return;
    SampleEdit typed = edit;
    typed.smoothing = smooth->isChecked();
    if (sample.ChannelCount() == 2)
        typed.channel = left->isChecked() ? 1 : right->isChecked() ? 2 : 0;
    typed.looping = enableLoop->isChecked();
    if (typed.looping)
        typed.loopStart = Number(loopStart);
    typed.startFrame = Number(start);
    typed.volume = Number(volume);
    bool changed = false;
    if (!typed.Apply(prompter, changed))
        return;
    contentChanged = changed;
    QDialog::accept();
}

} // namespace cardmill
