#include "synth/AEraseProgressDialog.h"

#include "synth/ACompileProgressDialog.h"
#include "synth/InstrumentLink.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <optional>

#include <gtest/gtest.h>

namespace cardmill {
namespace {

using test::InstrumentLink;

std::vector<std::uint8_t> Pattern(std::size_t size)
{
    std::vector<std::uint8_t> bytes(size);
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<std::uint8_t>(i * 7 + i / 1024);
    return bytes;
}

class ImageSend : public ::testing::Test {
protected:
    LinkOutcome Send(InstrumentLink& link, const std::string& path)
    {
        AImageSendProgressDialog dialog(
            link.midi, link.handler, env.prompter, env.clock, env.progress);
        return dialog.Run(path);
    }

    test::TempDir dir;
    test::TestEnv env;
};

TEST_F(ImageSend, AShortLastBlockIsSentWholeAndAnExactEndAfterAnEmptyRead)
{
    for (const std::size_t size : { std::size_t { 3000 }, std::size_t { 131072 } }) {
        SCOPED_TRACE(size);
        const auto image = Pattern(size);
        const std::string path = dir.Write("card.img", image);
        InstrumentLink link(env);
        env.prompter.Forget();
        EXPECT_EQ(Send(link, path), LinkOutcome::Done);
        ASSERT_GE(env.prompter.shown.size(), 2u);
        EXPECT_EQ(env.prompter.shown[0].text,
            "The image file size is " + std::to_string(size)
                + " bytes.  Have you verified that the memory card is large enough for this "
                  "amount of data and that this is a valid image file?");
        const auto card = link.backend.instrument.Card();
        EXPECT_TRUE(std::equal(image.begin(), image.end(), card.begin()));
        EXPECT_TRUE(std::all_of(card.begin() + static_cast<std::ptrdiff_t>(size), card.end(),
            [](std::uint8_t b) { return b == 0xFF; }));
        const auto names = link.backend.Messages();
        // Ending on a sector boundary, the next sector's erase still goes out first.
        if (size == 131072)
            EXPECT_EQ(names.back(), "erase 1");
        else
            EXPECT_EQ(names.back(), "block 0 2");
    }
}

TEST_F(ImageSend, AnImageThatFillsTheCardEndsWithTheEraseJustPastIt)
{
    VirtualInstrumentOptions options;
    options.cardBytes = 262144;
    const auto image = Pattern(262144);
    InstrumentLink link(env, options);
    EXPECT_EQ(Send(link, dir.Write("full.img", image)), LinkOutcome::Done);
    EXPECT_EQ(link.backend.Messages().back(), "erase 2");
    EXPECT_EQ(env.prompter.LastText(), "The card is ready.");
    const auto card = link.backend.instrument.Card();
    EXPECT_TRUE(std::equal(image.begin(), image.end(), card.begin(), card.end()));
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

    // An empty file divides nothing by zero: sector 0 is erased and the card is ready.
    EXPECT_EQ(Send(link, sized("d.img", 0)), LinkOutcome::Done);
    EXPECT_EQ(link.backend.Messages(), (std::vector<std::string> { "identify", "erase 0" }));
    EXPECT_EQ(env.prompter.LastText(), "The card is ready.");

    EXPECT_EQ(Send(link, dir.File("missing.img")), LinkOutcome::NotStarted);
    EXPECT_EQ(env.prompter.LastText(),
        "The image file '" + dir.File("missing.img") + "' can't be opened.");
}

class Erase : public ::testing::Test {
protected:
    LinkOutcome Run(InstrumentLink& link, std::uint32_t bytes)
    {
        AEraseProgressDialog dialog(link.midi, link.handler, env.prompter, env.clock, env.progress);
        return dialog.Run(bytes);
    }
    test::TestEnv env;
};

TEST_F(Erase, AnInstrumentWithoutTheEraseCommandGetsTwoBlocksWrittenOver)
{
    VirtualInstrumentOptions options;
    options.noEraseCommand = true;
    InstrumentLink link(env, options);
    EXPECT_EQ(Run(link, 4 * 1024 * 1024), LinkOutcome::Done);
    EXPECT_EQ(link.backend.Messages(),
        (std::vector<std::string> { "identify", "erase 0", "block 0 0", "block 0 64" }));
    EXPECT_TRUE(env.prompter.shown.empty());
}

TEST_F(Erase, FaultsAreRetriedSilenceIsAskedAndStopKeepsWhatWasErased)
{
    VirtualInstrumentOptions options;
    options.faults = { *InstrumentFault::Parse("drop:3"), *InstrumentFault::Parse("refuse:2:5") };
    InstrumentLink link(env, options);
    EXPECT_EQ(Run(link, 1024 * 1024), LinkOutcome::Done);
    EXPECT_TRUE(env.prompter.shown.empty());
    EXPECT_EQ(link.backend.Messages().back(), "erase 7");

    VirtualInstrumentOptions silent;
    silent.faults = { *InstrumentFault::Parse("silent:4") };
    InstrumentLink quiet(env, silent);
    env.prompter.Push(Answer::Cancel);
    EXPECT_EQ(Run(quiet, 1024 * 1024), LinkOutcome::Ended);
    EXPECT_EQ(env.prompter.LastText(),
        "The card can't be completely erased because the synthesizer has stopped responding.  "
        "Check your MIDI and power connections.");
    EXPECT_EQ(quiet.backend.Messages().back(), "erase 2");

    InstrumentLink stopped(env);
    env.progress.stop = true;
    EXPECT_EQ(Run(stopped, 1024 * 1024), LinkOutcome::Stopped);
    EXPECT_TRUE(stopped.backend.sent.empty());
    env.progress.stop = false;
}

TEST_F(Erase, CardsPastSixteenMegabytesAndClosedPortsAreRefusedBeforeAnythingIsSent)
{
    VirtualInstrumentOptions sixteen;
    sixteen.cardBytes = 16 * 1024 * 1024;
    InstrumentLink link(env, sixteen);
    EXPECT_EQ(Run(link, 24 * 1024 * 1024), LinkOutcome::NotStarted);
    EXPECT_NE(env.prompter.LastText().find("16 megabytes"), std::string::npos);
    EXPECT_EQ(Run(link, 16 * 1024 * 1024), LinkOutcome::Done);
    EXPECT_EQ(link.backend.Messages().back(), "erase 127");

    link.midi.Close();
    EXPECT_EQ(Run(link, 1024 * 1024), LinkOutcome::NotStarted);
    EXPECT_EQ(env.prompter.LastText(),
        "The card can't be erased because the MIDI system is busy (or doesn't exist).  Make sure "
        "your MIDI settings are correct by selecting 'MIDI Setup' from the Project menu.");
}

TEST_F(Erase, TheJournalClaimsNothingOfTheCardBeforeTheFirstErase)
{
    test::TempDir dir;
    const TransferJournal journal(dir.File("transfers"));
    const InstrumentIdentity grand { 14, 1, 0x30313030 };
    const ImageDigest image = ImageDigest::Of(std::vector<std::uint8_t>(1024, 1));
    ASSERT_TRUE(journal.Write(grand, { 1048576, image.size, image.hash, { { 0, image.sectors[0] } } }));
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
    EXPECT_TRUE(atFirstErase->IsErased());
    EXPECT_TRUE(atFirstErase->sectors.empty());
}

TEST(IOTest, ShowsTheBannerOrAsksWhenNobodyAnswers)
{
    test::TestEnv env;
    InstrumentLink link(env);
    AIOProgressDialog dialog(link.midi, link.handler, env.prompter, env.clock, env.progress);
    EXPECT_EQ(dialog.Run(), LinkOutcome::Done);
    EXPECT_EQ(env.progress.phase, "Success!");
    EXPECT_EQ(env.progress.sector, "Orvane Device: Zelta Grand v01.00");
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
