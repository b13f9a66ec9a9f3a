#include "TerminalPrompter.h"

#include <cctype>
#include <poll.h>
#include <string>
#include <unistd.h>

namespace cardmill {

namespace {

const char* ChoiceText(Buttons buttons)
{
    switch (buttons) {
    case Buttons::OkCancel:
        return "[o]k / [c]ancel";
    case Buttons::RetryCancel:
        return "[r]etry / [c]ancel";
    case Buttons::YesNoCancel:
        return "[y]es / [n]o / [c]ancel";
    case Buttons::ResumeCancel:
        return "[r]esume / [c]ancel";
    case Buttons::Ok:
        break;
    }
    return "";
}

const char* AnswerText(Answer answer)
{
    switch (answer) {
    case Answer::Ok:
        return "OK";
    case Answer::Cancel:
        return "Cancel";
    case Answer::Retry:
        return "Retry";
    case Answer::Yes:
        return "Yes";
    case Answer::No:
        return "No";
    }
    return "";
}

// The refusing answer of every question. For the save question "Cancel" is the safe one: "No"
// would discard the changes.
constexpr Answer kRefusal = Answer::Cancel;

} // namespace

TerminalPrompter::TerminalPrompter(AnswerPolicy answerPolicy, int retryLimit, std::FILE* input,
    std::FILE* output, const std::atomic<bool>* interrupted)
    : policy(answerPolicy)
    , retriesLeft(retryLimit)
    , in(input)
    , out(output)
    , stop(interrupted)
{
}

Answer TerminalPrompter::Show(std::string_view text, Icon icon, Buttons buttons)
{
    if (quiet && icon == Icon::Information && buttons == Buttons::Ok)
        return Answer::Ok;
    std::fprintf(out, "%.*s\n", static_cast<int>(text.size()), text.data());
    if (buttons == Buttons::Ok) {
        std::fflush(out);
        return Answer::Ok;
    }
    const Answer answer = Decide(buttons);
    if (answer == Answer::Cancel || answer == Answer::No)
        refused = true;
    std::fflush(out);
    return answer;
}

Answer TerminalPrompter::Decide(Buttons buttons)
{
    Answer answer = kRefusal;
    const char* why = "";
    if (Interrupted()) {
        std::fprintf(out, "-> Cancel (interrupted)\n");
        return answer;
    }
    switch (policy) {
    case AnswerPolicy::Yes:
        why = " (--yes)";
        answer = buttons == Buttons::OkCancel ? Answer::Ok
            : buttons == Buttons::YesNoCancel ? Answer::Yes
                                              : Answer::Retry;
        if (answer == Answer::Retry) {
            if (retriesLeft > 0) {
                --retriesLeft;
            } else {
                answer = Answer::Cancel;
                why = " (--yes, no retries left)";
            }
        }
        break;
    case AnswerPolicy::No:
        why = " (--no)";
        break;
    case AnswerPolicy::Ask:
        if (IsTerminal(in))
            return AskTerminal(buttons);
        why = " (no terminal to ask)";
        break;
    }
    std::fprintf(out, "-> %s%s\n", AnswerText(answer), why);
    return answer;
}

Answer TerminalPrompter::AskTerminal(Buttons buttons)
{
    for (;;) {
        std::fprintf(out, "%s? ", ChoiceText(buttons));
        std::fflush(out);
        // Ctrl-C cancels the question, even when it comes just before the read would start: the
        // answer is read only once the terminal has one, and the flag is looked at in between.
        pollfd terminal { ::fileno(in), POLLIN, 0 };
        while (!Interrupted() && ::poll(&terminal, 1, 100) == 0) { }
        char line[64];
        if (Interrupted() || !std::fgets(line, sizeof line, in)) {
            std::fputc('\n', out);
            return kRefusal;
        }
        const char c = static_cast<char>(std::tolower(static_cast<unsigned char>(line[0])));
        if (c == 'c')
            return Answer::Cancel;
        if (c == 'o' && buttons == Buttons::OkCancel)
            return Answer::Ok;
        if (c == 'r' && buttons == Buttons::RetryCancel)
            return Answer::Retry;
        if (c == 'y' && buttons == Buttons::YesNoCancel)
            return Answer::Yes;
        if (c == 'n' && buttons == Buttons::YesNoCancel)
            return Answer::No;
    }
}

bool IsTerminal(std::FILE* stream)
{
    if (!stream)
        return false;
    const int descriptor = ::fileno(stream);
    return ::isatty(descriptor < 0 && stream == stderr ? STDERR_FILENO : descriptor) != 0;
}

void TerminalPrompter::Beep()
{
    if (IsTerminal(out)) {
        std::fputc('\a', out);
        std::fflush(out);
    }
}

} // namespace cardmill
