#pragma once

#include <string>
#include <string_view>

namespace cardmill {

enum class Icon { None, Error, Warning, Information, Exclamation };
/// ResumeCancel is Retry / Cancel with the Retry button named "Resume".
enum class Buttons { Ok, OkCancel, RetryCancel, YesNoCancel, ResumeCancel };
enum class Answer { Ok, Cancel, Retry, Yes, No };

/// Message boxes and the system beep. The GUI shows dialogs; the command line writes to stderr and
/// answers from the terminal or from --yes / --no; tests script the answers.
class Prompter {
public:
    virtual ~Prompter() = default;
    virtual Answer Show(std::string_view text, Icon icon, Buttons buttons) = 0;
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
