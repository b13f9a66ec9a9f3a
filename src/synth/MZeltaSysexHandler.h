#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace cardmill {

/// The System Exclusive protocol with the instrument. This part holds the device table and the
/// maker's manufacturer identifier that every maker-specific message carries.
class MZeltaSysexHandler {
public:
    /// The maker's three-byte manufacturer identifier (M1 M2 M3). The command line's --maker-id
    /// replaces it for a run.
    static constexpr std::array<std::uint8_t, 3> kMakerId { 0x00, 0x00, 0x0E };

    static constexpr std::uint16_t kZelta = 0x0E;
    static constexpr std::uint16_t kTinyloop = 0x17;
    static constexpr std::uint16_t kPercula = 0x19;

    static std::string GetFamilyName(std::uint16_t family)
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
};

} // namespace cardmill
