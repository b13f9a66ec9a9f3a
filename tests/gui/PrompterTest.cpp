#include "app/QtPrompter.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <optional>

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

TEST(QtPrompter, EnterPressesTheButtonTheQuestionNamesWhicheverPrompterAsks)
{
    const auto enter = [](Buttons buttons, std::optional<Answer> byDefault) {
        QTimer::singleShot(0, [] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()))
                box->defaultButton()->click();
        });
        QtPrompter shown;
        UiThreadPrompter prompter(shown);
        return byDefault ? prompter.Ask("Write it?", Icon::Warning, buttons, *byDefault)
                         : prompter.Show("Write it?", Icon::Warning, buttons);
    };
    EXPECT_EQ(enter(Buttons::OkCancel, Answer::Cancel), Answer::Cancel);
    EXPECT_EQ(enter(Buttons::YesNoCancel, Answer::No), Answer::No);
    EXPECT_EQ(enter(Buttons::OkCancel, std::nullopt), Answer::Ok);
    EXPECT_EQ(enter(Buttons::YesNoCancel, std::nullopt), Answer::Yes);
}

TEST(QtPrompter, TheDetailsWaitUnderTheDetailsButtonWhicheverPrompterPassesThem)
{
    QString text, details;
    QTimer::singleShot(0, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            text = box->text();
            details = box->detailedText();
            box->button(QMessageBox::Ok)->click();
        }
    });
    QtPrompter shown;
    UiThreadPrompter prompter(shown);
    EXPECT_EQ(prompter.ShowWithDetails(
                  "3 kinds of setting are not on the card.", "a\nb\nc", Icon::Warning, Buttons::Ok),
        Answer::Ok);
    EXPECT_EQ(std::pair(text, details),
        std::pair(
            QStringLiteral("3 kinds of setting are not on the card."), QStringLiteral("a\nb\nc")));
}

} // namespace
} // namespace cardmill
