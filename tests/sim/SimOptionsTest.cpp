#include "sim/SimOptions.h"

#include <tuple>

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
            "--fault=refuse:1:5", "--log", "l.txt", "--record", "r.syx", "--pty",
            "--active-sensing", "--clock", "--interface-buffer", "64", "--lose-every=255" },
        error);
    ASSERT_TRUE(options) << error;
    EXPECT_EQ(std::tie(options->cardPath, options->logPath, options->recordPath, options->baud,
                  options->activeSensingMs, options->pty),
        std::tuple("c.img", "l.txt", "r.syx", 31250u, 300u, true));
    EXPECT_EQ(std::tie(options->interfaceBuffer, options->loseEvery), std::tuple(64u, 255u));
    const VirtualInstrumentOptions& instrument = options->instrument;
    EXPECT_EQ(
        std::tuple(instrument.cardBytes, instrument.family, instrument.model,
            std::string(instrument.firmware.data(), 4), instrument.writeMs, instrument.eraseMs),
        std::tuple(512u * 1024, kPercula, 127, "0203", 12u, 60000u));
    EXPECT_EQ(std::tie(instrument.noCard, instrument.writeProtected, instrument.noEraseCommand,
                  instrument.clockInReplies),
        std::tuple(true, true, true, true));
    using Kind = InstrumentFault::Kind;
    const auto& faults = instrument.faults;
    ASSERT_EQ(faults.size(), 2u); // repeatable, in order
    EXPECT_EQ(std::tuple(faults[0].kind, faults[0].message, faults[1].kind, faults[1].reason,
                  faults[1].message),
        std::tuple(Kind::Drop, 3u, Kind::Refuse, 1, 5u));

    // Card sizes by token too, and the family tinyloop; without --pty, in-process as well.
    const auto token = ParseSimOptions(
        { "--card-size", "9", "--family", "tinyloop" }, error, SimPlace::InProcess);
    ASSERT_TRUE(token) << error;
    EXPECT_EQ(std::tuple(token->instrument.cardBytes, token->instrument.family),
        std::tuple(32u * 1024 * 1024, kTinyloop));
}

struct BadCase {
    const char* name;
    Words words;
    const char* error; // a part of the message
    SimPlace place = SimPlace::Command;
};
class SimOptionsRefused : public ::testing::TestWithParam<BadCase> { };

TEST_P(SimOptionsRefused, WithAMessageThatSaysWhy)
{
    const BadCase& c = GetParam();
    std::string error;
    EXPECT_FALSE(ParseSimOptions(c.words, error, c.place));
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
        BadCase { "FaultAtZero", { "--fault", "drop:0" }, "not 'drop:0'" },
        BadCase { "LoseEveryByte", { "--lose-every", "1" }, "--lose-every takes" },
        // Bytes wait in an interface's buffer only while a wire carries the ones before.
        BadCase { "BufferWithoutWire", { "--interface-buffer", "64" }, "needs --baud" },
        // The pty is the command's alone.
        BadCase { "PtyInProcess", { "--card", "c.img", "--pty" }, "--pty", SimPlace::InProcess }),
    [](const auto& tested) { return std::string(tested.param.name); });

} // namespace
} // namespace cardmill
