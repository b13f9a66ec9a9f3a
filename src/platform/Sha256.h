#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace cardmill {

/// SHA-256 (FIPS 180-4), fed in pieces of any size.
class Sha256 {
public:
    Sha256();
    void Add(std::span<const std::uint8_t> bytes);
    /// The digest as 64 lower-case hex digits; the object is spent afterwards.
    std::string HexDigest();

    static std::string Of(std::span<const std::uint8_t> bytes);

private:
    void Compress(const std::uint8_t* chunk);

    std::array<std::uint32_t, 8> state {};
    std::array<std::uint8_t, 64> pending {};
    std::size_t pendingCount = 0;
    std::uint64_t totalBytes = 0;
};

} // namespace cardmill
