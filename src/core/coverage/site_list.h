// One file of the site's own URL list, read from its bytes: a sitemap, a
// sitemap index, a plain list of URLs or a CSV export. The kind is told by
// the content, never by the name:
// - XML (the first byte after a byte order mark and white space is "<", or
//   the text starts with a UTF-16 byte order mark) is a sitemap when its
//   root element is <urlset> and an index when it is <sitemapindex>
//   (prefixes and namespaces are not checked); any other root fails;
// - otherwise blank lines and lines starting with "#" are skipped up to the
//   first other line: when that starts with http:// or https:// (any case)
//   the file is a plain list, one URL a line, where blank and "#" lines are
//   skipped throughout; otherwise that line is a CSV header.
// Lines end in LF or CR LF.
#pragma once

#include "core/base/result.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace logdesk {

// The sitemap protocol's limits: URLs in one sitemap (and sitemaps in one
// index), and bytes of one file once unpacked.
inline constexpr std::size_t kMaxSitemapUrls = 50'000;
inline constexpr std::uint64_t kMaxSiteListBytes = 52'428'800;

enum class SiteListKind {
    Sitemap,
    SitemapIndex,
    PlainList,
    Csv,
};

struct ListedUrl {
    // As the file gives it: XML text with its references resolved, a CSV
    // field unquoted, spaces and tabs around it trimmed. Not checked to be a
    // URL here.
    std::string url;
    std::uint64_t line = 0; // where its <loc>, line or CSV record starts, from 1
};

struct SiteList {
    SiteListKind kind = SiteListKind::PlainList;
    std::vector<ListedUrl> urls; // an index's are the sitemaps it lists
};

// `name` is the file, for errors, which name it in Error::path and the line
// in the cause. XML is read by expat with any DOCTYPE refused, so no entity
// other than the five predefined ones and character references can occur
// and nothing is fetched; a document that is not well-formed fails with
// expat's reason; an index or sitemap with more than kMaxSitemapUrls
// entries fails, as do a <url> or <sitemap> without exactly one <loc>.
// A CSV's URLs come from the column whose header is `csvColumn` (ASCII case
// ignored, spaces around it trimmed) or, when that is empty, from the first
// column headed Address, URL or loc; rows whose cell there is empty are
// skipped. The CSV delimiter is the one of ",", ";" and tab found most often
// in the header (",", when none is).
Result<SiteList> ParseSiteList(std::string_view bytes, const std::string& name,
                               std::string_view csvColumn = {});

// The XML reader alone, for bytes already known to be XML.
Result<SiteList> ParseSitemapXml(std::string_view bytes, const std::string& name);

} // namespace logdesk
