#include "model/TextFields.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>

namespace cardmill {

std::string CompactName(std::string_view text, std::size_t limit)
{
    std::string name(text);
    while (!name.empty() && name.back() == ' ')
        name.pop_back();
    while (name.size() > limit) {
        const auto blank = name.find(' ');
        if (blank == std::string::npos)
            break;
        name.erase(blank, 1);
        if (blank < name.size() && name[blank] >= 'a' && name[blank] <= 'z')
            name[blank] = static_cast<char>(name[blank] - 'a' + 'A');
    }
    if (name.size() > limit)
        name.resize(limit);
    return name;
}

void WriteBlankFilled(ByteWriter& out, std::string_view text, std::size_t width)
{
    const std::size_t used = std::min(text.size(), width);
    out.Append(text.substr(0, used));
    out.Fill(width - used, ' ');
}

bool FitsLengthPrefixed(std::string_view text, std::size_t fieldSize)
{
    return fieldSize > 0 && text.size() <= fieldSize - 1 && text.size() <= 255;
}

void WriteLengthPrefixed(ByteWriter& out, std::string_view text, std::size_t fieldSize)
{
    const std::size_t used = std::min({ text.size(), fieldSize - 1, std::size_t { 255 } });
    out.U8(static_cast<std::uint8_t>(used));
    out.Append(text.substr(0, used));
    out.Fill(fieldSize - 1 - used);
}

std::string ReadLengthPrefixed(const ByteReader& field, std::size_t offset, std::size_t fieldSize)
{
    const auto length = field.U8At(offset);
    if (!length || fieldSize == 0)
        return {};
    const std::size_t count = std::min<std::size_t>(*length, fieldSize - 1);
    const auto body = field.SubAt(offset + 1, count);
    if (!body)
        return {};
    const auto bytes = body->Data();
    return std::string(bytes.begin(), bytes.end());
}

std::string ReadTerminated(std::span<const std::uint8_t> field)
{
    const auto end = std::find(field.begin(), field.end(), std::uint8_t { 0 });
    return std::string(field.begin(), end);
}

std::string WithArticle(std::string_view noun)
{
    const bool vowel = !noun.empty()
        && std::string_view("aeiouAEIOU").find(noun.front()) != std::string_view::npos;
    return (vowel ? "an " : "a ") + std::string(noun);
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z')
            x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z')
            y = static_cast<char>(y - 'A' + 'a');
        if (x != y)
            return false;
    }
    return true;
}

bool EndsWithExtension(std::string_view path, std::string_view extension)
{
    const auto slash = path.find_last_of('/');
    const std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
    if (name.size() <= extension.size())
        return false;
    return EqualsIgnoringCase(name.substr(name.size() - extension.size()), extension);
}

std::string UpperAscii(std::string_view text)
{
    std::string upper(text);
    for (char& c : upper)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return upper;
}

std::string LowerAscii(std::string_view text)
{
    std::string lower(text);
    for (char& c : lower)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return lower;
}

std::uint32_t FourCCOf(std::string_view code)
{
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i)
        value = (value << 8) | (i < code.size() ? static_cast<std::uint8_t>(code[i]) : 0x20);
    return value;
}

std::string Format(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    const int size = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::string text(size > 0 ? static_cast<std::size_t>(size) : 0, '\0');
    if (size > 0)
        std::vsnprintf(text.data(), text.size() + 1, format, args);
    va_end(args);
    return text;
}

} // namespace cardmill
