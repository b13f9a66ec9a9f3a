#include "app/QtPrompter.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

namespace cardmill {
namespace {

/// Shows a box through the desktop prompter and presses the button named `press` once it is up.
Answer ShowAndPress(Buttons buttons, const QString& press, QStringList& names)
{
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box)
            return;
        for (QAbstractButton* button : box->buttons())
            names << button->text().remove('&');
        for (QAbstractButton* button : box->buttons())
            if (button->text().remove('&') == press)
                button->click();
    });
    QtPrompter prompter;
    return prompter.Show("The transfer stopped.", Icon::Warning, buttons);
}

TEST(QtPrompter, TheResumeChoiceIsAButtonNamedResume)
{
    QStringList names;
    EXPECT_EQ(ShowAndPress(Buttons::ResumeCancel, "Resume", names), Answer::Retry);
    names.sort();
    EXPECT_EQ(names, (QStringList { "Cancel", "Resume" }));
    names.clear();
    EXPECT_EQ(ShowAndPress(Buttons::ResumeCancel, "Cancel", names), Answer::Cancel);
}

} // namespace
} // namespace cardmill
