#include "app/APreferencesDialog.h"

#include "model/APrefs.h"
#include "ui/DialogKeys.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QGroupBox>
#include <QRadioButton>
#include <QVBoxLayout>

namespace cardmill {

APreferencesDialog::APreferencesDialog(APrefs& preferences, QWidget* parent)
    : QDialog(parent)
    , prefs(preferences)
{
    setWindowTitle(QStringLiteral("Preferences"));
    auto* layout = new QVBoxLayout(this);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    phantoms = new QCheckBox(QStringLiteral("Auto-assign &phantoms"), this);
    auto* frame = new QGroupBox(this);
    auto* frameLayout = new QVBoxLayout(frame);
    byName = new QRadioButton(QStringLiteral("Assign duplicate file &names"), frame);
    byPath = new QRadioButton(QStringLiteral("Assign duplicate file pa&ths only"), frame);
    frameLayout->addWidget(byName);
    frameLayout->addWidget(byPath);
    splitStereo = new QCheckBox(QStringLiteral("Auto-split &stereo files"), this);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    layout->addWidget(phantoms);
    layout->addWidget(frame);
    layout->addWidget(splitStereo);
    layout->addWidget(buttons);

    phantoms->setChecked(prefs.allowPhantoms != 0);
    (prefs.allowPhantomsInAnyFolder != 0 ? byName : byPath)->setChecked(true);
    splitStereo->setChecked(prefs.splitStereoFiles != 0);
    const auto enableRadios = [this](bool on) {
        byName->setEnabled(on);
        byPath->setEnabled(on);
    };
    enableRadios(phantoms->isChecked());
    connect(phantoms, &QCheckBox::toggled, this, enableRadios);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    FinishWithCtrlEnter(*this, *buttons);
}

void APreferencesDialog::accept()
{
    prefs.allowPhantoms = phantoms->isChecked() ? 1 : 0;
    prefs.allowPhantomsInAnyFolder = byName->isChecked() ? 1 : 0;
    prefs.splitStereoFiles = splitStereo->isChecked() ? 1 : 0;
    QDialog::accept();
}

} // namespace cardmill
