#include "GuiFixture.h"
#include "support/Builders.h"
#include "app/MidiBackendAll.h"
#include "sim/MidiBackendSim.h"
#include "ui/ProgressDialog.h"

#include <QPushButton>
#include <QTimer>
#include <chrono>
#include <cstdlib>
#include <fstream>

namespace cardmill {
namespace {

using test::Gui;

std::vector<std::uint8_t> Slurp(const std::string& path)
{
    return test::ReadFile(path);
}

int RunCli(const std::string& arguments, const std::string& configDir)
{
    const std::string command = "CARDMILL_CONFIG_DIR='" + configDir + "' '" CARDMILL_CLI "' "
        + arguments + " >/dev/null 2>&1";
    return std::system(command.c_str());
}

/// Measures the longest time the event loop went without running while an operation ran.
class LoopWatch {
public:
    LoopWatch()
    {
        QObject::connect(&timer, &QTimer::timeout, [this] {
            const auto now = std::chrono::steady_clock::now();
            if (last)
                longest = std::max(longest, now - *last);
            last = now;
        });
        timer.start(2);
    }
    std::chrono::milliseconds Longest() const
    {
        return std::chrono::duration_cast<std::chrono::milliseconds>(longest);
    }

private:
    QTimer timer;
    std::optional<std::chrono::steady_clock::time_point> last;
    std::chrono::steady_clock::duration longest {};
};

class Operations : public Gui {
protected:
    /// A project of one sound, saved by the window.
    std::string SavedProject(std::uint32_t frames)
    {
        const std::string sound = dir.Write("tone.wav", test::WavBuilder().Frames(frames).Build());
        Add({ QString::fromStdString(sound) });
        const std::string path = dir.File("gui.cmr");
        chooser.Push(QString::fromStdString(path));
        Trigger(AMainWindow::SaveAs);
        return path;
    }
    MidiBackendSim* Sim() { return app->MidiPorts()->Sim(); }
};

TEST_F(Operations, ImageFileAndSavedProjectAreTheCommandLinesBytes)
{
    const std::string project = SavedProject(30000);
    ASSERT_TRUE(std::filesystem::exists(project));
    // The same content made by the command line.
    const std::string cli = dir.File("cli.cmr");
    ASSERT_EQ(RunCli("new '" + cli + "'", dir.File("config")), 0);
    ASSERT_EQ(
        RunCli("add '" + cli + "' --group k1 '" + dir.File("tone.wav") + "'", dir.File("config")),
        0);
    EXPECT_EQ(Slurp(project), Slurp(cli));

    const std::string image = dir.File("gui.img");
    chooser.Push(QString::fromStdString(image));
    Trigger(AMainWindow::CreateImageFile);
    ASSERT_EQ(
        RunCli("image --yes '" + cli + "' -o '" + dir.File("cli.img") + "'", dir.File("config")),
        0);
    EXPECT_EQ(Slurp(image), Slurp(dir.File("cli.img")));
    EXPECT_EQ(prompter.LastText(), "The image file is ready.");
}

TEST_F(Operations, SendToSynthesizerWritesTheCardWithSectorAndBlockLines)
{
    SavedProject(80000);
    chooser.Push(QString::fromStdString(dir.File("card.img")));
    Trigger(AMainWindow::CreateImageFile);
    const auto image = Slurp(dir.File("card.img"));
    std::vector<std::string> lines;
    app->SetRunningObserver([&](ProgressDialog& dialog) {
        // Read when the card is ready: the question comes while the dialog is still open.
        QObject::connect(&dialog, &QDialog::finished, [&] { lines = dialog.LinesSeen(); });
    });
    Project().SetCardSizeToken(5);
    Trigger(AMainWindow::SendToSynth);
    EXPECT_EQ(prompter.LastText(), "The card is ready.");
    ASSERT_NE(Sim(), nullptr);
    const auto card = Sim()->Card();
    ASSERT_GE(card.size(), image.size());
    EXPECT_TRUE(std::equal(image.begin(), image.end(), card.begin()));
    for (const char* line :
        { "Erasing sector:  1", "Sector:  1", "Block:  1", "Block:  128", "Sector:  2" })
        EXPECT_NE(std::find(lines.begin(), lines.end(), line), lines.end()) << line;
}

TEST_F(Operations, TheWindowKeepsRunningWhileSixteenMegabytesAreWrittenAndSent)
{
#ifdef CARDMILL_SANITIZED
    GTEST_SKIP() << "an unoptimised, instrumented build times the instrumentation";
#endif
    // 8 M frames of 16-bit mono: a 16 MB card.
    SavedProject(8 * 1024 * 1024 - 4096);
    Project().SetCardSizeToken(7);
    {
        LoopWatch watch;
        chooser.Push(QString::fromStdString(dir.File("big.img")));
        prompter.Push(Answer::Ok);
        Trigger(AMainWindow::CreateImageFile);
        EXPECT_EQ(prompter.LastText(), "The image file is ready.");
        EXPECT_LT(watch.Longest().count(), 50);
    }
    {
        LoopWatch watch;
        Trigger(AMainWindow::SendToSynth);
        EXPECT_EQ(prompter.LastText(), "The card is ready.");
        EXPECT_LT(watch.Longest().count(), 50);
        const auto image = Slurp(dir.File("big.img"));
        const auto card = Sim()->Card();
        EXPECT_TRUE(std::equal(image.begin(), image.end(), card.begin()));
    }
}

class SlowLink : public Gui {
protected:
    void Configure(AppOptions& options) override { options.sim.baud = 31250; }
};

TEST_F(SlowLink, StopEndsTheTransferAtTheNextStep)
{
    const std::string sound = dir.Write("tone.wav", test::WavBuilder().Frames(200000).Build());
    Add({ QString::fromStdString(sound) });
    Project().SetCardSizeToken(5);
    std::chrono::steady_clock::time_point pressed;
    std::vector<std::string> lines;
    app->SetRunningObserver([&](ProgressDialog& dialog) {
        QTimer::singleShot(1500, &dialog, [&] {
            lines = dialog.LinesSeen();
            pressed = std::chrono::steady_clock::now();
            dialog.StopButton()->click();
        });
    });
    Trigger(AMainWindow::SendToSynth);
    const auto took = std::chrono::steady_clock::now() - pressed;
    // One block is on the wire for 378 ms; the run ends once its reply is in.
    EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(took).count(), 1000);
    EXPECT_NE(prompter.LastText(), "The card is ready.");
    ASSERT_FALSE(lines.empty());
    EXPECT_NE(std::find(lines.begin(), lines.end(), "Sector:  1"), lines.end());
    EXPECT_NE(std::find(lines.begin(), lines.end(), "Block:  2"), lines.end());
}

class FailingLink : public Operations {
protected:
    /// Block 68 of sector 1 and its two resends go unanswered; the link recovers afterwards.
    void Configure(AppOptions& options) override
    {
        for (const char* fault : { "drop:200", "drop:201", "drop:202" })
            options.sim.instrument.faults.push_back(*InstrumentFault::Parse(fault));
        options.sim.logPath = dir.File("sim.log");
    }
    /// The sectors the instrument was told to erase since the last look.
    std::vector<std::string> Erased()
    {
        std::vector<std::string> erased;
        std::ifstream log(dir.File("sim.log"));
        std::string line;
        const int from = linesSeen;
        for (int n = 0; std::getline(log, line); ++n) {
            const auto at = line.find("received erase sector ");
            if (n >= from && at != std::string::npos)
                erased.push_back(line.substr(at + 22, line.find(' ', at + 22) - at - 22));
            linesSeen = n + 1;
        }
        return erased;
    }
    int linesSeen = 0;
};

TEST_F(FailingLink, AFailedTransferOffersResumeAndTheNextSendKnowsWhatTheCardHolds)
{
    SavedProject(300000); // five sectors
    Project().SetCardSizeToken(5);
    chooser.Push(QString::fromStdString(dir.File("card.img")));
    Trigger(AMainWindow::CreateImageFile);
    const auto image = Slurp(dir.File("card.img"));

    prompter.Push(Answer::Cancel); // "has stopped responding"
    prompter.Push(Answer::Retry); // Resume
    prompter.Forget();
    Trigger(AMainWindow::SendToSynth);
    const auto resume = std::find_if(prompter.shown.begin(), prompter.shown.end(),
        [](const auto& box) { return box.buttons == Buttons::ResumeCancel; });
    ASSERT_NE(resume, prompter.shown.end());
    EXPECT_EQ(resume->text,
        "The transfer stopped with 1 of the card's 5 sectors written.  Resume writes the rest "
        "now; Send to Synthesizer offers to resume later.");
    EXPECT_EQ(prompter.LastText(), "The card is ready.");
    EXPECT_EQ(Erased(), (std::vector<std::string> { "0", "1", "1", "2", "3", "4" }));
    auto card = Sim()->Card();
    EXPECT_TRUE(std::equal(image.begin(), image.end(), card.begin()));

    // The card holds this image now: sending it again is offered as nothing to write.
    prompter.Push(Answer::Yes);
    Trigger(AMainWindow::SendToSynth);
    EXPECT_EQ(prompter.shown.at(prompter.shown.size() - 2).text,
        "The card in the synthesizer already holds this card image.  Leave it as it is?  (No "
        "writes the whole card.)");
    EXPECT_EQ(prompter.LastText(), "The card is ready.");
    EXPECT_TRUE(Erased().empty());
    // No writes the whole card.
    prompter.Push(Answer::No);
    Trigger(AMainWindow::SendToSynth);
    EXPECT_EQ(Erased().size(), 5u);
}

} // namespace
} // namespace cardmill
