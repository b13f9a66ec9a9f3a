#include "sim/SimOptions.h"

#include <gtest/gtest.h>

namespace cardmill {
namespace {

using Words = std::vector<std::string>;

TEST(SimOptions, EveryOptionReachesItsField)
{
    std::string error;
    const auto options = ParseSimOptions(
        { "--card", "c.img", "--card-size", "512k", "--family", "percula", "--model", "127",
            "--firmware=0203", "--baud", "31250", "--write-ms", "12", "--erase-ms", "60000",
            "--no-card", "--write-protected", "--no-erase-command", "--fault", "drop:3",
            "--fault=refuse:1:5", "--log", "l.txt", "--pty", "--active-sensing", "--clock" },
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
    EXPECT_EQ(options->activeSensingMs, 300u);
    EXPECT_TRUE(options->instrument.clockInReplies);

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
        BadCase { "FlagWithValue", { "--clock=1" }, "--clock takes no value" },
        BadCase { "EmptyCardName", { "--card=" }, "--card needs a file name" },
        BadCase { "CardSizeToken", { "--card-size", "10" }, "not '10'" },
        BadCase { "ModelSigned", { "--model", "-1" }, "not '-1'" },
        BadCase { "FirmwareLength", { "--firmware", "01000" }, "--firmware takes four" },
        BadCase { "BaudHuge", { "--baud", "99999999999999999999999" }, "--baud takes" },
        BadCase { "EraseMsBlank", { "--erase-ms", " 5" }, "--erase-ms takes milliseconds" },
        BadCase { "FaultAtZero", { "--fault", "drop:0" }, "not 'drop:0'" }),
    [](const auto& tested) { return std::string(tested.param.name); });

} // namespace
} // namespace cardmill
