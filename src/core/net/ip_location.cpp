#include "ip_location.h"

#include "core/text/gbk_codec.h"
#include "core/text/gbk_text.h"
#include "core/text/text_search.h"

namespace logdesk {

namespace {

// Characters a query may hold as themselves (RFC 3986), less "&", "=", "+"
// and ";", which a form-style query reads as separators or as a blank.
bool StaysInQuery(unsigned char c) {
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) {
        return true;
    }
    return std::string_view("-._~:@/?!$'()*,").find(static_cast<char>(c)) != std::string_view::npos;
}

} // namespace

std::string IpLocationQueryUrl(std::string_view siteHost, std::string_view ip) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string url = FindTextIgnoreCase(siteHost, "http://") == 1 ? "" : "http://";
    url += siteHost;
    url += "/baidu?word=";
    for (const char c : ip) {
        const auto byte = static_cast<unsigned char>(c);
        if (StaysInQuery(byte)) {
            url += c;
        } else {
            url += '%';
            url += kHex[byte >> 4];
            url += kHex[byte & 0x0F];
        }
    }
    return url;
}

std::string IpLocationFromPage(std::string_view page) {
    static const std::string left = Gbk("来&nbsp;&nbsp;&nbsp;自:&nbsp;<strong>");
    return TextBetween(page, left, "</strong>");
}

} // namespace logdesk
