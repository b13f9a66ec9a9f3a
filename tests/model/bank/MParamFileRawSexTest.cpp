#include "model/bank/MParamFileRawSex.h"

#include "model/MProject.h"
#include "model/MReadableFileDispatcher.h"
#include "platform/ProgressView.h"
#include "support/Banks.h"
#include "support/Steps.h"
#include "support/TestEnv.h"

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
        auto bank = std::make_unique<MParamFileRawSex>(env.services);
        bank->AttachMemory(bytes);
        if (!bank->OpenBank(path))
            return nullptr;
        return bank;
    }
    int Load(MParamFileRawSex& bank) { return test::LoadFully(bank); }
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

TEST_F(Bank, ZeltaCaptureCompilesToItsThreeAreas)
{
    env.services.project = &project;
    auto bank = Open(BankCapture { 0x0E }.Build());
    ASSERT_TRUE(bank);
    ASSERT_EQ(Load(*bank), 1);
    EXPECT_FALSE(env.prompter.Asked());
    EXPECT_EQ(bank->GetShortName(), "Bank 1");
    EXPECT_EQ(bank->CompiledBankBytes(), 65512u);
    const Bytes out = Compile(*bank);
    for (int i = 0; i < 128; ++i)
        for (std::size_t b = 0; b < 349; ++b)
            ASSERT_EQ(
                out[349 * static_cast<std::size_t>(i) + b], BankCapture::Unpacked(0, i, b + 1))
                << i << " " << b;
    for (int i = 0; i < 100; ++i)
        for (std::size_t b = 0; b < 138; ++b)
            ASSERT_EQ(
                out[44672 + 138 * static_cast<std::size_t>(i) + b], BankCapture::Unpacked(2, i, b));
    for (int i = 0; i < 128; ++i)
        for (std::size_t b = 0; b < 55; ++b)
            ASSERT_EQ(
                out[58472 + 55 * static_cast<std::size_t>(i) + b], BankCapture::Unpacked(1, i, b));
    EXPECT_EQ(out[65512], 0xAA); // nothing past the compiled bank
    EXPECT_EQ(bank->GetCompiledSize(), 65536u);
}

TEST_F(Bank, PerculaCaptureCompilesToItsThreeAreas)
{
    auto bank = Open(BankCapture { 0x19 }.Build());
    ASSERT_TRUE(bank);
    ASSERT_EQ(Load(*bank), 1);
    EXPECT_EQ(bank->CompiledBankBytes(), 58624u);
    const Bytes out = Compile(*bank);
    for (int i = 0; i < 128; ++i)
        for (std::size_t b = 0; b < 166; ++b)
            ASSERT_EQ(out[166 * static_cast<std::size_t>(i) + b], BankCapture::Unpacked(0, i, b));
    for (int i = 0; i < 64; ++i)
        for (std::size_t b = 0; b < 560; ++b)
            ASSERT_EQ(
                out[21248 + 560 * static_cast<std::size_t>(i) + b], BankCapture::Unpacked(2, i, b));
    for (int i = 0; i < 64; ++i)
        for (std::size_t b = 0; b < 24; ++b)
            ASSERT_EQ(
                out[57088 + 24 * static_cast<std::size_t>(i) + b], BankCapture::Unpacked(1, i, b));
    EXPECT_EQ(out[58624], 0xAA);
    EXPECT_EQ(bank->GetFormatName(), "Percula SysEx Capture");
    EXPECT_EQ(bank->GetInfoLine1(), "Source: Percula");
    EXPECT_EQ(bank->GetInfoLine2(), "Bulk Dump");
    EXPECT_EQ(bank->GetInfoLine3(), "69525 bytes");
}

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

TEST_F(Bank, SourceModelOfAZeltaCapture)
{
    Bytes capture = BankCapture { 0x0E }.Build();
    capture[18] = 0x04;
    auto bank = Open(capture);
    ASSERT_TRUE(bank);
    EXPECT_EQ(bank->GetInfoLine1(), "Source: Zelta B / Zelta C");
    EXPECT_EQ(bank->GetFormatName(), "Zelta SysEx Capture");
}

TEST_F(Bank, ACaptureForTheOtherFamilyIsQuestioned)
{
    env.services.project = &project; // target 14
    env.prompter.Push(Answer::Cancel);
    auto refused = Open(BankCapture { 0x19 }.Build(), "/b/drums.syx");
    EXPECT_EQ(Load(*refused), -1);
    EXPECT_EQ(env.prompter.LastText(),
        "The SysEx file 'drums.syx' is for a Percula, but you have specified a target of 'Zelta "
        "Synthesizer' in the Card Info dialog.\n\nYou can still use this file in the project if "
        "you "
        "wish, but it will not work on a Zelta Synthesizer.");
    EXPECT_EQ(env.prompter.shown.back().icon, Icon::Warning);
    env.prompter.Push(Answer::Ok);
    auto kept = Open(BankCapture { 0x19 }.Build(), "/b/drums.syx");
    EXPECT_EQ(Load(*kept), 1);

    env.prompter.Forget();
    env.services.projectLoading = true;
    auto opening = Open(BankCapture { 0x19 }.Build());
    EXPECT_EQ(Load(*opening), 1);
    EXPECT_FALSE(env.prompter.Asked());
}

TEST_F(Bank, AMessageWithAWrongHeaderFailsTheLoad)
{
    Bytes capture = BankCapture { 0x0E }.Build();
    capture[62848 + 166 * 5 + 4] = 0x19;
    auto bank = Open(capture, "/b/bad.syx");
    ASSERT_TRUE(bank);
    EXPECT_EQ(Load(*bank), -1);
    EXPECT_EQ(env.prompter.LastText(),
        "The file 'bad.syx' does not contain a valid Zeltasynth SysEx dump.");
    Bytes percula = BankCapture { 0x19 }.Build();
    percula[25344 + 36 * 63] = 0xF1;
    auto drum = Open(percula, "/b/bad2.syx");
    EXPECT_EQ(Load(*drum), -1);
    EXPECT_EQ(env.prompter.LastText(),
        "The file 'bad2.syx' does not contain a valid Percula SysEx dump.");
}

TEST_F(Bank, RecognitionNeedsTheExactSizeAndTheMakersHeader)
{
    test::TempDir dir;
    MParamFileDispatcher dispatcher(env.services);
    Bytes capture = BankCapture { 0x0E }.Build();
    EXPECT_TRUE(dispatcher.Recognises(dir.Write("a.syx", capture)));
    capture.push_back(0);
    EXPECT_FALSE(dispatcher.Recognises(dir.Write("b.syx", capture)));
    Bytes otherMaker = BankCapture { 0x19, { 0x00, 0x21, 0x09 } }.Build();
    EXPECT_FALSE(dispatcher.Recognises(dir.Write("c.syx", otherMaker)));
    env.services.makerId = { 0x00, 0x21, 0x09 };
    EXPECT_TRUE(dispatcher.Recognises(dir.File("c.syx")));
    EXPECT_FALSE(dispatcher.Recognises(""));
}

TEST_F(Bank, ATruncatedFileFailsToLoad)
{
    Bytes capture = BankCapture { 0x0E }.Build();
    capture.resize(1000);
    auto bank = Open(capture);
    ASSERT_TRUE(bank);
    EXPECT_EQ(Load(*bank), -1);
}

} // namespace
} // namespace cardmill
