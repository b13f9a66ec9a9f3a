#pragma once

#include "Prompter.h"

#include <atomic>
#include <cstdio>

namespace cardmill {

enum class AnswerPolicy { Ask, Yes, No };

/// Whether a stream writes to a terminal. The command line's stderr is a stream of its own over
/// descriptor 2 (one that keeps it UTF-8), which has no descriptor to ask.
bool IsTerminal(std::FILE* stream);

/// Message boxes of the command line: texts go to stderr; questions are answered from the
/// terminal, or by --yes / --no. Without a terminal to ask, questions get their refusing answer.
/// Retry is given at most `retryLimit` times in one run, so an unattended run never loops for ever.
class TerminalPrompter final : public Prompter {
public:
    /// `interrupted`, when given, is raised by Ctrl-C: every question is then answered Cancel.
    TerminalPrompter(AnswerPolicy answerPolicy, int retryLimit, std::FILE* input = stdin,
        std::FILE* output = stderr, const std::atomic<bool>* interrupted = nullptr);

    Answer Show(std::string_view text, Icon icon, Buttons buttons) override;
    /// On the terminal an empty line (Enter) gives `byDefault`; y and n are taken for the
    /// accepting and the refusing button wherever they are not the buttons' own letters.
    Answer Ask(std::string_view text, Icon icon, Buttons buttons, Answer byDefault) override;
    void Beep() override;

    /// A question was answered Cancel or No during the run.
    bool Refused() const { return refused; }
    /// Information that asks nothing is not written (--quiet); warnings and errors still are.
    void SetQuiet(bool silent) { quiet = silent; }

private:
    bool Interrupted() const { return stop && stop->load(); }
    Answer Decide(Buttons buttons, Answer byDefault);
    Answer AskTerminal(Buttons buttons, Answer byDefault);

    AnswerPolicy policy;
    int retriesLeft;
    std::FILE* in;
    std::FILE* out;
    const std::atomic<bool>* stop;
    bool refused = false;
    bool quiet = false;
};

} // namespace cardmill
