#pragma once

#include <charconv>
#include <cstdint>
#include <optional>
#include <string_view>

namespace cardmill {

/// A number the user typed (an option, an argument, a preference's value): decimal digits and
/// nothing else (no sign, no spaces, no trailing text), from `lowest` to `highest`; nothing
/// otherwise. Values too large for 64 bits are out of range, never cut to fewer bits.
inline std::optional<std::uint64_t> ParseNumber(
    std::string_view text, std::uint64_t lowest, std::uint64_t highest) noexcept
{
    if (text.empty())
        return std::nullopt;
    for (const char c : text)
        if (c < '0' || c > '9')
            return std::nullopt;
    std::uint64_t value = 0;
    const auto [end, status] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (status != std::errc() || end != text.data() + text.size() || value < lowest
        || value > highest)
        return std::nullopt;
    return value;
}

} // namespace cardmill
