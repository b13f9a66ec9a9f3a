#include "model/MProject.h"

#include "support/FakeFile.h"
#include "support/TestEnv.h"

#include <tuple>

#include <gtest/gtest.h>

namespace cardmill {
namespace {

using test::FakeFile;

class Project : public ::testing::Test {
protected:
    FakeFile* Add(std::int16_t category, std::uint32_t size = 100, int steps = 1)
    {
        auto file = std::make_unique<FakeFile>(env.services, category, size, steps, &destroyed);
        FakeFile* raw = file.get();
        EXPECT_TRUE(project.AddItem(std::move(file)));
        return raw;
    }
    /// Runs the incremental scan for more than one whole pass and takes what it reported.
    std::uint64_t ScanOnce()
    {
        project.RestartSizeScan();
        for (int i = 0; i < 2000; ++i)
            project.SizeScanStep();
        return project.GetTotalBytes();
    }

    test::TestEnv env;
    MProject project { env.prefs };
    int destroyed = 0;
};

TEST_F(Project, FirstFileRenamesAnEmptyGroupOnly)
{
    const auto named = [&](int group) {
        Add(static_cast<std::int16_t>(group));
        return std::tuple(project.GetGroupName(group), project.TakeNamesChanged());
    };
    project.TakeNamesChanged();
    EXPECT_EQ(named(3), std::tuple("noname", true));
    project.SetGroupName(4, "Piano");
    EXPECT_EQ(named(4), std::tuple("Piano", false));
    Add(5);
    project.TakeNamesChanged();
    project.SetGroupName(5, "empty");
    EXPECT_EQ(named(5), std::tuple("empty", false));
}

TEST_F(Project, CanPlaceHonoursCategoriesAndCapacity)
{
    FakeFile sound(env.services, 2, 10);
    FakeFile sequence(env.services, 11, 10);
    FakeFile bank(env.services, 12, 10);
    EXPECT_FALSE(project.CanPlace(nullptr, 0));
    EXPECT_FALSE(project.CanPlace(&sound, 11));
    EXPECT_TRUE(project.CanPlace(&sound, 10));
    EXPECT_FALSE(project.CanPlace(&sequence, 3));
    for (int i = 0; i < 128; ++i)
        Add(7);
    EXPECT_FALSE(project.CanPlace(&sound, 7));
    for (int i = 0; i < 49; ++i)
        Add(11);
    EXPECT_TRUE(project.CanPlace(&sequence, 11));
    Add(11);
    EXPECT_FALSE(project.CanPlace(&sequence, 11));
    EXPECT_TRUE(project.CanPlace(&bank, 12));
    Add(12);
    EXPECT_FALSE(project.CanPlace(&bank, 12));
}

TEST_F(Project, OutOfRangeSettingsAreIgnoredAndLongTextsCut)
{
    project.SetTarget(23);
    project.SetCardSizeToken(10);
    project.SetCardName("A very long card name");
    project.SetVersion("12345");
    project.SetGroupName(6, "TooLongName");
    project.SetGroupName(11, "Mine");
    EXPECT_EQ(std::tuple(project.GetTarget(), project.GetCardSizeToken(), project.GetCardName(),
                  project.GetVersion(), project.GetGroupName(6), project.GetGroupName(11)),
        std::tuple(14, 1, "A very lon", "1234", "TooLong", "Sequences"));
    EXPECT_EQ(std::tuple(project.GetItem(0, 0), project.GetItem(0, -1), project.GetItem(13, 0)),
        std::tuple(nullptr, nullptr, nullptr));
}

TEST_F(Project, ThePerculaTargetMakesTheDrumGroupsUnavailableAndMovesTheBankKeepingTheTotal)
{
    for (int group = 0; group < 11; ++group)
        EXPECT_FALSE(project.IsGroupUnavailable(group));
    project.SetTarget(25);
    for (int group = 0; group < 11; ++group)
        EXPECT_EQ(project.IsGroupUnavailable(group), group >= 8) << group;
    project.SetTarget(14);

    Add(0, 1000);
    Add(12, 12345); // a bank's own size is never asked
    const auto banks = [&] {
        project.ComputeTotalBytes();
        return std::tuple(
            project.HasZeltaBank(), project.HasPerculaBank(), project.GetTotalBytes());
    };
    EXPECT_EQ(banks(), std::tuple(true, false, 65536u + 1000 + 108));
    project.SetTarget(25);
    EXPECT_EQ(banks(), std::tuple(false, true, 65536u + 1000 + 108));
}

TEST_F(Project, CardInformationDirtiesOnlyATouchedProjectAndOnlyClearingDestroysFiles)
{
    project.SetCardName("fresh");
    EXPECT_FALSE(project.IsDirty());
    FakeFile* file = Add(0);
    EXPECT_EQ(std::tuple(project.IsDirty(), project.IsUntouched()), std::tuple(true, false));
    project.ClearDirty();
    auto removed = project.RemoveItem(file);
    EXPECT_EQ(std::tuple(removed.get(), destroyed, project.IsDirty()), std::tuple(file, 0, true));
    project.ClearDirty();
    project.SetCardName("edited");
    EXPECT_TRUE(project.IsDirty());
    project.Reset();
    EXPECT_EQ(std::tuple(project.IsDirty(), project.IsUntouched()), std::tuple(false, true));

    Add(0);
    Add(11);
    Add(12);
    project.Clear();
    EXPECT_EQ(std::tuple(destroyed, project.CountItems(0)), std::tuple(3, 0));
}

TEST_F(Project, SequencesAddTheirTableAndPlaceTheSequenceArea)
{
    Add(0, 1000);
    Add(9, 502);
    Add(11, 64);
    Add(11, 36);
    Add(12);
    EXPECT_EQ(project.GetHeaderBytes(), 308u);
    project.ComputeTotalBytes();
    EXPECT_EQ(std::tuple(project.SequenceAreaAddress(), project.GetTotalBytes()),
        std::tuple((65536u + 1502 + 108) / 2, 65536u + 1502 + 108 + 200 + 100));

    // The incremental scan sums every group, sequences and the bank's own size included.
    EXPECT_EQ(ScanOnce(), 308u + 1502 + 100 + 100);
}

TEST_F(Project, TheIncrementalScanWaitsForSlowFilesAndRestartsOnEveryChange)
{
    FakeFile* slow = Add(2, 500, 3);
    project.RestartSizeScan();
    // Groups 0 and 1 are empty, then the slow file's three steps, restarted only at the first.
    for (int step = 0; step < 5; ++step) {
        project.SizeScanStep();
        EXPECT_EQ(slow->restarts, step < 2 ? 0 : 1) << step;
    }
    EXPECT_EQ(ScanOnce(), 608u);

    // A change mid-scan starts the scan over from the header.
    project.RestartSizeScan();
    project.SizeScanStep();
    Add(0, 10);
    slow->SetSize(600);
    EXPECT_EQ(ScanOnce(), 718u);
}

TEST_F(Project, TotalsPastFourGigabytesDoNotWrap)
{
    // Files report at most 4 GiB - 1 each; two of them with the header and the bank would wrap
    // a 32-bit sum to a size that fits any card.
    constexpr std::uint64_t kLargest = 0xFFFFFFFF;
    Add(0, 0xFFFFFFFF);
    Add(9, 0xFFFFFFFF);
    Add(11, 64);
    Add(12);
    project.ComputeTotalBytes();
    const std::uint64_t expected = 65536 + 2 * kLargest + 108 + 200 + 64;
    EXPECT_EQ(project.GetTotalBytes(), expected);
    EXPECT_EQ(project.FreeBytes(), std::int64_t { 262144 } - static_cast<std::int64_t>(expected));
    // The card keeps the sequence area's word address in 32 bits: it stops at the largest.
    EXPECT_EQ(project.SequenceAreaAddress(), 0xFFFFFFFFu);
    EXPECT_EQ(ScanOnce(), 308u + 2 * kLargest + 64 + 100);
}

} // namespace
} // namespace cardmill
