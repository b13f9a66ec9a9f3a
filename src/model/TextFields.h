#pragma once

#include "platform/ByteReader.h"
#include "platform/ByteWriter.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace cardmill {

/// Name compaction to a limit: trailing blanks go; while too long, the first blank goes and the
/// letter after it becomes upper case; what is still too long is cut ("grand piano cee3" with 10
/// gives "grandPiano").
std::string CompactName(std::string_view text, std::size_t limit);

/// A card name field: the text up to `width` bytes, the rest blanks (0x20), no terminator.
void WriteBlankFilled(ByteWriter& out, std::string_view text, std::size_t width);

/// A length-prefixed string in a field of `fieldSize` bytes: a length byte, the characters, zeros.
/// The text must fit (at most fieldSize - 1 and at most 255 characters); callers check first.
void WriteLengthPrefixed(ByteWriter& out, std::string_view text, std::size_t fieldSize);
/// True when a text can be stored as a length-prefixed string in a field of `fieldSize` bytes.
bool FitsLengthPrefixed(std::string_view text, std::size_t fieldSize);
/// The string of a length-prefixed field, its length limited to what the field holds.
std::string ReadLengthPrefixed(const ByteReader& field, std::size_t offset, std::size_t fieldSize);

/// The characters of a NUL-terminated field (all of it when there is no NUL).
std::string ReadTerminated(std::span<const std::uint8_t> field);

/// Extension test of the format interpreters: the file's name (the part after the last "/") is
/// longer than the extension and ends with it, the letters a to z compared without regard to case
/// and other characters exactly. A file named only ".wav" has no name before its extension.
bool EndsWithExtension(std::string_view path, std::string_view extension);

/// Letters a to z made upper (or A to Z lower) case; other characters unchanged.
std::string UpperAscii(std::string_view text);
std::string LowerAscii(std::string_view text);
bool EqualsIgnoringCase(std::string_view a, std::string_view b);
/// The noun with "a" or "an" before it, as its first letter asks ("an instrument file").
std::string WithArticle(std::string_view noun);

/// A four-character code as the big-endian number it reads as.
constexpr std::uint32_t FourCC(const char (&code)[5])
{
    return (std::uint32_t(std::uint8_t(code[0])) << 24)
        | (std::uint32_t(std::uint8_t(code[1])) << 16) | (std::uint32_t(std::uint8_t(code[2])) << 8)
        | std::uint32_t(std::uint8_t(code[3]));
}

/// The same of a code known only at run time (its first four characters).
std::uint32_t FourCCOf(std::string_view code);

/// printf-style formatting into a std::string.
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));

} // namespace cardmill
