#include "platform/TerminalPrompter.h"

#include <cstdio>

#include <gtest/gtest.h>

namespace cardmill {
namespace {

struct Captured {
    Captured()
        : out(std::tmpfile())
        , in(std::tmpfile())
    {
    }
    ~Captured()
    {
        std::fclose(out);
        std::fclose(in);
    }
    std::string Text()
    {
        std::rewind(out);
        std::string text;
        for (int c; (c = std::fgetc(out)) != EOF;)
            text += static_cast<char>(c);
        return text;
    }
    std::FILE* out;
    std::FILE* in;
};

TEST(TerminalPrompter, YesAcceptsEveryQuestionButRetriesOnlyUpToTheLimit)
{
    Captured io;
    TerminalPrompter prompter(AnswerPolicy::Yes, 2, io.in, io.out);
    EXPECT_EQ(prompter.Show("Go on?", Icon::Warning, Buttons::OkCancel), Answer::Ok);
    EXPECT_EQ(prompter.Show("Save?", Icon::None, Buttons::YesNoCancel), Answer::Yes);
    EXPECT_EQ(prompter.Show("Again?", Icon::Error, Buttons::RetryCancel), Answer::Retry);
    EXPECT_EQ(prompter.Show("Again?", Icon::Error, Buttons::RetryCancel), Answer::Retry);
    EXPECT_EQ(prompter.Show("Again?", Icon::Error, Buttons::RetryCancel), Answer::Cancel);
    EXPECT_TRUE(prompter.Refused());
    EXPECT_NE(io.Text().find("Go on?\n"), std::string::npos);
}

TEST(TerminalPrompter, NoAndNonTerminalInputRefuse)
{
    Captured io;
    TerminalPrompter no(AnswerPolicy::No, 3, io.in, io.out);
    EXPECT_EQ(no.Show("Go on?", Icon::Warning, Buttons::OkCancel), Answer::Cancel);
    EXPECT_TRUE(no.Refused());
    TerminalPrompter ask(AnswerPolicy::Ask, 3, io.in, io.out);
    EXPECT_EQ(ask.Show("Go on?", Icon::Warning, Buttons::OkCancel), Answer::Cancel);
    EXPECT_EQ(ask.Show("Just so you know.", Icon::Information, Buttons::Ok), Answer::Ok);
}

} // namespace
} // namespace cardmill
