#include "synth/TransferJournal.h"

#include "platform/Sha256.h"
#include "synth/ACompileProgressDialog.h"
#include "synth/InstrumentLink.h"
#include "synth/LinkPace.h"

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <optional>
#include <tuple>

#include <gtest/gtest.h>

namespace cardmill {
namespace {

using test::InstrumentLink;

constexpr std::size_t kSector = ImageDigest::kSectorBytes;

std::vector<std::uint8_t> Bytes(std::string_view text)
{
    return { text.begin(), text.end() };
}

TEST(Sha256, MatchesThePublishedDigestsHoweverTheBytesArrive)
{
    EXPECT_EQ(Sha256::Of({}), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(Sha256::Of(Bytes("abc")),
        "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    // 56 bytes: the length no longer fits the first padded block.
    EXPECT_EQ(Sha256::Of(Bytes("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq")),
        "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    const std::vector<std::uint8_t> million(1000000, 'a');
    Sha256 pieces;
    for (std::size_t at = 0, size = 1; at < million.size(); at += size, size = size * 3 % 1000 + 1)
        pieces.Add(std::span(million).subspan(at, std::min(size, million.size() - at)));
    EXPECT_EQ(
        pieces.HexDigest(), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

TEST(TransferJournal, ARecordReadsBackAndAnythingOddMakesItUntrusted)
{
    TransferRecord record { 4194304, 300000, std::string(64, 'a'), {}, 1700000000 };
    record.sectors[0] = std::string(64, 'b');
    record.sectors[2] = std::string(64, 'c');
    const std::string text = TransferJournal::Format(record);
    const auto back = TransferJournal::Parse(text);
    ASSERT_TRUE(back);
    EXPECT_EQ(std::tuple(back->cardSize, back->imageSize, back->Complete(), back->ImageSectors()),
        std::tuple(4194304u, 300000u, false, 3u));
    EXPECT_EQ(back->sectors, record.sectors);
    EXPECT_EQ(back->writtenAt, 1700000000);

    auto replaced = [&](const std::string& from, const std::string& to) {
        std::string changed = text;
        changed.replace(changed.find(from), from.size(), to);
        return TransferJournal::Parse(changed);
    };
    EXPECT_FALSE(TransferJournal::Parse(text.substr(0, text.size() - 4))) << "cut short";
    EXPECT_FALSE(TransferJournal::Parse(text + "sector 1 " + std::string(64, 'd') + "\n"));
    EXPECT_FALSE(replaced("sector 2", "sector 3")) << "a sector past the image";
    EXPECT_FALSE(replaced("sector 2", "sector 0")) << "a sector twice";
    EXPECT_FALSE(replaced(std::string(64, 'c'), std::string(63, 'c'))) << "a short hash";
    EXPECT_FALSE(replaced("card-size 4194304", "card-size -1"));
    EXPECT_FALSE(replaced("journal 1", "journal 2"));
    EXPECT_FALSE(replaced("image-size 300000\n", "")) << "a missing field";
    EXPECT_TRUE(replaced("sector 2 " + std::string(64, 'c') + "\n", ""));
    EXPECT_FALSE(replaced("written-at 1700000000", "written-at soon"));
    const auto older = replaced("written-at 1700000000\n", "");
    ASSERT_TRUE(older) << "a record of an earlier version";
    EXPECT_EQ(older->writtenAt, 0);
}

TEST(TransferJournal, RecordsAreKeptPerInstrumentAndAMissingOneIsNoProblem)
{
    test::TempDir dir;
    const TransferJournal journal = TransferJournal::Beside(dir.File("settings"));
    const InstrumentIdentity grand { 1, 1, 0x30313030 }, other { 1, 2, 0x30313030 };
    // The virtual instrument says it is a Zelta Grand too, but its card is not that one's.
    const InstrumentIdentity virtualGrand { 1, 1, 0x30313030, true };
    std::string problem = "stale";
    EXPECT_FALSE(journal.Read(grand, problem));
    EXPECT_EQ(problem, "");
    const TransferRecord record { 0, 10, std::string(64, 'e'), { { 0, std::string(64, 'f') } } };
    ASSERT_TRUE(journal.Write(grand, record));
    EXPECT_TRUE(journal.Read(grand, problem));
    EXPECT_FALSE(journal.Read(other, problem));
    EXPECT_FALSE(journal.Read(virtualGrand, problem));

    dir.Write("settings/transfers/family1-model2-firmware30313030.journal", "cardmill transfer\n");
    EXPECT_FALSE(journal.Read(other, problem));
    EXPECT_NE(problem.find("is damaged"), std::string::npos);
}

/// Images of `sectors` sectors and a partly filled last one, each sector of its own bytes.
std::vector<std::uint8_t> Image(std::size_t sectors, std::uint8_t seed)
{
    std::vector<std::uint8_t> image(sectors * kSector + 5000);
    for (std::size_t i = 0; i < image.size(); ++i)
        image[i] = static_cast<std::uint8_t>(i / kSector * 31 + seed + i % 7);
    return image;
}

TEST(TransferPlan, UsesTheJournalOnlyWhenItIsOfThisImageAndCard)
{
    const auto image = ImageDigest::Of(Image(3, 1));
    const auto earlier = ImageDigest::Of(Image(3, 2));
    TransferRecord partial { 4194304, image.size, image.hash, {} };
    partial.sectors = { { 0, image.sectors[0] }, { 2, image.sectors[2] } };
    const std::vector<bool> onlyMissing { false, true, false, true };

    // Resume: the sectors the journal doesn't show, only for the same image and card.
    EXPECT_EQ(PlanTransfer(TransferMode::Resume, partial, "", image, 4194304).write, onlyMissing);
    EXPECT_EQ(PlanTransfer(TransferMode::Resume, partial, "", image, 0).write, onlyMissing);
    const auto erased = TransferRecord::Erased(4194304);
    for (const auto& plan : { PlanTransfer(TransferMode::Resume, std::nullopt, "", image, 0),
             PlanTransfer(TransferMode::Resume, erased, "", image, 4194304),
             PlanTransfer(TransferMode::Since, erased, "", image, 0, &image, "same.img"),
             PlanTransfer(TransferMode::Resume, partial, "", earlier, 0),
             PlanTransfer(TransferMode::Resume, partial, "", image, 8388608),
             PlanTransfer(TransferMode::Resume, std::nullopt, "'x' is damaged", image, 0) }) {
        EXPECT_TRUE(plan.write.empty());
        EXPECT_NE(plan.refusal.find(", so the whole card will be written."), std::string::npos);
    }

    // Since: the earlier image's sectors, unless the journal knows better.
    EXPECT_EQ(PlanTransfer(TransferMode::Since, {}, "", image, 0, &earlier, "old.img").write,
        std::vector<bool>(4, true));
    EXPECT_EQ(PlanTransfer(TransferMode::Since, {}, "", image, 0, &image, "same.img").write,
        std::vector<bool>(4, false));
    EXPECT_EQ(PlanTransfer(TransferMode::Since, partial, "", image, 0, &image, "same.img").write,
        onlyMissing)
        << "the sectors the journal doesn't show are written";
    EXPECT_EQ(PlanTransfer(TransferMode::Since, partial, "", image, 0, &earlier, "old.img").refusal,
        "The last transfer to this synthesizer was not of 'old.img' (the card may not hold it), so "
        "the whole card will be written.");

    // Offer: a question when the journal allows more than the whole card, and never a refusal.
    EXPECT_NE(PlanTransfer(TransferMode::Offer, partial, "", image, 0)
                  .question.find("stopped with 2 of 4"),
        std::string::npos);
    TransferRecord complete { 0, earlier.size, earlier.hash, {} };
    for (std::uint32_t s = 0; s < 4; ++s)
        complete.sectors[s] = s == 1 ? image.sectors[1] : earlier.sectors[s];
    const auto update = PlanTransfer(TransferMode::Offer, complete, "", image, 0);
    EXPECT_EQ(update.write, (std::vector<bool> { true, false, true, true }));
    EXPECT_NE(update.question.find("only 3 of this card's 4 sectors differ"), std::string::npos);
    complete.sectors.erase(3);
    const auto unknown = PlanTransfer(TransferMode::Offer, complete, "", image, 0);
    EXPECT_TRUE(unknown.write.empty() && unknown.question.empty() && unknown.refusal.empty());
    EXPECT_TRUE(
        PlanTransfer(TransferMode::Offer, partial, "'x' is damaged", image, 0).refusal.empty());
    const auto afterErase = PlanTransfer(TransferMode::Offer, erased, "", image, 0);
    EXPECT_TRUE(afterErase.write.empty() && afterErase.question.empty());
}

/// Local time made UTC for one test, so that the times the questions name can be written down.
class UtcTime {
public:
    UtcTime()
    {
        if (const char* zone = std::getenv("TZ"))
            before = zone;
        ::setenv("TZ", "UTC", 1);
        ::tzset();
    }
    ~UtcTime()
    {
        if (before)
            ::setenv("TZ", before->c_str(), 1);
        else
            ::unsetenv("TZ");
        ::tzset();
    }
    UtcTime(const UtcTime&) = delete;
    UtcTime& operator=(const UtcTime&) = delete;

private:
    std::optional<std::string> before;
};

TEST(TransferPlan, EveryOfferNamesTheCardItRestsOnAndWhenItWasWritten)
{
    const UtcTime utc;
    const auto image = ImageDigest::Of(Image(3, 1));
    constexpr std::int64_t kWritten = 1700000000; // 14 November 2023, 22:13:20
    TransferRecord done { 0, image.size, image.hash, {}, kWritten };
    for (std::uint32_t s = 0; s < 4; ++s)
        done.sectors[s] = image.sectors[s];
    const auto offer = [&](const TransferRecord& record, std::int64_t now) {
        return PlanTransfer(TransferMode::Offer, record, "", image, 0, nullptr, {}, now).question;
    };
    EXPECT_EQ(offer(done, kWritten + 3600),
        "The card in the synthesizer already holds this card image, if the card written at 22:13 "
        "is still in the synthesizer.  Leave it as it is?  (No writes the whole card.)");
    EXPECT_NE(offer(done, kWritten + 2 * 86400).find("the card written on 14 November at 22:13 is"),
        std::string::npos);
    EXPECT_NE(offer(done, kWritten + 400 * 86400).find("written on 14 November 2023 at 22:13"),
        std::string::npos);
    auto unknown = done;
    unknown.writtenAt = 0;
    EXPECT_NE(offer(unknown, kWritten)
                  .find(", if the card Cardmill wrote last is still in the synthesizer.  Leave it"),
        std::string::npos);
    auto partial = done;
    partial.sectors.erase(3);
    EXPECT_NE(offer(partial, kWritten)
                  .find("writing only the 1 sector left, if the card written "
                        "at 22:13 is still in the synthesizer?"),
        std::string::npos);
}

/// Sends image files to the in-process instrument with a journal, checking at every step and
/// before every message the instrument acts on that the journal on disk claims no sector the card
/// doesn't hold: a kill at any of those moments would leave that journal.
class JournalledTransfer : public ::testing::Test {
protected:
    LinkOutcome Send(InstrumentLink& link, const std::vector<std::uint8_t>& image,
        TransferMode mode, const std::vector<std::uint8_t>* earlier = nullptr)
    {
        const std::string path = dir.Write("card.img", image);
        link.backend.beforeEachMessage = [&] { ExpectJournalTruthful(link); };
        test::CallbackView view([&] {
            ExpectJournalTruthful(link);
            return false;
        });
        AImageSendProgressDialog dialog(link.midi, link.handler, env.prompter, env.clock, view);
        dialog.UseJournal(journal, mode,
            earlier ? std::optional(ImageDigest::Of(*earlier)) : std::nullopt, "earlier.img");
        const LinkOutcome outcome = dialog.Run(path);
        percents = view.percents;
        ExpectJournalTruthful(link);
        link.backend.beforeEachMessage = nullptr;
        onCard = dialog.SectorsOnCard();
        return outcome;
    }

    void ExpectJournalTruthful(const InstrumentLink& link)
    {
        std::string problem;
        // A record that can't be read claims nothing.
        const auto record = journal.Read(instrument, problem);
        if (!record)
            return;
        const auto card = link.backend.instrument.Card();
        for (const auto& [sector, hash] : record->sectors) {
            const std::size_t start = sector * kSector;
            const std::size_t size = std::min<std::size_t>(kSector, record->imageSize - start);
            ASSERT_EQ(Sha256::Of(std::span(card).subspan(start, size)), hash)
                << "the journal claims sector " << sector;
        }
    }

    static std::vector<std::string> Erases(const InstrumentLink& link, std::size_t from = 0)
    {
        std::vector<std::string> erases;
        for (const auto& name : link.backend.Messages(from))
            if (name.starts_with("erase"))
                erases.push_back(name);
        return erases;
    }

    test::TempDir dir;
    test::TestEnv env;
    TransferJournal journal = TransferJournal::Beside(dir.File("settings"));
    // The virtual instrument's default identity: Zelta (family 14), model 1, firmware "0100".
    InstrumentIdentity instrument { 14, 1, 0x30313030 };
    std::optional<std::pair<std::uint32_t, std::uint32_t>> onCard;
    std::vector<int> percents;
};

TEST_F(JournalledTransfer, AStoppedTransferResumesAndAnUpdateWritesOnlyWhatChanged)
{
    // Block 68 of sector 1 and its two resends go unanswered; the link recovers afterwards.
    InstrumentLink link(env, test::Faults({ "drop:200", "drop:201", "drop:202" }));
    // At the slowest pace already, so the missing replies come to the question, not to a
    // slower pace.
    link.midi.SetPace(LinkPace::kDinRate);
    const auto first = Image(3, 1);
    env.prompter.Push(Answer::Ok); // the size question
    env.prompter.Push(Answer::Cancel); // "has stopped responding"
    EXPECT_EQ(Send(link, first, TransferMode::Whole), LinkOutcome::Ended);
    EXPECT_EQ(onCard, (std::pair<std::uint32_t, std::uint32_t> { 1, 4 }));
    ASSERT_TRUE(std::filesystem::exists(journal.PathFor(instrument)));
    link.backend.sent.clear();
    EXPECT_EQ(Send(link, first, TransferMode::Resume), LinkOutcome::Done);
    EXPECT_EQ(Erases(link), (std::vector<std::string> { "erase 1", "erase 2", "erase 3" }));
    ASSERT_FALSE(percents.empty());
    EXPECT_EQ(percents.back(), 100);
    // The bar counts the three sectors written, not the one skipped.
    EXPECT_LT(*std::find_if(percents.begin(), percents.end(), [](int p) { return p > 0; }), 10);
    EXPECT_TRUE(test::CardHolds(link.backend.instrument.Card(), first));

    // The second image differs in sectors 0 and 2; the journal says the card holds the first.
    auto second = first;
    second[10] ^= 1;
    second[2 * kSector + 9] ^= 1;
    const std::size_t before = link.backend.sent.size();
    EXPECT_EQ(Send(link, second, TransferMode::Since, &first), LinkOutcome::Done);
    EXPECT_EQ(Erases(link, before), (std::vector<std::string> { "erase 0", "erase 2" }));
    EXPECT_EQ(link.backend.Messages(before).size(), 1 + 2 + 128 + 128u);
    EXPECT_TRUE(test::CardHolds(link.backend.instrument.Card(), second));
    EXPECT_EQ(onCard, (std::pair<std::uint32_t, std::uint32_t> { 4, 4 }));
}

TEST_F(JournalledTransfer, YesToTheOfferTrustsTheJournalAndSaysNothingWasSent)
{
    const auto image = Image(3, 1);
    {
        InstrumentLink first(env);
        ASSERT_EQ(Send(first, image, TransferMode::Whole), LinkOutcome::Done);
    }
    // The same instrument with a blank card in its slot, which no journal can see (so the journal
    // claims what the card doesn't hold, and the fixture's check of that is left out).
    InstrumentLink blank(env);
    AImageSendProgressDialog dialog(
        blank.midi, blank.handler, env.prompter, env.clock, env.progress);
    dialog.UseJournal(journal, TransferMode::Offer);
    env.prompter.Forget();
    env.prompter.Push(Answer::Ok); // the size question
    env.prompter.Push(Answer::Yes);
    EXPECT_EQ(dialog.Run(dir.Write("card.img", image)), LinkOutcome::Done);
    ASSERT_GE(env.prompter.shown.size(), 2u);
    EXPECT_NE(env.prompter.shown[1].text.find("already holds this card image, if the card written"),
        std::string::npos);
    EXPECT_EQ(env.prompter.shown[1].byDefault, Answer::No) << "Enter writes the whole card";
    EXPECT_EQ(env.prompter.LastText(),
        "The card is ready.  0 of 4 sectors needed writing: nothing was sent.");
    EXPECT_EQ(blank.backend.Messages(), std::vector<std::string> { "identify" });
}

TEST_F(JournalledTransfer, AStoppedTransferSaysHowFarTheCardGot)
{
    const auto image = Image(3, 1);
    const std::string path = dir.Write("card.img", image);
    const auto stopAfter = [&](std::size_t messages) {
        InstrumentLink link(env);
        test::CallbackView view([&] { return link.backend.sent.size() >= messages; });
        AImageSendProgressDialog dialog(link.midi, link.handler, env.prompter, env.clock, view);
        dialog.UseJournal(journal, TransferMode::Whole);
        EXPECT_EQ(dialog.Run(path), LinkOutcome::Stopped);
        return std::pair(dialog.CardChanged(), dialog.HowFarItGot());
    };
    EXPECT_EQ(stopAfter(1), std::pair(false, std::string("Nothing was written to the card.")));
    // The identity request, sector 1's erase and blocks, sector 2's erase and 6 of its blocks.
    const auto [changed, text] = stopAfter(1 + 1 + 128 + 1 + 6);
    EXPECT_TRUE(changed);
    EXPECT_TRUE(text.starts_with("The card holds 1 of the 4 sectors of this image, and ")) << text;
    EXPECT_TRUE(text.ends_with(" of the 128 blocks of sector 2.")) << text;
}

TEST_F(JournalledTransfer, AJournalThatCantBeUpdatedOrIsInUseStopsTheTransferBeforeTheCardIsTouched)
{
    InstrumentLink link(env);
    const auto image = Image(1, 3);
    ASSERT_EQ(Send(link, image, TransferMode::Whole), LinkOutcome::Done);
    // The record's place taken by a folder with something in it: it can be neither replaced
    // nor removed, and it would go on claiming the card holds the first image.
    const std::string path = journal.PathFor(instrument);
    std::filesystem::remove(path);
    std::filesystem::create_directories(path + "/x");
    const std::size_t before = link.backend.sent.size();
    env.prompter.Forget();
    EXPECT_EQ(Send(link, Image(1, 4), TransferMode::Whole), LinkOutcome::Ended);
    EXPECT_EQ(link.backend.Messages(before), std::vector<std::string> { "identify" });
    EXPECT_NE(env.prompter.LastText().find("Nothing was sent"), std::string::npos);

    // Another transfer to the same instrument holds its lock.
    std::filesystem::remove_all(path);
    FileLock other;
    ASSERT_EQ(journal.Lock(instrument, other), FileLock::Result::Locked);
    const std::size_t sentBefore = link.backend.sent.size();
    EXPECT_EQ(Send(link, image, TransferMode::Whole), LinkOutcome::Ended);
    EXPECT_EQ(link.backend.Messages(sentBefore), std::vector<std::string> { "identify" });
    EXPECT_NE(env.prompter.LastText().find("another transfer to this synthesizer is running"),
        std::string::npos);
    other.Unlock();

    // A journal folder that can't be made: the transfer runs, told that it can't be resumed.
    std::filesystem::remove_all(dir.File("settings"));
    dir.Write("settings", "a file where the folder should be");
    env.prompter.Forget();
    EXPECT_EQ(Send(link, image, TransferMode::Whole), LinkOutcome::Done);
    EXPECT_NE(
        env.prompter.shown.at(1).text.find("can't be resumed if it stops"), std::string::npos);
    EXPECT_FALSE(onCard);
}

} // namespace
} // namespace cardmill
