// The input is one file of a site's URL list: read as the kind its content
// says (sitemap, index, plain list, CSV by its default column and by a named
// one) and as XML alone. What is read is held to site_list.h: failures name
// the file and a line, lines run forward within the input, a sitemap keeps
// the protocol's count. Every URL that has a key is held to url_key.h: the
// key is a path that logs back as itself, free of bytes a log cannot hold,
// and a logged request keys as the same URL in a list.
#include "core/coverage/site_list.h"
#include "core/coverage/url_key.h"
#include "fuzz_support.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace logdesk {
namespace {

const std::string kName = "fuzz.xml";

void CheckKey(const std::string& key) {
    FUZZ_CHECK(!key.empty() && key.front() == '/');
    for (const char c : key) {
        const auto byte = static_cast<unsigned char>(c);
        FUZZ_CHECK(byte >= 0x20 && byte != 0x7F && byte != ' ' && byte != '#');
    }
    // Read back as a logged request, a key names its own page.
    const std::size_t mark = key.find('?');
    const std::string stem = key.substr(0, mark);
    const std::string query = mark == std::string::npos ? "-" : key.substr(mark + 1);
    FUZZ_CHECK(stem.find("/./") == std::string::npos && stem.find("/../") == std::string::npos);
    FUZZ_CHECK(LogUrlKey(stem, query) == key);
}

void CheckList(const Result<SiteList>& list, std::string_view bytes) {
    if (!list) {
        FUZZ_CHECK(list.error().path == kName);
        FUZZ_CHECK(list.error().cause.starts_with("line "));
        return;
    }
    const std::uint64_t lines =
        1 + static_cast<std::uint64_t>(std::count(bytes.begin(), bytes.end(), '\n'));
    if (list->kind == SiteListKind::Sitemap || list->kind == SiteListKind::SitemapIndex) {
        FUZZ_CHECK(list->urls.size() <= kMaxSitemapUrls);
    }
    std::uint64_t previous = 1;
    for (const ListedUrl& listed : list->urls) {
        FUZZ_CHECK(listed.line >= previous);
        // UTF-16 XML counts lines in its own characters; the bytes bound them.
        FUZZ_CHECK(listed.line <= std::max<std::uint64_t>(lines, bytes.size()));
        previous = listed.line;
        if (list->kind != SiteListKind::Sitemap && list->kind != SiteListKind::SitemapIndex) {
            FUZZ_CHECK(!listed.url.empty());
            FUZZ_CHECK(listed.line <= lines);
        }
        if (const auto split = SplitSiteUrl(listed.url)) {
            CheckKey(split->key);
            for (const char c : split->host) {
                FUZZ_CHECK(c < 'A' || c > 'Z');
            }
        }
    }
}

} // namespace
} // namespace logdesk

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace logdesk;
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    CheckList(ParseSiteList(bytes, kName), bytes);
    CheckList(ParseSiteList(bytes, kName, "Canonical"), bytes);
    CheckList(ParseSitemapXml(bytes, kName), bytes);

    // The input itself as a URL, and cut in two as a logged stem and query.
    if (const auto split = SplitSiteUrl(bytes)) {
        CheckKey(split->key);
    }
    const std::size_t cut = size == 0 ? 0 : data[0] % (size + 1);
    const std::string stem = "/" + std::string(bytes.substr(0, cut));
    const std::string_view query = bytes.substr(cut);
    CheckKey(LogUrlKey(stem, query));
    // A logged request keys as the same URL in a list does, where the list
    // can spell it: no "?" or "#" in the path, no "#" in the query, and no
    // blank that a list's line would lose at its end.
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    if (stem.find_first_of("?#") == std::string::npos && query.find('#') == std::string::npos &&
        (query.empty() || !blank(query.back()))) {
        const auto listed = SplitSiteUrl("http://h" + stem + "?" + std::string(query));
        FUZZ_CHECK(listed && listed->key == LogUrlKey(stem, query));
    }
    return 0;
}
