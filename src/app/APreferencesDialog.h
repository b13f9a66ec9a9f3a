#pragma once

#include <QDialog>

class QCheckBox;
class QRadioButton;

namespace cardmill {

class APrefs;

/// "Preferences": phantoms, how duplicates are matched, stereo splitting. OK stores into the
/// preferences (written to the settings store when the application ends); Cancel changes nothing.
class APreferencesDialog final : public QDialog {
public:
    APreferencesDialog(APrefs& prefs, QWidget* parent);
    void accept() override;

    QCheckBox* Phantoms() const { return phantoms; }
    QRadioButton* ByName() const { return byName; }
    QRadioButton* ByPath() const { return byPath; }
    QCheckBox* SplitStereo() const { return splitStereo; }

private:
    APrefs& prefs;
    QCheckBox* phantoms;
    QRadioButton* byName;
    QRadioButton* byPath;
    QCheckBox* splitStereo;
};

} // namespace cardmill
