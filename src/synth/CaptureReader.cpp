#include "synth/CaptureReader.h"

#include "compiler/CardImageReader.h"
#include "model/TextFields.h"
#include "platform/FileSystem.h"
#include "synth/MZeltaSysexHandler.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>

namespace cardmill {

namespace {

using Handler = MZeltaSysexHandler;
constexpr std::size_t kBlock = Handler::kBlockBytes;
constexpr std::size_t kSector = Handler::kBlocksPerSector;
constexpr std::size_t kZeltaBankArea = 65536;
// A 32 MB card's capture takes a little more than 37 MB.
constexpr std::uint64_t kLargestFile = std::uint64_t { 64 } << 20;

bool IsFamily(std::uint8_t byte)
{
    return byte == 0x0E || byte == 0x19 || byte == 0x17;
}

struct Message {
    std::size_t offset = 0; // of its F0 in the capture
    std::vector<std::uint8_t> bytes;
};

/// The SysEx messages of a byte stream, real-time bytes inside them dropped; a message cut off
/// by another status byte ends there (and is returned without its F7).
std::vector<Message> Messages(std::span<const std::uint8_t> bytes)
{
    std::vector<Message> messages;
    Message current;
    bool inside = false;
    for (std::size_t at = 0; at < bytes.size(); ++at) {
        const std::uint8_t b = bytes[at];
        if (b >= 0xF8)
            continue;
        if (b == 0xF0) {
            if (inside)
                messages.push_back(std::move(current));
            current = { at, { b } };
            inside = true;
        } else if (inside) {
            if (b >= 0x80 && b != 0xF7) {
                messages.push_back(std::move(current));
                inside = false;
                continue;
            }
            current.bytes.push_back(b);
            if (b == 0xF7) {
                messages.push_back(std::move(current));
                inside = false;
            }
        }
    }
    if (inside)
        messages.push_back(std::move(current));
    return messages;
}

bool IsWriteBlock(std::span<const std::uint8_t> m)
{
    return m.size() >= 6 && m[0] == 0xF0 && IsFamily(m[4]) && m[5] == Handler::kWriteBlock;
}

/// The 7-bit pieces back into the block's bytes, lowest bits first.
std::vector<std::uint8_t> Unpack(std::span<const std::uint8_t> packed)
{
    std::vector<std::uint8_t> out;
    out.reserve(kBlock);
    std::uint32_t bits = 0;
    int count = 0;
    for (const std::uint8_t p : packed) {
        bits |= std::uint32_t { p & 0x7Fu } << count;
        count += 7;
        if (count >= 8) {
            out.push_back(static_cast<std::uint8_t>(bits));
            bits >>= 8;
            count -= 8;
            if (out.size() == kBlock)
                break;
        }
    }
    return out;
}

std::string Place(std::size_t block)
{
    char text[64];
    std::snprintf(
        text, sizeof text, "sector %zu, block %zu", block / kSector + 1, block % kSector + 1);
    return text;
}

} // namespace

std::string CapturedCard::MissingText() const
{
    std::string text;
    std::size_t listed = 0;
    for (std::size_t i = 0; i < missing.size();) {
        std::size_t j = i;
        while (j + 1 < missing.size() && missing[j + 1] == missing[j] + 1)
            ++j;
        if (listed == 8) {
            text += ", and more";
            break;
        }
        text += (text.empty() ? "" : "; ") + Place(missing[i]);
        if (j > i)
            text += " to " + Place(missing[j]);
        ++listed;
        i = j + 1;
    }
    const std::size_t n = missing.size();
    return std::to_string(n) + (n == 1 ? " block (" : " blocks (") + text + ")";
}

bool LooksLikeCapture(std::span<const std::uint8_t> bytes)
{
    if (bytes.empty() || bytes[0] != 0xF0)
        return false;
    const std::size_t limit = std::min<std::size_t>(bytes.size(), 65536);
    for (std::size_t i = 0; i + 6 <= limit; ++i)
        if (bytes[i] == 0xF0 && IsWriteBlock(bytes.subspan(i, 6)))
            return true;
    return false;
}

std::optional<CapturedCard> ReassembleCapture(std::span<const std::uint8_t> bytes,
    const std::array<std::uint8_t, 3>& maker, std::string& error)
{
    CapturedCard card;
    std::map<std::size_t, std::vector<std::uint8_t>> blocks;
    std::size_t damaged = 0;
    std::size_t differing = 0;
    std::string firstDamage;
    for (const auto& [offset, message] : Messages(bytes)) {
        if (!IsWriteBlock(message))
            continue;
        // Another maker's instrument would take these blocks for something else: a capture made
        // with another maker ID is read with that ID (--maker-id), not guessed.
        if (!std::equal(maker.begin(), maker.end(), message.begin() + 1)) {
            error = Format("The write-block message at offset %zu is for the maker ID "
                           "%02X%02X%02X, not %02X%02X%02X; give the capture's with --maker-id.",
                offset, unsigned { message[1] }, unsigned { message[2] }, unsigned { message[3] },
                unsigned { maker[0] }, unsigned { maker[1] }, unsigned { maker[2] });
            return std::nullopt;
        }
        const std::string where = message.size() >= 8
            ? Place(std::size_t { message[6] } * kSector + message[7])
            : "a block";
        if (message.size() != Handler::kBlockMessageBytes || message.back() != 0xF7
            || message[7] >= kSector
            || Handler::BlockChecksum(
                   std::span(message).subspan(8, Handler::kPackedBytes), message[6], message[7])
                != message[Handler::kBlockMessageBytes - 2]) {
            if (damaged++ == 0)
                firstDamage = where;
            continue;
        }
        const std::size_t index = std::size_t { message[6] } * kSector + message[7];
        auto data = Unpack(std::span(message).subspan(8, Handler::kPackedBytes));
        if (const auto it = blocks.find(index); it != blocks.end()) {
            if (it->second != data)
                ++differing;
            it->second = std::move(data);
        } else {
            blocks.emplace(index, std::move(data));
        }
    }
    if (blocks.empty()) {
        error = damaged > 0 ? "Its write-block messages are all damaged (checksums wrong), so no "
                              "block of the card can be read."
                            : "It holds no write-block message: it is no capture of a card "
                              "transfer.";
        return std::nullopt;
    }
    if (damaged > 0)
        card.notes.push_back(std::to_string(damaged) + " damaged write-block message"
            + (damaged == 1 ? "" : "s") + " (the first for " + firstDamage + ") left out.");
    if (differing > 0)
        card.notes.push_back(std::to_string(differing) + " block"
            + (differing == 1 ? " was" : "s were")
            + " sent again with other bytes; the last one sent is taken.");

    // The card header says how long the image is: in block 0, or after a Zelta bank's 64 blocks.
    const auto header = [&](std::size_t block) -> std::optional<std::size_t> {
        const auto it = blocks.find(block);
        if (it == blocks.end() || !LooksLikeCardImage(it->second))
            return std::nullopt;
        const auto& b = it->second;
        const std::uint32_t size = (std::uint32_t(b[4]) << 24) | (std::uint32_t(b[5]) << 16)
            | (std::uint32_t(b[6]) << 8) | b[7];
        return std::size_t { size & 0x01FFFFFF } * 2;
    };
    std::optional<std::size_t> total;
    const auto first = blocks.find(0);
    if (first != blocks.end() && first->second[0] == 0xA5 && first->second[1] == 0xC3)
        total = header(kZeltaBankArea / kBlock);
    else
        total = header(0);
    if (!total) {
        const bool zelta = first != blocks.end() && first->second[0] == 0xA5;
        error = "The block that holds the card header ("
            + Place(zelta ? kZeltaBankArea / kBlock : 0) + ") is "
            + (blocks.count(zelta ? kZeltaBankArea / kBlock : 0) ? "not a card header" : "missing")
            + ", so the card's size is not known.";
        return std::nullopt;
    }
    const std::size_t count = (*total + kBlock - 1) / kBlock;
    card.image.assign(count * kBlock, 0);
    for (std::size_t i = 0; i < count; ++i) {
        const auto it = blocks.find(i);
        if (it == blocks.end())
            card.missing.push_back(i);
        else
            std::copy(it->second.begin(), it->second.end(),
                card.image.begin() + static_cast<std::ptrdiff_t>(i * kBlock));
    }
    const std::size_t beyond = static_cast<std::size_t>(std::count_if(
        blocks.begin(), blocks.end(), [&](const auto& entry) { return entry.first >= count; }));
    if (beyond > 0)
        card.notes.push_back(std::to_string(beyond) + " block" + (beyond == 1 ? "" : "s")
            + " past the card's end (" + std::to_string(*total) + " bytes) left out.");
    card.image.resize(*total);
    return card;
}

std::optional<CardFile> ReadCardFile(
    const std::string& path, const std::array<std::uint8_t, 3>& maker, std::string& error)
{
    auto bytes = ReadWholeFile(path, kLargestFile);
    if (!bytes) {
        const auto status = StatFile(path);
        error = "can't read '" + path + "': "
            + (!status                            ? std::strerror(ENOENT)
                    : status->directory           ? "it is a folder"
                    : status->size > kLargestFile ? "it is larger than any card or capture"
                                                  : "it is not a readable file");
        return std::nullopt;
    }
    CardFile file;
    file.wasCapture = !LooksLikeCardImage(*bytes) && LooksLikeCapture(*bytes);
    if (!file.wasCapture) {
        file.image = std::move(*bytes);
        return file;
    }
    auto capture = ReassembleCapture(*bytes, maker, error);
    if (!capture) {
        error = "'" + path + "': " + error;
        return std::nullopt;
    }
    file.image = std::move(capture->image);
    file.notes = std::move(capture->notes);
    if (!capture->missing.empty())
        file.holes = "The capture '" + path + "' lacks " + capture->MissingText()
            + "; they read as zeros.";
    return file;
}

} // namespace cardmill
