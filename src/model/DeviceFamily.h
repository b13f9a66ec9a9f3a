#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace cardmill {

/// The kinds of instrument, by the one-byte family code that names them both as a project's
/// target and in every System Exclusive message.
inline constexpr std::uint16_t kZelta = 0x0E;
inline constexpr std::uint16_t kTinyloop = 0x17;
inline constexpr std::uint16_t kPercula = 0x19;

inline std::string GetFamilyName(std::uint16_t family)
{
    switch (family) {
    case kZelta:
        return "Zelta Synthesizer";
    case kTinyloop:
        return "Tinyloop";
    case kPercula:
        return "Percula";
    default:
        return "unknown";
    }
}

using MakerId = std::array<std::uint8_t, 3>;

/// The maker's three-byte manufacturer identifier (M1 M2 M3) that every maker-specific System
/// Exclusive message carries: program-bank captures and the link with the instrument. The
/// command line's --maker-id and the setting Hardware/MakerId replace it for a run.
inline constexpr MakerId kMakerId { 0x00, 0x00, 0x0E };

} // namespace cardmill
