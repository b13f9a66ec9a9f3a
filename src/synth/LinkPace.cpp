#include "synth/LinkPace.h"

#include "platform/ParseNumber.h"

#include <algorithm>

namespace cardmill {

std::size_t LinkPace::PieceBytes(std::uint32_t pace)
{
    if (pace == kFullSpeed)
        return SIZE_MAX;
    const std::uint64_t bytes = std::uint64_t { pace } * kPieceMs / 1000;
    return static_cast<std::size_t>(std::clamp<std::uint64_t>(bytes, 8, kLongestPiece));
}

std::optional<std::uint32_t> LinkPace::Slower(std::uint32_t pace)
{
    if (pace == kFullSpeed)
        return kFirstPaced;
    if (pace <= kDinRate)
        return std::nullopt;
    return std::max(pace / 2, kDinRate);
}

std::string LinkPace::Grouped(std::uint32_t number)
{
    std::string digits = std::to_string(number);
    for (std::size_t at = digits.size(); at > 3; at -= 3)
        digits.insert(at - 3, ",");
    return digits;
}

std::string LinkPace::Text(std::uint32_t pace)
{
    return pace == kFullSpeed ? std::string("full speed") : Grouped(pace) + " bytes a second";
}

std::optional<std::uint32_t> LinkPace::Parse(const std::string& text, std::string& error)
{
    const auto number = ParseNumber(text, 0, kFastest);
    if (!number || (*number != kFullSpeed && *number < kSlowest)) {
        error = "--pace takes bytes a second from " + Grouped(kSlowest) + " to " + Grouped(kFastest)
            + " (3125 is a DIN MIDI cable's rate), or 0 for full speed, not '" + text + "'";
        return std::nullopt;
    }
    return static_cast<std::uint32_t>(*number);
}

std::string PortPaces::Key(const std::string& port)
{
    std::string key;
    for (std::size_t i = 0; i < port.size(); ++i) {
        const char c = port[i];
        const bool end = i == 0 || i + 1 == port.size();
        if (c == '=' || c == '%' || (end && (c == ' ' || c == '\t'))) {
            static constexpr char kHex[] = "0123456789ABCDEF";
            const auto byte = static_cast<unsigned char>(c);
            key += '%';
            key += kHex[byte >> 4];
            key += kHex[byte & 0x0F];
        } else {
            key += c;
        }
    }
    return key;
}

std::string PortPaces::PortOf(const std::string& key)
{
    std::string port;
    for (std::size_t i = 0; i < key.size(); ++i) {
        const auto hex = [&](std::size_t at) -> int {
            if (at >= key.size())
                return -1;
            const char c = key[at];
            if (c >= '0' && c <= '9')
                return c - '0';
            if (c >= 'A' && c <= 'F')
                return c - 'A' + 10;
            return -1;
        };
        if (key[i] == '%' && hex(i + 1) >= 0 && hex(i + 2) >= 0) {
            port += static_cast<char>(hex(i + 1) * 16 + hex(i + 2));
            i += 2;
        } else {
            port += key[i];
        }
    }
    return port;
}

std::vector<std::pair<std::string, std::uint32_t>> PortPaces::All() const
{
    std::vector<std::pair<std::string, std::uint32_t>> paces;
    std::string ignored;
    for (const auto& [key, value] : store.Entries(kSection))
        if (const auto pace = LinkPace::Parse(value, ignored); pace && *pace != 0)
            paces.emplace_back(PortOf(key), *pace);
    return paces;
}

std::optional<std::uint32_t> PortPaces::Find(const std::string& port) const
{
    const auto text = store.Find(kSection, Key(port));
    if (!text)
        return std::nullopt;
    std::string ignored;
    return LinkPace::Parse(*text, ignored);
}

bool PortPaces::Remember(const std::string& port, std::uint32_t pace)
{
    // The desktop application and other commands may have written the file meanwhile.
    store.Reload();
    if (store.Find(kSection, Key(port)) == std::to_string(pace))
        return true;
    store.SetInt(kSection, Key(port), pace);
    return store.Flush();
}

} // namespace cardmill
