#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace cardmill {

/// A small JSON writer: indented output, strings escaped, numbers as JSON numbers.
class JsonWriter {
public:
    JsonWriter& BeginObject() { return Open('{'); }
    JsonWriter& EndObject() { return Close('}'); }
    JsonWriter& BeginArray() { return Open('['); }
    JsonWriter& EndArray() { return Close(']'); }
    JsonWriter& Key(std::string_view key);
    JsonWriter& String(std::string_view value);
    JsonWriter& Number(std::int64_t value);
    JsonWriter& Bool(bool value);

    template <typename T> JsonWriter& Field(std::string_view key, const T& value)
    {
        Key(key);
        if constexpr (std::is_same_v<T, bool>)
            return Bool(value);
        else if constexpr (std::is_arithmetic_v<T>)
            return Number(static_cast<std::int64_t>(value));
        else
            return String(value);
    }

    /// A file's path: as text, and when its bytes are not UTF-8 also `key`Bytes, the bytes in
    /// hexadecimal, which lead back to the file.
    JsonWriter& PathField(std::string_view key, std::string_view path);

    const std::string& Text() const { return out; }

private:
    JsonWriter& Open(char bracket);
    JsonWriter& Close(char bracket);
    void BeforeValue();
    void NewLine();

    std::string out;
    std::vector<bool> hasItems; // per open bracket: something was written in it
    bool afterKey = false;
};

/// A JSON string's contents: valid UTF-8 whatever the bytes, with the characters JSON needs
/// escaped.
std::string JsonEscape(std::string_view bytes);

} // namespace cardmill
