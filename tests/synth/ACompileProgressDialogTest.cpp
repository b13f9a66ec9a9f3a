#include "synth/ACompileProgressDialog.h"

#include "compiler/AImageProgressDialog.h"
#include "compiler/MCompileEngine.h"
#include "model/MProject.h"
#include "model/sound/MSoundFileWAV.h"
#include "sim/SimTiming.h"
#include "support/SoundHelpers.h"
#include "synth/AMidi.h"
#include "synth/InstrumentLink.h"
#include "synth/LinkPace.h"
#include "synth/MZeltaSysexHandler.h"

#include <algorithm>
#include <functional>
#include <tuple>

#include <gtest/gtest.h>

namespace cardmill {
namespace {

using test::InstrumentLink;

class Transfer : public ::testing::Test {
protected:
    /// A project of one sound whose card runs into its third sector.
    void SetUp() override
    {
        project.SetCardSizeToken(5); // 4 M, the virtual instrument's card
        project.AddItem(test::Load<MSoundFileWAV>(
            env, test::WavBuilder().Frames(150000).Build(), "/s/long.wav"));
        AImageProgressDialog image(project, engine, env.prompter, env.clock, env.progress);
        ASSERT_EQ(image.Run(dir.File("card.img")), AImageProgressDialog::Outcome::Ready);
        expected = test::ReadFile(dir.File("card.img"));
        ASSERT_GT(expected.size(), 2u * 131072);
        env.prompter.Forget();
        env.progress.percents.clear();
    }

    LinkOutcome Send(InstrumentLink& link, bool erase = true, ProgressView* view = nullptr)
    {
        ACompileProgressDialog dialog(project, engine, link.midi, link.handler, env.prompter,
            env.clock, view ? *view : env.progress);
        dialog.SetEraseSectorBeforeWriting(erase);
        return dialog.Run();
    }

    /// The image, its last partly filled block made up with erased bytes as the rest of the card.
    bool CardHoldsImage(const InstrumentLink& link) const
    {
        return test::CardHolds(link.backend.instrument.Card(), expected);
    }

    /// The messages of a whole transfer of the image, with or without the erases.
    std::vector<std::string> TransferMessages(bool erase) const
    {
        std::vector<std::string> names { "identify" };
        for (std::size_t i = 0; i < (expected.size() + 1023) / 1024; ++i) {
            if (erase && i % 128 == 0)
                names.push_back("erase " + std::to_string(i / 128));
            names.push_back("block " + std::to_string(i / 128) + " " + std::to_string(i % 128));
        }
        return names;
    }

    test::TempDir dir;
    test::TestEnv env;
    MProject project { env.prefs };
    MCompileEngine engine { project, env.prompter };
    std::vector<std::uint8_t> expected;
};

TEST_F(Transfer, EachSectorIsErasedBeforeItsBlocksUnlessErasingIsOffAndTheCardHoldsTheImage)
{
    InstrumentLink link(env);
    EXPECT_EQ(Send(link), LinkOutcome::Done);
    EXPECT_EQ(link.backend.Messages(), TransferMessages(true));
    EXPECT_TRUE(CardHoldsImage(link));
    EXPECT_EQ(env.prompter.LastText(), "The card is ready.");
    EXPECT_EQ(env.progress.banner, "Orvane Device: Zelta Grand v01.00");
    EXPECT_EQ(env.progress.percent, 100);
    // The bar only moves forward.
    EXPECT_TRUE(std::is_sorted(env.progress.percents.begin(), env.progress.percents.end()));

    InstrumentLink unerased(env);
    EXPECT_EQ(Send(unerased, false), LinkOutcome::Done);
    EXPECT_EQ(unerased.backend.Messages(), TransferMessages(false));
    EXPECT_TRUE(CardHoldsImage(unerased));
}

TEST_F(Transfer, ALateReplyAfterAResendIsNeverTakenForTheNextBlocksAcknowledgement)
{
    // The erase of sector 0 is answered only after its resend, and then twice; the second block
    // arrives damaged. Taken for the first block's acknowledgement, the second answer would
    // shift every reply by one, and the refusal would be answered by sending the third again.
    InstrumentLink link(env, test::Faults({ "corrupt:6" }));
    link.backend.lateReplyTo = 2;
    EXPECT_EQ(Send(link), LinkOutcome::Done);
    EXPECT_TRUE(CardHoldsImage(link));
    const auto names = link.backend.Messages();
    const std::vector<std::string> start { "identify", "erase 0", "erase 0", "identify",
        "block 0 0", "block 0 1", "block 0 1", "block 0 2", "block 0 3" };
    ASSERT_GE(names.size(), start.size());
    EXPECT_EQ(std::vector<std::string>(names.begin(), names.begin() + 9), start);
}

TEST_F(Transfer, ARefusalAfterItsResendsIsReportedWithTheReason)
{
    InstrumentLink link(env, test::With(&VirtualInstrumentOptions::writeProtected, true));
    env.prompter.Push(Answer::Cancel);
    EXPECT_EQ(Send(link, false), LinkOutcome::Ended);
    EXPECT_EQ(
        env.prompter.LastText(), "This project can't compile because the card is write protected.");
    EXPECT_EQ(link.backend.Messages(),
        (std::vector<std::string> { "identify", "block 0 0", "block 0 0", "block 0 0" }));
}

TEST_F(Transfer, NoInstrumentMeansFourRequestsThreeSecondsApartThenAQuestion)
{
    InstrumentLink link(env);
    link.backend.connected = false;
    env.prompter.Push(Answer::Retry);
    env.prompter.Push(Answer::Cancel);
    const std::uint32_t start = env.clock.TickCount();
    EXPECT_EQ(Send(link), LinkOutcome::Ended);
    EXPECT_EQ(link.backend.Messages(), std::vector<std::string>(7, "identify"));
    ASSERT_EQ(env.prompter.shown.size(), 2u);
    EXPECT_EQ(env.prompter.shown[0].text,
        "This project can't compile because the synthesizer is not responding.  Make sure your "
        "MIDI settings are correct by selecting 'MIDI Setup' from the Project menu.");
    // Four requests 3 s apart, the question, three more.
    const std::uint32_t elapsed = env.clock.TickCount() - start;
    EXPECT_GE(elapsed, 6u * 3000);
    EXPECT_LT(elapsed, 7u * 3000 + 1000);
}

TEST_F(Transfer, ClosedPortsAndTooLargeProjectsSendNothing)
{
    InstrumentLink closed(env);
    closed.midi.Close();
    EXPECT_EQ(Send(closed), LinkOutcome::NotStarted);
    EXPECT_EQ(env.prompter.LastText(),
        "This project can't compile because the MIDI system is busy or doesn't exist.  Make sure "
        "your MIDI settings are correct by selecting 'MIDI Setup' from the Project menu.");
    EXPECT_TRUE(closed.backend.sent.empty());

    InstrumentLink link(env);
    project.SetCardSizeToken(0); // 128 K
    EXPECT_EQ(Send(link), LinkOutcome::NotStarted);
    EXPECT_EQ(env.prompter.LastText(),
        "This project is too large for your memory card.  Make sure your card size setting is "
        "correct by selecting 'Card Info' from the Project menu, or make the project smaller by "
        "selecting 'Fit to Card' from the Project menu.");
    EXPECT_TRUE(link.backend.sent.empty());
}

/// Presses Stop at the n-th look at the button from the identity request on (each step looks
/// once, first); with `n` 0, at the compile's first look; with -1 never (it only counts).
struct StopAtStep {
    bool operator()()
    {
        if (n == 0)
            return true;
        if (backend.sent.empty())
            return false; // compiling
        if (++looks == n || n < 0)
            sentAtStop = backend.sent.size();
        return n > 0 && looks >= n;
    }

    int n;
    const test::InstrumentBackend& backend;
    int looks = 0;
    std::size_t sentAtStop = 0;
};

TEST_F(Transfer, StopAtAnyStepEndsTheRunAndSendsNothingMore)
{
    const auto run = [&](InstrumentLink& link, int n) {
        StopAtStep stop { n, link.backend };
        test::CallbackView view(std::ref(stop));
        env.prompter.Forget();
        return std::pair(Send(link, true, &view), stop);
    };
    // How many steps a whole run takes, to stop at each of its last ones.
    InstrumentLink whole(env);
    const auto [outcome, counted] = run(whole, -1);
    ASSERT_EQ(outcome, LinkOutcome::Done);
    const int steps = counted.looks;
    // From the compile and the search through the erase and block waits to the final block.
    for (int n : { 0, 1, 2, 3, 4, 5, 6, 50, 200, steps - 3, steps - 2, steps - 1 }) {
        SCOPED_TRACE(n);
        InstrumentLink link(env);
        const auto [stopped, stop] = run(link, n);
        EXPECT_EQ(stopped, LinkOutcome::Stopped);
        EXPECT_EQ(link.backend.sent.size(), stop.sentAtStop);
        EXPECT_FALSE(env.prompter.Asked());
        EXPECT_NE(env.prompter.LastText(), "The card is ready.");
    }
    // A stop while an erase reply is awaited.
    InstrumentLink slow(env, test::Faults({ "silent:2" }));
    EXPECT_EQ(run(slow, 8).first, LinkOutcome::Stopped);
    EXPECT_EQ(slow.backend.Messages().back(), "erase 0");
}

TEST_F(Transfer, ALinkThatLosesBytesAtFullSpeedIsSlowedUntilBlocksPassWithoutAQuestion)
{
    struct Case {
        const char* name;
        std::uint32_t baud, buffer, loseEvery, learned;
    };
    // A small buffer before a DIN cable takes nothing faster than the cable's own rate; an
    // interface that drops the 255th byte of a burst takes the first pace's 156-byte pieces.
    for (const Case& c :
        { Case { "buffer", 31250, 64, 0, 3125 }, Case { "lose", 0, 0, 255, 31250 } }) {
        SCOPED_TRACE(c.name);
        env.prompter.Forget();
        InstrumentLink link(env);
        SimTiming wire(c.baud);
        LossyInterface interface(c.buffer, c.loseEvery);
        link.backend.interfaceBefore = [&](std::span<const std::uint8_t> bytes) {
            const auto now = SimTiming::TimePoint {} + std::chrono::milliseconds(env.clock.ticks);
            auto kept = interface.Pass(bytes, now, wire);
            const auto arrived = wire.ToInstrument(kept.size(), now);
            // The instrument answers once the message is in, not when it was handed over.
            if (!bytes.empty() && bytes.back() == 0xF7)
                env.clock.Advance(
                    std::chrono::ceil<std::chrono::milliseconds>(arrived - now).count());
            return kept;
        };
        ACompileProgressDialog dialog(
            project, engine, link.midi, link.handler, env.prompter, env.clock, env.progress);
        std::vector<std::uint32_t> learned;
        dialog.OnPaceLearned([&](std::uint32_t pace) { learned.push_back(pace); });
        env.progress.history.clear();
        EXPECT_EQ(dialog.Run(), LinkOutcome::Done);
        EXPECT_TRUE(CardHoldsImage(link));
        EXPECT_FALSE(env.prompter.Asked()) << env.prompter.LastText();
        EXPECT_GT(interface.Lost(), 0u);
        EXPECT_EQ(learned, std::vector { c.learned });
        // Told once, in the words of PaceLearnedText.
        EXPECT_EQ(std::ranges::count(env.progress.history,
                      "note: " + AProgressDialog::PaceLearnedText(0, c.learned)),
            1);
        EXPECT_EQ(std::ranges::count_if(env.progress.history,
                      [](const std::string& line) { return line.starts_with("note"); }),
            1);
        EXPECT_EQ(link.midi.Pace(), c.learned);
    }
    EXPECT_EQ(AProgressDialog::PaceLearnedText(0, 3125),
        "the link loses bytes at full speed; sending at 3,125 bytes a second");
    EXPECT_EQ(AProgressDialog::PaceLearnedText(31250, 15625),
        "the link loses bytes at 31,250 bytes a second; sending at 15,625 bytes a second");
}

TEST_F(Transfer, AnInstrumentThatStopsAnsweringIsAskedAboutAtTheDinRateAndNoPaceIsLearned)
{
    // The slowing costs a silent instrument's user the tries at each pace, no more: the
    // question still comes, and a pace that never worked is not handed on to be remembered.
    InstrumentLink link(env, test::Faults({ "silent:4" }));
    env.prompter.Push(Answer::Retry);
    env.prompter.Push(Answer::Cancel);
    {
        ACompileProgressDialog dialog(
            project, engine, link.midi, link.handler, env.prompter, env.clock, env.progress);
        bool learned = false;
        dialog.OnPaceLearned([&](std::uint32_t) { learned = true; });
        EXPECT_EQ(dialog.Run(), LinkOutcome::Ended);
        EXPECT_FALSE(learned);
        EXPECT_EQ(link.midi.Pace(), LinkPace::kDinRate);
    }
    ASSERT_EQ(env.prompter.shown.size(), 2u);
    EXPECT_EQ(std::tie(env.prompter.shown[0].text, env.prompter.shown[0].buttons),
        std::tuple(
            "The synthesizer has stopped responding.  Check your MIDI and power connections.",
            Buttons::RetryCancel));
    // Two tries at each of the five paces above the DIN rate, three at it; after Retry three
    // more at it; then nothing.
    EXPECT_EQ(link.backend.Messages(3), std::vector<std::string>(2 * 5 + 3 + 3, "block 0 1"));
    // The slowing didn't help: the next run goes at the pace this one started at.
    EXPECT_EQ(link.midi.Pace(), LinkPace::kFullSpeed);
}

TEST(TransferPercent, CountsTheBlockInFlightByTheTimeThePreviousOneTook)
{
    EXPECT_EQ(CardPercent(0, 0, 0.0, 4096), 0);
    EXPECT_EQ(CardPercent(0, 1, 0.5, 4096), 37);
    EXPECT_EQ(CardPercent(1, 0, 0.0, 262144), 50);
    EXPECT_EQ(CardPercent(0, 3, 1.0, 4096), 100);
    // Nothing to send: no division by zero, no movement.
    EXPECT_EQ(CardPercent(0, 0, 1.0, 0), 0);
}

} // namespace
} // namespace cardmill
