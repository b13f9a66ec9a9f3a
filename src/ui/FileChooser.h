#pragma once

#include <QStringList>

class QFileDialog;
class QWidget;

namespace cardmill {

/// The file dialogs the commands open. The application uses Qt's own dialogs; tests answer from
/// a script.
class FileChooser {
public:
    virtual ~FileChooser() = default;
    /// Empty when cancelled.
    virtual QString OpenFile(QWidget* parent, const QString& title, const QString& filter) = 0;
    /// The name chosen, with the extension of the type selected when none of the filter's was
    /// typed.
    virtual QString SaveFile(
        QWidget* parent, const QString& title, const QString& filter, const QString& proposed)
        = 0;

    /// A folder: one that is there, or a new one (made by the caller) whose parent is; starts
    /// with `proposed` typed. Empty when cancelled.
    virtual QString ChooseFolder(QWidget* parent, const QString& title, const QString& proposed)
        = 0;

    /// The find-file dialog: "Where is the <kind> '<name>'?", with "Substitute", "Skip this
    /// file" (when skipping is allowed) and Cancel.
    struct Found {
        enum class Choice { Substitute, Skip, Cancel };
        Choice choice = Choice::Cancel;
        QString path;
    };
    virtual Found FindFile(
        QWidget* parent, const QString& kind, const QString& name, bool allowSkip)
        = 0;
};

/// `path` as a save dialog gives it back: with the extension of `selectedFilter` ("Cardmill
/// Project (*.cmr)") added unless the name already ends in one of `filters`' extensions, so a
/// name typed bare is still listed, found and recognised by its type later.
QString WithFilterExtension(
    const QString& path, const QString& selectedFilter, const QStringList& filters);

/// Qt's own (not the desktop's native) dialogs, so that later panels fit into them.
class QtFileChooser final : public FileChooser {
public:
    QString OpenFile(QWidget* parent, const QString& title, const QString& filter) override;
    QString SaveFile(QWidget* parent, const QString& title, const QString& filter,
        const QString& proposed) override;
    QString ChooseFolder(QWidget* parent, const QString& title, const QString& proposed) override;
    Found FindFile(
        QWidget* parent, const QString& kind, const QString& name, bool allowSkip) override;
};

/// Widens the columns that Qt's file dialog sizes too narrow for what it shows in them (a size
/// such as "43.1 KiB" read "43....KiB"). The application calls it for every file dialog it shows.
void FitFileDialogColumns(QFileDialog& dialog);

} // namespace cardmill
