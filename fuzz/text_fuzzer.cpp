// The input is "needle NUL second text NUL text" (missing parts are empty),
// fed to the GBK text routines, the marker searches and the codec. Each
// result is held to its interface: positions on character boundaries and
// first matches, split and replace agreeing and giving the text back, trims
// that remove only blanks, and conversions that round-trip.
#include "fuzz_support.h"
#include "core/text/gbk_codec.h"
#include "core/text/gbk_text.h"
#include "core/text/text_search.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace logdesk {
namespace {

std::string_view TakePart(std::string_view& input) {
    const std::size_t nul = input.find('\0');
    const std::string_view part = input.substr(0, nul);
    input.remove_prefix(nul == std::string_view::npos ? input.size() : nul + 1);
    return part;
}

// starts[i]: a character of text begins at byte i (the end counts too).
std::vector<bool> CharacterStarts(std::string_view text) {
    std::vector<bool> starts(text.size() + 1, false);
    for (std::size_t i = 0; i < text.size(); i += CharLength(text, i)) {
        starts[i] = true;
    }
    starts[text.size()] = true;
    return starts;
}

void CheckFind(std::string_view text, std::string_view needle, TextPos from) {
    const std::vector<bool> starts = CharacterStarts(text);
    const TextPos exact = FindText(text, needle, from, false);
    const TextPos folded = FindText(text, needle, from, true);
    for (const TextPos found : {exact, folded}) {
        // An empty needle is found at `from` itself, character start or not.
        if (found == kNotFound || needle.empty()) {
            continue;
        }
        FUZZ_CHECK(found >= from && static_cast<std::size_t>(found) <= text.size());
        FUZZ_CHECK(starts[static_cast<std::size_t>(found - 1)]);
        FUZZ_CHECK(static_cast<std::size_t>(found - 1) + needle.size() <= text.size());
    }
    if (text.empty() || from < 1 || static_cast<std::size_t>(from) > text.size()) {
        FUZZ_CHECK(exact == kNotFound && folded == kNotFound);
        return;
    }
    if (needle.empty()) {
        FUZZ_CHECK(exact == from && folded == from);
        return;
    }
    // The exact search finds the first character start at or after `from`
    // where the bytes are equal.
    const auto first = static_cast<std::size_t>(from - 1);
    TextPos expected = kNotFound;
    for (std::size_t i = first; i + needle.size() <= text.size(); ++i) {
        if (starts[i] && text.compare(i, needle.size(), needle) == 0) {
            expected = static_cast<TextPos>(i + 1);
            break;
        }
    }
    FUZZ_CHECK(exact == expected);
    if (exact != kNotFound) {
        const auto at = static_cast<std::size_t>(exact - 1);
        // Ignoring case finds an exact match too, unless that match ends
        // inside a double-byte character.
        if (starts[at + needle.size()]) {
            FUZZ_CHECK(folded != kNotFound && folded <= exact);
        }
    }
    if (folded != kNotFound) {
        const auto at = static_cast<std::size_t>(folded - 1);
        FUZZ_CHECK(EqualsIgnoreAsciiCase(text.substr(at, needle.size()), needle));
    }
}

std::string Join(const std::vector<std::string_view>& pieces, std::string_view separator) {
    std::string joined;
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        if (i > 0) {
            joined += separator;
        }
        joined += pieces[i];
    }
    return joined;
}

void CheckSplitAndReplace(std::string_view text, std::string_view separator, std::string_view to) {
    const std::vector<std::string_view> pieces = SplitText(text, separator);
    if (text.empty()) {
        FUZZ_CHECK(pieces.empty());
        return;
    }
    for (const std::string_view piece : pieces) {
        FUZZ_CHECK(piece.data() >= text.data() &&
                   piece.data() + piece.size() <= text.data() + text.size());
    }
    if (separator.empty()) {
        FUZZ_CHECK(pieces.size() == 1 && pieces[0] == text);
        FUZZ_CHECK(ReplaceText(text, separator, to) == text);
        return;
    }
    // Joined again the pieces give the text, but for a separator at its very
    // end, which gives no further piece.
    const std::string joined = Join(pieces, separator);
    const bool endsWithSeparator = joined != text;
    if (endsWithSeparator) {
        FUZZ_CHECK(joined + std::string(separator) == text);
    }
    // Replacing finds the same separators as splitting.
    std::string replaced = Join(pieces, to);
    if (endsWithSeparator) {
        replaced += to;
    }
    FUZZ_CHECK(ReplaceText(text, separator, to) == replaced);
    FUZZ_CHECK(ReplaceText(text, separator, separator) == text);
}

void CheckTrim(std::string_view text) {
    const std::string_view trimmed = TrimBlanks(text);
    FUZZ_CHECK(trimmed.empty() || (trimmed.data() >= text.data() &&
                                   trimmed.data() + trimmed.size() <= text.data() + text.size()));
    FUZZ_CHECK(TrimBlanks(trimmed) == trimmed);
    if (trimmed.empty()) {
        // Nothing but blanks: removing every blank character leaves nothing.
        FUZZ_CHECK(ReplaceText(ReplaceText(text, " ", ""), "\xA1\xA1", "").empty());
        return;
    }
    const auto begin = static_cast<std::size_t>(trimmed.data() - text.data());
    const std::string_view outside[] = {text.substr(0, begin), text.substr(begin + trimmed.size())};
    for (const std::string_view blanks : outside) {
        FUZZ_CHECK(ReplaceText(ReplaceText(blanks, " ", ""), "\xA1\xA1", "").empty());
    }
    FUZZ_CHECK(CharacterStarts(text)[begin]);
}

void CheckAtoI(std::string_view text) {
    const std::string copy(text);
    errno = 0;
    long long value = std::strtoll(copy.c_str(), nullptr, 10);
    value = std::clamp<long long>(value, INT32_MIN, INT32_MAX);
    FUZZ_CHECK(AtoI(text) == value);
}

// A text between markers stands right after the first left marker and right
// before a right marker; without a left marker there is none.
void CheckBetween(std::string_view text, std::string_view left, std::string_view right) {
    const std::string between = TextBetween(text, left, right);
    const TextPos leftAt = FindTextIgnoreCase(text, left);
    if (leftAt == kNotFound) {
        FUZZ_CHECK(between.empty());
    }
    if (between.empty()) {
        return;
    }
    const std::size_t at = static_cast<std::size_t>(leftAt - 1) + left.size();
    FUZZ_CHECK(text.compare(at, between.size(), between) == 0);
    FUZZ_CHECK(EqualsIgnoreAsciiCase(text.substr(at + between.size(), right.size()), right));
}

void CheckAlternatives(std::string_view text, std::string_view alternatives) {
    bool any = false;
    bool all = true;
    for (const std::string_view alternative : SplitText(alternatives, kAlternativesSeparator)) {
        const bool found = ContainsIgnoreCase(text, alternative);
        any = any || found;
        all = all && found;
    }
    FUZZ_CHECK(MatchAlternatives(text, alternatives, true) == any);
    FUZZ_CHECK(MatchAlternatives(text, alternatives, false) == all);
}

bool IsValidUtf8(std::string_view s) {
    for (std::size_t i = 0; i < s.size();) {
        const auto c = static_cast<unsigned char>(s[i]);
        std::size_t n = 0;
        char32_t cp = 0;
        if (c < 0x80) {
            ++i;
            continue;
        } else if (c >= 0xC2 && c <= 0xDF) {
            n = 1, cp = c & 0x1F;
        } else if (c >= 0xE0 && c <= 0xEF) {
            n = 2, cp = c & 0x0F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            n = 3, cp = c & 0x07;
        } else {
            return false;
        }
        if (i + n >= s.size()) {
            return false;
        }
        for (std::size_t k = 1; k <= n; ++k) {
            const auto t = static_cast<unsigned char>(s[i + k]);
            if ((t & 0xC0) != 0x80) {
                return false;
            }
            cp = (cp << 6) | (t & 0x3F);
        }
        const char32_t least[] = {0, 0x80, 0x800, 0x10000};
        if (cp < least[n] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
            return false;
        }
        i += n + 1;
    }
    return true;
}

std::u32string Utf16ToUtf32(std::u16string_view s) {
    std::u32string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        const char16_t u = s[i];
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 &&
            s[i + 1] <= 0xDFFF) {
            out += static_cast<char32_t>(0x10000 + ((u - 0xD800) << 10) + (s[i + 1] - 0xDC00));
            ++i;
        } else {
            out += u;
        }
    }
    return out;
}

void CheckCodec(std::string_view bytes) {
    // As GBK: the views through UTF-16, UTF-32 and UTF-8 agree, and text
    // that decoded cleanly encodes to GBK that decodes to the same text.
    const std::u16string utf16 = GbkToUtf16(bytes);
    FUZZ_CHECK(GbkToUtf32(bytes) == Utf16ToUtf32(utf16));
    const std::string utf8 = GbkToUtf8(bytes);
    FUZZ_CHECK(utf8 == Utf16ToUtf8(utf16));
    FUZZ_CHECK(IsValidUtf8(utf8));
    FUZZ_CHECK(Utf8ToUtf16(utf8) == utf16);
    const std::string gbk = Utf16ToGbk(utf16);
    FUZZ_CHECK(Utf8ToGbk(utf8) == gbk);
    FUZZ_CHECK(Utf32ToGbk(GbkToUtf32(bytes)) == gbk);
    if (utf16.find(u'\uFFFD') == std::u16string::npos) {
        FUZZ_CHECK(GbkToUtf16(gbk) == utf16);
    }
    // Whatever the UTF-16 holds, the GBK made of it is valid GBK.
    FUZZ_CHECK(GbkToUtf16(gbk).find(u'\uFFFD') == std::u16string::npos ||
               utf16.find(u'\uFFFD') != std::u16string::npos);

    // As UTF-8: valid input survives the trip through UTF-16; any input
    // gives valid UTF-16, hence UTF-8 that is valid.
    const std::u16string fromUtf8 = Utf8ToUtf16(bytes);
    const std::string again = Utf16ToUtf8(fromUtf8);
    FUZZ_CHECK(IsValidUtf8(again));
    if (IsValidUtf8(bytes)) {
        FUZZ_CHECK(again == bytes);
    }

    // As UTF-16 units (pairs of bytes): lone surrogates included, the GBK
    // made of them decodes without a replacement character, unless one was there.
    std::u16string units(bytes.size() / 2, u'\0');
    for (std::size_t i = 0; i < units.size(); ++i) {
        units[i] = static_cast<char16_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                         static_cast<unsigned char>(bytes[2 * i + 1]) << 8);
    }
    if (units.find(u'\uFFFD') == std::u16string::npos) {
        FUZZ_CHECK(GbkToUtf16(Utf16ToGbk(units)).find(u'\uFFFD') == std::u16string::npos);
    }
    (void)Utf16ToUtf8(units);
}

} // namespace
} // namespace logdesk

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace logdesk;
    std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::string_view needle = TakePart(input);
    const std::string_view second = TakePart(input);
    const std::string_view text = input;

    for (const TextPos from : {TextPos{1}, TextPos{2}, static_cast<TextPos>(text.size() / 2 + 1),
                               static_cast<TextPos>(text.size()), TextPos{0}}) {
        CheckFind(text, needle, from);
    }
    CheckSplitAndReplace(text, needle, second);
    CheckTrim(text);
    CheckTrim(needle);
    CheckAtoI(text);
    CheckAtoI(needle);
    CheckBetween(text, needle, second);
    CheckAlternatives(text, needle);

    const TextPos last = FindLastChar(text, needle.empty() ? ' ' : needle[0]);
    if (last != kNotFound) {
        FUZZ_CHECK(CharacterStarts(text)[static_cast<std::size_t>(last - 1)]);
        FUZZ_CHECK(CharLength(text, static_cast<std::size_t>(last - 1)) == 1);
    }
    (void)AtoF(text);
    (void)EqualsIgnoreAsciiCase(text, needle);
    CheckCodec(input);
    CheckCodec(needle);
    return 0;
}
