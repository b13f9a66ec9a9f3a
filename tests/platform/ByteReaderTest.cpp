#include "platform/ByteReader.h"

#include "platform/ByteWriter.h"

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

TEST(ByteReader, TakeHandsOutAChildThatCannotSeePastItsChunk)
{
    const std::uint8_t bytes[] = { 1, 2, 3, 4, 5, 6 };
    ByteReader reader(bytes);
    reader.Skip(1);
    auto child = reader.Take(3);
    ASSERT_TRUE(child);
    EXPECT_EQ(child->Size(), 3u);
    EXPECT_EQ(child->U8At(2), 4);
    EXPECT_FALSE(child->U8At(3).has_value());
    EXPECT_EQ(reader.Position(), 4u);
    EXPECT_FALSE(reader.Take(3).has_value());
    EXPECT_FALSE(reader.SubAt(5, 2).has_value());
    EXPECT_FALSE(reader.SubAt(SIZE_MAX, 2).has_value());
    EXPECT_TRUE(reader.HasCodeAt(0, std::string("\x01\x02\x03\x04", 4)));
    EXPECT_FALSE(reader.HasCodeAt(4, "abcd"));
}

TEST(ByteWriter, MirrorsTheReaderAndPatchesOnlyWhatWasWritten)
{
    ByteWriter writer;
    writer.U32(0xA1B2C3D4, Endian::Little).U16(0x0102, Endian::Big).Append("ab").Fill(2, 0x20);
    const std::vector<std::uint8_t> expected { 0xD4, 0xC3, 0xB2, 0xA1, 1, 2, 'a', 'b', 0x20, 0x20 };
    EXPECT_EQ(writer.Bytes(), expected);
    EXPECT_TRUE(writer.PatchAt<std::uint16_t>(8, 0xFFFE, Endian::Big));
    EXPECT_EQ(writer.Bytes()[8], 0xFF);
    EXPECT_FALSE(writer.PatchAt<std::uint32_t>(8, 0, Endian::Big));

    std::uint8_t area[4] {};
    EXPECT_TRUE(StoreAt<std::uint16_t>(area, 2, 0x0A0B, Endian::Big));
    EXPECT_EQ(area[3], 0x0B);
    EXPECT_FALSE(StoreAt<std::uint16_t>(area, 3, 1, Endian::Big));
}

} // namespace
} // namespace cardmill
