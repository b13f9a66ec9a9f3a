#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace cardmill {

/// A card transfer captured as SysEx (a MIDI monitor's log of what was sent to the instrument)
/// put back together: the blocks of the write-block messages in their places, whatever their
/// order, a block sent again taken from its last good message.
struct CapturedCard {
    std::vector<std::uint8_t> image; // cut to the size its card header gives
    std::vector<std::size_t> missing; // indexes of blocks no good message brought (zeros)
    std::vector<std::string> notes; // what was left out (damaged messages), one sentence each
    /// "sector 1, block 3 and sector 2, blocks 1 to 128" (counted from 1, as the transfer shows).
    std::string MissingText() const;
};

/// True when the bytes begin as a capture: SysEx holding a write-block message early on.
bool LooksLikeCapture(std::span<const std::uint8_t> bytes);

/// Reassembles a capture; nothing, with `error` saying why, when it holds no write block or its
/// card header can't be found.
std::optional<CapturedCard> ReassembleCapture(std::span<const std::uint8_t> bytes,
    const std::array<std::uint8_t, 3>& maker, std::string& error);

/// What a card image file or a capture file holds, as both roads to unpacking read it.
struct CardFile {
    std::vector<std::uint8_t> image;
    bool wasCapture = false;
    std::vector<std::string> notes; // what the capture left out
    std::string holes; // "The capture '...' lacks ...; they read as zeros." when blocks are missing
};

/// Reads an image file, or a capture put back together; nothing, with `error` saying why ("can't
/// read 'x': No such file or directory").
std::optional<CardFile> ReadCardFile(
    const std::string& path, const std::array<std::uint8_t, 3>& maker, std::string& error);

} // namespace cardmill
