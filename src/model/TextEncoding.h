#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace cardmill {

/// The 8-bit character sets that the files we read were written in: Windows-1252 by Windows
/// programs (WAV, standard MIDI files, SysEx captures, project and instrument files), Mac Roman by
/// Mac programs (AIFF, Sound Designer, SampleCell).
enum class Charset { Windows1252, MacRoman };

bool IsValidUtf8(std::string_view bytes);

/// Text read from a file, as UTF-8. Text that is valid UTF-8 and holds a character beyond ASCII
/// was written by a current program and is kept; any other text is read byte by byte in
/// `charset`. Whatever the bytes, the result is valid UTF-8.
std::string DecodeText(std::string_view bytes, Charset charset);

/// Text for display and JSON: valid UTF-8 as it stands, anything else (a path in another
/// encoding, a name stored by a Windows program) read as Windows-1252.
inline std::string DisplayText(std::string_view bytes)
{
    return DecodeText(bytes, Charset::Windows1252);
}

/// Text for a terminal line that mixes messages with names in any encoding: its valid UTF-8
/// sequences as they stand, each other byte read as Windows-1252. A sequence cut short at the end
/// is left in `unfinished` for the next piece, when `unfinished` is given.
std::string MendUtf8(std::string_view bytes, std::string* unfinished = nullptr);

/// The text cut to at most `maxBytes` bytes, never inside a UTF-8 character.
std::string CutText(std::string_view text, std::size_t maxBytes);

/// What the instrument's display can show: printable ASCII. A text (UTF-8, or 8-bit Windows text)
/// in the card's characters: letters lose their accents (ü u, é e), a few become two (ß ss, æ ae),
/// typographic punctuation becomes its ASCII form; `unshowable` collects, as UTF-8, the
/// characters that have no such form, which `text` holds as "_".
struct CardText {
    std::string text;
    std::string unshowable;

    bool Changed(std::string_view original) const { return text != original; }
};
CardText ToCardText(std::string_view text);

/// A name typed for the card (`what`: "card name", "group name"...) in the card's characters.
/// Nothing when it holds a character the instrument can't show, and `message` says so; when its
/// characters change (accents dropped), `message` tells how it will appear.
std::optional<std::string> TypedCardText(
    std::string_view typed, std::string_view what, std::string& message);

/// The card form of a text alone (unshowable characters as "_").
inline std::string CardCharacters(std::string_view text)
{
    return ToCardText(text).text;
}

} // namespace cardmill
