#pragma once

#include "platform/SettingsStore.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace cardmill {

/// How fast messages go to the instrument. Cheap USB-MIDI interfaces lose bytes of a long
/// message handed to them at once (a small buffer overflows, or a byte at a fixed place of a
/// long burst is dropped); written in short pieces spaced to a rate they pass it whole. A pace
/// is in bytes a second; 0 is full speed (each message written whole, as fast as the port
/// takes it).
struct LinkPace {
    static constexpr std::uint32_t kFullSpeed = 0;
    /// A DIN MIDI cable's own rate (31,250 baud, 10 bits a byte): no interface needs slower.
    static constexpr std::uint32_t kDinRate = 3125;
    /// The first pace after full speed failed: ten times the DIN rate, so a link that only
    /// needs short pieces with pauses between them loses little time, while four halvings
    /// (15,625, 7,812, 3,906, then the DIN rate) reach the slowest any interface needs.
    static constexpr std::uint32_t kFirstPaced = 31250;
    /// The range a user may ask for.
    static constexpr std::uint32_t kSlowest = 1000;
    static constexpr std::uint32_t kFastest = 1000000;
    static constexpr std::size_t kLongestPiece = 256;
    /// A piece holds what the pace carries in this time: small pieces keep a small buffer from
    /// filling at any pace, and leave room for a piece that goes a little late.
    static constexpr std::uint32_t kPieceMs = 5;
    /// Failures of one message at one pace before the next tries go slower.
    static constexpr int kFailuresBeforeSlowing = 2;

    /// The bytes of one piece at `pace` (at least 8, at most kLongestPiece); a message at full
    /// speed is one piece.
    static std::size_t PieceBytes(std::uint32_t pace);
    /// The pace after a message failed twice at `pace`: half of it, never below the DIN rate;
    /// kFirstPaced after full speed. Nothing when `pace` is already at or below the DIN rate.
    static std::optional<std::uint32_t> Slower(std::uint32_t pace);
    /// "3,125 bytes a second", or "full speed".
    static std::string Text(std::uint32_t pace);
    /// A number with thousands commas: "31,250".
    static std::string Grouped(std::uint32_t number);
    /// --pace's value: 0 (full speed) or kSlowest to kFastest; on refusal nothing, and `error`
    /// says why.
    static std::optional<std::uint32_t> Parse(const std::string& text, std::string& error);
};

/// The pace that worked on each port, kept in the settings (section "Pacing", one key per port
/// name), so that the next transfer through an interface that loses bytes starts at it.
class PortPaces {
public:
    static constexpr const char* kSection = "Pacing";

    explicit PortPaces(SettingsStore& settingsStore)
        : store(settingsStore)
    {
    }

    /// The remembered pace of `port` (kFullSpeed when it was forgotten), nothing when none was
    /// ever stored or the stored value is no pace.
    std::optional<std::uint32_t> Find(const std::string& port) const;
    /// Stores `pace` for `port` at once (another program's settings taken in first); false
    /// when it could not be stored.
    bool Remember(const std::string& port, std::uint32_t pace);
    /// Every port with a remembered pace other than full speed, in the order stored.
    std::vector<std::pair<std::string, std::uint32_t>> All() const;
    /// The key of a port name: '=' and '%' escaped, as the settings file can't hold them in a
    /// key, and no blanks at the ends, which it would trim.
    static std::string Key(const std::string& port);
    static std::string PortOf(const std::string& key);

private:
    SettingsStore& store;
};

} // namespace cardmill
