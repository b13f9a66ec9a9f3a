#include "Json.h"

#include "model/TextEncoding.h"

#include <cstdio>

namespace cardmill {

std::string JsonEscape(std::string_view bytes)
{
    // JSON is UTF-8: paths in another encoding and 8-bit names become valid text first.
    const std::string text = DisplayText(bytes);
    std::string escaped;
    for (const char c : text) {
        switch (c) {
        case '"':
            escaped += "\\\"";
            break;
        case '\\':
            escaped += "\\\\";
            break;
        case '\n':
            escaped += "\\n";
            break;
        case '\r':
            escaped += "\\r";
            break;
        case '\t':
            escaped += "\\t";
            break;
        default:
            if (static_cast<unsigned char>(c) < 0x20) {
                char code[8];
                std::snprintf(code, sizeof code, "\\u%04x", static_cast<unsigned char>(c));
                escaped += code;
            } else {
                escaped += c;
            }
        }
    }
    return escaped;
}

JsonWriter& JsonWriter::PathField(std::string_view key, std::string_view path)
{
    Field(key, path);
    if (IsValidUtf8(path))
        return *this;
    std::string hex;
    for (const char c : path) {
        char digits[3];
        std::snprintf(digits, sizeof digits, "%02x", static_cast<unsigned char>(c));
        hex += digits;
    }
    return Field(std::string(key) + "Bytes", hex);
}

void JsonWriter::NewLine()
{
    out += '\n';
    out.append(2 * hasItems.size(), ' ');
}

void JsonWriter::BeforeValue()
{
    if (afterKey) {
        afterKey = false;
        return;
    }
    if (!hasItems.empty()) {
        if (hasItems.back())
            out += ',';
        hasItems.back() = true;
        NewLine();
    }
}

JsonWriter& JsonWriter::Open(char bracket)
{
    BeforeValue();
    out += bracket;
    hasItems.push_back(false);
    return *this;
}

JsonWriter& JsonWriter::Close(char bracket)
{
    const bool any = hasItems.back();
    hasItems.pop_back();
    if (any)
        NewLine();
    out += bracket;
    if (hasItems.empty())
        out += '\n';
    return *this;
}

JsonWriter& JsonWriter::Key(std::string_view key)
{
    BeforeValue();
    out += '"' + JsonEscape(key) + "\": ";
    afterKey = true;
    return *this;
}

JsonWriter& JsonWriter::String(std::string_view value)
{
    BeforeValue();
    out += '"' + JsonEscape(value) + '"';
    return *this;
}

JsonWriter& JsonWriter::Number(std::int64_t value)
{
    BeforeValue();
    out += std::to_string(value);
    return *this;
}

JsonWriter& JsonWriter::Bool(bool value)
{
    BeforeValue();
    out += value ? "true" : "false";
    return *this;
}

} // namespace cardmill
