#include "TerminalPrompter.h"

#include <cctype>
#include <optional>
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

/// The answer a letter typed at the question gives: the buttons' own letters, and y / n as people
/// type them to any question (yes for the accepting button, no for the refusing one).
std::optional<Answer> Typed(Buttons buttons, char typed)
{
    const char c = static_cast<char>(std::tolower(static_cast<unsigned char>(typed)));
    const bool retry = buttons == Buttons::RetryCancel || buttons == Buttons::ResumeCancel;
    if (c == 'c')
        return Answer::Cancel;
    if (buttons == Buttons::YesNoCancel) {
        if (c == 'y')
            return Answer::Yes;
        if (c == 'n')
            return Answer::No;
        return std::nullopt;
    }
    if (c == 'y' || (c == 'o' && buttons == Buttons::OkCancel) || (c == 'r' && retry))
        return AcceptingAnswer(buttons);
    if (c == 'n')
        return Answer::Cancel;
    return std::nullopt;
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
    return Ask(text, icon, buttons, AcceptingAnswer(buttons));
}

Answer TerminalPrompter::Ask(std::string_view text, Icon icon, Buttons buttons, Answer byDefault)
{
    if (quiet && icon == Icon::Information && buttons == Buttons::Ok)
        return Answer::Ok;
    std::fprintf(out, "%.*s\n", static_cast<int>(text.size()), text.data());
    if (buttons == Buttons::Ok) {
        std::fflush(out);
        return Answer::Ok;
    }
    const Answer answer = Decide(buttons, byDefault);
    if (answer == Answer::Cancel || answer == Answer::No)
        refused = true;
    std::fflush(out);
    return answer;
}

Answer TerminalPrompter::Decide(Buttons buttons, Answer byDefault)
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
            return AskTerminal(buttons, byDefault);
        why = " (no terminal to ask)";
        break;
    }
    std::fprintf(out, "-> %s%s\n", AnswerText(answer), why);
    return answer;
}

Answer TerminalPrompter::AskTerminal(Buttons buttons, Answer byDefault)
{
    for (;;) {
        std::string enter = buttons == Buttons::ResumeCancel && byDefault == Answer::Retry
            ? "resume"
            : AnswerText(byDefault);
        for (char& c : enter)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        std::fprintf(out, "%s (Enter: %s)? ", ChoiceText(buttons), enter.c_str());
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
        const char* first = line;
        while (*first == ' ' || *first == '\t')
            ++first;
        if (*first == '\n' || *first == '\r' || *first == '\0') {
            std::fprintf(out, "-> %s\n", AnswerText(byDefault));
            return byDefault;
        }
        if (const auto answer = Typed(buttons, *first))
            return *answer;
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
