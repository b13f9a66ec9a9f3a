#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace cardmill::test {

using Bytes = std::vector<std::uint8_t>;

/// The 7-bit form of a 1024-byte block written out term by term, as the instrument's manual
/// gives it, so the packer under test is checked against something it does not share.
inline Bytes ReferencePack(const Bytes& d)
{
    Bytes out;
    auto add = [&out](int value) { out.push_back(static_cast<std::uint8_t>(value)); };
    for (std::size_t g = 0; g < 146; ++g) {
        const std::uint8_t* b = &d[g * 7];
        add(b[0] & 0x7F);
        add(((b[1] & 0x3F) << 1) | (b[0] >> 7));
        add(((b[2] & 0x1F) << 2) | (b[1] >> 6));
        add(((b[3] & 0x0F) << 3) | (b[2] >> 5));
        add(((b[4] & 0x07) << 4) | (b[3] >> 4));
        add(((b[5] & 0x03) << 5) | (b[4] >> 3));
        add(((b[6] & 0x01) << 6) | (b[5] >> 2));
        add(b[6] >> 1);
    }
    add(d[1022] & 0x7F);
    add(((d[1023] & 0x3F) << 1) | (d[1022] >> 7));
    add(d[1023] >> 6);
    return out;
}

/// A block whose bytes all differ from their neighbours, with every bit pattern in play.
inline Bytes PatternBlock(unsigned seed)
{
    Bytes data(1024);
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<std::uint8_t>(i * 37 + seed * 101 + (i >> 8));
    return data;
}

} // namespace cardmill::test
