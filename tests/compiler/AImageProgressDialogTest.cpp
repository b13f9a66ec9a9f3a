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
    Outcome Write()
    {
        AImageProgressDialog dialog(project, engine, env.prompter, env.clock, env.progress);
        return dialog.Run(path);
    }
    void Sound(std::uint32_t frames)
    {
        auto sound
            = test::Load<MSoundFileWAV>(env, test::WavBuilder().Frames(frames).Build(), "/s/x.wav");
        project.AddItem(std::move(sound));
    }

    test::TempDir dir;
    test::TestEnv env;
    MProject project { env.prefs };
    MCompileEngine engine { project, env.prompter };
    std::string path = dir.File("card.img");
};

TEST_F(ImageFile, AnEmptyProjectWritesItsHeader)
{
    EXPECT_EQ(Write(), Outcome::Ready);
    EXPECT_EQ(test::ReadFile(path).size(), 108u);
    EXPECT_EQ(env.prompter.LastText(), "The image file is ready.");
    EXPECT_EQ(env.prompter.shown.back().icon, Icon::Information);
}

TEST_F(ImageFile, SixteenMegabytesAreQuestionedFromOneByteBelow)
{
    project.AddItem(std::make_unique<test::FakeFile>(env.services, 0, 16777215 - 108));
    env.prompter.Push(Answer::Cancel);
    EXPECT_EQ(Write(), Outcome::NotStarted);
    ASSERT_EQ(env.prompter.shown.size(), 1u);
    EXPECT_EQ(env.prompter.shown[0].text,
        "The project size is larger than 16 megabytes.  The data in an image file this "
        "large will be corrupt.  Do you wish to create the image file anyway?");
    EXPECT_FALSE(std::filesystem::exists(path));

    // One byte less: only the card size is questioned.
    dynamic_cast<test::FakeFile*>(project.GetItem(0, 0))->SetSize(16777214 - 108);
    env.prompter.Forget();
    env.prompter.Push(Answer::Cancel);
    EXPECT_EQ(Write(), Outcome::NotStarted);
    ASSERT_EQ(env.prompter.shown.size(), 1u);
    EXPECT_EQ(env.prompter.shown[0].text.rfind(
                  "The project size is too large for the memory card specified.", 0),
        0u);
}

TEST_F(ImageFile, AProjectPastFourGigabytesIsStillQuestioned)
{
    // 4 GiB - 50 bytes of sound and the 108-byte header: 58 bytes, were the sum kept in 32 bits.
    project.AddItem(std::make_unique<test::FakeFile>(env.services, 0, 0xFFFFFFFF - 49));
    env.prompter.Push(Answer::Cancel);
    EXPECT_EQ(Write(), Outcome::NotStarted);
    ASSERT_EQ(env.prompter.shown.size(), 1u);
    EXPECT_EQ(
        env.prompter.shown[0].text.rfind("The project size is larger than 16 megabytes.", 0), 0u);
    EXPECT_FALSE(std::filesystem::exists(path));
}

TEST_F(ImageFile, AcceptingTheSixteenMegabyteQuestionSkipsTheCardSizeOne)
{
    project.AddItem(std::make_unique<test::FakeFile>(env.services, 0, 16777215));
    project.SetCardSizeToken(0);
    env.prompter.Push(Answer::Ok);
    Write();
    EXPECT_EQ(
        env.prompter.shown[0].text.rfind("The project size is larger than 16 megabytes.", 0), 0u);
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

/// Stop is pressed once ten blocks are out.
class StopAfterTenBlocks final : public ProgressView {
public:
    void SetBanner(std::string_view) override { }
    void SetPhase(std::string_view, std::string_view) override { }
    void SetSector(std::string_view, std::string_view) override { }
    void SetBlock(std::string_view, std::string_view) override { ++blocks; }
    void SetPercent(int) override { }
    bool StopRequested() const override { return blocks >= 10; }
    void ClearStop() override { }
    int blocks = 0;
};

TEST_F(ImageFile, AStopOrAFailedWriteLeavesThePreviousImageOrNone)
{
    Sound(70000);
    const auto run = [&](bool stop, std::optional<int> failingWrite) {
        StopAfterTenBlocks stopper;
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

TEST_F(ImageFile, AFileThatCannotBeOpenedIsReported)
{
    path = dir.File("no/such/folder/card.img");
    EXPECT_EQ(Write(), Outcome::NotStarted);
    EXPECT_EQ(env.prompter.LastText(),
        "Sorry, but the new file can't be created because the file " + path
            + " could not be opened.");
}

} // namespace
} // namespace cardmill
