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
        std::string details;
        /// The answer Enter would have given.
        Answer byDefault = Answer::Ok;
    };

    explicit ScriptedPrompter(std::deque<Answer> script = {}, Answer fallback = Answer::Ok)
        : answers(std::move(script))
        , otherwise(fallback)
    {
    }

    Answer Show(std::string_view text, Icon icon, Buttons buttons) override
    {
        return ShowWithDetails(text, {}, icon, buttons);
    }
    Answer Ask(std::string_view text, Icon icon, Buttons buttons, Answer byDefault) override
    {
        return Record(text, {}, icon, buttons, byDefault);
    }
    Answer ShowWithDetails(
        std::string_view text, std::string_view details, Icon icon, Buttons buttons) override
    {
        return Record(text, details, icon, buttons, AcceptingAnswer(buttons));
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
    /// Once the script is used up, every question gets its default, as Enter gives it.
    bool enter = false;

private:
    Answer Record(std::string_view text, std::string_view details, Icon icon, Buttons buttons,
        Answer byDefault)
    {
        shown.push_back({ std::string(text), icon, buttons, std::string(details), byDefault });
        if (buttons == Buttons::Ok)
            return Answer::Ok;
        if (answers.empty())
            return enter ? byDefault : otherwise;
        const Answer answer = answers.front();
        answers.pop_front();
        return answer;
    }

    std::deque<Answer> answers;
    Answer otherwise;
};

} // namespace cardmill
