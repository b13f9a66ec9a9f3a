#include "model/TextEncoding.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <iterator>
#include <optional>

namespace cardmill {

namespace {

// Bytes 0x80 to 0xFF of each character set as Unicode; the five bytes Windows-1252 leaves
// undefined read as U+FFFD.
constexpr std::array<char16_t, 128> kWindows1252 {
    0x20AC,
    0xFFFD,
    0x201A,
    0x0192,
    0x201E,
    0x2026,
    0x2020,
    0x2021,
    0x02C6,
    0x2030,
    0x0160,
    0x2039,
    0x0152,
    0xFFFD,
    0x017D,
    0xFFFD,
    0xFFFD,
    0x2018,
    0x2019,
    0x201C,
    0x201D,
    0x2022,
    0x2013,
    0x2014,
    0x02DC,
    0x2122,
    0x0161,
    0x203A,
    0x0153,
    0xFFFD,
    0x017E,
    0x0178,
    0x00A0,
    0x00A1,
    0x00A2,
    0x00A3,
    0x00A4,
    0x00A5,
    0x00A6,
    0x00A7,
    0x00A8,
    0x00A9,
    0x00AA,
    0x00AB,
    0x00AC,
    0x00AD,
    0x00AE,
    0x00AF,
    0x00B0,
    0x00B1,
    0x00B2,
    0x00B3,
    0x00B4,
    0x00B5,
    0x00B6,
    0x00B7,
    0x00B8,
    0x00B9,
    0x00BA,
    0x00BB,
    0x00BC,
    0x00BD,
    0x00BE,
    0x00BF,
    0x00C0,
    0x00C1,
    0x00C2,
    0x00C3,
    0x00C4,
    0x00C5,
    0x00C6,
    0x00C7,
    0x00C8,
    0x00C9,
    0x00CA,
    0x00CB,
    0x00CC,
    0x00CD,
    0x00CE,
    0x00CF,
    0x00D0,
    0x00D1,
    0x00D2,
    0x00D3,
    0x00D4,
    0x00D5,
    0x00D6,
    0x00D7,
    0x00D8,
    0x00D9,
    0x00DA,
    0x00DB,
    0x00DC,
    0x00DD,
    0x00DE,
    0x00DF,
    0x00E0,
    0x00E1,
    0x00E2,
    0x00E3,
    0x00E4,
    0x00E5,
    0x00E6,
    0x00E7,
    0x00E8,
    0x00E9,
    0x00EA,
    0x00EB,
    0x00EC,
    0x00ED,
    0x00EE,
    0x00EF,
    0x00F0,
    0x00F1,
    0x00F2,
    0x00F3,
    0x00F4,
    0x00F5,
    0x00F6,
    0x00F7,
    0x00F8,
    0x00F9,
    0x00FA,
    0x00FB,
    0x00FC,
    0x00FD,
    0x00FE,
    0x00FF,
};
constexpr std::array<char16_t, 128> kMacRoman {
    0x00C4,
    0x00C5,
    0x00C7,
    0x00C9,
    0x00D1,
    0x00D6,
    0x00DC,
    0x00E1,
    0x00E0,
    0x00E2,
    0x00E4,
    0x00E3,
    0x00E5,
    0x00E7,
    0x00E9,
    0x00E8,
    0x00EA,
    0x00EB,
    0x00ED,
    0x00EC,
    0x00EE,
    0x00EF,
    0x00F1,
    0x00F3,
    0x00F2,
    0x00F4,
    0x00F6,
    0x00F5,
    0x00FA,
    0x00F9,
    0x00FB,
    0x00FC,
    0x2020,
    0x00B0,
    0x00A2,
    0x00A3,
    0x00A7,
    0x2022,
    0x00B6,
    0x00DF,
    0x00AE,
    0x00A9,
    0x2122,
    0x00B4,
    0x00A8,
    0x2260,
    0x00C6,
    0x00D8,
    0x221E,
    0x00B1,
    0x2264,
    0x2265,
    0x00A5,
    0x00B5,
    0x2202,
    0x2211,
    0x220F,
    0x03C0,
    0x222B,
    0x00AA,
    0x00BA,
    0x03A9,
    0x00E6,
    0x00F8,
    0x00BF,
    0x00A1,
    0x00AC,
    0x221A,
    0x0192,
    0x2248,
    0x2206,
    0x00AB,
    0x00BB,
    0x2026,
    0x00A0,
    0x00C0,
    0x00C3,
    0x00D5,
    0x0152,
    0x0153,
    0x2013,
    0x2014,
    0x201C,
    0x201D,
    0x2018,
    0x2019,
    0x00F7,
    0x25CA,
    0x00FF,
    0x0178,
    0x2044,
    0x20AC,
    0x2039,
    0x203A,
    0xFB01,
    0xFB02,
    0x2021,
    0x00B7,
    0x201A,
    0x201E,
    0x2030,
    0x00C2,
    0x00CA,
    0x00C1,
    0x00CB,
    0x00C8,
    0x00CD,
    0x00CE,
    0x00CF,
    0x00CC,
    0x00D3,
    0x00D4,
    0xF8FF,
    0x00D2,
    0x00DA,
    0x00DB,
    0x00D9,
    0x0131,
    0x02C6,
    0x02DC,
    0x00AF,
    0x02D8,
    0x02D9,
    0x02DA,
    0x00B8,
    0x02DD,
    0x02DB,
    0x02C7,
};

struct Transliteration {
    char32_t code;
    const char* ascii;
};

// The ASCII form of the characters of both character sets, of Latin-1 and Latin Extended and of
// typographic punctuation: compatibility decompositions with the accents dropped, and the usual
// spellings where there is none (ß ss, æ ae, ø o, quotation marks, dashes).
constexpr Transliteration kTransliterations[] = {
    { 0x00A0, " " }, // no-break space
    { 0x00A1, "!" }, // ¡
    { 0x00A2, "c" }, // ¢
    { 0x00A3, "GBP" }, // £
    { 0x00A5, "JPY" }, // ¥
    { 0x00A6, "|" }, // ¦
    { 0x00A7, "S" }, // §
    { 0x00A8, "\"" }, // ¨
    { 0x00A9, "(c)" }, // ©
    { 0x00AA, "a" }, // ª
    { 0x00AB, "\"" }, // «
    { 0x00AC, "-" }, // ¬
    { 0x00AE, "(R)" }, // ®
    { 0x00AF, "-" }, // ¯
    { 0x00B0, "o" }, // °
    { 0x00B1, "+-" }, // ±
    { 0x00B2, "2" }, // ²
    { 0x00B3, "3" }, // ³
    { 0x00B4, "'" }, // ´
    { 0x00B5, "u" }, // µ
    { 0x00B6, "P" }, // ¶
    { 0x00B7, "." }, // ·
    { 0x00B8, "," }, // ¸
    { 0x00B9, "1" }, // ¹
    { 0x00BA, "o" }, // º
    { 0x00BB, "\"" }, // »
    { 0x00BC, "1/4" }, // ¼
    { 0x00BD, "1/2" }, // ½
    { 0x00BE, "3/4" }, // ¾
    { 0x00BF, "?" }, // ¿
    { 0x00C0, "A" }, // À
    { 0x00C1, "A" }, // Á
    { 0x00C2, "A" }, // Â
    { 0x00C3, "A" }, // Ã
    { 0x00C4, "A" }, // Ä
    { 0x00C5, "A" }, // Å
    { 0x00C6, "AE" }, // Æ
    { 0x00C7, "C" }, // Ç
    { 0x00C8, "E" }, // È
    { 0x00C9, "E" }, // É
    { 0x00CA, "E" }, // Ê
    { 0x00CB, "E" }, // Ë
    { 0x00CC, "I" }, // Ì
    { 0x00CD, "I" }, // Í
    { 0x00CE, "I" }, // Î
    { 0x00CF, "I" }, // Ï
    { 0x00D0, "D" }, // Ð
    { 0x00D1, "N" }, // Ñ
    { 0x00D2, "O" }, // Ò
    { 0x00D3, "O" }, // Ó
    { 0x00D4, "O" }, // Ô
    { 0x00D5, "O" }, // Õ
    { 0x00D6, "O" }, // Ö
    { 0x00D7, "x" }, // ×
    { 0x00D8, "O" }, // Ø
    { 0x00D9, "U" }, // Ù
    { 0x00DA, "U" }, // Ú
    { 0x00DB, "U" }, // Û
    { 0x00DC, "U" }, // Ü
    { 0x00DD, "Y" }, // Ý
    { 0x00DE, "Th" }, // Þ
    { 0x00DF, "ss" }, // ß
    { 0x00E0, "a" }, // à
    { 0x00E1, "a" }, // á
    { 0x00E2, "a" }, // â
    { 0x00E3, "a" }, // ã
    { 0x00E4, "a" }, // ä
    { 0x00E5, "a" }, // å
    { 0x00E6, "ae" }, // æ
    { 0x00E7, "c" }, // ç
    { 0x00E8, "e" }, // è
    { 0x00E9, "e" }, // é
    { 0x00EA, "e" }, // ê
    { 0x00EB, "e" }, // ë
    { 0x00EC, "i" }, // ì
    { 0x00ED, "i" }, // í
    { 0x00EE, "i" }, // î
    { 0x00EF, "i" }, // ï
    { 0x00F0, "d" }, // ð
    { 0x00F1, "n" }, // ñ
    { 0x00F2, "o" }, // ò
    { 0x00F3, "o" }, // ó
    { 0x00F4, "o" }, // ô
    { 0x00F5, "o" }, // õ
    { 0x00F6, "o" }, // ö
    { 0x00F7, "/" }, // ÷
    { 0x00F8, "o" }, // ø
    { 0x00F9, "u" }, // ù
    { 0x00FA, "u" }, // ú
    { 0x00FB, "u" }, // û
    { 0x00FC, "u" }, // ü
    { 0x00FD, "y" }, // ý
    { 0x00FE, "th" }, // þ
    { 0x00FF, "y" }, // ÿ
    { 0x0100, "A" }, // Ā
    { 0x0101, "a" }, // ā
    { 0x0102, "A" }, // Ă
    { 0x0103, "a" }, // ă
    { 0x0104, "A" }, // Ą
    { 0x0105, "a" }, // ą
    { 0x0106, "C" }, // Ć
    { 0x0107, "c" }, // ć
    { 0x0108, "C" }, // Ĉ
    { 0x0109, "c" }, // ĉ
    { 0x010A, "C" }, // Ċ
    { 0x010B, "c" }, // ċ
    { 0x010C, "C" }, // Č
    { 0x010D, "c" }, // č
    { 0x010E, "D" }, // Ď
    { 0x010F, "d" }, // ď
    { 0x0110, "D" }, // Đ
    { 0x0111, "d" }, // đ
    { 0x0112, "E" }, // Ē
    { 0x0113, "e" }, // ē
    { 0x0114, "E" }, // Ĕ
    { 0x0115, "e" }, // ĕ
    { 0x0116, "E" }, // Ė
    { 0x0117, "e" }, // ė
    { 0x0118, "E" }, // Ę
    { 0x0119, "e" }, // ę
    { 0x011A, "E" }, // Ě
    { 0x011B, "e" }, // ě
    { 0x011C, "G" }, // Ĝ
    { 0x011D, "g" }, // ĝ
    { 0x011E, "G" }, // Ğ
    { 0x011F, "g" }, // ğ
    { 0x0120, "G" }, // Ġ
    { 0x0121, "g" }, // ġ
    { 0x0122, "G" }, // Ģ
    { 0x0123, "g" }, // ģ
    { 0x0124, "H" }, // Ĥ
    { 0x0125, "h" }, // ĥ
    { 0x0126, "H" }, // Ħ
    { 0x0127, "h" }, // ħ
    { 0x0128, "I" }, // Ĩ
    { 0x0129, "i" }, // ĩ
    { 0x012A, "I" }, // Ī
    { 0x012B, "i" }, // ī
    { 0x012C, "I" }, // Ĭ
    { 0x012D, "i" }, // ĭ
    { 0x012E, "I" }, // Į
    { 0x012F, "i" }, // į
    { 0x0130, "I" }, // İ
    { 0x0131, "i" }, // ı
    { 0x0132, "IJ" }, // Ĳ
    { 0x0133, "ij" }, // ĳ
    { 0x0134, "J" }, // Ĵ
    { 0x0135, "j" }, // ĵ
    { 0x0136, "K" }, // Ķ
    { 0x0137, "k" }, // ķ
    { 0x0138, "k" }, // ĸ
    { 0x0139, "L" }, // Ĺ
    { 0x013A, "l" }, // ĺ
    { 0x013B, "L" }, // Ļ
    { 0x013C, "l" }, // ļ
    { 0x013D, "L" }, // Ľ
    { 0x013E, "l" }, // ľ
    { 0x0141, "L" }, // Ł
    { 0x0142, "l" }, // ł
    { 0x0143, "N" }, // Ń
    { 0x0144, "n" }, // ń
    { 0x0145, "N" }, // Ņ
    { 0x0146, "n" }, // ņ
    { 0x0147, "N" }, // Ň
    { 0x0148, "n" }, // ň
    { 0x014A, "NG" }, // Ŋ
    { 0x014B, "ng" }, // ŋ
    { 0x014C, "O" }, // Ō
    { 0x014D, "o" }, // ō
    { 0x014E, "O" }, // Ŏ
    { 0x014F, "o" }, // ŏ
    { 0x0150, "O" }, // Ő
    { 0x0151, "o" }, // ő
    { 0x0152, "OE" }, // Œ
    { 0x0153, "oe" }, // œ
    { 0x0154, "R" }, // Ŕ
    { 0x0155, "r" }, // ŕ
    { 0x0156, "R" }, // Ŗ
    { 0x0157, "r" }, // ŗ
    { 0x0158, "R" }, // Ř
    { 0x0159, "r" }, // ř
    { 0x015A, "S" }, // Ś
    { 0x015B, "s" }, // ś
    { 0x015C, "S" }, // Ŝ
    { 0x015D, "s" }, // ŝ
    { 0x015E, "S" }, // Ş
    { 0x015F, "s" }, // ş
    { 0x0160, "S" }, // Š
    { 0x0161, "s" }, // š
    { 0x0162, "T" }, // Ţ
    { 0x0163, "t" }, // ţ
    { 0x0164, "T" }, // Ť
    { 0x0165, "t" }, // ť
    { 0x0166, "T" }, // Ŧ
    { 0x0167, "t" }, // ŧ
    { 0x0168, "U" }, // Ũ
    { 0x0169, "u" }, // ũ
    { 0x016A, "U" }, // Ū
    { 0x016B, "u" }, // ū
    { 0x016C, "U" }, // Ŭ
    { 0x016D, "u" }, // ŭ
    { 0x016E, "U" }, // Ů
    { 0x016F, "u" }, // ů
    { 0x0170, "U" }, // Ű
    { 0x0171, "u" }, // ű
    { 0x0172, "U" }, // Ų
    { 0x0173, "u" }, // ų
    { 0x0174, "W" }, // Ŵ
    { 0x0175, "w" }, // ŵ
    { 0x0176, "Y" }, // Ŷ
    { 0x0177, "y" }, // ŷ
    { 0x0178, "Y" }, // Ÿ
    { 0x0179, "Z" }, // Ź
    { 0x017A, "z" }, // ź
    { 0x017B, "Z" }, // Ż
    { 0x017C, "z" }, // ż
    { 0x017D, "Z" }, // Ž
    { 0x017E, "z" }, // ž
    { 0x017F, "s" }, // ſ
    { 0x0192, "f" }, // ƒ
    { 0x01A0, "O" }, // Ơ
    { 0x01A1, "o" }, // ơ
    { 0x01AF, "U" }, // Ư
    { 0x01B0, "u" }, // ư
    { 0x01C4, "DZ" }, // Ǆ
    { 0x01C5, "Dz" }, // ǅ
    { 0x01C6, "dz" }, // ǆ
    { 0x01C7, "LJ" }, // Ǉ
    { 0x01C8, "Lj" }, // ǈ
    { 0x01C9, "lj" }, // ǉ
    { 0x01CA, "NJ" }, // Ǌ
    { 0x01CB, "Nj" }, // ǋ
    { 0x01CC, "nj" }, // ǌ
    { 0x01CD, "A" }, // Ǎ
    { 0x01CE, "a" }, // ǎ
    { 0x01CF, "I" }, // Ǐ
    { 0x01D0, "i" }, // ǐ
    { 0x01D1, "O" }, // Ǒ
    { 0x01D2, "o" }, // ǒ
    { 0x01D3, "U" }, // Ǔ
    { 0x01D4, "u" }, // ǔ
    { 0x01D5, "U" }, // Ǖ
    { 0x01D6, "u" }, // ǖ
    { 0x01D7, "U" }, // Ǘ
    { 0x01D8, "u" }, // ǘ
    { 0x01D9, "U" }, // Ǚ
    { 0x01DA, "u" }, // ǚ
    { 0x01DB, "U" }, // Ǜ
    { 0x01DC, "u" }, // ǜ
    { 0x01DE, "A" }, // Ǟ
    { 0x01DF, "a" }, // ǟ
    { 0x01E0, "A" }, // Ǡ
    { 0x01E1, "a" }, // ǡ
    { 0x01E6, "G" }, // Ǧ
    { 0x01E7, "g" }, // ǧ
    { 0x01E8, "K" }, // Ǩ
    { 0x01E9, "k" }, // ǩ
    { 0x01EA, "O" }, // Ǫ
    { 0x01EB, "o" }, // ǫ
    { 0x01EC, "O" }, // Ǭ
    { 0x01ED, "o" }, // ǭ
    { 0x01F0, "j" }, // ǰ
    { 0x01F1, "DZ" }, // Ǳ
    { 0x01F2, "Dz" }, // ǲ
    { 0x01F3, "dz" }, // ǳ
    { 0x01F4, "G" }, // Ǵ
    { 0x01F5, "g" }, // ǵ
    { 0x01F8, "N" }, // Ǹ
    { 0x01F9, "n" }, // ǹ
    { 0x01FA, "A" }, // Ǻ
    { 0x01FB, "a" }, // ǻ
    { 0x0200, "A" }, // Ȁ
    { 0x0201, "a" }, // ȁ
    { 0x0202, "A" }, // Ȃ
    { 0x0203, "a" }, // ȃ
    { 0x0204, "E" }, // Ȅ
    { 0x0205, "e" }, // ȅ
    { 0x0206, "E" }, // Ȇ
    { 0x0207, "e" }, // ȇ
    { 0x0208, "I" }, // Ȉ
    { 0x0209, "i" }, // ȉ
    { 0x020A, "I" }, // Ȋ
    { 0x020B, "i" }, // ȋ
    { 0x020C, "O" }, // Ȍ
    { 0x020D, "o" }, // ȍ
    { 0x020E, "O" }, // Ȏ
    { 0x020F, "o" }, // ȏ
    { 0x0210, "R" }, // Ȑ
    { 0x0211, "r" }, // ȑ
    { 0x0212, "R" }, // Ȓ
    { 0x0213, "r" }, // ȓ
    { 0x0214, "U" }, // Ȕ
    { 0x0215, "u" }, // ȕ
    { 0x0216, "U" }, // Ȗ
    { 0x0217, "u" }, // ȗ
    { 0x0218, "S" }, // Ș
    { 0x0219, "s" }, // ș
    { 0x021A, "T" }, // Ț
    { 0x021B, "t" }, // ț
    { 0x021E, "H" }, // Ȟ
    { 0x021F, "h" }, // ȟ
    { 0x0226, "A" }, // Ȧ
    { 0x0227, "a" }, // ȧ
    { 0x0228, "E" }, // Ȩ
    { 0x0229, "e" }, // ȩ
    { 0x022A, "O" }, // Ȫ
    { 0x022B, "o" }, // ȫ
    { 0x022C, "O" }, // Ȭ
    { 0x022D, "o" }, // ȭ
    { 0x022E, "O" }, // Ȯ
    { 0x022F, "o" }, // ȯ
    { 0x0230, "O" }, // Ȱ
    { 0x0231, "o" }, // ȱ
    { 0x0232, "Y" }, // Ȳ
    { 0x0233, "y" }, // ȳ
    { 0x02C6, "^" }, // ˆ
    { 0x02DC, "~" }, // ˜
    { 0x02DD, "\"" }, // ˝
    { 0x03A9, "Ohm" }, // Ω
    { 0x03C0, "pi" }, // π
    { 0x2010, "-" }, // ‐
    { 0x2011, "-" }, // ‑
    { 0x2012, "-" }, // ‒
    { 0x2013, "-" }, // –
    { 0x2014, "-" }, // —
    { 0x2015, "-" }, // ―
    { 0x2017, " " }, // ‗
    { 0x2018, "'" }, // ‘
    { 0x2019, "'" }, // ’
    { 0x201A, "'" }, // ‚
    { 0x201B, "'" }, // ‛
    { 0x201C, "\"" }, // “
    { 0x201D, "\"" }, // ”
    { 0x201E, "\"" }, // „
    { 0x201F, "\"" }, // ‟
    { 0x2020, "+" }, // †
    { 0x2021, "+" }, // ‡
    { 0x2022, "*" }, // •
    { 0x2024, "." }, // ․
    { 0x2025, ".." }, // ‥
    { 0x2026, "..." }, // …
    { 0x202F, " " }, //  
    { 0x2030, "%" }, // ‰
    { 0x2032, "'" }, // ′
    { 0x2033, "\"" }, // ″
    { 0x2039, "<" }, // ‹
    { 0x203A, ">" }, // ›
    { 0x203C, "!!" }, // ‼
    { 0x203E, " " }, // ‾
    { 0x2044, "/" }, // ⁄
    { 0x2047, "??" }, // ⁇
    { 0x2048, "?!" }, // ⁈
    { 0x2049, "!?" }, // ⁉
    { 0x205F, " " }, //  
    { 0x20AC, "EUR" }, // €
    { 0x2122, "TM" }, // ™
    { 0x2202, "d" }, // ∂
    { 0x2206, "D" }, // ∆
    { 0x220F, "P" }, // ∏
    { 0x2211, "S" }, // ∑
    { 0x2212, "-" }, // −
    { 0x221A, "V" }, // √
    { 0x221E, "oo" }, // ∞
    { 0x222B, "S" }, // ∫
    { 0x2248, "~" }, // ≈
    { 0x2260, "<>" }, // ≠
    { 0x2264, "<=" }, // ≤
    { 0x2265, ">=" }, // ≥
    { 0x25CA, "<>" }, // ◊
    { 0x266D, "b" }, // ♭
    { 0x266F, "#" }, // ♯
    { 0xFB01, "fi" }, // ﬁ
    { 0xFB02, "fl" }, // ﬂ
};

constexpr char32_t kReplacement = 0xFFFD;

void AppendUtf8(std::string& out, char32_t code)
{
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (code >> 18));
        out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

/// The code point of the UTF-8 sequence at `at` and its length; nothing for an invalid sequence
/// (overlong forms, surrogates and values past U+10FFFF included).
struct Decoded {
    char32_t code;
    std::size_t length;
};
std::optional<Decoded> DecodeUtf8At(std::string_view text, std::size_t at)
{
    const auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(text[at + i]); };
    const std::uint8_t lead = byte(0);
    if (lead < 0x80)
        return Decoded { lead, 1 };
    std::size_t length = 0;
    char32_t code = 0;
    char32_t minimum = 0;
    if ((lead & 0xE0) == 0xC0) {
        length = 2, code = lead & 0x1F, minimum = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3, code = lead & 0x0F, minimum = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4, code = lead & 0x07, minimum = 0x10000;
    } else {
        return std::nullopt;
    }
    if (text.size() - at < length)
        return std::nullopt;
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(i) & 0xC0) != 0x80)
            return std::nullopt;
        code = (code << 6) | (byte(i) & 0x3F);
    }
    if (code < minimum || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
        return std::nullopt;
    return Decoded { code, length };
}

bool HasNonAscii(std::string_view text)
{
    return std::any_of(
        text.begin(), text.end(), [](char c) { return static_cast<std::uint8_t>(c) >= 0x80; });
}

const char* TransliterationOf(char32_t code)
{
    const auto* end = std::end(kTransliterations);
    const auto* found = std::lower_bound(std::begin(kTransliterations), end, code,
        [](const Transliteration& entry, char32_t value) { return entry.code < value; });
    return found != end && found->code == code ? found->ascii : nullptr;
}

} // namespace

bool IsValidUtf8(std::string_view bytes)
{
    for (std::size_t at = 0; at < bytes.size();) {
        const auto decoded = DecodeUtf8At(bytes, at);
        if (!decoded)
            return false;
        at += decoded->length;
    }
    return true;
}

std::string DecodeText(std::string_view bytes, Charset charset)
{
    if (!HasNonAscii(bytes) || IsValidUtf8(bytes))
        return std::string(bytes);
    const auto& table = charset == Charset::MacRoman ? kMacRoman : kWindows1252;
    std::string text;
    text.reserve(bytes.size() * 2);
    for (const char c : bytes) {
        const auto byte = static_cast<std::uint8_t>(c);
        AppendUtf8(text, byte < 0x80 ? char32_t { byte } : char32_t { table[byte - 0x80] });
    }
    return text;
}

std::string MendUtf8(std::string_view bytes, std::string* unfinished)
{
    std::string text;
    text.reserve(bytes.size());
    for (std::size_t at = 0; at < bytes.size();) {
        if (const auto decoded = DecodeUtf8At(bytes, at)) {
            text.append(bytes, at, decoded->length);
            at += decoded->length;
            continue;
        }
        const auto lead = static_cast<std::uint8_t>(bytes[at]);
        const std::size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
        const bool cutShort = unfinished && lead >= 0xC0 && lead < 0xF8
            && bytes.size() - at < length
            && std::all_of(bytes.begin() + static_cast<std::ptrdiff_t>(at) + 1, bytes.end(),
                [](char c) { return (static_cast<std::uint8_t>(c) & 0xC0) == 0x80; });
        if (cutShort) {
            *unfinished = std::string(bytes.substr(at));
            return text;
        }
        AppendUtf8(text, lead < 0x80 ? char32_t { lead } : char32_t { kWindows1252[lead - 0x80] });
        ++at;
    }
    if (unfinished)
        unfinished->clear();
    return text;
}

std::string CutText(std::string_view text, std::size_t maxBytes)
{
    if (text.size() <= maxBytes)
        return std::string(text);
    std::size_t cut = maxBytes;
    if (IsValidUtf8(text))
        while (cut > 0 && (static_cast<std::uint8_t>(text[cut]) & 0xC0) == 0x80)
            --cut;
    return std::string(text.substr(0, cut));
}

CardText ToCardText(std::string_view original)
{
    const std::string utf8 = DisplayText(original);
    CardText result;
    result.text.reserve(utf8.size());
    for (std::size_t at = 0; at < utf8.size();) {
        const auto decoded = DecodeUtf8At(utf8, at);
        const char32_t code = decoded ? decoded->code : kReplacement;
        const std::size_t length = decoded ? decoded->length : 1;
        if (code >= 0x20 && code < 0x7F) {
            result.text += static_cast<char>(code);
        } else if (const char* ascii = TransliterationOf(code)) {
            result.text += ascii;
        } else {
            result.text += '_';
            result.unshowable.append(utf8, at, length);
        }
        at += length;
    }
    return result;
}

} // namespace cardmill

namespace cardmill {

std::optional<std::string> TypedCardText(
    std::string_view typed, std::string_view what, std::string& message)
{
    message.clear();
    const CardText card = ToCardText(typed);
    if (!card.unshowable.empty()) {
        message = "Sorry, but the " + std::string(what) + " can't hold '" + card.unshowable
            + "': the instrument shows only letters, digits, blanks and punctuation (accented "
              "letters lose their accents).";
        return std::nullopt;
    }
    if (card.Changed(typed))
        message = "The " + std::string(what) + " '" + std::string(typed) + "' appears as '"
            + card.text + "' on the instrument, which shows no accents.";
    return card.text;
}

} // namespace cardmill
