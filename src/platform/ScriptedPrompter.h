#pragma once

#include "Prompter.h"

#include <deque>
#include <string>
#include <vector>

namespace cardmill {

/// Test double: answers from a script (then with a fixed fallback) and records every box shown.
class ScriptedPrompter final : public Prompter {
public:
    struct Shown {
        std::string text;
        Icon icon;
        Buttons buttons;
    };

    explicit ScriptedPrompter(std::deque<Answer> script = {}, Answer fallback = Answer::Ok)
        : answers(std::move(script))
        , otherwise(fallback)
    {
    }

    Answer Show(std::string_view text, Icon icon, Buttons buttons) override
    {
        shown.push_back({ std::string(text), icon, buttons });
        if (buttons == Buttons::Ok)
            return Answer::Ok;
        if (answers.empty())
            return otherwise;
        const Answer answer = answers.front();
        answers.pop_front();
        return answer;
    }
    void Beep() override { ++beeps; }

    bool Asked() const
    {
        for (const auto& box : shown)
            if (box.buttons != Buttons::Ok)
                return true;
        return false;
    }
    std::string LastText() const { return shown.empty() ? std::string() : shown.back().text; }
    void Push(Answer answer) { answers.push_back(answer); }
    void Forget()
    {
        shown.clear();
        beeps = 0;
    }

    std::vector<Shown> shown;
    int beeps = 0;

private:
    std::deque<Answer> answers;
    Answer otherwise;
};

} // namespace cardmill
