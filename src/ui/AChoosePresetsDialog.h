#pragma once

#include "model/instrument/InstrumentLibrary.h"

#include <QDialog>
#include <string>
#include <vector>

class QLineEdit;
class QListWidget;
class QPushButton;

namespace cardmill {

/// "Choose Presets": the presets of a library (a SoundFont, a DLS file) listed by bank and
/// program, as instruments are numbered, with a field above the list that narrows it as one
/// types. What is chosen is what is selected among the presets shown.
class AChoosePresetsDialog final : public QDialog {
public:
    AChoosePresetsDialog(
        QWidget* parent, const std::string& fileName, const LibraryCatalog& catalog);

    /// The presets chosen, by bank and program.
    std::vector<LibraryPreset> Chosen() const;

    QLineEdit* FilterField() const { return filter; }
    QListWidget* PresetList() const { return list; }
    QPushButton* AddButton() const { return addButton; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Narrow(const QString& text);
    void FollowSelection();

    std::vector<LibraryPreset> presets; // in the list's order
    QLineEdit* filter;
    QListWidget* list;
    QPushButton* addButton;
};

} // namespace cardmill
