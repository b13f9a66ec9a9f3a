#pragma once

#include <concepts>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace cardmill {

enum class Endian { Little, Big };

/// Bounds-checked view over bytes read from a file; a failed read leaves the cursor alone.
/// Every reader of untrusted input parses through this class.
class ByteReader {
public:
    ByteReader() noexcept = default;
    explicit ByteReader(std::span<const std::uint8_t> data) noexcept
        : bytes(data)
    {
    }

    std::size_t Position() const noexcept { return pos; }
    std::size_t Size() const noexcept { return bytes.size(); }
    std::size_t Remaining() const noexcept { return bytes.size() - pos; }
    std::span<const std::uint8_t> Data() const noexcept { return bytes; }

    template <std::unsigned_integral T> std::optional<T> Read(Endian order) noexcept
    {
        auto value = ReadAt<T>(pos, order);
        if (value)
            pos += sizeof(T);
        return value;
    }

    /// A value at an absolute offset of this view; the cursor does not move.
    template <std::unsigned_integral T>
    std::optional<T> ReadAt(std::size_t offset, Endian order) const noexcept
    {
        if (offset > bytes.size() || bytes.size() - offset < sizeof(T))
            return std::nullopt;
        T value = 0;
        for (std::size_t i = 0; i < sizeof(T); ++i) {
            const std::size_t shift = 8 * (order == Endian::Little ? i : sizeof(T) - 1 - i);
            value = static_cast<T>(value | static_cast<T>(T(bytes[offset + i]) << shift));
        }
        return value;
    }

    std::optional<std::uint8_t> U8() noexcept { return Read<std::uint8_t>(Endian::Big); }
    std::optional<std::uint16_t> U16(Endian order) noexcept { return Read<std::uint16_t>(order); }
    std::optional<std::uint32_t> U32(Endian order) noexcept { return Read<std::uint32_t>(order); }
    std::optional<std::uint8_t> U8At(std::size_t offset) const noexcept
    {
        return ReadAt<std::uint8_t>(offset, Endian::Big);
    }
    std::optional<std::uint16_t> U16At(std::size_t offset, Endian order) const noexcept
    {
        return ReadAt<std::uint16_t>(offset, order);
    }
    std::optional<std::uint32_t> U32At(std::size_t offset, Endian order) const noexcept
    {
        return ReadAt<std::uint32_t>(offset, order);
    }

    /// The next `count` bytes, or nothing when fewer remain.
    std::optional<std::span<const std::uint8_t>> Bytes(std::size_t count) noexcept
    {
        if (Remaining() < count)
            return std::nullopt;
        auto result = bytes.subspan(pos, count);
        pos += count;
        return result;
    }

    /// The next `count` bytes as a reader of their own (one chunk's body), or nothing.
    std::optional<ByteReader> Take(std::size_t count) noexcept
    {
        auto span = Bytes(count);
        if (!span)
            return std::nullopt;
        return ByteReader(*span);
    }

    /// `count` bytes from an absolute offset as a reader of their own; the cursor does not move.
    std::optional<ByteReader> SubAt(std::size_t offset, std::size_t count) const noexcept
    {
        if (offset > bytes.size() || bytes.size() - offset < count)
            return std::nullopt;
        return ByteReader(bytes.subspan(offset, count));
    }

    /// Everything from an absolute offset to the end, or nothing when the offset lies past it.
    std::optional<ByteReader> From(std::size_t offset) const noexcept
    {
        if (offset > bytes.size())
            return std::nullopt;
        return ByteReader(bytes.subspan(offset));
    }

    bool Skip(std::size_t count) noexcept
    {
        if (Remaining() < count)
            return false;
        pos += count;
        return true;
    }

    bool Seek(std::size_t offset) noexcept
    {
        if (offset > bytes.size())
            return false;
        pos = offset;
        return true;
    }

    /// Four bytes at an absolute offset compared with a four-character code.
    bool HasCodeAt(std::size_t offset, std::string_view code) const noexcept
    {
        if (code.size() != 4 || offset > bytes.size() || bytes.size() - offset < 4)
            return false;
        for (std::size_t i = 0; i < 4; ++i)
            if (bytes[offset + i] != static_cast<std::uint8_t>(code[i]))
                return false;
        return true;
    }

private:
    std::span<const std::uint8_t> bytes;
    std::size_t pos = 0;
};

} // namespace cardmill
