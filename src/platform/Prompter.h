#pragma once

#include <string>
#include <string_view>

namespace cardmill {

enum class Icon { None, Error, Warning, Information, Exclamation };
/// ResumeCancel is Retry / Cancel with the Retry button named "Resume".
enum class Buttons { Ok, OkCancel, RetryCancel, YesNoCancel, ResumeCancel };
enum class Answer { Ok, Cancel, Retry, Yes, No };

/// The answer of a question's accepting button (OK, Yes, Retry): the one Enter gives unless the
/// question names another.
inline Answer AcceptingAnswer(Buttons buttons)
{
    switch (buttons) {
    case Buttons::RetryCancel:
    case Buttons::ResumeCancel:
        return Answer::Retry;
    case Buttons::YesNoCancel:
        return Answer::Yes;
    case Buttons::Ok:
    case Buttons::OkCancel:
        break;
    }
    return Answer::Ok;
}

/// Message boxes and the system beep. The GUI shows dialogs; the command line writes to stderr and
/// answers from the terminal or from --yes / --no; tests script the answers.
class Prompter {
public:
    virtual ~Prompter() = default;
    /// Enter gives the accepting button's answer.
    virtual Answer Show(std::string_view text, Icon icon, Buttons buttons) = 0;
    /// A question whose Enter gives `byDefault`, one of its buttons' answers: Cancel (or No)
    /// where the accepting button would lose data or write a wrong card. A prompter that has no
    /// default to set asks as Show does.
    virtual Answer Ask(std::string_view text, Icon icon, Buttons buttons, Answer byDefault)
    {
        static_cast<void>(byDefault);
        return Show(text, icon, buttons);
    }
    /// A message of one line with a long list behind it: the desktop keeps `details` under its
    /// Details button. A prompter without such a place gives them on the lines after the text, so
    /// nothing is lost.
    virtual Answer ShowWithDetails(
        std::string_view text, std::string_view details, Icon icon, Buttons buttons)
    {
        if (details.empty())
            return Show(text, icon, buttons);
        std::string whole(text);
        whole += '\n';
        whole += details;
        return Show(whole, icon, buttons);
    }
    virtual void Beep() = 0;
};

/// A failure box: the beep, then the text with an error icon and an OK button.
inline void ReportFailure(Prompter& prompter, std::string_view text)
{
    prompter.Beep();
    prompter.Show(text, Icon::Error, Buttons::Ok);
}

/// True for the answer that lets an operation go on (OK, Yes, Retry).
inline bool Accepts(Answer answer)
{
    return answer == Answer::Ok || answer == Answer::Yes || answer == Answer::Retry;
}

} // namespace cardmill
