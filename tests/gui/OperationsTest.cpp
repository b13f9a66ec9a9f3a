#include "GuiFixture.h"
#include "app/MidiBackendAll.h"
#include "model/APrefs.h"
#include "sim/MidiBackendSim.h"
#include "synth/AMidi.h"
#include "synth/LinkPace.h"
#include "ui/ProgressDialog.h"

#include <QPushButton>
#include <QTimer>
#include <fstream>

namespace cardmill {
namespace {

using test::Gui;

class Operations : public Gui {
protected:
    /// A project of one sound, saved by the window.
    void SavedProject(std::uint32_t frames)
    {
        Add({ Wav("tone.wav", frames) });
        SaveAs(dir.File("gui.cmr"));
    }
    MidiBackendSim* Sim() { return app->MidiPorts()->Sim(); }
};

TEST_F(Operations, SendToSynthesizerShowsTheSectorAndBlockLines)
{
    // What reaches the card, the acceptance tests look at through a pty.
    SavedProject(80000);
    std::vector<std::string> lines;
    app->SetRunningObserver([&](ProgressDialog& dialog) {
        // Read when the card is ready: the question comes while the dialog is still open.
        QObject::connect(&dialog, &QDialog::finished, [&] { lines = dialog.LinesSeen(); });
    });
    Project().SetCardSizeToken(5);
    Trigger(AMainWindow::SendToSynth);
    EXPECT_EQ(prompter.LastText(), "The card is ready.");
    for (const char* line :
        { "Erasing sector:  1", "Sector:  1", "Block:  1", "Block:  128", "Sector:  2" })
        EXPECT_NE(std::find(lines.begin(), lines.end(), line), lines.end()) << line;
}

class LossyLink : public Operations {
protected:
    void Configure(AppOptions& options) override { options.sim.loseEvery = 255; }
};

TEST_F(LossyLink, ASendThroughAnInterfaceThatLosesBytesSaysSoOnceAndTheNextStartsAtItsPace)
{
    SavedProject(20000);
    QString note;
    app->SetRunningObserver([&](ProgressDialog& dialog) {
        QObject::connect(&dialog, &QDialog::finished, [&] { note = dialog.LineText(4); });
    });
    Project().SetCardSizeToken(5);
    Trigger(AMainWindow::SendToSynth);
    EXPECT_EQ(prompter.LastText(), "The card is ready.");
    EXPECT_FALSE(prompter.Asked());
    EXPECT_EQ(note,
        QStringLiteral("the link loses bytes at full speed; sending at 31,250 bytes a second"));
    // Remembered for the port, where MIDI Setup and the next transfer find it.
    EXPECT_EQ(PortPaces(app->Controller().Prefs().Store()).Find("sim"), 31250u);
    // Changed, so that the card needs writing again.
    prompter.Forget();
    Project().SetCardName("Again");
    Trigger(AMainWindow::SendToSynth);
    EXPECT_TRUE(prompter.LastText().starts_with("The card is ready.")) << prompter.LastText();
    EXPECT_FALSE(prompter.LastText().ends_with("nothing was sent.")) << prompter.LastText();
    EXPECT_EQ(note, QString());
    EXPECT_EQ(app->Link().Midi()->Pace(), 31250u);
}

class SlowLink : public Gui {
protected:
    void Configure(AppOptions& options) override { options.sim.baud = 31250; }
};

TEST_F(SlowLink, StopEndsTheTransferAtTheNextStep)
{
    Add({ Wav("tone.wav", 200000) });
    Project().SetCardSizeToken(5);
    std::vector<std::string> lines;
    app->SetRunningObserver([&](ProgressDialog& dialog) {
        // Stop once the second block is on its way, as a person who changed their mind does.
        auto* poll = new QTimer(&dialog);
        QObject::connect(poll, &QTimer::timeout, [&dialog, &lines, poll] {
            lines = dialog.LinesSeen();
            if (std::find(lines.begin(), lines.end(), "Block:  2") != lines.end()) {
                poll->stop();
                dialog.StopButton()->click();
            }
        });
        poll->start(10);
    });
    Trigger(AMainWindow::SendToSynth);
    EXPECT_NE(std::find(lines.begin(), lines.end(), "Block:  2"), lines.end());
    EXPECT_NE(prompter.LastText(), "The card is ready.");
    // Over a 31,250-baud cable the card would take a minute: it stopped at once.
    EXPECT_EQ(app->MidiPorts()->Sim()->Card()[4 * 1024], 0xFF)
        << "the fifth block was written after Stop";
}

class FailingLink : public Operations {
protected:
    /// Block 68 of sector 1 goes unanswered at every pace (two tries at full speed and at each
    /// slower one, three at the DIN rate); the link recovers afterwards.
    void Configure(AppOptions& options) override
    {
        for (int message = 200; message < 200 + 2 * 5 + 3; ++message)
            options.sim.instrument.faults.push_back(
                *InstrumentFault::Parse("drop:" + std::to_string(message)));
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
    const auto image = test::ReadFile(dir.File("card.img"));

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
    EXPECT_EQ(prompter.LastText(),
        "The card is ready.  4 of 5 sectors needed writing; the others held this image already.");
    EXPECT_EQ(Erased(), (std::vector<std::string> { "0", "1", "1", "2", "3", "4" }));
    auto card = Sim()->Card();
    EXPECT_TRUE(std::equal(image.begin(), image.end(), card.begin()));

    // The card holds this image now: sending it again is offered as nothing to write.
    prompter.Push(Answer::Yes);
    Trigger(AMainWindow::SendToSynth);
    const auto& leave = prompter.shown.at(prompter.shown.size() - 2);
    EXPECT_TRUE(leave.text.starts_with("The card in the synthesizer already holds this card image, "
                                       "if the card written at "))
        << leave.text;
    EXPECT_EQ(leave.byDefault, Answer::No) << "Enter writes the whole card";
    EXPECT_EQ(prompter.LastText(),
        "The card is ready.  0 of 5 sectors needed writing: nothing was sent.");
    EXPECT_TRUE(Erased().empty());
    // No writes the whole card.
    prompter.Push(Answer::No);
    Trigger(AMainWindow::SendToSynth);
    EXPECT_EQ(Erased().size(), 5u);

    // After Erase Card nothing is offered: the card holds nothing the journal knows of.
    Trigger(AMainWindow::EraseCard);
    EXPECT_EQ(Erased().size(), 32u);
    prompter.Forget();
    Trigger(AMainWindow::SendToSynth);
    EXPECT_EQ(prompter.shown.size(), 1u);
    EXPECT_EQ(prompter.LastText(), "The card is ready.");
    EXPECT_EQ(Erased().size(), 5u);
}

TEST_F(Operations, OpenCardImageUnpacksTheCardAndOpensWhatItHolds)
{
    Add({ Wav("kick.wav", 3000), Wav("snare.wav", 5000) });
    SaveAs(dir.File("kit.cmr"));
    const auto imageOf = [&](const std::string& path) {
        chooser.Push(QString::fromStdString(path));
        Trigger(AMainWindow::CreateImageFile);
        std::ifstream file(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(file), {});
    };
    const std::string image = dir.File("kit.img");
    const std::string bytes = imageOf(image);
    ASSERT_FALSE(bytes.empty());
    const std::string folder = dir.File("kit unpacked");
    const auto unpack = [&](const std::string& path) {
        prompter.Forget();
        chooser.Push(QString::fromStdString(path));
        chooser.Push(QString::fromStdString(folder));
        Trigger(AMainWindow::OpenCardImage);
        return Wait([&] { return !app->Pending().HasPending() && Project().CountItems(0) == 2; });
    };

    ASSERT_TRUE(unpack(image));
    const std::string project = app->Controller().DocumentPath();
    EXPECT_EQ(project.rfind(folder + "/", 0), 0U) << project;
    EXPECT_FALSE(Project().IsDirty());
    EXPECT_EQ(imageOf(dir.File("again.img")), bytes) << "the unpacked project's card differs";

    // Files in the way are replaced only when the question allows it; the project open stays.
    prompter.Push(Answer::Cancel);
    EXPECT_TRUE(unpack(image));
    ASSERT_FALSE(prompter.shown.empty());
    EXPECT_NE(prompter.shown.front().text.find("already holds"), std::string::npos);
    EXPECT_EQ(app->Controller().DocumentPath(), project);
    // Replaced, the project open included: the window lets it go first.
    prompter.Push(Answer::Ok);
    EXPECT_TRUE(unpack(image));
    EXPECT_EQ(app->Controller().DocumentPath(), project);
    for (const auto& box : prompter.shown)
        EXPECT_NE(box.icon, Icon::Error) << box.text;

    // A file that is no card is refused with the reason, before any folder is asked for.
    const std::string notACard = dir.Write("notes.img", std::vector<std::uint8_t>(3000, 0x41));
    prompter.Forget();
    chooser.Push(QString::fromStdString(notACard));
    Trigger(AMainWindow::OpenCardImage);
    ASSERT_EQ(prompter.shown.size(), 1U);
    EXPECT_EQ(prompter.shown.front().icon, Icon::Error);
    EXPECT_NE(prompter.shown.front().text.find("notes.img"), std::string::npos)
        << prompter.shown.front().text;
}

} // namespace
} // namespace cardmill
