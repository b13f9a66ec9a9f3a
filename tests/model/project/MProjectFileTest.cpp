#include "model/ALoaderProgressDialog.h"
#include "model/FileRecord.h"
#include "model/MCardmill.h"
#include "model/MProject.h"
#include "model/PendingFilesQueue.h"
#include "model/sequence/MSeqFile.h"
#include "model/sound/MSoundFile.h"
#include "support/Banks.h"
#include "support/Fakes.h"
#include "support/Instruments.h"
#include "support/Midi.h"
#include "support/TestEnv.h"

#include <filesystem>
#include <tuple>

#include <gtest/gtest.h>

namespace cardmill {
namespace {

using test::Bytes;
using test::Missing;
using test::Strings;
using test::WavBuilder;

class ProjectFile : public ::testing::Test, protected test::ControllerDoubles {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(controller.Startup());
        controller.GetServices().locator = &locator;
    }
    void TearDown() override { controller.GetServices().locator = nullptr; }

    MProject& Project() { return controller.Project(); }

    struct Loaded {
        int added, notAdded;
        bool opened;
    };
    /// Loads files (or a project file) through the loader, as the application's idle time does.
    Loaded Load(const std::vector<std::string>& paths, std::optional<int> group = std::nullopt)
    {
        for (const auto& path : paths)
            pending.Push(path);
        ALoaderProgressDialog loader(controller, progress);
        loader.SetTargetGroup(group);
        loader.Run();
        return { loader.Added(), loader.NotAdded(), loader.ProjectOpened() };
    }
    bool Save(const std::string& path)
    {
        ui.saveChoice = DocumentUi::SaveChoice { path, 1 };
        return controller.SaveProjectAs();
    }
    std::string Wav(const std::string& name)
    {
        auto wav = WavBuilder().Format(1, 2, 44100, 16).Frames(2000);
        return dir.Write(name, wav.Smpl(60, 0, { { 0, 100, 1500 } }).Build());
    }
    static Bytes Song()
    {
        return test::MidiFile(0, 96, { test::TrackBuilder().Note(0, 0x90, 60, 1).End(96).Build() });
    }
    std::string Dump()
    {
        EXPECT_TRUE(controller.WriteTextDump(dir.File("dump.xls")));
        return test::ReadText(dir.File("dump.xls"));
    }

    test::TempDir dir;
    RecordingProgressView progress;
    test::SkippingFinder finder;
    MissingFileLocator locator { prompter, &finder };
};

TEST_F(ProjectFile, AnEmptyProjectIs292BytesAndAPathTooLongForARecordRefusesTheSave)
{
    ASSERT_TRUE(Save(dir.File("keep.cmr")));
    const Bytes bytes = test::ReadFile(dir.File("keep.cmr"));
    ASSERT_EQ(bytes.size(), 292u);
    EXPECT_EQ(Bytes(bytes.begin() + 4, bytes.begin() + 8), (Bytes { 0x00, 0x00, 0x01, 0x1C }));
    EXPECT_EQ(Bytes(bytes.begin() + 12, bytes.begin() + 22),
        (Bytes { 'V', 'E', 'R', 'S', 0, 0, 0, 2, 3, 0 }));

    const std::string deep = dir.Write(std::string(150, 'd') + "/" + std::string(120, 'n') + ".wav",
        WavBuilder().Frames(10).Build());
    Load({ deep });
    ASSERT_EQ(Project().CountItems(0), 1);
    EXPECT_FALSE(controller.SaveProject());
    EXPECT_NE(prompter.LastText().find(deep), std::string::npos);
    EXPECT_EQ(test::ReadFile(dir.File("keep.cmr")), bytes);
}

TEST_F(ProjectFile, SampleRecordsFollowOnlyEditedItems)
{
    const std::string a = Wav("a.wav");
    Load({ a, a });
    auto* edited = dynamic_cast<MInstFile*>(Project().GetItem(0, 1));
    edited->SetChangeTime(SecondsSince1904(clock.Now()));
    ASSERT_TRUE(Save(dir.File("k.cmr")));
    const Bytes bytes = test::ReadFile(dir.File("k.cmr"));
    const ByteReader file(bytes);
    // The first group chunk follows VERS and CHDR; each item's sample count ends its record.
    EXPECT_TRUE(file.HasCodeAt(52, "VGRP"));
    EXPECT_EQ(std::tuple(file.U32At(56, Endian::Big), file.U16At(60 + 12 + 520, Endian::Big),
                  file.U16At(60 + 12 + 522 + 520, Endian::Big)),
        std::tuple(12u + 522 + 522 + 392, 0, 1));

    // An edited instrument of three samples stores three.
    test::CmtBuilder three;
    three.Groups(3, 1, { 40, 80, 127 });
    for (const char* name : { "x.wav", "y.wav", "z.wav" })
        three.Add({ Wav(name) });
    Load({ dir.Write("three.cmt", three.Build()) }, 2);
    dynamic_cast<MInstFile*>(Project().GetItem(2, 0))->SetChangeTime(1);
    ASSERT_TRUE(Save(dir.File("k.cmr")));
    const Bytes again = test::ReadFile(dir.File("k.cmr"));
    const std::size_t group2 = 52 + (8 + 12 + 522 + 522 + 392) + (8 + 12);
    EXPECT_EQ(ByteReader(again).U32At(group2 + 4, Endian::Big), 12u + 522 + 1176);
}

TEST_F(ProjectFile, SavedReopenedAndSavedAgainGivesTheSameBytes)
{
    const std::string a = Wav("a.wav");
    const std::string song = dir.Write("song.mid", Song());
    Load({ a, a });
    Load({ Wav("b.wav") }, 9);
    Load({ song });
    auto* sound = dynamic_cast<MSoundFile*>(Project().GetItem(0, 0));
    SampleParams params = sound->Params();
    params.loopStart = 200;
    params.rootKey = 48;
    ASSERT_TRUE(sound->SetParams(params));
    sound->SetChangeTime(0xFFFFFF00); // edited after the file was last written
    Project().SetGroupName(9, "Drums");
    Project().SetCardName("RoundTrip");
    dynamic_cast<MSeqFile*>(Project().GetItem(11, 0))->SetOutPort(1);
    ASSERT_TRUE(Save(dir.File("one.cmr")));

    Project().Reset();
    ASSERT_TRUE(Load({ dir.File("one.cmr") }).opened);
    const SampleParams& loaded = dynamic_cast<MSoundFile*>(Project().GetItem(0, 0))->Params();
    EXPECT_EQ(std::tuple(Project().IsDirty(), Project().GetCardName(), Project().CountItems(0),
                  Project().GetGroupName(9), loaded.rootKey, loaded.loopStart,
                  dynamic_cast<MSoundFile*>(Project().GetItem(0, 1))->IsPhantom(),
                  dynamic_cast<MSeqFile*>(Project().GetItem(11, 0))->GetOutPort()),
        std::tuple(false, "RoundTrip", 2, "Drums", 48, 200u, true, 1));
    EXPECT_EQ(controller.DocumentPath(), dir.File("one.cmr"));
    ASSERT_TRUE(Save(dir.File("two.cmr")));
    EXPECT_EQ(test::ReadFile(dir.File("one.cmr")), test::ReadFile(dir.File("two.cmr")));
}

TEST_F(ProjectFile, AProjectMovedWithItsSoundsFindsThemWhereTheyLieRelativeToIt)
{
    // gig/song/p.cmr names gig/song/b.wav beside it and gig/samples/a.wav beside its folder.
    std::filesystem::create_directories(dir.File("gig/song"));
    Load({ Wav("gig/samples/a.wav"), Wav("gig/song/b.wav") });
    ASSERT_TRUE(Save(dir.File("gig/song/p.cmr")));
    std::filesystem::rename(dir.File("gig"), dir.File("gig2"));
    Project().Reset();
    prompter.Forget();
    ASSERT_TRUE(Load({ dir.File("gig2/song/p.cmr") }).opened);
    // No question, no message: the files are where the project's move put them; a save keeps
    // where they are.
    EXPECT_EQ(std::tuple(finder.asked, prompter.shown.size(), Project().GetItem(0, 0)->GetPath(),
                  Project().GetItem(0, 1)->GetPath(), Project().IsDirty()),
        std::tuple(Strings {}, std::size_t { 0 }, dir.File("gig2/samples/a.wav"),
            dir.File("gig2/song/b.wav"), true));
}

/// A project file of any version, its records as given.
Bytes ProjectBytes(std::uint8_t major, std::uint8_t minor,
    const std::vector<std::pair<std::uint16_t, Bytes>>& groups, const Bytes& sequences = { 0, 0 },
    std::uint16_t target = 14)
{
    test::FormBuilder form("ORCM", "CMpj", Endian::Big);
    form.Chunk("VERS", { major, minor });
    ByteWriter header;
    header.U8(4).Append("Olde").Fill(7).U8(2).Append("v1").Fill(3).U8(2).U8(3).U16(
        target, Endian::Big);
    form.Chunk("CHDR", header.Bytes());
    for (const auto& [group, records] : groups)
        form.Chunk("VGRP", records);
    form.Chunk("SGRP", sequences);
    return form.Build();
}

/// A group chunk of the older versions holding one file, with its path or its name only.
Bytes OldGroup(const std::string& name, std::uint16_t group, const std::string& path, bool withPath)
{
    FileRecord record;
    record.name = FileNameOf(path);
    record.path = path;
    ByteWriter full;
    record.WriteStored(full);
    ByteWriter out;
    out.U8(static_cast<std::uint8_t>(name.size())).Append(name).Fill(7 - name.size());
    out.U16(1, Endian::Big).U16(group, Endian::Big);
    out.Append(std::span<const std::uint8_t>(full.Bytes()).first(withPath ? 372 : 112));
    out.U8(4).Append("Solo").Fill(7).U8(1).U8(1); // short name, channel, smoothing
    return out.Take();
}

TEST_F(ProjectFile, OlderVersionsAndTheVersionRule)
{
    const std::string a = Wav("a.wav");
    locator.NoteLoaded(a); // the old records hold only the name: the folder is known
    const Bytes v25 = ProjectBytes(2, 0x50, { { 4, OldGroup("Old", 4, a, false) } }, { 0, 0 }, 25);
    ASSERT_TRUE(Load({ dir.Write("v25.cmr", v25) }).opened);
    ASSERT_EQ(Project().CountItems(4), 1);
    // The target is always 14 in these files.
    EXPECT_EQ(std::tuple(Project().GetTarget(), Project().GetItem(4, 0)->GetShortName(),
                  dynamic_cast<MInstFile*>(Project().GetItem(4, 0))->GetChannel(),
                  Project().GetCardSizeText()),
        std::tuple(14, "Solo", 1, "512 K"));
    // Found by its name alone, the file is named by its path now: the project has changed.
    EXPECT_TRUE(Project().IsDirty());
    Project().ClearDirty();

    const Bytes v26 = ProjectBytes(2, 0x60, { { 3, OldGroup("Mid", 3, a, true) } }, { 0, 0 }, 25);
    ASSERT_TRUE(Load({ dir.Write("v26.cmr", v26) }).opened);
    EXPECT_EQ(std::tuple(Project().GetTarget(), Project().CountItems(3)), std::tuple(25, 1));

    prompter.Forget();
    EXPECT_FALSE(Load({ dir.Write("v31.cmr", ProjectBytes(3, 0x10, {})) }).opened);
    EXPECT_EQ(prompter.LastText(),
        "Sorry, but Cardmill can't understand the project file '" + dir.File("v31.cmr")
            + "'\nIt was saved by a later version of Cardmill (project version 3.1).");
}

TEST_F(ProjectFile, TwoChunksOfOneGroupBothFillIt)
{
    const std::string a = Wav("a.wav");
    ASSERT_EQ(Load({ a }).added, 1);
    ASSERT_TRUE(Save(dir.File("base.cmr")));
    // Group 0's chunk (with the file, named "noname") relabelled as group 10, whose own chunk,
    // the last of the file, is renamed "Later".
    Bytes bytes = test::ReadFile(dir.File("base.cmr"));
    bytes[52 + 8 + 11] = 10;
    const std::size_t last = 52 + (8 + 12 + 522) + 9 * 20;
    std::copy_n("Later", 5, bytes.begin() + static_cast<std::ptrdiff_t>(last + 9));
    Project().Reset();
    ASSERT_TRUE(Load({ dir.Write("dup.cmr", bytes) }).opened);
    EXPECT_EQ(
        std::tuple(Project().CountItems(10), Project().GetGroupName(10)), std::tuple(1, "Later"));
}

TEST_F(ProjectFile, DamagedGroupsAreReportedAndSkipped)
{
    const std::string a = Wav("a.wav");
    Load({ a });
    Load({ Wav("b.wav") }, 1);
    ASSERT_TRUE(Save(dir.File("base.cmr")));
    Bytes bytes = test::ReadFile(dir.File("base.cmr"));
    bytes[52 + 8 + 11] = 11; // group 0's chunk names a group past 10
    const std::size_t second = 52 + (8 + 12 + 522);
    bytes[second + 8 + 12 + 520 + 1] = 200; // group 1's record claims 200 sample records
    Project().Reset();
    prompter.Forget();
    ASSERT_TRUE(Load({ dir.Write("bad.cmr", bytes) }).opened);
    EXPECT_EQ(Project().CountSoundItems(), 0u);
    EXPECT_EQ(prompter.LastText(),
        "The project file 'bad.cmr' is damaged: some of its records can't be read and are left "
        "out.");
}

TEST_F(ProjectFile, GroupsWithMoreRecordsThanTheyHoldKeepWhatFits)
{
    ASSERT_EQ(Load({ Wav("a.wav"), dir.Write("song.mid", Song()),
                       dir.Write("bank.syx", test::BankCapture { 0x0E }.Build()) })
                  .added,
        3);
    // Only a damaged or foreign file holds more: the project itself never lets a group overflow.
    for (const auto& [group, total] : { std::pair { 0, 129 }, { 11, 52 }, { 12, 2 } })
        while (Project().CountItems(group) < total)
            Project().AddItem(Project().GetItem(group, 0)->DuplicateActive());
    Project().SetGroupName(0, "Piano");
    ASSERT_TRUE(Save(dir.File("big.cmr")));

    Project().Reset();
    prompter.Forget();
    ASSERT_TRUE(Load({ dir.File("big.cmr") }).opened);
    EXPECT_EQ(
        std::tuple(Project().CountItems(0), Project().CountItems(11), Project().CountItems(12)),
        std::tuple(128, 50, 1));
    std::vector<std::string> texts;
    for (const auto& box : prompter.shown)
        texts.push_back(box.text);
    EXPECT_EQ(texts,
        (std::vector<std::string> {
            "The project file 'big.cmr' is damaged: the group 'Piano' holds at most 128 files, so "
            "1 of its records is left out.",
            "The project file 'big.cmr' is damaged: the group 'Sequences' holds at most 50 files, "
            "so 2 of its records are left out.",
            "The project file 'big.cmr' is damaged: the group 'Programs' holds at most 1 file, so "
            "1 of its records is left out." }));
}

TEST_F(ProjectFile, AWriteFailureAnywhereLeavesThePreviousFile)
{
    Load({ Wav("a.wav"), Wav("b.wav") });
    const std::string path = dir.File("safe.cmr");
    ASSERT_TRUE(Save(path));
    const Bytes before = test::ReadFile(path);
    Project().SetCardName("Changed");
    Project().SetDirty();
    for (int nth = 1; nth <= 20; ++nth) {
        prompter.Forget();
        const bool saved = [&] {
            const test::FailingWrite failing(nth);
            return controller.SaveProject(); // a plain save: a backup stands while writing
        }();
        if (saved)
            break;
        EXPECT_EQ(test::ReadFile(path), before) << "write " << nth;
        EXPECT_FALSE(std::filesystem::exists(dir.File("safe.bak")));
        EXPECT_EQ(prompter.LastText(),
            "Sorry, but the new file can't be created because the file had a write error.");
        EXPECT_TRUE(Project().IsDirty());
    }
    EXPECT_NE(test::ReadFile(path), before);
    // a.wav, b.wav and safe.cmr
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 3);
}

TEST_F(ProjectFile, AFileThatFailsDoesNotStopTheOthers)
{
    const std::string junk = dir.Write("notes.txt", std::string("just text"));
    const auto loaded = Load({ junk, Wav("a.wav"), dir.File("missing.wav"), Wav("b.wav") });
    EXPECT_EQ(std::tuple(loaded.added, loaded.notAdded), std::tuple(2, 2));
    EXPECT_EQ(prompter.LastText(),
        "Sorry, but the file '" + dir.File("missing.wav") + "' doesn't exist.");
    EXPECT_FALSE(pending.HasPending());
}

TEST_F(ProjectFile, TheTextDumpListsEachSoundAsAnInstrumentItemAndSampleAndNumbersSequences)
{
    EXPECT_EQ(Dump(),
        "Project Name\tVersion\tTarget Device\tTotal Bytes\tFree Bytes Remaining\r\n"
        "untitled\t1.00\tZelta Synthesizer\t108\t262036\r\n"
        "\r\nINSTRUMENTS:\r\nDisk Path\tInstrument Name\tSound Group\tSmoothing\tMix\tSize\r\n"
        "\r\nSAMPLES:\r\nInstrument\tDisk Path\tSize\tSample Rate\tDate Modified\tSample Type\r\n"
        "\r\nBANKS:\r\nDisk Path\tBank Name\tBank Type\tDate Modified\tSize\r\n"
        "\r\nSEQUENCES:\r\nDisk Path\tSequence Name\tSequence Type\tDate Modified\tSize\r\n");

    const std::string a = Wav("a.wav");
    Load({ a, a }, 3);
    Project().SetGroupName(3, "Bass");
    dynamic_cast<MInstFile*>(Project().GetItem(3, 1))->SetChannel(2);
    std::vector<std::string> songs;
    for (int i = 0; i < 11; ++i)
        songs.push_back(dir.Write(test::Numbered("s", i, ".mid"),
            test::MidiFile(1, 96, { test::TrackBuilder().End(0).Build() })));
    Load(songs);
    EXPECT_EQ(
        Missing(Dump(),
            { a + "\ta.wav\tBass\tOff\t50/50\t3046\r\n", a + "\ta.wav\tBass\tOff\tRight\t3046\r\n",
                "\r\na.wav\t\t3046\r\n\t" + a + "\t3016\t44100 Hz\t", "\t16-bit Stereo\r\n",
                songs[0] + "\tSequence 00\tType 2\t", songs[10] + "\tSequence 10\tType 2\t" }),
        Strings {});

    // The same file and channel twice: the second is a phantom. A deleted sample keeps its line,
    // without a date.
    dynamic_cast<MInstFile*>(Project().GetItem(3, 1))->SetChannel(0);
    EXPECT_EQ(Missing(Dump(), { "\t" + a + "\tPhantom\t44100 Hz\t" }), Strings {});
    std::filesystem::remove(a);
    EXPECT_EQ(Missing(Dump(), { "\t" + a + "\t3016\t44100 Hz\t\t16-bit Stereo\r\n" }), Strings {});
}

} // namespace
} // namespace cardmill
