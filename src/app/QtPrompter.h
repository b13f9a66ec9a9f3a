#pragma once

#include "platform/Prompter.h"

#include <QString>
#include <functional>

class QWidget;

namespace cardmill {

/// Message boxes of the desktop application, on the user-interface thread.
class QtPrompter final : public Prompter {
public:
    void SetParent(QWidget* parent) { parentWidget = parent; }

    Answer Show(std::string_view text, Icon icon, Buttons buttons) override;
    /// The box opens with the button of `byDefault` focused, so Enter presses it.
    Answer Ask(std::string_view text, Icon icon, Buttons buttons, Answer byDefault) override;
    /// The details go under the box's "Show Details..." button.
    Answer ShowWithDetails(
        std::string_view text, std::string_view details, Icon icon, Buttons buttons) override;
    void Beep() override;

private:
    Answer Box(std::string_view text, std::string_view details, Icon icon, Buttons buttons,
        Answer byDefault);

    QWidget* parentWidget = nullptr;
};

/// Runs `work` on the user-interface thread and waits for it (at once when already there).
void OnUiThread(const std::function<void()>& work);

/// Any prompter made callable from every thread: a long operation on its worker thread asks
/// through the user-interface thread and waits for the answer.
class UiThreadPrompter final : public Prompter {
public:
    explicit UiThreadPrompter(Prompter& shown)
        : inner(shown)
    {
    }
    Answer Show(std::string_view text, Icon icon, Buttons buttons) override
    {
        Answer answer = Answer::Cancel;
        OnUiThread([&] { answer = inner.Show(text, icon, buttons); });
        return answer;
    }
    Answer Ask(std::string_view text, Icon icon, Buttons buttons, Answer byDefault) override
    {
        Answer answer = Answer::Cancel;
        OnUiThread([&] { answer = inner.Ask(text, icon, buttons, byDefault); });
        return answer;
    }
    Answer ShowWithDetails(
        std::string_view text, std::string_view details, Icon icon, Buttons buttons) override
    {
        Answer answer = Answer::Cancel;
        OnUiThread([&] { answer = inner.ShowWithDetails(text, details, icon, buttons); });
        return answer;
    }
    void Beep() override
    {
        OnUiThread([this] { inner.Beep(); });
    }

private:
    Prompter& inner;
};

} // namespace cardmill
