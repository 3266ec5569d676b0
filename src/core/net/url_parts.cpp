#include "url_parts.h"

#include "core/text/gbk_text.h"

#include <climits>
#include <cmath>

namespace logdesk {

namespace {

// util's AsciiLower folds every byte; a host may hold double-byte characters
// whose second byte looks like a capital letter, and those must stay.
std::string LowerSingleByteLetters(std::string_view text) {
    std::string out(text);
    for (std::size_t i = 0; i < out.size();) {
        const std::size_t len = CharLength(out, i);
        if (len == 1) {
            out[i] = AsciiLower(out[i]);
        }
        i += len;
    }
    return out;
}

} // namespace

std::string UrlHost(std::string_view url, bool keepPort) {
    const TextPos scheme = FindText(url, "http://");
    const TextPos start = scheme == kNotFound ? 1 : scheme + 7;
    if (static_cast<std::size_t>(start) > url.size()) {
        return {};
    }
    const TextPos slash = FindText(url, "/", start);
    std::string_view host = url.substr(static_cast<std::size_t>(start - 1));
    if (slash != kNotFound) {
        host = host.substr(0, static_cast<std::size_t>(slash - start));
    }
    if (!keepPort) {
        const TextPos colon = FindText(host, ":");
        if (colon != kNotFound) {
            host = host.substr(0, static_cast<std::size_t>(colon - 1));
        }
    }
    return LowerSingleByteLetters(host);
}

std::string UrlPath(std::string_view url) {
    TextPos hostAt = FindTextIgnoreCase(url, UrlHost(url));
    if (hostAt == kNotFound) {
        hostAt = 1;
    }
    const TextPos slash = FindTextIgnoreCase(url, "/", hostAt);
    if (slash == kNotFound) {
        return "/";
    }
    return std::string(url.substr(static_cast<std::size_t>(slash - 1)));
}

int UrlPort(std::string_view url) {
    const std::string hostAndPort = UrlHost(url, true);
    const TextPos colon = FindText(hostAndPort, ":");
    if (colon == kNotFound) {
        return 80;
    }
    const double number =
        AtoF(std::string_view(hostAndPort).substr(static_cast<std::size_t>(colon)));
    if (std::isnan(number)) {
        return 0;
    }
    if (number <= INT_MIN) {
        return INT_MIN;
    }
    if (number >= INT_MAX) {
        return INT_MAX;
    }
    return static_cast<int>(number);
}

} // namespace logdesk
