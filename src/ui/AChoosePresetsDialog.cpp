#include "ui/AChoosePresetsDialog.h"

#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>
#include <tuple>

namespace cardmill {

namespace {

QString Text(const std::string& text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

} // namespace

AChoosePresetsDialog::AChoosePresetsDialog(
    QWidget* parent, const std::string& fileName, const LibraryCatalog& catalog)
    : QDialog(parent)
    , presets(catalog.presets)
    , filter(new QLineEdit(this))
    , list(new QListWidget(this))
    , addButton(nullptr)
{
    setWindowTitle(QStringLiteral("Choose Presets"));
    // Numbered as the instrument numbers them, not in the order the file happens to keep them.
    std::stable_sort(presets.begin(), presets.end(), [](const auto& a, const auto& b) {
        return std::tie(a.bank, a.program) < std::tie(b.bank, b.program);
    });
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(QStringLiteral("The %1 file \"%2\" holds %3 presets. Choose the "
                                                "ones to add; each becomes an instrument.")
                                     .arg(Text(catalog.formatName), Text(fileName))
                                     .arg(presets.size()),
        this));
    auto* find = new QHBoxLayout;
    auto* label = new QLabel(QStringLiteral("&Filter:"), this);
    label->setBuddy(filter);
    filter->setObjectName(QStringLiteral("presetFilter"));
    filter->setPlaceholderText(QStringLiteral("letters of a name, or bank:program"));
    filter->setClearButtonEnabled(true);
    find->addWidget(label);
    find->addWidget(filter, 1);
    layout->addLayout(find);

    list->setObjectName(QStringLiteral("presetList"));
    list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    for (const LibraryPreset& preset : presets)
        list->addItem(QStringLiteral("%1:%2  %3")
                          .arg(preset.bank)
                          .arg(preset.program)
                          .arg(Text(preset.name)));
    layout->addWidget(list);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    addButton = buttons->button(QDialogButtonBox::Ok);
    addButton->setText(QStringLiteral("&Add"));
    layout->addWidget(buttons);

    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(list, &QListWidget::itemDoubleClicked, this, &QDialog::accept);
    connect(list, &QListWidget::itemSelectionChanged, this, &AChoosePresetsDialog::FollowSelection);
    connect(filter, &QLineEdit::textChanged, this, &AChoosePresetsDialog::Narrow);
    // The list is walked from the field, so that typing and choosing need no change of focus.
    filter->installEventFilter(this);
    if (list->count() > 0) {
        list->setCurrentRow(0);
        list->item(0)->setSelected(true);
    }
    FollowSelection();
    resize(420, 480);
    filter->setFocus();
}

std::vector<LibraryPreset> AChoosePresetsDialog::Chosen() const
{
    std::vector<LibraryPreset> chosen;
    for (int row = 0; row < list->count(); ++row)
        if (list->item(row)->isSelected() && !list->item(row)->isHidden())
            chosen.push_back(presets[static_cast<std::size_t>(row)]);
    return chosen;
}

void AChoosePresetsDialog::Narrow(const QString& text)
{
    // Every word typed is somewhere in the line: "piano 0:" or "str" or "128:".
    const QStringList words = text.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    int firstShown = -1;
    bool chosenShown = false;
    for (int row = 0; row < list->count(); ++row) {
        QListWidgetItem* item = list->item(row);
        const bool shown = std::all_of(words.begin(), words.end(),
            [&](const QString& word) { return item->text().contains(word, Qt::CaseInsensitive); });
        item->setHidden(!shown);
        if (!shown)
            item->setSelected(false);
        if (shown && firstShown < 0)
            firstShown = row;
        chosenShown = chosenShown || (shown && item->isSelected());
    }
    // Enter adds what is shown: the first preset left, when none of those chosen is.
    if (!chosenShown && firstShown >= 0) {
        list->setCurrentRow(firstShown);
        list->item(firstShown)->setSelected(true);
    }
    if (list->currentItem() && !list->currentItem()->isHidden())
        list->scrollToItem(list->currentItem());
    FollowSelection();
}

void AChoosePresetsDialog::FollowSelection()
{
    addButton->setEnabled(!Chosen().empty());
}

bool AChoosePresetsDialog::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == filter && event->type() == QEvent::KeyPress) {
        switch (static_cast<QKeyEvent*>(event)->key()) {
        case Qt::Key_Up:
        case Qt::Key_Down:
        case Qt::Key_PageUp:
        case Qt::Key_PageDown:
            QCoreApplication::sendEvent(list, event);
            return true;
        default:
            break;
        }
    }
    return QDialog::eventFilter(watched, event);
}

} // namespace cardmill
