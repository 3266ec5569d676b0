#include "core/coverage/url_key.h"

#include "core/text/gbk_text.h"

#include <algorithm>

namespace logdesk {
namespace {

enum class Part { Path, Query };

// Escaped bytes that keep their escape, because decoding them would change
// where a part ends or splits, or would put a control byte into the key.
bool StaysEscaped(unsigned char byte, Part part) {
    if (byte < 0x20 || byte == 0x7F || byte == '%' || byte == '#') {
        return true;
    }
    if (part == Part::Path) {
        return byte == '/' || byte == '?';
    }
    return byte == '&' || byte == '=' || byte == '+' || byte == ';' || byte == ' ';
}

// Raw bytes written as escapes: ones that cannot stand in a key as they are
// (a "%" that starts no escape included), and a "?" or "#" that the part
// holds as data (a stem is all path).
bool EscapedWhenRaw(unsigned char byte, Part part) {
    if (byte < 0x20 || byte == 0x7F || byte == '%' || byte == '#') {
        return true;
    }
    return part == Part::Path ? byte == '?' : byte == ' ';
}

void AppendEscaped(std::string& out, unsigned char byte) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    out += '%';
    out += kHex[byte >> 4];
    out += kHex[byte & 0x0F];
}

// `text` by the rules of its part (url_key.h): a byte and its escape come
// out alike wherever the rules decode it, so "a" and %61 meet, and so do a
// "?" inside a stem and the %3F of a sitemap's path.
std::string DecodePart(std::string_view text, Part part) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        unsigned char byte = static_cast<unsigned char>(text[i]);
        bool escaped = false;
        if (byte == '%' && i + 2 < text.size() && HexDigitValue(text[i + 1]) >= 0 &&
            HexDigitValue(text[i + 2]) >= 0) {
            byte = static_cast<unsigned char>(HexDigitValue(text[i + 1]) * 16 +
                                              HexDigitValue(text[i + 2]));
            escaped = true;
            i += 2;
        }
        if (part == Part::Path && (byte == ' ' || byte == '+')) {
            out += '+';
        } else if (escaped ? StaysEscaped(byte, part) : EscapedWhenRaw(byte, part)) {
            AppendEscaped(out, byte);
        } else {
            out += static_cast<char>(byte);
        }
    }
    return out;
}

// RFC 3986's remove_dot_segments over a decoded path.
std::string RemoveDotSegments(std::string_view in) {
    std::string out;
    out.reserve(in.size());
    const auto dropLastSegment = [&out] {
        const std::size_t slash = out.rfind('/');
        out.erase(slash == std::string::npos ? 0 : slash);
    };
    while (!in.empty()) {
        if (in.starts_with("../")) {
            in.remove_prefix(3);
        } else if (in.starts_with("./")) {
            in.remove_prefix(2);
        } else if (in.starts_with("/./")) {
            in.remove_prefix(2);
        } else if (in == "/.") {
            in = "/";
        } else if (in.starts_with("/../")) {
            in.remove_prefix(3);
            dropLastSegment();
        } else if (in == "/..") {
            in = "/";
            dropLastSegment();
        } else if (in == "." || in == "..") {
            in = {};
        } else {
            const std::size_t next = in.find('/', 1);
            const std::size_t length = next == std::string_view::npos ? in.size() : next;
            out.append(in.substr(0, length));
            in.remove_prefix(length);
        }
    }
    return out;
}

std::string MakeKey(std::string_view path, std::string_view query) {
    std::string key =
        path.empty() ? std::string("/") : RemoveDotSegments(DecodePart(path, Part::Path));
    if (key.empty()) {
        key = "/";
    }
    // IIS writes "-" for a request without a query, so a listed "?-" is a
    // page no log line can tell from the bare path.
    if (!query.empty() && query != "-") {
        // A query that decodes to "-" alone stays escaped, so that the key
        // read back as a logged request is not taken for one without.
        const std::string decoded = DecodePart(query, Part::Query);
        key += '?';
        key += decoded == "-" ? "%2D" : decoded;
    }
    return key;
}

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

bool AllDigits(std::string_view text) {
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
    }
    return true;
}

} // namespace

std::optional<SiteUrlKey> SplitSiteUrl(std::string_view url) {
    while (!url.empty() && IsSpace(url.front())) {
        url.remove_prefix(1);
    }
    while (!url.empty() && IsSpace(url.back())) {
        url.remove_suffix(1);
    }
    std::string_view defaultPort;
    if (StartsWithIgnoreAsciiCase(url, "http://")) {
        url.remove_prefix(7);
        defaultPort = "80";
    } else if (StartsWithIgnoreAsciiCase(url, "https://")) {
        url.remove_prefix(8);
        defaultPort = "443";
    } else {
        return std::nullopt;
    }
    const std::size_t hostEnd = std::min(url.find_first_of("/?#"), url.size());
    std::string_view host = url.substr(0, hostEnd);
    std::string_view rest = url.substr(hostEnd);
    if (const std::size_t at = host.rfind('@'); at != std::string_view::npos) {
        host.remove_prefix(at + 1);
    }
    // A port follows the last ":" outside an IPv6 literal's brackets.
    const std::size_t colon = host.rfind(':');
    const std::size_t bracket = host.rfind(']');
    if (colon != std::string_view::npos && (bracket == std::string_view::npos || bracket < colon)) {
        const std::string_view port = host.substr(colon + 1);
        if (!AllDigits(port)) {
            return std::nullopt;
        }
        if (port.empty() || port == defaultPort) {
            host = host.substr(0, colon);
        }
    }
    if (host.empty() || host.front() == ':') {
        return std::nullopt;
    }
    if (const std::size_t hash = rest.find('#'); hash != std::string_view::npos) {
        rest = rest.substr(0, hash);
    }
    std::string_view query;
    if (const std::size_t mark = rest.find('?'); mark != std::string_view::npos) {
        query = rest.substr(mark + 1);
        rest = rest.substr(0, mark);
    }
    SiteUrlKey split;
    split.host.reserve(host.size());
    for (const char c : host) {
        split.host += AsciiLower(c);
    }
    split.key = MakeKey(rest, query);
    return split;
}

namespace {

// Whether the rules leave `text` as it is: no escape, no byte they write as
// one, no space, and (in a path) nothing that could be a dot segment.
bool KeptAsItIs(std::string_view text, Part part) {
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (EscapedWhenRaw(byte, part) || byte == ' ') {
            return false;
        }
    }
    return part == Part::Query || text.find("/.") == std::string_view::npos;
}

} // namespace

std::string LogUrlKey(std::string_view uriStem, std::string_view uriQuery) {
    std::string key;
    AppendLogUrlKey(key, uriStem, uriQuery);
    return key;
}

void AppendLogUrlKey(std::string& key, std::string_view uriStem, std::string_view uriQuery) {
    // Nearly every logged path and query is kept as it is: they are copied
    // without the decoding's own strings.
    const bool query = !uriQuery.empty() && uriQuery != "-";
    if (uriStem.starts_with('/') && KeptAsItIs(uriStem, Part::Path) &&
        (!query || KeptAsItIs(uriQuery, Part::Query))) {
        key.append(uriStem);
        if (query) {
            key += '?';
            key.append(uriQuery);
        }
        return;
    }
    key += MakeKey(uriStem, uriQuery);
}

} // namespace logdesk
