#include "synth/AEraseProgressDialog.h"

#include "synth/ACompileProgressDialog.h"
#include "synth/InstrumentLink.h"

#include <filesystem>
#include <fstream>
#include <optional>

#include <gtest/gtest.h>

namespace cardmill {
namespace {

using test::InstrumentLink;

using Options = VirtualInstrumentOptions;

class Dialog : public ::testing::Test {
protected:
    LinkOutcome Send(InstrumentLink& link, const std::string& path)
    {
        AImageSendProgressDialog dialog(
            link.midi, link.handler, env.prompter, env.clock, env.progress);
        return dialog.Run(path);
    }
    LinkOutcome EraseCard(InstrumentLink& link, std::uint32_t bytes)
    {
        AEraseProgressDialog dialog(link.midi, link.handler, env.prompter, env.clock, env.progress);
        const LinkOutcome outcome = dialog.Run(bytes);
        erased = dialog.Erased();
        howFar = dialog.HowFarItGot();
        return outcome;
    }

    std::string erased;
    std::string howFar;
    test::TempDir dir;
    test::TestEnv env;
};
using ImageSend = Dialog;
using Erase = Dialog;
using IOTest = Dialog;

TEST_F(ImageSend, TheLastBlockIsSentWholeAndTheNextSectorsEraseStillGoesOut)
{
    // A short last block, an exact end after an empty read, an image that fills the card.
    for (const auto& [size, cardBytes, last] : { std::tuple(3000u, 4194304u, "block 0 2"),
             std::tuple(131072u, 4194304u, "erase 1"), std::tuple(262144u, 262144u, "erase 2") }) {
        SCOPED_TRACE(size);
        const auto image = test::PatternBlock(0, size);
        InstrumentLink link(env, test::With(&Options::cardBytes, cardBytes));
        env.prompter.Forget();
        EXPECT_EQ(Send(link, dir.Write("card.img", image)), LinkOutcome::Done);
        ASSERT_GE(env.prompter.shown.size(), 2u);
        EXPECT_EQ(env.prompter.shown[0].text,
            "The image file size is " + std::to_string(size)
                + " bytes.  Have you verified that the memory card is large enough for this "
                  "amount of data and that this is a valid image file?");
        EXPECT_EQ(env.prompter.LastText(), "The card is ready.");
        EXPECT_TRUE(test::CardHolds(link.backend.instrument.Card(), image));
        EXPECT_EQ(link.backend.Messages().back(), last);
    }
}

TEST_F(ImageSend, SizesAroundSixteenMegabytesAndEmptyFiles)
{
    InstrumentLink link(env);
    const auto sized = [&](const std::string& name, std::uintmax_t size) {
        const std::string path = dir.File(name);
        std::ofstream(path).close();
        std::filesystem::resize_file(path, size);
        return path;
    };
    env.prompter.Push(Answer::Cancel);
    EXPECT_EQ(Send(link, sized("a.img", 16777214)), LinkOutcome::NotStarted);
    EXPECT_EQ(env.prompter.LastText().rfind("The image file size is 16777214 bytes.  Have", 0), 0u);

    env.prompter.Push(Answer::Cancel);
    EXPECT_EQ(Send(link, sized("b.img", 16777215)), LinkOutcome::NotStarted);
    EXPECT_EQ(env.prompter.LastText(),
        "The image file size is larger than 16 megabytes.  The data in an image file this large "
        "may be corrupt.  Do you wish to send the image file anyway?");

    // Past 16 MB the sector numbers no longer fit their byte: refused, not asked.
    EXPECT_EQ(Send(link, sized("c.img", 16777217)), LinkOutcome::NotStarted);
    EXPECT_EQ(env.prompter.shown.back().buttons, Buttons::Ok);
    EXPECT_NE(env.prompter.LastText().find("can't be sent"), std::string::npos);
    EXPECT_TRUE(link.backend.sent.empty());

    // An empty file holds nothing to send: refused before the instrument hears of it.
    EXPECT_EQ(Send(link, sized("d.img", 0)), LinkOutcome::NotStarted);
    EXPECT_TRUE(link.backend.sent.empty());
    EXPECT_NE(
        env.prompter.LastText().find("is empty: it holds nothing to send"), std::string::npos);

    EXPECT_EQ(Send(link, dir.File("missing.img")), LinkOutcome::NotStarted);
    EXPECT_EQ(env.prompter.LastText(),
        "The image file '" + dir.File("missing.img") + "' can't be opened.");
}

TEST_F(Erase, AnInstrumentWithoutTheEraseCommandGetsTwoBlocksWrittenOver)
{
    InstrumentLink link(env, test::With(&Options::noEraseCommand, true));
    EXPECT_EQ(EraseCard(link, 4 * 1024 * 1024), LinkOutcome::Done);
    EXPECT_EQ(link.backend.Messages(),
        (std::vector<std::string> { "identify", "erase 0", "block 0 0", "block 0 64" }));
    EXPECT_EQ(env.prompter.shown.size(), 1u) << "the question alone";
    EXPECT_EQ(erased,
        "The instrument has no erase command: the start of its card was written over (two "
        "blocks), which it reads as an empty card.");
}

TEST_F(Erase, ACardEndingBeforeTheSizeAskedForIsSaidToBeErasedWhole)
{
    InstrumentLink link(env, test::With(&Options::cardBytes, 1024 * 1024));
    env.prompter.Push(Answer::Ok);
    EXPECT_EQ(EraseCard(link, 512 * 1024), LinkOutcome::Done);
    EXPECT_EQ(erased, "The card is erased: its first 512 K.");
    env.prompter.Push(Answer::Ok);
    EXPECT_EQ(EraseCard(link, 2 * 1024 * 1024), LinkOutcome::Done);
    EXPECT_EQ(erased, "The card is erased: all of it, since it ends before the 2 Meg asked for.");
}

TEST_F(Erase, FaultsAreRetriedSilenceIsAskedAndStopKeepsWhatWasErased)
{
    InstrumentLink link(env, test::Faults({ "drop:3", "refuse:2:5" }));
    EXPECT_EQ(EraseCard(link, 1024 * 1024), LinkOutcome::Done);
    EXPECT_EQ(env.prompter.shown.size(), 1u) << "the question alone";
    EXPECT_EQ(link.backend.Messages().back(), "erase 7");

    InstrumentLink quiet(env, test::Faults({ "silent:4" }));
    env.prompter.Push(Answer::Ok);
    env.prompter.Push(Answer::Cancel);
    EXPECT_EQ(EraseCard(quiet, 1024 * 1024), LinkOutcome::Ended);
    EXPECT_EQ(env.prompter.LastText(),
        "The card can't be completely erased because the synthesizer has stopped responding.  "
        "Check your MIDI and power connections.");
    EXPECT_EQ(quiet.backend.Messages().back(), "erase 2");
    EXPECT_EQ(
        howFar, "2 of the 8 sectors to erase were erased; the rest of the card is as it was.");

    InstrumentLink stopped(env);
    env.progress.stop = true;
    EXPECT_EQ(EraseCard(stopped, 1024 * 1024), LinkOutcome::Stopped);
    EXPECT_TRUE(stopped.backend.sent.empty());
    EXPECT_EQ(howFar, "Nothing was erased.");
    env.progress.stop = false;
}

TEST_F(Erase, CardsPastSixteenMegabytesAndClosedPortsAreRefusedBeforeAnythingIsSent)
{
    InstrumentLink link(env, test::With(&Options::cardBytes, 16 * 1024 * 1024));
    EXPECT_EQ(EraseCard(link, 24 * 1024 * 1024), LinkOutcome::NotStarted);
    EXPECT_NE(env.prompter.LastText().find("16 megabytes"), std::string::npos);
    EXPECT_EQ(EraseCard(link, 16 * 1024 * 1024), LinkOutcome::Done);
    EXPECT_EQ(link.backend.Messages().back(), "erase 127");

    link.midi.Close();
    EXPECT_EQ(EraseCard(link, 1024 * 1024), LinkOutcome::NotStarted);
    EXPECT_EQ(env.prompter.LastText(),
        "The card can't be erased because the MIDI system is busy (or doesn't exist).  Make sure "
        "your MIDI settings are correct by selecting 'MIDI Setup' from the Project menu.");
}

TEST_F(Erase, TheJournalClaimsNothingOfTheCardBeforeTheFirstErase)
{
    const TransferJournal journal(dir.File("transfers"));
    const InstrumentIdentity grand { 14, 1, 0x30313030 };
    const ImageDigest image = ImageDigest::Of(std::vector<std::uint8_t>(1024, 1));
    ASSERT_TRUE(
        journal.Write(grand, { 1048576, image.size, image.hash, { { 0, image.sectors[0] } } }));
    InstrumentLink link(env);
    std::optional<TransferRecord> atFirstErase;
    link.backend.beforeEachMessage = [&] {
        std::string problem;
        if (!atFirstErase && link.backend.Messages().back() == "erase 0")
            atFirstErase = journal.Read(grand, problem);
    };
    AEraseProgressDialog dialog(link.midi, link.handler, env.prompter, env.clock, env.progress);
    dialog.UseJournal(journal);
    EXPECT_EQ(dialog.Run(1048576), LinkOutcome::Done);
    ASSERT_TRUE(atFirstErase);
    EXPECT_TRUE(atFirstErase->IsErased() && atFirstErase->sectors.empty());
}

TEST_F(IOTest, ShowsTheBannerOrAsksWhenNobodyAnswers)
{
    InstrumentLink link(env);
    AIOProgressDialog dialog(link.midi, link.handler, env.prompter, env.clock, env.progress);
    EXPECT_EQ(dialog.Run(), LinkOutcome::Done);
    EXPECT_EQ(std::tuple(env.progress.phase, env.progress.sector),
        std::tuple("Success!", "Orvane Device: Zelta Grand v01.00"));
    EXPECT_GT(env.progress.pulses, 0);

    link.backend.connected = false;
    env.prompter.Push(Answer::Cancel);
    EXPECT_EQ(dialog.Run(), LinkOutcome::Ended);
    EXPECT_EQ(env.prompter.LastText(),
        "The MIDI I/O test failed because the synthesizer is not responding.  Make sure your MIDI "
        "settings are correct by selecting 'MIDI Setup' from the Project menu.");
}

} // namespace
} // namespace cardmill
