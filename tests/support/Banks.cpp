#include "Banks.h"

namespace cardmill::test {

Bytes Pack7(const Bytes& data)
{
    Bytes out;
    std::uint32_t bits = 0;
    int count = 0;
    for (const std::uint8_t byte : data) {
        bits |= std::uint32_t { byte } << count;
        count += 8;
        while (count >= 7) {
            out.push_back(static_cast<std::uint8_t>(bits & 0x7F));
            bits >>= 7;
            count -= 7;
        }
    }
    if (count > 0)
        out.push_back(static_cast<std::uint8_t>(bits & 0x7F));
    return out;
}

namespace {

struct Layout {
    std::size_t offset;
    int messages;
    std::size_t messageBytes;
    std::size_t unpackedBytes;
};

} // namespace

Bytes BankCapture::Build() const
{
    const bool zelta = family == 0x0E;
    const std::vector<Layout> layout = zelta ? std::vector<Layout> { { 0, 128, 408, 350 },
        { 52224, 128, 83, 65 }, { 62848, 100, 166, 138 }, { 79448, 1, 31, 0 } }
                                             : std::vector<Layout> { { 0, 128, 198, 166 },
                                                   { 25344, 64, 36, 24 }, { 27648, 64, 648, 560 } };
    Bytes file(zelta ? 79479 : 69525, 0);
    for (std::size_t s = 0; s < layout.size(); ++s) {
        for (int m = 0; m < layout[s].messages; ++m) {
            const std::size_t at
                = layout[s].offset + layout[s].messageBytes * static_cast<std::size_t>(m);
            file[at] = 0xF0;
            file[at + 1] = maker[0];
            file[at + 2] = maker[1];
            file[at + 3] = maker[2];
            file[at + 4] = static_cast<std::uint8_t>(family);
            file[at + 5] = 0; // the family is bytes 4 and 5, little-endian
            file[at + 6] = 0;
            Bytes data(layout[s].unpackedBytes);
            for (std::size_t i = 0; i < data.size(); ++i)
                data[i] = Unpacked(static_cast<int>(s), m, i);
            const Bytes packed = Pack7(data);
            std::copy(
                packed.begin(), packed.end(), file.begin() + static_cast<std::ptrdiff_t>(at + 7));
            file[at + layout[s].messageBytes - 1] = 0xF7;
        }
    }
    return file;
}

} // namespace cardmill::test
