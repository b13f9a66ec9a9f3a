#include "model/bank/MParamFileRawSex.h"

#include "model/MProject.h"
#include "model/MReadableFileDispatcher.h"
#include "platform/ProgressView.h"
#include "support/Banks.h"
#include "support/Steps.h"
#include "support/TestEnv.h"

#include <tuple>

#include <gtest/gtest.h>

namespace cardmill {
namespace {

using test::BankCapture;
using test::Bytes;

class Bank : public ::testing::Test {
protected:
    std::unique_ptr<MParamFileRawSex> Open(
        const Bytes& bytes, const std::string& path = "/b/bank.syx")
    {
        return test::OpenInMemory(env, bytes, path, &MParamFileRawSex::OpenBank);
    }
    static int Load(MParamFileRawSex& bank) { return test::LoadFully(bank); }
    Bytes Compile(MParamFileRawSex& bank)
    {
        NullProgressView progress;
        Bytes out(65536, 0xAA);
        EXPECT_EQ(bank.CompileBank(progress, out), 1);
        return out;
    }

    test::TestEnv env;
    MProject project { env.prefs };
};

struct Area {
    int section;
    std::size_t offset, count, size;
    std::size_t skipped; // bytes at the start of each message that the card does not take
};
struct FamilyCase {
    const char* name;
    std::uint16_t family;
    std::size_t bankBytes;
    std::vector<Area> areas;
};
class BankFamily : public Bank, public ::testing::WithParamInterface<FamilyCase> { };

TEST_P(BankFamily, ACaptureCompilesToItsThreeAreasAndNothingPast)
{
    const FamilyCase& c = GetParam();
    auto bank = Open(BankCapture { c.family }.Build());
    ASSERT_TRUE(bank);
    ASSERT_EQ(Load(*bank), 1);
    EXPECT_EQ(bank->CompiledBankBytes(), c.bankBytes);
    const Bytes out = Compile(*bank);
    for (const Area& a : c.areas)
        for (std::size_t i = 0; i < a.count; ++i)
            for (std::size_t b = 0; b < a.size; ++b)
                ASSERT_EQ(out[a.offset + a.size * i + b],
                    BankCapture::Unpacked(a.section, static_cast<int>(i), b + a.skipped))
                    << "section " << a.section << " message " << i << " byte " << b;
    EXPECT_EQ(out[c.bankBytes], 0xAA);
    EXPECT_EQ(bank->GetCompiledSize(), 65536u);
}

INSTANTIATE_TEST_SUITE_P(Families, BankFamily,
    ::testing::Values(
        FamilyCase { "Zelta", 0x0E, 65512,
            { { 0, 0, 128, 349, 1 }, { 2, 44672, 100, 138, 0 }, { 1, 58472, 128, 55, 0 } } },
        FamilyCase { "Percula", 0x19, 58624,
            { { 0, 0, 128, 166, 0 }, { 2, 21248, 64, 560, 0 }, { 1, 57088, 64, 24, 0 } } }),
    [](const auto& tested) { return std::string(tested.param.name); });

TEST_F(Bank, UnpackingSixtyFiveBytesTakesSeventyFivePacked)
{
    Bytes data(65);
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<std::uint8_t>(0xFF - i * 3);
    const Bytes packed = test::Pack7(data);
    ASSERT_EQ(packed.size(), 75u);
    Bytes out(65);
    ASSERT_TRUE(MParamFileRawSex::Unpack(packed, out));
    EXPECT_EQ(out, data);
    EXPECT_FALSE(MParamFileRawSex::Unpack(std::span<const std::uint8_t>(packed).first(74), out));
}

TEST_F(Bank, ACaptureForTheOtherFamilyIsQuestioned)
{
    env.services.project = &project; // target 14
    EXPECT_EQ(Load(*Open(BankCapture { 0x0E }.Build())), 1);
    EXPECT_FALSE(env.prompter.Asked());
    env.prompter.Push(Answer::Cancel);
    auto refused = Open(BankCapture { 0x19 }.Build(), "/b/drums.syx");
    EXPECT_EQ(Load(*refused), -1);
    EXPECT_EQ(std::tuple(env.prompter.LastText(), env.prompter.shown.back().icon),
        std::tuple("The SysEx file 'drums.syx' is for a Percula, but you have specified a target "
                   "of 'Zelta Synthesizer' in the Card Info dialog.\n\nYou can still use this "
                   "file in the project if you wish, but it will not work on a Zelta Synthesizer.",
            Icon::Warning));
    env.prompter.Push(Answer::Ok);
    EXPECT_EQ(Load(*Open(BankCapture { 0x19 }.Build(), "/b/drums.syx")), 1);

    env.prompter.Forget();
    env.services.projectLoading = true;
    EXPECT_EQ(Load(*Open(BankCapture { 0x19 }.Build())), 1);
    EXPECT_FALSE(env.prompter.Asked());
}

TEST_F(Bank, ADamagedCaptureFailsTheLoadAndRecognitionNeedsTheExactSizeAndTheMakersHeader)
{
    const auto load = [&](const Bytes& bytes, const std::string& path) {
        auto bank = Open(bytes, path);
        return bank ? Load(*bank) : 0;
    };
    Bytes capture = BankCapture { 0x0E }.Build();
    capture[62848 + 166 * 5 + 4] = 0x19;
    EXPECT_EQ(load(capture, "/b/bad.syx"), -1);
    EXPECT_EQ(env.prompter.LastText(),
        "The file 'bad.syx' does not contain a valid Zeltasynth SysEx dump.");
    Bytes percula = BankCapture { 0x19 }.Build();
    percula[25344 + 36 * 63] = 0xF1;
    EXPECT_EQ(load(percula, "/b/bad2.syx"), -1);
    EXPECT_EQ(env.prompter.LastText(),
        "The file 'bad2.syx' does not contain a valid Percula SysEx dump.");
    capture.resize(1000);
    EXPECT_EQ(load(capture, "/b/cut.syx"), -1);

    test::TempDir dir;
    MParamFileDispatcher dispatcher(env.services);
    Bytes exact = BankCapture { 0x0E }.Build();
    EXPECT_TRUE(dispatcher.Recognises(dir.Write("a.syx", exact)));
    exact.push_back(0);
    EXPECT_FALSE(dispatcher.Recognises(dir.Write("b.syx", exact)));
    Bytes otherMaker = BankCapture { 0x19, { 0x00, 0x21, 0x09 } }.Build();
    EXPECT_FALSE(dispatcher.Recognises(dir.Write("c.syx", otherMaker)));
    env.services.makerId = { 0x00, 0x21, 0x09 };
    EXPECT_TRUE(dispatcher.Recognises(dir.File("c.syx")));
    EXPECT_FALSE(dispatcher.Recognises(""));
}

} // namespace
} // namespace cardmill
