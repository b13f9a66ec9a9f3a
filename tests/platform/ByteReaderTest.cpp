#include "platform/ByteReader.h"

#include "platform/ParseNumber.h"

#include <gtest/gtest.h>

namespace cardmill {
namespace {

TEST(ByteReader, ReadsBothByteOrdersAndNeverMovesOnFailure)
{
    const std::uint8_t bytes[] = { 0x12, 0x34, 0x56, 0x78, 0x9A };
    ByteReader reader(bytes);
    EXPECT_EQ(reader.U16(Endian::Big), 0x1234);
    EXPECT_EQ(reader.U16(Endian::Little), 0x7856);
    EXPECT_FALSE(reader.U16(Endian::Big).has_value());
    EXPECT_EQ(reader.Position(), 4u);
    EXPECT_FALSE(reader.Skip(2));
    EXPECT_EQ(reader.U8(), 0x9A);
    EXPECT_EQ(reader.U32At(0, Endian::Big), 0x12345678u);
    EXPECT_FALSE(reader.U32At(2, Endian::Big).has_value());
    EXPECT_FALSE(reader.U32At(SIZE_MAX - 1, Endian::Big).has_value());
}

TEST(ParseNumber, TakesDecimalDigitsInRangeAndNothingElse)
{
    EXPECT_EQ(ParseNumber("0", 0, 1000), 0u);
    EXPECT_EQ(ParseNumber("1000", 0, 1000), 1000u);
    EXPECT_EQ(ParseNumber("007", 0, 9), 7u);
    EXPECT_EQ(ParseNumber("18446744073709551615", 0, UINT64_MAX), UINT64_MAX);
    for (const char* text : { "", " 1", "1 ", "+1", "-0", "-1", "1x", "0x10", "1e3", "1.0", "1,0",
             "\xd9\xa1" /* Arabic-Indic one */ })
        EXPECT_FALSE(ParseNumber(text, 0, UINT64_MAX)) << '"' << text << '"';
    // Out of range, however many digits: nothing is cut to fewer bits on the way.
    EXPECT_FALSE(ParseNumber("1001", 0, 1000));
    EXPECT_FALSE(ParseNumber("0", 1, 128));
    EXPECT_FALSE(ParseNumber("4294967297", 1, 128));
    EXPECT_FALSE(ParseNumber("18446744073709551617", 0, UINT64_MAX));
    EXPECT_FALSE(ParseNumber("100000000000000000000000000001", 0, UINT64_MAX));
}

} // namespace
} // namespace cardmill
