#include "platform/ByteReader.h"

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

} // namespace
} // namespace cardmill
