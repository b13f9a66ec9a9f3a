#include "GuiFixture.h"
#include "app/MidiBackendAll.h"
#include "model/APrefs.h"
#include "sim/MidiBackendSim.h"
#include "synth/AMidi.h"
#include "synth/LinkPace.h"
#include "ui/ProgressDialog.h"

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

TEST_F(FailingLink, AFailedTransferOffersResumeAndAfterEraseCardTheNextSendOffersNothing)
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

    // Files in the way replaced, the project open included: the window lets it go first.
    prompter.Push(Answer::Ok);
    EXPECT_TRUE(unpack(image));
    ASSERT_FALSE(prompter.shown.empty());
    EXPECT_NE(prompter.shown.front().text.find("already holds"), std::string::npos);
    EXPECT_EQ(app->Controller().DocumentPath(), project);
    for (const auto& box : prompter.shown)
        EXPECT_NE(box.icon, Icon::Error) << box.text;
}

} // namespace
} // namespace cardmill
