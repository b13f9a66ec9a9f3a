#include "platform/TerminalPrompter.h"

#include <cstdio>
#include <memory>

#include <gtest/gtest.h>

namespace cardmill {
namespace {

/// Output and input in temporary files (input that is not a terminal).
struct Captured {
    std::string Text()
    {
        std::rewind(out.get());
        std::string text;
        for (int c; (c = std::fgetc(out.get())) != EOF;)
            text += static_cast<char>(c);
        return text;
    }
    struct Close {
        void operator()(std::FILE* file) const { std::fclose(file); }
    };
    std::unique_ptr<std::FILE, Close> out { std::tmpfile() }, in { std::tmpfile() };
};

TEST(TerminalPrompter, AnswersByItsPolicyAndRetriesOnlyUpToTheLimit)
{
    Captured io;
    TerminalPrompter prompter(AnswerPolicy::Yes, 2, io.in.get(), io.out.get());
    EXPECT_EQ(prompter.Show("Go on?", Icon::Warning, Buttons::OkCancel), Answer::Ok);
    EXPECT_EQ(prompter.Show("Save?", Icon::None, Buttons::YesNoCancel), Answer::Yes);
    for (const Answer answer : { Answer::Retry, Answer::Retry, Answer::Cancel })
        EXPECT_EQ(prompter.Show("Again?", Icon::Error, Buttons::RetryCancel), answer);
    EXPECT_TRUE(prompter.Refused());
    EXPECT_NE(io.Text().find("Go on?\n"), std::string::npos);

    // No, and Ask with input that is not a terminal, refuse.
    TerminalPrompter no(AnswerPolicy::No, 3, io.in.get(), io.out.get());
    EXPECT_EQ(no.Show("Go on?", Icon::Warning, Buttons::OkCancel), Answer::Cancel);
    EXPECT_TRUE(no.Refused());
    TerminalPrompter ask(AnswerPolicy::Ask, 3, io.in.get(), io.out.get());
    EXPECT_EQ(ask.Show("Go on?", Icon::Warning, Buttons::OkCancel), Answer::Cancel);
    EXPECT_EQ(ask.Show("Just so you know.", Icon::Information, Buttons::Ok), Answer::Ok);
}

} // namespace
} // namespace cardmill
