// Helpers for tests that compare statistics pages.
#pragma once

#include "core/coverage/site_url_list.h"
#include "core/coverage/url_key.h"
#include "core/logimport/log_importer.h"
#include "core/text/gbk_codec.h"
#include "support/import_test_support.h"
#include "core/stats/page_builds.h"
#include "core/stats/stats_table.h"

#include <string>
#include <vector>

namespace logdesk::testing {

// Agents of two crawlers as IIS logs them.
inline const std::string kBaidu = "Mozilla/5.0+(compatible;+Baiduspider/2.0)";
inline const std::string kGoogle = "Mozilla/5.0+(compatible;+Googlebot/2.1)";

// A log of one header naming `fields` and these lines, written in UTF-8 and
// imported as GBK.
inline LogImport Import(const std::string& fields, const std::vector<std::string>& lines) {
    std::string bytes = "#Fields: " + fields + "\r\n";
    for (const std::string& line : lines) {
        bytes += line + "\r\n";
    }
    return Imported(ImportLogBytes(Utf8ToGbk(bytes)));
}

inline std::vector<std::string> Utf8(const std::vector<std::string>& gbk) {
    std::vector<std::string> out;
    for (const std::string& text : gbk) {
        out.push_back(GbkToUtf8(text));
    }
    return out;
}

// A page's rows in UTF-8.
inline std::vector<std::vector<std::string>> Rows(const StatsTable& page) {
    std::vector<std::vector<std::string>> rows;
    for (const std::vector<std::string>& row : page.rows) {
        rows.push_back(Utf8(row));
    }
    return rows;
}

// Same rows, same first-seen order, same figures and colours.
inline bool SamePage(const StatsTable& a, const StatsTable& b) {
    return a.headers == b.headers && a.rows == b.rows && a.summaryRow == b.summaryRow &&
           a.clearMarks == b.clearMarks && a.summaryCells == b.summaryCells &&
           a.plainCells == b.plainCells && a.notice == b.notice;
}

// A list of the site's URLs /p0 to /p199, each other one with "?x=1", so
// that random logs of /pN requests fetch some and miss others.
inline const SiteUrlList& TestSiteUrls() {
    static const SiteUrlList list = [] {
        SiteUrlList urls;
        for (int n = 0; n < 200; n += 2) {
            const std::string path = "/p" + std::to_string(n) + (n % 4 == 0 ? "?x=1" : "");
            urls.urls.push_back({"https://example.com" + path,
                                 SplitSiteUrl("https://example.com" + path)->key});
        }
        return urls;
    }();
    return list;
}

// The requests a differential test counts `page` with: every record, and
// each catalogue crawler's alone; with each depth where the page has one.
inline std::vector<PageRequest> EveryRequest(StatsPage page) {
    std::vector<PageRequest> requests{PageRequest{}};
    for (int s = 0; s < kSpiderCount; ++s) {
        requests.push_back(SpiderFilter{SpiderDisplayName(static_cast<SpiderId>(s))});
    }
    if (page == StatsPage::Coverage) {
        for (PageRequest& request : requests) {
            request.siteUrls = &TestSiteUrls();
        }
    }
    if (page == StatsPage::Sections) {
        for (std::size_t r = 0, n = requests.size(); r < n; ++r) {
            requests.push_back(requests[r]);
            requests.back().depth = 2;
        }
    }
    return requests;
}

} // namespace logdesk::testing
