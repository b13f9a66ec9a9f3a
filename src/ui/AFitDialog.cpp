#include "ui/AFitDialog.h"

#include "model/MCardmill.h"
#include "model/MProject.h"
#include "platform/Prompter.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>
#include <filesystem>

namespace cardmill {

namespace {

enum Column { kSound, kGroup, kRate, kTrimmed, kGain, kSaved, kLoss, kColumns };

QString RateText(double rate)
{
    return QString::number(static_cast<long long>(rate));
}

} // namespace

AFitDialog::AFitDialog(MCardmill& cardmill, Prompter& messages, QWidget* parent)
    : QDialog(parent)
    , controller(cardmill)
    , prompter(messages)
    , trim(new QCheckBox(QStringLiteral("&Trim silence below -60 dBFS"), this))
    , normalize(new QCheckBox(QStringLiteral("&Normalize peaks"), this))
    , minRate(new QComboBox(this))
    , table(new QTableWidget(0, kColumns, this))
    , totals(new QLabel(this))
    , apply(nullptr)
{
    setWindowTitle(QStringLiteral("Fit to Card"));
    MProject& project = controller.Project();
    std::string failure;
    gathered = GatherProjectSounds(
        project, [&project](int group) { return project.GetGroupName(group); }, failure);
    if (!gathered)
        prompter.Show("Sorry, but Cardmill can't fit the project: " + failure + ".", Icon::Error,
            Buttons::Ok);

    for (const double rate : kFitRates)
        minRate->addItem(RateText(rate) + QStringLiteral(" Hz"), rate);
    minRate->setCurrentIndex(minRate->findData(options.minRate));
    auto* rateLabel = new QLabel(QStringLiteral("&Lowest rate:"), this);
    rateLabel->setBuddy(minRate);
    auto* row = new QHBoxLayout;
    row->addWidget(trim);
    row->addWidget(normalize);
    row->addStretch();
    row->addWidget(rateLabel);
    row->addWidget(minRate);

    table->setHorizontalHeaderLabels({ QStringLiteral("Sound"), QStringLiteral("Group"),
        QStringLiteral("Rate (Hz)"), QStringLiteral("Trimmed"), QStringLiteral("Gain dB"),
        QStringLiteral("Saved"), QStringLiteral("Loss dB") });
    table->verticalHeader()->hide();
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setSelectionMode(QAbstractItemView::NoSelection);
    table->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    table->horizontalHeader()->setStretchLastSection(true);
    totals->setWordWrap(true);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    apply = buttons->button(QDialogButtonBox::Ok);
    apply->setText(QStringLiteral("&Apply"));
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(row);
    layout->addWidget(table);
    layout->addWidget(totals);
    layout->addWidget(buttons);
    resize(760, 420);

    connect(buttons, &QDialogButtonBox::accepted, this, &AFitDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &AFitDialog::reject);
    connect(trim, &QCheckBox::toggled, this, &AFitDialog::Plan);
    connect(normalize, &QCheckBox::toggled, this, &AFitDialog::Plan);
    connect(minRate, &QComboBox::currentIndexChanged, this, &AFitDialog::Plan);
    connect(table, &QTableWidget::itemChanged, this, &AFitDialog::ShowTotals);
    Plan();
}

void AFitDialog::Plan()
{
    if (!gathered)
        return;
    MProject& project = controller.Project();
    options.cardBytes = project.GetCardSizeBytes();
    options.minRate = minRate->currentData().toDouble();
    options.trimDb = trim->isChecked() ? std::optional<double>(-60.0) : std::nullopt;
    options.normalize = normalize->isChecked();
    project.ComputeTotalBytes();
    QApplication::setOverrideCursor(Qt::WaitCursor);
    plan = PlanFit(gathered->sounds, project.GetTotalBytes(), options, &made);
    QApplication::restoreOverrideCursor();

    const QSignalBlocker quiet(table);
    table->setRowCount(static_cast<int>(gathered->sounds.size()));
    for (std::size_t i = 0; i < gathered->sounds.size(); ++i) {
        const FitSound& sound = gathered->sounds[i];
        const FitChoice& choice = plan.choices[i];
        const bool changes = choice.Changes(sound);
        const QString texts[kColumns]
            = { QString::fromStdString(sound.name), QString::fromStdString(sound.group),
                  choice.Resamples(sound)
                      ? RateText(sound.rate) + QStringLiteral(" -> ") + RateText(choice.rate)
                      : RateText(sound.rate),
                  QString::number(choice.trim.lead + choice.trim.tail),
                  choice.gainDb > 0 ? QStringLiteral("+%1").arg(choice.gainDb, 0, 'f', 1)
                                    : QStringLiteral("-"),
                  QString::number(choice.BytesSaved(sound)),
                  choice.Resamples(sound) ? QString::number(choice.lossDb, 'f', 1)
                                          : QStringLiteral("-") };
        for (int column = 0; column < kColumns; ++column) {
            auto* item = new QTableWidgetItem(texts[column]);
            if (column == kSound) {
                item->setFlags(
                    changes ? Qt::ItemIsEnabled | Qt::ItemIsUserCheckable : Qt::ItemFlags());
                item->setCheckState(changes ? Qt::Checked : Qt::Unchecked);
            } else {
                item->setFlags(Qt::ItemIsEnabled);
            }
            if (column != kSound && column != kGroup)
                item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
            table->setItem(static_cast<int>(i), column, item);
        }
    }
    ShowTotals();
}

std::vector<bool> AFitDialog::Chosen() const
{
    std::vector<bool> chosen;
    for (int row = 0; row < table->rowCount(); ++row)
        chosen.push_back(table->item(row, kSound)->checkState() == Qt::Checked);
    return chosen;
}

void AFitDialog::ShowTotals()
{
    const std::vector<bool> chosen = Chosen();
    std::int64_t after = static_cast<std::int64_t>(plan.totalBefore);
    for (std::size_t i = 0; i < chosen.size(); ++i)
        if (chosen[i])
            after -= plan.choices[i].BytesSaved(gathered->sounds[i]);
    QString text = QStringLiteral("Total: %1 bytes before, %2 after; the card holds %3.")
                       .arg(plan.totalBefore)
                       .arg(after)
                       .arg(plan.cardBytes);
    if (after > static_cast<std::int64_t>(plan.cardBytes))
        text += QStringLiteral(" It is over the card by %1 bytes.")
                    .arg(after - static_cast<std::int64_t>(plan.cardBytes));
    if (!plan.fits)
        text += QStringLiteral(" The project can't fit the card even at the lowest rate.");
    for (const std::string& note : gathered->notes)
        text += QStringLiteral("\n") + QString::fromStdString(note) + QStringLiteral(".");
    totals->setText(text);
    apply->setEnabled(std::find(chosen.begin(), chosen.end(), true) != chosen.end());
}

void AFitDialog::accept()
{
    if (!controller.HasFile()) {
        prompter.Show("Save the project first: the fitted sounds go into a folder beside it.",
            Icon::Information, Buttons::Ok);
        return;
    }
    const std::string folder
        = std::filesystem::path(controller.DocumentPath()).replace_extension(".fit").string();
    std::string failure;
    std::vector<std::string> written; // kept: Undo and Redo swap the items that play them
    if (!MakeFittedItems(controller, *gathered, plan, Chosen(), folder, swaps, written, failure)) {
        swaps.clear();
        prompter.Show(
            "Sorry, but the project can't be fitted: " + failure + ".", Icon::Error, Buttons::Ok);
        return;
    }
    QDialog::accept();
}

} // namespace cardmill
