// The input is a fetched page body. It is decoded in every charset mode, cut
// for the IP location, and its first line serves as an IP for the query URL.
// Decoded text stops at the first zero byte and is valid GBK; the query URL
// holds the IP so that percent-decoding gives it back.
#include "fuzz_support.h"
#include "core/net/ip_location.h"
#include "core/net/page_text.h"
#include "core/text/gbk_codec.h"
#include "core/text/gbk_text.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace logdesk {
namespace {

bool IsAscii(std::string_view text) {
    for (const char c : text) {
        if (static_cast<unsigned char>(c) >= 0x80) {
            return false;
        }
    }
    return true;
}

bool DecodesCleanly(std::string_view gbk) {
    return GbkToUtf16(gbk).find(u'\uFFFD') == std::u16string::npos;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

void CheckDecoding(std::span<const std::uint8_t> body) {
    const std::string_view raw(reinterpret_cast<const char*>(body.data()), body.size());
    const std::string_view beforeZero = raw.substr(0, raw.find('\0'));

    // Any other mode keeps the bytes up to the first zero byte.
    FUZZ_CHECK(DecodePageText(body, 1) == beforeZero);

    const std::string converted = Utf8ToGbk(body);
    FUZZ_CHECK(converted.find('\0') == std::string::npos);
    FUZZ_CHECK(DecodesCleanly(converted));
    if (IsAscii(beforeZero)) {
        FUZZ_CHECK(converted == beforeZero);
    }
    FUZZ_CHECK(DecodePageText(body, kCharsetUtf8) == converted);

    const std::string fromPage = DecodePageText(body, kCharsetFromPage);
    FUZZ_CHECK(fromPage == converted || fromPage == beforeZero);

    const std::string location = IpLocationFromPage(fromPage);
    if (!location.empty()) {
        FUZZ_CHECK(FindText(fromPage, location) != kNotFound);
    }
}

// The query value, percent-decoded, is the IP; only characters that stand
// for themselves in a query value are left unencoded.
void CheckQueryUrl(std::string_view host, std::string_view ip) {
    const std::string url = IpLocationQueryUrl(host, ip);
    FUZZ_CHECK(FindTextIgnoreCase(url, "http://") == 1);
    const std::string_view marker = "/baidu?word=";
    const std::size_t at = url.rfind(marker);
    FUZZ_CHECK(at != std::string::npos);
    const std::string_view query = std::string_view(url).substr(at + marker.size());
    FUZZ_CHECK(url.substr(0, at).ends_with(host));
    std::string decoded;
    for (std::size_t i = 0; i < query.size(); ++i) {
        const char c = query[i];
        FUZZ_CHECK(std::string_view("&=+;# \"<>%\\^`{|}[]").find(c) == std::string_view::npos ||
                   c == '%');
        FUZZ_CHECK(static_cast<unsigned char>(c) > 0x20 && static_cast<unsigned char>(c) < 0x7F);
        if (c == '%') {
            FUZZ_CHECK(i + 2 < query.size());
            const int high = HexValue(query[i + 1]);
            const int low = HexValue(query[i + 2]);
            FUZZ_CHECK(high >= 0 && low >= 0);
            decoded += static_cast<char>(high * 16 + low);
            i += 2;
        } else {
            decoded += c;
        }
    }
    FUZZ_CHECK(decoded == ip);
}

} // namespace
} // namespace logdesk

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace logdesk;
    const std::span<const std::uint8_t> body(data, size);
    CheckDecoding(body);

    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::size_t lineEnd = text.find('\n');
    const std::string_view ip = text.substr(0, lineEnd);
    CheckQueryUrl("www.baidu.com", ip);
    if (lineEnd != std::string_view::npos) {
        const std::string_view rest = text.substr(lineEnd + 1);
        CheckQueryUrl(rest.substr(0, rest.find('\n')), ip);
    }
    return 0;
}
