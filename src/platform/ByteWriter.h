#pragma once

#include "ByteReader.h"

#include <algorithm>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace cardmill {

/// Mirror image of ByteReader: appends numbers in a stated byte order to a growing buffer, and
/// patches values at offsets already written. Records are laid out field by field, never by
/// casting structs onto bytes.
class ByteWriter {
public:
    std::size_t Size() const noexcept { return bytes.size(); }
    const std::vector<std::uint8_t>& Bytes() const noexcept { return bytes; }
    std::vector<std::uint8_t> Take() noexcept { return std::move(bytes); }

    template <std::unsigned_integral T> ByteWriter& Write(T value, Endian order)
    {
        for (std::size_t i = 0; i < sizeof(T); ++i) {
            const std::size_t shift = 8 * (order == Endian::Little ? i : sizeof(T) - 1 - i);
            bytes.push_back(static_cast<std::uint8_t>(value >> shift));
        }
        return *this;
    }

    ByteWriter& U8(std::uint8_t value)
    {
        bytes.push_back(value);
        return *this;
    }
    ByteWriter& U16(std::uint16_t value, Endian order) { return Write(value, order); }
    ByteWriter& U32(std::uint32_t value, Endian order) { return Write(value, order); }

    // Grown with resize and filled in place: g++ 12 at -O3 takes vector::insert of a range into
    // a fresh small buffer for an overflow (a false -Wstringop-overflow).
    ByteWriter& Append(std::span<const std::uint8_t> data)
    {
        const std::size_t at = bytes.size();
        bytes.resize(at + data.size());
        std::copy(data.begin(), data.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at));
        return *this;
    }
    ByteWriter& Append(std::string_view text)
    {
        const std::size_t at = bytes.size();
        bytes.resize(at + text.size());
        std::transform(text.begin(), text.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at),
            [](char c) { return static_cast<std::uint8_t>(c); });
        return *this;
    }
    ByteWriter& Fill(std::size_t count, std::uint8_t value = 0)
    {
        bytes.insert(bytes.end(), count, value);
        return *this;
    }

    /// Overwrites an already written value; false (and nothing changed) when it would not fit.
    template <std::unsigned_integral T> bool PatchAt(std::size_t offset, T value, Endian order)
    {
        if (offset > bytes.size() || bytes.size() - offset < sizeof(T))
            return false;
        for (std::size_t i = 0; i < sizeof(T); ++i) {
            const std::size_t shift = 8 * (order == Endian::Little ? i : sizeof(T) - 1 - i);
            bytes[offset + i] = static_cast<std::uint8_t>(value >> shift);
        }
        return true;
    }

private:
    std::vector<std::uint8_t> bytes;
};

/// Stores a number into a fixed-size byte area at a checked offset (card header, voice records).
template <std::unsigned_integral T>
bool StoreAt(std::span<std::uint8_t> area, std::size_t offset, T value, Endian order)
{
    if (offset > area.size() || area.size() - offset < sizeof(T))
        return false;
    for (std::size_t i = 0; i < sizeof(T); ++i) {
        const std::size_t shift = 8 * (order == Endian::Little ? i : sizeof(T) - 1 - i);
        area[offset + i] = static_cast<std::uint8_t>(value >> shift);
    }
    return true;
}

} // namespace cardmill
