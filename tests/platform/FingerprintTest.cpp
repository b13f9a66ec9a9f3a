#include "platform/FileSystem.h"
#include "support/TestEnv.h"

#include <algorithm>

#include <gtest/gtest.h>

namespace cardmill {
namespace {

std::vector<std::uint8_t> Bytes(std::size_t count)
{
    std::vector<std::uint8_t> bytes(count);
    for (std::size_t i = 0; i < count; ++i)
        bytes[i] = static_cast<std::uint8_t>(i * 7 + (i >> 8));
    return bytes;
}

TEST(Fingerprint, AFileReadInPiecesHasTheDigestOfItsBytesAndAnyByteChangedChangesIt)
{
    test::TempDir dir;
    // Sizes around the digest's blocks and the reader's buffer.
    for (const std::size_t size : { 0, 1, 31, 32, 33, 65535, 65536, 65537, 200003 }) {
        const auto bytes = Bytes(size);
        const std::string path = dir.Write("f" + std::to_string(size), bytes);
        const auto read = FingerprintOf(path);
        ASSERT_TRUE(read.has_value()) << size;
        EXPECT_EQ(*read, FingerprintOf(bytes)) << size;
        EXPECT_EQ(read->size, size);
    }
    // A byte changed in each lane of a block, in the tail, far in: another digest.
    const auto bytes = Bytes(70001);
    const auto original = FingerprintOf(bytes);
    for (const std::size_t at : { 0, 7, 8, 17, 24, 31, 32, 65536, 69999, 70000 }) {
        auto changed = bytes;
        changed[at] ^= 0x01;
        EXPECT_NE(FingerprintOf(changed).digest, original.digest) << at;
    }
    // Two words swapped between lanes, and a block moved: another digest.
    auto swapped = bytes;
    std::swap_ranges(swapped.begin(), swapped.begin() + 8, swapped.begin() + 8);
    EXPECT_NE(FingerprintOf(swapped).digest, original.digest);
    auto moved = bytes;
    std::swap_ranges(moved.begin(), moved.begin() + 32, moved.begin() + 32);
    EXPECT_NE(FingerprintOf(moved).digest, original.digest);
}

} // namespace
} // namespace cardmill
