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
};

/// Qt's own (not the desktop's native) dialogs, so that later panels fit into them.
class QtFileChooser final : public FileChooser {
public:
    QString OpenFile(QWidget* parent, const QString& title, const QString& filter) override;
    QString SaveFile(QWidget* parent, const QString& title, const QString& filter,
        const QString& proposed) override;
};

} // namespace cardmill
