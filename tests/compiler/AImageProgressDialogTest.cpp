#include "compiler/AImageProgressDialog.h"

#include "compiler/MCompileEngine.h"
#include "model/MProject.h"
#include "model/sound/MSoundFileWAV.h"
#include "support/FakeFile.h"
#include "support/SoundHelpers.h"

#include <algorithm>
#include <filesystem>
#include <optional>

#include <gtest/gtest.h>

namespace cardmill {
namespace {

using Outcome = AImageProgressDialog::Outcome;

class ImageFile : public ::testing::Test {
protected:
    Outcome Write(bool tellWhere = false)
    {
        AImageProgressDialog dialog(project, engine, env.prompter, env.clock, env.progress);
        if (tellWhere)
            dialog.TellWhereWhenReady();
        return dialog.Run(path);
    }
    void Sound(std::uint32_t frames)
    {
        project.AddItem(
            test::Load<MSoundFileWAV>(env, test::WavBuilder().Frames(frames).Build(), "/s/x.wav"));
    }

    test::TempDir dir;
    test::TestEnv env;
    MProject project { env.prefs };
    MCompileEngine engine { project, env.prompter };
    std::string path = dir.File("card.img");
};

TEST_F(ImageFile, AnEmptyProjectWritesItsHeaderAndAFileThatCantBeOpenedIsReported)
{
    EXPECT_EQ(Write(), Outcome::Ready);
    EXPECT_EQ(test::ReadFile(path).size(), 108u);
    EXPECT_EQ(env.prompter.LastText(), "The image file is ready.");
    EXPECT_EQ(env.prompter.shown.back().icon, Icon::Information);
    // The desktop's dialog is gone by then: the message says where the file went.
    EXPECT_EQ(Write(true), Outcome::Ready);
    EXPECT_EQ(
        env.prompter.LastText(), "The image file is ready.  It was written to '" + path + "'.");

    path = dir.File("no/such/folder/card.img");
    EXPECT_EQ(Write(), Outcome::NotStarted);
    EXPECT_EQ(env.prompter.LastText(),
        "Sorry, but the new file can't be created because the file " + path
            + " could not be opened.");
}

TEST_F(ImageFile, SixteenMegabytesAreQuestionedFromOneByteBelowAndPastFourGigabytes)
{
    project.AddItem(std::make_unique<test::FakeFile>(env.services, 0, 0));
    auto& sound = dynamic_cast<test::FakeFile&>(*project.GetItem(0, 0));
    // What is asked of a project of `size` bytes (the header's 108 among them) that is cancelled.
    const auto questions = [&](std::uint64_t size) {
        sound.SetSize(static_cast<std::uint32_t>(size - 108));
        env.prompter.Forget();
        env.prompter.Push(Answer::Cancel);
        EXPECT_EQ(Write(), Outcome::NotStarted);
        EXPECT_FALSE(std::filesystem::exists(path));
        std::vector<std::string> texts;
        for (const auto& box : env.prompter.shown)
            texts.push_back(box.text);
        return texts;
    };
    const std::string larger
        = "The project size is larger than 16 megabytes.  The data in an image "
          "file this large will be corrupt.  Do you wish to create the image "
          "file anyway?";
    EXPECT_EQ(questions(16777215), std::vector<std::string> { larger });
    // 4 GiB + 58 bytes: 58, were the sum kept in 32 bits.
    EXPECT_EQ(questions(0xFFFFFFFFull + 59), std::vector<std::string> { larger });
    // One byte less: only the card size is questioned.
    const auto below = questions(16777214);
    ASSERT_EQ(below.size(), 1u);
    EXPECT_EQ(
        below[0].rfind("The project size is too large for the memory card specified.", 0), 0u);

    // Accepting the larger question skips the card size one.
    sound.SetSize(16777215);
    project.SetCardSizeToken(0);
    env.prompter.Forget();
    env.prompter.Push(Answer::Ok);
    Write();
    EXPECT_EQ(env.prompter.shown.at(0).text, larger);
    for (const auto& box : env.prompter.shown)
        EXPECT_EQ(box.text.find("too large for the memory card"), std::string::npos);
}

TEST_F(ImageFile, SectorAndBlockLines)
{
    Sound(70000); // 140 KB: more than one sector
    ASSERT_EQ(Write(), Outcome::Ready);
    const auto bytes = test::ReadFile(path);
    project.ComputeTotalBytes();
    EXPECT_EQ(bytes.size(), project.GetTotalBytes());
    std::vector<std::string> sectors;
    for (const std::string& line : env.progress.history)
        if (line.rfind("sector: ", 0) == 0)
            sectors.push_back(line);
    EXPECT_EQ(sectors, (std::vector<std::string> { "sector: Sector:  1", "sector: Sector:  2" }));
    const auto second
        = std::find(env.progress.history.begin(), env.progress.history.end(), "sector: Sector:  2");
    EXPECT_EQ(*(second + 1), "block: Block:  1");
    // The bar moves forward only, up to the last block.
    ASSERT_FALSE(env.progress.percents.empty());
    EXPECT_TRUE(std::is_sorted(env.progress.percents.begin(), env.progress.percents.end()));
    EXPECT_GE(env.progress.percents.back(), 90);
    EXPECT_LE(env.progress.percents.back(), 100);
}

TEST_F(ImageFile, AWholeNumberOfBlocksHasNoFinalPiece)
{
    Sound(938); // 108 + 30 + 2 x (938 + 17) = 2048
    ASSERT_EQ(Write(), Outcome::Ready);
    EXPECT_EQ(test::ReadFile(path).size(), 2048u);
    EXPECT_EQ(
        std::count(env.progress.history.begin(), env.progress.history.end(), "block: Block:  2"),
        1);
}

TEST_F(ImageFile, AStopOrAFailedWriteLeavesThePreviousImageOrNone)
{
    Sound(70000);
    const auto run = [&](bool stop, std::optional<int> failingWrite) {
        // Stop is pressed once ten blocks are out.
        test::CallbackView stopper([&stopper] { return stopper.blocks >= 10; });
        std::optional<test::FailingWrite> failing;
        if (failingWrite)
            failing.emplace(*failingWrite);
        AImageProgressDialog dialog(project, engine, env.prompter, env.clock,
            stop ? static_cast<ProgressView&>(stopper) : env.progress);
        return dialog.Run(path);
    };
    const auto onlyTheImageIsThere = [&](bool image) {
        EXPECT_EQ(
            std::distance(std::filesystem::directory_iterator(dir.Path()), {}), image ? 1 : 0);
    };

    EXPECT_EQ(run(true, std::nullopt), Outcome::Stopped);
    EXPECT_TRUE(env.prompter.shown.empty());
    onlyTheImageIsThere(false);
    EXPECT_EQ(run(false, 30), Outcome::Failed);
    EXPECT_EQ(env.prompter.LastText(),
        "Sorry, but the new file can't be created because the file had a write error.");
    onlyTheImageIsThere(false);

    const std::vector<std::uint8_t> previous(5000, 0xA5);
    dir.Write("card.img", previous);
    EXPECT_EQ(run(true, std::nullopt), Outcome::Stopped);
    EXPECT_EQ(test::ReadFile(path), previous);
    EXPECT_EQ(run(false, 30), Outcome::Failed);
    EXPECT_EQ(test::ReadFile(path), previous);
    onlyTheImageIsThere(true);

    EXPECT_EQ(run(false, std::nullopt), Outcome::Ready);
    EXPECT_EQ(test::ReadFile(path).size(), project.GetTotalBytes());
    onlyTheImageIsThere(true);
}

} // namespace
} // namespace cardmill
