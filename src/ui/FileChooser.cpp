#include "ui/FileChooser.h"

#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QStyle>
#include <QTreeView>

namespace cardmill {

namespace {

constexpr auto kOptions = QFileDialog::DontUseNativeDialog;

/// The extensions a filter names, with their dots: "Image Files (*.img *.bin)" gives ".img" and
/// ".bin"; "All Files (*)" none.
QStringList Extensions(const QString& filter)
{
    QStringList extensions;
    const auto patterns = QRegularExpression(QStringLiteral("\\(([^)]*)\\)")).match(filter);
    for (const QString& pattern :
        (patterns.hasMatch() ? patterns.captured(1) : filter).split(u' ', Qt::SkipEmptyParts))
        if (pattern.startsWith(QStringLiteral("*.")) && pattern.size() > 2
            && pattern.indexOf(u'*', 1) < 0)
            extensions << pattern.mid(1);
    return extensions;
}

/// Qt's save dialog with the extension of the selected type added to a bare name. Qt asks
/// before replacing only the file whose name was typed, so the file the added extension names
/// is asked about here, in Qt's words.
class SaveDialog final : public QFileDialog {
public:
    using QFileDialog::QFileDialog;

    QString Chosen() const { return chosen.isEmpty() ? selectedFiles().value(0) : chosen; }

    void accept() override
    {
        const QStringList files = selectedFiles();
        const QString typed = files.value(0);
        const QString path = WithFilterExtension(typed, selectedNameFilter(), nameFilters());
        // A folder typed is opened, as Qt does.
        if (files.size() != 1 || path == typed || QFileInfo(typed).isDir()) {
            QFileDialog::accept();
            return;
        }
        const QFileInfo target(path);
        if (target.isDir())
            return;
        if (target.exists()
            && QMessageBox::warning(this, windowTitle(),
                   QStringLiteral("%1 already exists.\nDo you want to replace it?")
                       .arg(target.fileName()),
                   QMessageBox::Yes | QMessageBox::No, QMessageBox::No)
                != QMessageBox::Yes)
            return;
        chosen = path;
        QDialog::accept();
    }

private:
    QString chosen;
};

/// Qt's folder dialog, which also takes the name of a folder still to be made, as a save dialog
/// takes a new file's: Qt's own accepts only a folder that is there, and greys its button.
class FolderDialog final : public QFileDialog {
public:
    FolderDialog(QWidget* parent, const QString& title, const QString& folder)
        : QFileDialog(parent, title, folder)
    {
        setOption(kOptions);
        setFileMode(QFileDialog::Directory);
        setOption(QFileDialog::ShowDirsOnly);
        // After Qt's own check of the name typed, which this one overrules for a new folder.
        if (auto* name = findChild<QLineEdit*>(QStringLiteral("fileNameEdit")))
            QObject::connect(name, &QLineEdit::textChanged, this, [this] { AllowNewFolder(); });
    }

    QString Chosen() const { return chosen.isEmpty() ? selectedFiles().value(0) : chosen; }

    void accept() override
    {
        if (IsNewFolder()) {
            chosen = QFileInfo(selectedFiles().value(0)).absoluteFilePath();
            QDialog::accept();
            return;
        }
        QFileDialog::accept();
    }

protected:
    void showEvent(QShowEvent* event) override
    {
        QFileDialog::showEvent(event);
        AllowNewFolder();
    }

private:
    bool IsNewFolder() const
    {
        const QStringList files = selectedFiles();
        const QFileInfo typed(files.value(0));
        return files.size() == 1 && !typed.exists() && !typed.fileName().isEmpty()
            && typed.dir().exists();
    }
    void AllowNewFolder()
    {
        auto* buttons = findChild<QDialogButtonBox*>(QStringLiteral("buttonBox"));
        if (QPushButton* button = buttons ? buttons->button(QDialogButtonBox::Open) : nullptr;
            button && IsNewFolder())
            button->setEnabled(true);
    }

    QString chosen;
};

} // namespace

QString WithFilterExtension(
    const QString& path, const QString& selectedFilter, const QStringList& filters)
{
    const QStringList added = Extensions(selectedFilter);
    if (path.isEmpty() || added.isEmpty())
        return path;
    const QString name = QFileInfo(path).fileName();
    for (const QString& filter : filters)
        for (const QString& extension : Extensions(filter))
            if (name.endsWith(extension, Qt::CaseInsensitive) && name.size() > extension.size())
                return path;
    // "perc." means "perc" with the extension, not a name ending in two dots.
    return (path.endsWith(u'.') ? path.chopped(1) : path) + added.front();
}

QString QtFileChooser::OpenFile(QWidget* parent, const QString& title, const QString& filter)
{
    return QFileDialog::getOpenFileName(parent, title, QString(), filter, nullptr, kOptions);
}

QString QtFileChooser::SaveFile(
    QWidget* parent, const QString& title, const QString& filter, const QString& proposed)
{
    SaveDialog dialog(parent, title, proposed, filter);
    dialog.setOption(kOptions);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    return dialog.exec() == QDialog::Accepted ? dialog.Chosen() : QString();
}

QString QtFileChooser::ChooseFolder(QWidget* parent, const QString& title, const QString& proposed)
{
    const QFileInfo folder(proposed);
    FolderDialog dialog(parent, title, folder.absolutePath());
    dialog.selectFile(folder.fileName());
    return dialog.exec() == QDialog::Accepted ? dialog.Chosen() : QString();
}

FileChooser::Found QtFileChooser::FindFile(
    QWidget* parent, const QString& kind, const QString& name, bool allowSkip)
{
    bool skipped = false;
    QFileDialog dialog(
        parent, QStringLiteral("Find file"), QString(), QStringLiteral("All Files (*)"));
    dialog.setOption(kOptions);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setLabelText(QFileDialog::Accept, QStringLiteral("Substitute"));
    // The question, and Skip, in a row of the chooser's own layout.
    if (auto* grid = qobject_cast<QGridLayout*>(dialog.layout())) {
        const int row = grid->rowCount();
        grid->addWidget(
            new QLabel(QStringLiteral("Where is the ") + kind + "\n'" + name + "'?", &dialog), row,
            0, 1, grid->columnCount() - 1);
        if (allowSkip) {
            auto* skip = new QPushButton(QStringLiteral("Skip this file"), &dialog);
            QObject::connect(skip, &QPushButton::clicked, &dialog, [&] {
                skipped = true;
                dialog.reject();
            });
            grid->addWidget(skip, row, grid->columnCount() - 1);
        }
    }
    const int result = dialog.exec();
    Found found;
    if (skipped)
        found.choice = Found::Choice::Skip;
    else if (result == QDialog::Accepted && !dialog.selectedFiles().isEmpty()) {
        found.choice = Found::Choice::Substitute;
        found.path = dialog.selectedFiles().front();
    }
    return found;
}

void FitFileDialogColumns(QFileDialog& dialog)
{
    auto* view = dialog.findChild<QTreeView*>(QStringLiteral("treeView"));
    if (!view)
        return;
    // Qt measures the size column by "128.88 GB" with no room for the cell's margins; the
    // widest size it writes is "1023.99 KiB", and a date such as "12/31/24 11:59 PM".
    const QFontMetrics metrics(view->font());
    const int margins
        = 4 * (view->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, view) + 1);
    const struct {
        int column;
        const char* widest;
    } columns[] = { { 1, "1023.99 KiB" }, { 3, "12/31/24 11:59 PM" } };
    QHeaderView* header = view->header();
    for (const auto& [column, widest] : columns) {
        const int wanted = metrics.horizontalAdvance(QString::fromLatin1(widest)) + margins;
        if (column < header->count() && header->sectionSize(column) < wanted)
            header->resizeSection(column, wanted);
    }
}

} // namespace cardmill
