#include "sim/SimOptions.h"

#include <gtest/gtest.h>

namespace cardmill {
namespace {

using Words = std::vector<std::string>;

TEST(SimOptions, NoWordsGiveTheDefaultInstrument)
{
    std::string error;
    const auto options = ParseSimOptions({}, error);
    ASSERT_TRUE(options) << error;
    EXPECT_EQ(options->instrument.cardBytes, 4u * 1024 * 1024);
    EXPECT_EQ(options->instrument.family, kZelta);
    EXPECT_EQ(options->instrument.model, 1);
    EXPECT_EQ(std::string(options->instrument.firmware.data(), 4), "0100");
    EXPECT_EQ(options->baud, 0u);
    EXPECT_EQ(options->instrument.writeMs, 0u);
    EXPECT_EQ(options->instrument.eraseMs, 0u);
    EXPECT_FALSE(options->instrument.noCard || options->instrument.writeProtected
        || options->instrument.noEraseCommand || options->pty);
    EXPECT_TRUE(options->cardPath.empty() && options->logPath.empty());
    EXPECT_TRUE(options->instrument.faults.empty());
}

TEST(SimOptions, EveryOptionReachesItsField)
{
    std::string error;
    const auto options = ParseSimOptions(
        { "--card", "c.img", "--card-size", "512k", "--family", "percula", "--model", "127",
            "--firmware=0203", "--baud", "31250", "--write-ms", "12", "--erase-ms", "60000",
            "--no-card", "--write-protected", "--no-erase-command", "--fault", "drop:3",
            "--fault=refuse:1:5", "--log", "l.txt", "--pty" },
        error);
    ASSERT_TRUE(options) << error;
    EXPECT_EQ(options->cardPath, "c.img");
    EXPECT_EQ(options->instrument.cardBytes, 512u * 1024);
    EXPECT_EQ(options->instrument.family, kPercula);
    EXPECT_EQ(options->instrument.model, 127);
    EXPECT_EQ(std::string(options->instrument.firmware.data(), 4), "0203");
    EXPECT_EQ(options->baud, 31250u);
    EXPECT_EQ(options->instrument.writeMs, 12u);
    EXPECT_EQ(options->instrument.eraseMs, 60000u);
    EXPECT_TRUE(options->instrument.noCard);
    EXPECT_TRUE(options->instrument.writeProtected);
    EXPECT_TRUE(options->instrument.noEraseCommand);
    ASSERT_EQ(options->instrument.faults.size(), 2u); // repeatable, in order
    EXPECT_EQ(options->instrument.faults[0].kind, InstrumentFault::Kind::Drop);
    EXPECT_EQ(options->instrument.faults[0].message, 3u);
    EXPECT_EQ(options->instrument.faults[1].kind, InstrumentFault::Kind::Refuse);
    EXPECT_EQ(options->instrument.faults[1].reason, 1);
    EXPECT_EQ(options->instrument.faults[1].message, 5u);
    EXPECT_EQ(options->logPath, "l.txt");
    EXPECT_TRUE(options->pty);

    // Card sizes by token too, and the family tinyloop.
    const auto token = ParseSimOptions({ "--card-size", "9", "--family", "tinyloop" }, error);
    ASSERT_TRUE(token) << error;
    EXPECT_EQ(token->instrument.cardBytes, 32u * 1024 * 1024);
    EXPECT_EQ(token->instrument.family, kTinyloop);
}

TEST(SimOptions, ThePtyIsTheCommandsAlone)
{
    std::string error;
    EXPECT_TRUE(ParseSimOptions({ "--pty" }, error, SimPlace::Command));
    EXPECT_FALSE(ParseSimOptions({ "--card", "c.img", "--pty" }, error, SimPlace::InProcess));
    EXPECT_NE(error.find("--pty"), std::string::npos);
    EXPECT_TRUE(ParseSimOptions({ "--card", "c.img" }, error, SimPlace::InProcess));
}

struct BadCase {
    const char* name;
    Words words;
    const char* error; // a part of the message
};
class SimOptionsRefused : public ::testing::TestWithParam<BadCase> { };

TEST_P(SimOptionsRefused, WithAMessageThatSaysWhy)
{
    const BadCase& c = GetParam();
    std::string error;
    EXPECT_FALSE(ParseSimOptions(c.words, error));
    EXPECT_NE(error.find(c.error), std::string::npos) << error;
}

INSTANTIATE_TEST_SUITE_P(Values, SimOptionsRefused,
    ::testing::Values(BadCase { "UnknownOption", { "--speed", "3" }, "unknown option --speed" },
        BadCase { "StrayArgument", { "card.img" }, "unexpected argument 'card.img'" },
        BadCase { "MissingValue", { "--baud" }, "option --baud needs a value" },
        BadCase { "FlagWithValue", { "--no-card=1" }, "--no-card takes no value" },
        BadCase { "EmptyCardName", { "--card=" }, "--card needs a file name" },
        BadCase { "EmptyLogName", { "--log", "" }, "--log needs a file name" },
        BadCase { "CardSize", { "--card-size", "3M" }, "--card-size takes 128K" },
        BadCase { "CardSizeToken", { "--card-size", "10" }, "not '10'" },
        BadCase { "Family", { "--family", "Zelta" }, "--family takes zelta" },
        BadCase { "ModelTooLarge", { "--model", "128" }, "--model takes a number from 0 to 127" },
        BadCase { "ModelSigned", { "--model", "-1" }, "not '-1'" },
        BadCase { "FirmwareLength", { "--firmware", "01000" }, "--firmware takes four" },
        BadCase { "BaudTooLow", { "--baud", "299" }, "--baud takes a rate from 300" },
        BadCase { "BaudTrailingText", { "--baud", "31250baud" }, "not '31250baud'" },
        BadCase { "BaudHuge", { "--baud", "99999999999999999999999" }, "--baud takes" },
        BadCase { "WriteMsTooLong", { "--write-ms", "60001" }, "--write-ms takes milliseconds" },
        BadCase { "EraseMsBlank", { "--erase-ms", " 5" }, "--erase-ms takes milliseconds" },
        BadCase { "FaultKind", { "--fault", "crash:2" }, "--fault takes drop:N" },
        BadCase { "FaultAtZero", { "--fault", "drop:0" }, "not 'drop:0'" }),
    [](const auto& tested) { return std::string(tested.param.name); });

} // namespace
} // namespace cardmill
