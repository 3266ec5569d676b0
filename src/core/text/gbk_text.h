// Byte-level text routines over GBK text.
//
// Every routine here walks text character by character: a lead byte 0x81-0xFE
// followed by a trail byte 0x40-0x7E or 0x80-0xFE is one double-byte
// character; every other byte (a lead byte before an invalid trail included)
// is a character of its own. A match therefore never starts on the second byte
// of a double-byte character. Case folding touches the ASCII letters A-Z only.
//
// Positions are 1-based; -1 means "not found".
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace logdesk {

using TextPos = std::ptrdiff_t;
inline constexpr TextPos kNotFound = -1;

constexpr bool IsGbkLead(unsigned char c) {
    return c >= 0x81 && c <= 0xFE;
}
constexpr bool IsGbkTrail(unsigned char c) {
    return (c >= 0x40 && c <= 0x7E) || (c >= 0x80 && c <= 0xFE);
}

// A byte below 0x40 can never be a trail byte, so it always starts a
// character: plain byte searches for such bytes (blank, CR, LF, comma,
// quote, '#') give the same result as a character walk.
constexpr bool AlwaysStartsCharacter(unsigned char c) {
    return c < 0x40;
}

// Length (1 or 2) of the character that starts at byte index i of text.
inline std::size_t CharLength(std::string_view text, std::size_t i) {
    return (i + 1 < text.size() && IsGbkLead(static_cast<unsigned char>(text[i])) &&
            IsGbkTrail(static_cast<unsigned char>(text[i + 1])))
               ? 2
               : 1;
}

constexpr char AsciiLower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
}
std::string AsciiLower(std::string_view text);
bool EqualsIgnoreAsciiCase(std::string_view a, std::string_view b);
bool StartsWithIgnoreAsciiCase(std::string_view text, std::string_view prefix);

// The value of a hex digit of either case; -1 for any other byte.
constexpr int HexDigitValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}
// Every %XX (hex of either case) as its byte; a "%" without two hex digits
// after it, and every other byte, as it is.
std::string PercentDecoded(std::string_view text);

// 1-based position of the first occurrence of needle in text at or after the
// 1-based position `from`, or -1. An empty text contains nothing; an empty
// needle is found at `from` in a non-empty text.
TextPos FindText(std::string_view text, std::string_view needle, TextPos from = 1,
                 bool ignoreCase = false);
inline TextPos FindTextIgnoreCase(std::string_view text, std::string_view needle,
                                  TextPos from = 1) {
    return FindText(text, needle, from, true);
}
inline bool ContainsIgnoreCase(std::string_view text, std::string_view needle) {
    return FindText(text, needle, 1, true) != kNotFound;
}

// 1-based position of the last occurrence of a single-byte character, or -1.
TextPos FindLastChar(std::string_view text, char c);

// Splits text at every occurrence of separator: two separators in a row give
// an empty piece, a separator at the very end gives no further piece, an empty
// text gives no pieces. The pieces view into text.
std::vector<std::string_view> SplitText(std::string_view text, std::string_view separator);

// Every occurrence of `from` (case-sensitive, non-overlapping, left to right)
// replaced by `to`.
std::string ReplaceText(std::string_view text, std::string_view from, std::string_view to);

// Removes ASCII blanks (0x20) and full-width blanks (the character 0xA1 0xA1)
// from both ends. Tabs and other characters stay.
std::string_view TrimBlanks(std::string_view text);
// Removes spaces and tabs only from both ends (a full-width blank stays).
std::string_view TrimAsciiBlanks(std::string_view text);

// Leading-number readings as C atoi/atof do them: leading white space, an
// optional sign, then as many characters as form a number; none gives 0.
// AtoI saturates at the 32-bit limits; AtoF ignores the process locale.
std::int32_t AtoI(std::string_view text);
double AtoF(std::string_view text);

// Decimal text of a number, as lists show it.
std::string DecimalText(std::int64_t value);

} // namespace logdesk
