// The site's own list of URLs, read from the files the user names, for
// crawl coverage: which of them a crawler fetched, which it never did, and
// which fetched URLs the list lacks.
#pragma once

#include "core/base/result.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace logdesk {

struct SiteUrlOptions {
    // The host whose URLs are kept, as SplitSiteUrl gives hosts (ASCII case
    // ignored). Needed when the list holds several; when given, it must be
    // one of them.
    std::string host;
    // The CSV column holding the URLs; empty takes the first column headed
    // Address, URL or loc (site_list.h).
    std::string csvColumn;
};

struct SiteUrl {
    std::string url; // as the list gives it
    std::string key; // its match key (url_key.h)
};

struct SiteUrlList {
    std::string host;               // the chosen host; empty for a list without URLs
    std::vector<SiteUrl> urls;      // one per key, first come first, in reading order
    std::vector<std::string> hosts; // every host the list names, in first-seen order
    std::size_t otherHostUrls = 0;  // entries left out as another host's
    std::size_t duplicateUrls = 0;  // entries of the host left out as their key came before
    std::vector<std::string> files; // every file read, in reading order
};

// Reads each path as site_list.h tells its kind, a .gz one (told by its
// first bytes) unpacked first, in the order given; a sitemap index's
// sitemaps are read at its place, in its order, from the index's own folder:
// a <loc>'s last path segment, percent-decoded, is the file name there
// ("https://x.com/maps/s-1.xml.gz" is "s-1.xml.gz" beside the index). A file
// reached twice is read once.
//
// Fails, naming the file (and the line where there is one), when a file
// cannot be read or is damaged (site_list.h), when it holds more than
// kMaxSiteListBytes once unpacked, when a sitemap, list or CSV entry is not
// an http:// or https:// URL, when an index lists another index (the
// protocol allows none) or a file that is missing, and when the list holds
// several hosts and the options name none of them. Runs on the calling
// thread; nothing is kept between calls.
// The Error::what of the two failures that choosing a host mends: a list of
// several hosts without one named, and a named host the list lacks.
inline constexpr std::string_view kSeveralHosts = "several hosts";
inline constexpr std::string_view kHostNotListed = "host not listed";

Result<SiteUrlList> ReadSiteUrls(const std::vector<std::string>& paths,
                                 const SiteUrlOptions& options);

} // namespace logdesk
