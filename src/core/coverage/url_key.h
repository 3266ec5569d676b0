// Match keys: the form in which a URL from the site's own list and a request
// from the log meet exactly when they name the same page.
//
// A key is the path, then "?" and the query when there is one, both as bytes
// after percent-decoding. Decoding both sides makes no difference whether a
// log holds the path as the client sent it or decoded (IIS writes the
// decoded path), nor whether a sitemap writes "%E4%B8%AD" or the raw UTF-8
// bytes. The rules, in order:
//
// Path
//   - empty becomes "/";
//   - every %XX (hex in either case) becomes its byte, except the bytes that
//     would change where the path ends or splits: "%", "/", "?", "#" stay
//     escaped, as do control bytes (below 0x20, and 0x7F), always as %XX
//     with upper-case hex; a "%" not followed by two hex digits is a "%";
//   - a space (raw or %20) and a "+" (raw or %2B) are both "+": IIS logs a
//     space in the path as "+", so the two cannot be told apart in a log;
//   - dot segments are removed ("/a/./b" -> "/a/b", "/a/b/../c" -> "/a/c"),
//     also when spelt %2E;
//   - nothing else: letter case, a trailing "/", repeated "/" and non-ASCII
//     bytes stay as they are.
// Query
//   - an empty query (nothing after "?", or IIS's "-") is no query, and one
//     that decodes to "-" alone is "%2D";
//   - every %XX becomes its byte except "%", "&", "=", "+", ";" and "#",
//     which keep their %XX, as do space and control bytes (so "+" and %2B
//     stay different, as a form decoder takes them);
//   - parameter order, case and empty parameters stay as they are.
//
// Only http:// and https:// URLs have keys. Their host is kept beside the
// key: lower case, without user information and without the scheme's
// default port (80, 443); the scheme itself is dropped, so the http and
// https forms of a page share one key.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace logdesk {

struct SiteUrlKey {
    std::string host; // "example.com", "example.com:8080", "[::1]"
    std::string key;  // "/a/b.html?x=1"
};

// The host and key of an absolute http or https URL (scheme letters in any
// case, spaces around it ignored, fragment dropped); nothing for any other
// text or a URL without a host.
std::optional<SiteUrlKey> SplitSiteUrl(std::string_view url);

// The key of a logged request: IIS's cs-uri-stem and cs-uri-query, a query
// of "-" meaning none. A "?" or "#" in the stem is part of the path.
std::string LogUrlKey(std::string_view uriStem, std::string_view uriQuery);
// LogUrlKey appended to `key`, for a caller that keys every record.
void AppendLogUrlKey(std::string& key, std::string_view uriStem, std::string_view uriQuery);

} // namespace logdesk
