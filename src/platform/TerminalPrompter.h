#pragma once

#include "Prompter.h"

#include <cstdio>

namespace cardmill {

enum class AnswerPolicy { Ask, Yes, No };

/// Message boxes of the command line: texts go to stderr; questions are answered from the
/// terminal, or by --yes / --no. Without a terminal to ask, questions get their refusing answer.
/// Retry is given at most `retryLimit` times in one run, so an unattended run never loops for ever.
class TerminalPrompter final : public Prompter {
public:
    TerminalPrompter(AnswerPolicy answerPolicy, int retryLimit, std::FILE* input = stdin,
        std::FILE* output = stderr);

    Answer Show(std::string_view text, Icon icon, Buttons buttons) override;
    void Beep() override;

    /// A question was answered Cancel or No during the run.
    bool Refused() const { return refused; }

private:
    Answer Decide(Buttons buttons);
    Answer AskTerminal(Buttons buttons);

    AnswerPolicy policy;
    int retriesLeft;
    std::FILE* in;
    std::FILE* out;
    bool refused = false;
};

} // namespace cardmill
