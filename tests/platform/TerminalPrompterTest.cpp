#include "platform/TerminalPrompter.h"

#include "support/Pty.h"

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

TEST(TerminalPrompter, DetailsFollowTheirLineSoNothingIsLost)
{
    Captured io;
    TerminalPrompter prompter(AnswerPolicy::No, 0, io.in.get(), io.out.get());
    EXPECT_EQ(prompter.ShowWithDetails("2 kinds of setting are not on the card.",
                  "a: pan\nb: filter", Icon::Warning, Buttons::Ok),
        Answer::Ok);
    prompter.SetQuiet(true);
    prompter.ShowWithDetails("Quiet.", "unseen", Icon::Information, Buttons::Ok);
    EXPECT_EQ(io.Text(), "2 kinds of setting are not on the card.\na: pan\nb: filter\n");
}

TEST(TerminalPrompter, OnATerminalYAndNAreTakenAndEnterGivesTheQuestionsDefault)
{
    PtyPair pty;
    ASSERT_FALSE(pty.path.empty());
    struct Close {
        void operator()(std::FILE* file) const { std::fclose(file); }
    };
    const std::unique_ptr<std::FILE, Close> terminal { ::fdopen(::dup(pty.slave), "r") };
    Captured io;
    TerminalPrompter prompter(AnswerPolicy::Ask, 3, terminal.get(), io.out.get());
    const auto typed = [&](const std::string& line, Buttons buttons, Answer byDefault) {
        pty.Write(std::vector<std::uint8_t>(line.begin(), line.end()));
        return prompter.Ask("Go on?", Icon::Warning, buttons, byDefault);
    };
    struct Case {
        const char* line;
        Buttons buttons;
        Answer byDefault;
        Answer expected;
    };
    for (const Case& c : {
             Case { "y\n", Buttons::OkCancel, Answer::Cancel, Answer::Ok },
             Case { "n\n", Buttons::OkCancel, Answer::Ok, Answer::Cancel },
             Case { "O\n", Buttons::OkCancel, Answer::Cancel, Answer::Ok },
             Case { "\n", Buttons::OkCancel, Answer::Cancel, Answer::Cancel },
             Case { "  \n", Buttons::OkCancel, Answer::Ok, Answer::Ok },
             Case { "\n", Buttons::YesNoCancel, Answer::No, Answer::No },
             Case { "yes\n", Buttons::YesNoCancel, Answer::No, Answer::Yes },
             Case { "y\n", Buttons::RetryCancel, Answer::Retry, Answer::Retry },
             Case { "n\n", Buttons::RetryCancel, Answer::Retry, Answer::Cancel },
             Case { "r\n", Buttons::ResumeCancel, Answer::Retry, Answer::Retry },
             // A letter that answers nothing asks again.
             Case { "x\nc\n", Buttons::OkCancel, Answer::Ok, Answer::Cancel },
         }) {
        SCOPED_TRACE(c.line);
        EXPECT_EQ(typed(c.line, c.buttons, c.byDefault), c.expected);
    }
    const std::string shown = io.Text();
    EXPECT_NE(shown.find("[o]k / [c]ancel (Enter: cancel)? -> Cancel\n"), std::string::npos);
    EXPECT_NE(shown.find("[r]esume / [c]ancel (Enter: resume)? "), std::string::npos);
    // Show asks with the accepting answer as the default, as a message box has it.
    pty.Write({ '\n' });
    EXPECT_EQ(prompter.Show("Go on?", Icon::Warning, Buttons::OkCancel), Answer::Ok);
}

} // namespace
} // namespace cardmill
