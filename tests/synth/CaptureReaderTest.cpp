#include "synth/CaptureReader.h"

#include "synth/MZeltaSysexHandler.h"

#include <gtest/gtest.h>

namespace cardmill {
namespace {

using Handler = MZeltaSysexHandler;
using Bytes = std::vector<std::uint8_t>;
constexpr std::array<std::uint8_t, 3> kMaker { 0x00, 0x00, 0x0E };

/// A card image of `size` bytes: the card header (its size word in words), then a pattern.
Bytes Image(std::size_t size)
{
    Bytes image(size);
    for (std::size_t i = 0; i < size; ++i)
        image[i] = static_cast<std::uint8_t>(i * 7 + i / 1024);
    const std::uint32_t words = static_cast<std::uint32_t>(size / 2);
    const std::uint8_t head[] = { 0x00, 0x70, 0x38, 0x1C, static_cast<std::uint8_t>(words >> 24),
        static_cast<std::uint8_t>(words >> 16), static_cast<std::uint8_t>(words >> 8),
        static_cast<std::uint8_t>(words) };
    std::copy(std::begin(head), std::end(head), image.begin());
    return image;
}

/// The write-block message of block `index` of an image, the last block filled with FF as send
/// fills it.
Bytes BlockMessage(
    const Bytes& image, std::size_t index, const std::array<std::uint8_t, 3>& maker = kMaker)
{
    std::array<std::uint8_t, Handler::kBlockBytes> block;
    block.fill(0xFF);
    for (std::size_t i = 0; i < block.size() && index * block.size() + i < image.size(); ++i)
        block[i] = image[index * block.size() + i];
    std::array<std::uint8_t, Handler::kPackedBytes> packed;
    Handler::PackBlock(block, packed);
    const auto sector = static_cast<std::uint8_t>(index / Handler::kBlocksPerSector);
    const auto number = static_cast<std::uint8_t>(index % Handler::kBlocksPerSector);
    Bytes message(Handler::kBlockMessageBytes);
    const std::uint8_t head[]
        = { 0xF0, maker[0], maker[1], maker[2], 0x0E, Handler::kWriteBlock, sector, number };
    std::copy(std::begin(head), std::end(head), message.begin());
    std::copy(packed.begin(), packed.end(), message.begin() + 8);
    message[8 + packed.size()] = Handler::BlockChecksum(packed, sector, number);
    message.back() = 0xF7;
    return message;
}

void Append(Bytes& to, const Bytes& bytes)
{
    to.insert(to.end(), bytes.begin(), bytes.end());
}

TEST(CaptureReader, ShuffledResentAndCorruptBlocksComeBackAsTheImage)
{
    const Bytes image = Image(3000);
    Bytes capture { 0xF0, 0x7E, 0x7F, 0x06, 0x01, 0xF7 }; // identity request
    Append(capture, BlockMessage(image, 2));
    Bytes corrupt = BlockMessage(image, 1);
    corrupt[100] ^= 0x01;
    Append(capture, corrupt);
    capture.push_back(0xFE); // Active Sensing between messages
    Append(capture, BlockMessage(image, 0));
    Append(capture, BlockMessage(image, 1));
    Append(capture, BlockMessage(image, 0));

    std::string error;
    const auto card = ReassembleCapture(capture, kMaker, error);
    ASSERT_TRUE(card) << error;
    EXPECT_EQ(card->image, image);
    EXPECT_TRUE(card->missing.empty());
    ASSERT_EQ(card->notes.size(), 1u);
    EXPECT_EQ(card->notes[0],
        "1 damaged write-block message (the first for sector 1, block 2) left out.");
}

TEST(CaptureReader, AnotherMakersBlocksAreRefusedWithTheirOffset)
{
    const Bytes image = Image(2048);
    Bytes capture { 0xF0, 0x7E, 0x7F, 0x06, 0x01, 0xF7 };
    Append(capture, BlockMessage(image, 0, { 0x00, 0x00, 0x10 }));
    std::string error;
    EXPECT_FALSE(ReassembleCapture(capture, kMaker, error));
    EXPECT_EQ(error,
        "The write-block message at offset 6 is for the maker ID 000010, not 00000E; give the "
        "capture's with --maker-id.");
}

} // namespace
} // namespace cardmill
