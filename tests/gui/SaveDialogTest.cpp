#include "support/TestEnv.h"
#include "ui/FileChooser.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

namespace cardmill {
namespace {

TEST(WithFilterExtension, AddsTheSelectedTypesExtensionToANameWithoutOneOfTheDialogs)
{
    const QStringList filters { "Cardmill Project (*.cmr)", "Text Dump (*.xls)" };
    const auto with = [&](const char* path, int selected = 0) {
        return WithFilterExtension(QString::fromUtf8(path), filters[selected], filters);
    };
    EXPECT_EQ(with("/s/perc"), "/s/perc.cmr");
    EXPECT_EQ(with("/s/perc", 1), "/s/perc.xls");
    EXPECT_EQ(with("/s/perc."), "/s/perc.cmr");
    // A dot in the name is no extension of the dialog's.
    EXPECT_EQ(with("/s/live.2024"), "/s/live.2024.cmr");
    EXPECT_EQ(with("/s/perc.cmr"), "/s/perc.cmr");
    EXPECT_EQ(with("/s/perc.CMR"), "/s/perc.CMR");
    // The other type's extension chooses that type, as it always did.
    EXPECT_EQ(with("/s/perc.xls"), "/s/perc.xls");
    EXPECT_EQ(with("/s.d/perc"), "/s.d/perc.cmr");
    EXPECT_EQ(WithFilterExtension("/s/perc", "All Files (*)", { "All Files (*)" }), "/s/perc");
    EXPECT_EQ(WithFilterExtension("", filters[0], filters), "");
}

/// Qt's save dialog as the application opens it, with `typed` typed into its name field and
/// Enter pressed; `type` chosen first when given. The boxes that asked along the way are
/// answered `answer` and their texts kept in `asked`.
QString TypeIntoSaveDialog(const QString& folder, const QString& typed, const QString& type,
    QMessageBox::StandardButton answer, QStringList& asked)
{
    QTimer drive;
    bool typedIn = false;
    QObject::connect(&drive, &QTimer::timeout, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            asked << box->text();
            box->button(answer)->click();
        } else if (auto* dialog = qobject_cast<QFileDialog*>(modal)) {
            if (typedIn) {
                dialog->reject(); // still open after the answer: the name was not taken
                return;
            }
            if (!type.isEmpty())
                dialog->selectNameFilter(type);
            auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
            name->setText(typed);
            typedIn = true;
            // Pressed apart from this tick, which would not come again while a question waits.
            QTimer::singleShot(0, name, [name] { QTest::keyClick(name, Qt::Key_Return); });
        }
    });
    drive.start(20);
    QtFileChooser chooser;
    return chooser.SaveFile(nullptr, QStringLiteral("Save As"),
        QStringLiteral("Cardmill Project (*.cmr);;Text Dump (*.xls)"), folder + "/untitled");
}

TEST(QtFileChooser, TheSelectedTypeGivesABareNameItsExtensionAndANameTypedWholeIsAskedAboutOnce)
{
    test::TempDir dir;
    const QString folder = QString::fromStdString(dir.Path());
    QStringList asked;
    EXPECT_EQ(TypeIntoSaveDialog(folder, "perc", "Text Dump (*.xls)", QMessageBox::Yes, asked),
        folder + "/perc.xls");
    EXPECT_TRUE(asked.isEmpty());
    // Typed whole, Qt's own question asks, and the extension's check doesn't ask again.
    std::ofstream(dir.File("perc.cmr")) << "kept";
    EXPECT_EQ(
        TypeIntoSaveDialog(folder, "perc.cmr", {}, QMessageBox::Yes, asked), folder + "/perc.cmr");
    EXPECT_EQ(asked.size(), 1);
}

TEST(QtFileChooser, TheFolderDialogTakesANewFolderBesideAnExistingOneAndProposesIt)
{
    test::TempDir dir;
    const QString folder = QString::fromStdString(dir.Path());
    std::filesystem::create_directory(dir.File("old"));
    // The button's state as shown, then Enter; or a name typed first.
    const auto choose = [&](const QString& proposed, const QString& typed, bool& enabled) {
        QTimer drive;
        QObject::connect(&drive, &QTimer::timeout, [&] {
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            if (!dialog)
                return;
            drive.stop();
            auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
            if (!typed.isEmpty())
                name->setText(typed);
            auto* buttons = dialog->findChild<QDialogButtonBox*>(QStringLiteral("buttonBox"));
            enabled = buttons->button(QDialogButtonBox::Open)->isEnabled();
            QTimer::singleShot(0, name, [name] { QTest::keyClick(name, Qt::Key_Return); });
        });
        drive.start(20);
        return QtFileChooser().ChooseFolder(
            nullptr, QStringLiteral("Unpack Into Folder"), proposed);
    };
    bool enabled = false;
    EXPECT_EQ(choose(folder + "/stage", {}, enabled), folder + "/stage");
    EXPECT_TRUE(enabled) << "a folder still to be made can't be chosen by the button";
    EXPECT_EQ(choose(folder + "/stage", "old", enabled), folder + "/old");
    EXPECT_TRUE(enabled);
    EXPECT_FALSE(std::filesystem::exists(dir.File("stage"))) << "the dialog made the folder";
}

} // namespace
} // namespace cardmill
