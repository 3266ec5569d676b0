#include "gbk_text.h"

#include <charconv>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <locale.h>

namespace logdesk {

std::string AsciiLower(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        c = AsciiLower(c);
    }
    return out;
}

std::string PercentDecoded(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && HexDigitValue(text[i + 1]) >= 0 &&
            HexDigitValue(text[i + 2]) >= 0) {
            out += static_cast<char>(HexDigitValue(text[i + 1]) * 16 + HexDigitValue(text[i + 2]));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

bool StartsWithIgnoreAsciiCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() &&
           EqualsIgnoreAsciiCase(text.substr(0, prefix.size()), prefix);
}

bool EqualsIgnoreAsciiCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size();) {
        const std::size_t len = CharLength(a, i);
        if (len == 2 ? a.substr(i, 2) != b.substr(i, 2) : AsciiLower(a[i]) != AsciiLower(b[i])) {
            return false;
        }
        i += len;
    }
    return true;
}

namespace {

// Whether needle stands at byte i of text. With ignoreCase only single-byte
// characters are folded: the second byte of a double-byte character may look
// like a letter, yet 0xB0 0x41 and 0xB0 0x61 are different characters.
bool MatchesAt(std::string_view text, std::size_t i, std::string_view needle, bool ignoreCase) {
    if (!ignoreCase) {
        return std::memcmp(text.data() + i, needle.data(), needle.size()) == 0;
    }
    for (std::size_t k = 0; k < needle.size();) {
        const std::size_t len = CharLength(text, i + k);
        if (len == 2) {
            if (k + 1 >= needle.size() || text[i + k] != needle[k] ||
                text[i + k + 1] != needle[k + 1]) {
                return false;
            }
        } else if (AsciiLower(text[i + k]) != AsciiLower(needle[k])) {
            return false;
        }
        k += len;
    }
    return true;
}

} // namespace

TextPos FindText(std::string_view text, std::string_view needle, TextPos from, bool ignoreCase) {
    if (text.empty() || from < 1 || static_cast<std::size_t>(from) > text.size()) {
        return kNotFound;
    }
    if (needle.empty()) {
        return from;
    }
    if (needle.size() > text.size()) {
        return kNotFound;
    }
    const std::size_t last = text.size() - needle.size();
    const auto first = static_cast<unsigned char>(needle[0]);
    // Characters are counted from the start of the text, so the walk has to
    // begin there even when the search starts later.
    std::size_t i = 0;
    const auto start = static_cast<std::size_t>(from - 1);
    if (AlwaysStartsCharacter(first) && !ignoreCase) {
        // Every occurrence of such a byte starts a character: a byte search is exact.
        i = start;
        while (i <= last) {
            const void* hit = std::memchr(text.data() + i, first, last - i + 1);
            if (hit == nullptr) {
                return kNotFound;
            }
            i = static_cast<std::size_t>(static_cast<const char*>(hit) - text.data());
            if (MatchesAt(text, i, needle, false)) {
                return static_cast<TextPos>(i + 1);
            }
            ++i;
        }
        return kNotFound;
    }
    while (i < start) {
        i += CharLength(text, i);
    }
    for (; i <= last; i += CharLength(text, i)) {
        if (MatchesAt(text, i, needle, ignoreCase)) {
            return static_cast<TextPos>(i + 1);
        }
    }
    return kNotFound;
}

TextPos FindLastChar(std::string_view text, char c) {
    TextPos found = kNotFound;
    for (std::size_t i = 0; i < text.size(); i += CharLength(text, i)) {
        if (text[i] == c && CharLength(text, i) == 1) {
            found = static_cast<TextPos>(i + 1);
        }
    }
    return found;
}

std::vector<std::string_view> SplitText(std::string_view text, std::string_view separator) {
    std::vector<std::string_view> pieces;
    if (text.empty()) {
        return pieces;
    }
    if (separator.empty()) {
        pieces.push_back(text);
        return pieces;
    }
    std::size_t pieceStart = 0;
    TextPos from = 1;
    for (;;) {
        const TextPos hit = FindText(text, separator, from);
        if (hit == kNotFound) {
            break;
        }
        const auto at = static_cast<std::size_t>(hit - 1);
        pieces.push_back(text.substr(pieceStart, at - pieceStart));
        pieceStart = at + separator.size();
        if (pieceStart >= text.size()) {
            return pieces; // a separator at the very end gives no further piece
        }
        from = static_cast<TextPos>(pieceStart + 1);
    }
    pieces.push_back(text.substr(pieceStart));
    return pieces;
}

std::string ReplaceText(std::string_view text, std::string_view from, std::string_view to) {
    if (from.empty()) {
        return std::string(text);
    }
    std::string out;
    out.reserve(text.size());
    std::size_t copied = 0;
    TextPos pos = 1;
    for (;;) {
        const TextPos hit = FindText(text, from, pos);
        if (hit == kNotFound) {
            break;
        }
        const auto at = static_cast<std::size_t>(hit - 1);
        out.append(text.substr(copied, at - copied));
        out.append(to);
        copied = at + from.size();
        if (copied >= text.size()) {
            break;
        }
        pos = static_cast<TextPos>(copied + 1);
    }
    out.append(text.substr(std::min(copied, text.size())));
    return out;
}

std::string_view TrimAsciiBlanks(std::string_view text) {
    const auto blank = [](char c) { return c == ' ' || c == '\t'; };
    std::size_t begin = 0;
    while (begin < text.size() && blank(text[begin])) {
        ++begin;
    }
    std::size_t end = text.size();
    while (end > begin && blank(text[end - 1])) {
        --end;
    }
    return text.substr(begin, end - begin);
}

std::string_view TrimBlanks(std::string_view text) {
    std::size_t begin = 0;
    std::size_t end = 0; // end of the last character that is not a blank
    bool leading = true;
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t len = CharLength(text, i);
        const bool blank = (len == 1 && text[i] == ' ') ||
                           (len == 2 && text[i] == '\xA1' && text[i + 1] == '\xA1');
        if (!blank) {
            if (leading) {
                begin = i;
                leading = false;
            }
            end = i + len;
        }
        i += len;
    }
    if (leading) {
        return text.substr(0, 0);
    }
    return text.substr(begin, end - begin);
}

namespace {

bool IsCSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

} // namespace

std::int32_t AtoI(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && IsCSpace(text[i])) {
        ++i;
    }
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    std::int64_t value = 0;
    constexpr std::int64_t kLimit = std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = std::min(kLimit, value * 10 + (text[i] - '0'));
    }
    if (negative) {
        return static_cast<std::int32_t>(-value);
    }
    return static_cast<std::int32_t>(std::min<std::int64_t>(value, kLimit - 1));
}

double AtoF(std::string_view text) {
    // strtod_l with the "C" locale reads exactly what atof reads (hex and
    // infinity forms included) whatever locale the GUI has set.
    static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", locale_t{});
    char small[64];
    std::string large;
    const char* source = small;
    if (text.size() < sizeof small) {
        if (!text.empty()) {
            std::memcpy(small, text.data(), text.size());
        }
        small[text.size()] = '\0';
    } else {
        large.assign(text);
        source = large.c_str();
    }
    return strtod_l(source, nullptr, cLocale);
}

std::string DecimalText(std::int64_t value) {
    char buf[24];
    const auto result = std::to_chars(buf, buf + sizeof buf, value);
    return std::string(buf, result.ptr);
}

} // namespace logdesk
