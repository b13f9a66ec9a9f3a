#pragma once

#include <QStringList>

class QWidget;

namespace cardmill {

/// The file dialogs the commands open. The application uses Qt's own dialogs; tests answer from
/// a script.
class FileChooser {
public:
    virtual ~FileChooser() = default;
    /// Empty when cancelled.
    virtual QString OpenFile(QWidget* parent, const QString& title, const QString& filter) = 0;
    virtual QString SaveFile(
        QWidget* parent, const QString& title, const QString& filter, const QString& proposed)
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

/// Qt's own (not the desktop's native) dialogs, so that later panels fit into them.
class QtFileChooser final : public FileChooser {
public:
    QString OpenFile(QWidget* parent, const QString& title, const QString& filter) override;
    QString SaveFile(QWidget* parent, const QString& title, const QString& filter,
        const QString& proposed) override;
    Found FindFile(
        QWidget* parent, const QString& kind, const QString& name, bool allowSkip) override;
};

} // namespace cardmill
