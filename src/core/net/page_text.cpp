#include "page_text.h"

#include "core/text/gbk_codec.h"
#include "core/text/gbk_text.h"
#include "core/text/text_search.h"

#include <algorithm>
#include <unicode/unorm2.h>
#include <unicode/ustring.h>
#include <unicode/utf16.h>

namespace logdesk {

namespace {

// '' stands for one double quote in the charset list.
constexpr std::string_view kUtf8Charsets = "charset=utf-8[fg]charset=''utf-8''";
constexpr int kPageTimeoutSeconds = 30;

// Folds each base character with the combining marks after it into one
// precomposed character, pair by pair, as far as Unicode defines one; marks
// that do not compose stay where they are.
std::u16string ComposePairs(const std::u16string& text) {
    UErrorCode status = U_ZERO_ERROR;
    const UNormalizer2* nfc = unorm2_getNFCInstance(&status);
    if (U_FAILURE(status) || text.empty()) {
        return text;
    }
    std::u16string out;
    out.reserve(text.size());
    const auto append = [&out](UChar32 c) {
        if (c >= 0) {
            UChar units[U16_MAX_LENGTH];
            int32_t n = 0;
            U16_APPEND_UNSAFE(units, n, c);
            out.append(units, static_cast<std::size_t>(n));
        }
    };
    UChar32 pending = -1;
    const auto length = static_cast<int32_t>(text.size());
    for (int32_t i = 0; i < length;) {
        UChar32 c = 0;
        U16_NEXT(text.data(), i, length, c);
        const UChar32 composed = pending >= 0 ? unorm2_composePair(nfc, pending, c) : -1;
        if (composed >= 0) {
            pending = composed;
        } else {
            append(pending);
            pending = c;
        }
    }
    append(pending);
    return out;
}

} // namespace

std::string Utf8ToGbk(std::span<const std::uint8_t> utf8) {
    const std::string_view bytes(reinterpret_cast<const char*>(utf8.data()), utf8.size());
    std::string gbk = Utf16ToGbk(ComposePairs(Utf8ToUtf16(bytes)));
    gbk.resize(std::min(gbk.size(), gbk.find('\0')));
    return gbk;
}

std::string DecodePageText(std::span<const std::uint8_t> body, int charsetMode) {
    const auto zero = std::find(body.begin(), body.end(), std::uint8_t{0});
    const std::span<const std::uint8_t> bytes(body.begin(), zero);
    std::string page(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    bool convert = charsetMode == kCharsetUtf8;
    if (charsetMode == kCharsetFromPage) {
        std::string part = TextBetween(page, "<head>", "</head>");
        if (part.empty()) {
            part = page;
        }
        convert = MatchAlternatives(part, ReplaceText(kUtf8Charsets, "''", "\""), true);
    }
    return convert ? Utf8ToGbk(bytes) : page;
}

Result<std::string> FetchPageText(const FetchRequest& request, int charsetMode,
                                  const FetchContext& context) {
    const Result<FetchResponse> fetched = HttpExchange(request, kPageTimeoutSeconds, context);
    if (!fetched) {
        return fetched.error();
    }
    return DecodePageText(fetched->body, charsetMode);
}

} // namespace logdesk
