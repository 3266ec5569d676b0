#include "regex_engine.h"

#include "gbk_codec.h"

namespace logdesk {

namespace {

constexpr int kIgnoreCase = 1;
constexpr int kMultiLine = 2;
constexpr int kGlobal = 4;

std::wstring ToWide(std::string_view gbk) {
    const std::u32string utf32 = GbkToUtf32(gbk);
    return std::wstring(utf32.begin(), utf32.end());
}

std::string FromWide(const std::wstring& wide) {
    std::u32string utf32;
    utf32.reserve(wide.size());
    for (wchar_t c : wide) {
        utf32.push_back(static_cast<char32_t>(c));
    }
    return Utf32ToGbk(utf32);
}

} // namespace

static_assert(sizeof(wchar_t) == 4, "the matcher works on UTF-32 code points");

RegexEngine::RegexEngine() {
    compile();
}

RegexEngine::~RegexEngine() = default;

bool RegexEngine::SetPattern(std::string_view pattern, bool caseSensitive, bool singleLine,
                             bool firstMatchOnly) {
    const int bits = (caseSensitive ? 0 : kIgnoreCase) | (singleLine ? 0 : kMultiLine) |
                     (firstMatchOnly ? 0 : kGlobal);
    if (pattern == pattern_ && bits == optionBits_ && compiled_) {
        return true;
    }
    if (!pattern.empty()) {
        pattern_ = std::string(pattern);
    }
    optionBits_ = bits;
    compile();
    return true;
}

void RegexEngine::compile() {
    auto flags = std::regex_constants::ECMAScript;
    if ((optionBits_ & kIgnoreCase) != 0) {
        flags |= std::regex_constants::icase;
    }
    if ((optionBits_ & kMultiLine) != 0) {
        flags |= std::regex_constants::multiline;
    }
    try {
        regex_ = std::make_unique<std::wregex>(ToWide(pattern_), flags);
    } catch (const std::regex_error&) {
        regex_.reset();
    }
    compiled_ = true;
}

std::string RegexEngine::Replace(std::string_view source, std::string_view replacement) const {
    if (!regex_) {
        return {};
    }
    auto flags = std::regex_constants::format_default;
    if ((optionBits_ & kGlobal) == 0) {
        flags |= std::regex_constants::format_first_only;
    }
    try {
        return FromWide(std::regex_replace(ToWide(source), *regex_, ToWide(replacement), flags));
    } catch (const std::regex_error&) {
        return {};
    }
}

} // namespace logdesk
