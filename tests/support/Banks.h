#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace cardmill::test {

using Bytes = std::vector<std::uint8_t>;

/// 8-bit data in SysEx form: a little-endian stream of 7-bit units, 8 bytes for each 7.
Bytes Pack7(const Bytes& data);

/// A valid bank capture of a family (0x0E or 0x19) whose messages carry `unpacked(section,
/// message, byte)`; everything the capture layout does not use is zero.
struct BankCapture {
    std::uint16_t family = 0x0E;
    std::array<std::uint8_t, 3> maker { 0x00, 0x00, 0x0E };

    /// The unpacked byte a message carries (a pattern the tests can recompute).
    static std::uint8_t Unpacked(int section, int message, std::size_t index)
    {
        return static_cast<std::uint8_t>(section * 61 + message * 7 + index * 13 + 1);
    }
    Bytes Build() const;
};

} // namespace cardmill::test
