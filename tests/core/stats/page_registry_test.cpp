// The pages' entries as the front ends use them: every page reachable by its
// name and by its tab, the tabs a strip without gaps, each accumulator the
// page's own, each page's columns those its entry declares.
#include "core/stats/page_builds.h"
#include "core/text/gbk_codec.h"
#include "support/import_test_support.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <set>
#include <string>

namespace logdesk {
namespace {

TEST(PageRegistryTest, EveryPageIsReachableByNameAndTabAndCountsAsItself) {
    const FieldMap none = MapHeader("#Fields: date").fieldMap;
    std::set<std::string_view> names;
    std::set<StatsPage> pages;
    for (const StatsPageEntry& entry : StatsPages()) {
        SCOPED_TRACE(std::string(entry.cliName));
        EXPECT_TRUE(names.insert(entry.cliName).second) << "two pages of one name";
        EXPECT_TRUE(pages.insert(entry.page).second) << "two entries of one page";
        EXPECT_EQ(StatsPageNamed(entry.cliName), &entry);
        EXPECT_EQ(&StatsPageEntryOf(entry.page), &entry);
        if (entry.tab == kNoTab) {
            EXPECT_TRUE(entry.tabIcon.empty());
            EXPECT_FALSE(entry.byDate);
        } else {
            EXPECT_EQ(StatsPageOfTab(entry.tab, entry.byDate), &entry);
        }
        EXPECT_EQ(entry.byDate, entry.tabCaption.empty());
        // The accumulator makes this page: its empty page has the columns
        // of the page built from a table.
        const StatsTable counted = entry.makeAccumulator({})->finish(PageFields::Of(none), {});
        const StatsTable built = BuildStatsPage(entry.page, {}, none, {}, {});
        EXPECT_EQ(counted.headers, built.headers);
        EXPECT_EQ(counted.notice, built.notice);
    }
    EXPECT_EQ(StatsPageNamed("records"), nullptr); // a page of logdesk-report's own

    // The window's strip: tabs 0, 1, 2, ... each with a caption; a tab asked
    // for its by-date page without one shows its own.
    const std::vector<const StatsPageEntry*> tabs = StatsPageTabs();
    for (std::size_t t = 0; t < tabs.size(); ++t) {
        EXPECT_EQ(tabs[t]->tab, static_cast<int>(t));
        EXPECT_FALSE(tabs[t]->tabCaption.empty());
        EXPECT_FALSE(tabs[t]->tabIcon.empty());
        const StatsPageEntry* byDate = StatsPageOfTab(static_cast<int>(t), true);
        ASSERT_NE(byDate, nullptr);
        EXPECT_EQ(byDate->tab, static_cast<int>(t));
    }
    EXPECT_EQ(StatsPageOfTab(static_cast<int>(tabs.size()), false), nullptr);
    EXPECT_EQ(StatsPageOfTab(kNoTab, true), nullptr);
    EXPECT_EQ(StatsPageOfTab(kNoTab, false), nullptr);
    // The pages without a tab leave the window's four as they were.
    ASSERT_EQ(tabs.size(), 4u);
    EXPECT_EQ(tabs[3]->page, StatsPage::Status);

    // The crawl-analysis window's strip: tabs 0, 1, 2, ... once each, every
    // one a page the statistics window has no tab for, with its caption.
    std::vector<int> analysisTabs;
    for (const StatsPageEntry& entry : StatsPages()) {
        if (entry.crawlAnalysisTab != kNoTab) {
            analysisTabs.push_back(entry.crawlAnalysisTab);
            EXPECT_EQ(entry.tab, kNoTab) << entry.cliName;
            EXPECT_FALSE(entry.tabCaption.empty()) << entry.cliName;
        }
    }
    std::sort(analysisTabs.begin(), analysisTabs.end());
    for (std::size_t t = 0; t < analysisTabs.size(); ++t) {
        EXPECT_EQ(analysisTabs[t], static_cast<int>(t));
    }
    EXPECT_EQ(analysisTabs.size(), 4u);
}

// A page puts its cells where its entry says: the captions in order, the
// crawler columns as many as the tally has entries, and decimal numbers in
// every count column (the summary row's too).
TEST(PageRegistryTest, EveryPageFillsTheColumnsItsEntryDeclares) {
    const LogImport log = testing::Imported(testing::ImportAll(
        {"#Fields: date time c-ip cs-uri-stem sc-status sc-win32-status cs(User-Agent) "
         "cs-uri-query time-taken sc-bytes\n"
         "2013-05-01 01:00:00 10.0.0.1 /a 200 0 Baiduspider - 15 300\n"
         "2013-05-01 02:00:00 10.0.0.2 /b 404 2 Googlebot x=1 20 400\n"
         "2013-05-02 02:30:00 10.0.0.1 /a 301 0 Baiduspider - 10 300\n"
         "2013-05-02 02:30:00 10.0.0.1 /a 200 0 Mozilla - 10 300\n"},
        {}));
    ASSERT_GE(log.tally.entries().size(), 3u);
    const SpiderFilter baidu{SpiderDisplayName(SpiderId::Baidu)};
    for (const StatsPageEntry& entry : StatsPages()) {
        for (const SpiderFilter& filter : {SpiderFilter{}, baidu}) {
            SCOPED_TRACE(std::string(entry.cliName) + (filter.allTraffic() ? "" : " filtered"));
            const StatsTable page =
                BuildStatsPage(entry.page, log.table, log.header.fieldMap, log.tally,
                               entry.crawlerFilter ? filter : SpiderFilter{});
            EXPECT_EQ(page.headers, PageHeaders(entry, log.tally, filter));
            StatsPageEntry shown = entry;
            if (!filter.allTraffic() && !entry.filteredColumns.empty()) {
                shown.columns = entry.filteredColumns;
            }
            const std::vector<ColumnKind> kinds = PageColumnKinds(shown, log.tally);
            ASSERT_EQ(kinds.size(), page.headers.size());
            ASSERT_FALSE(page.rows.empty());
            for (const std::vector<std::string>& row : page.rows) {
                ASSERT_EQ(row.size(), kinds.size());
                for (std::size_t c = 0; c < kinds.size(); ++c) {
                    if (kinds[c] == ColumnKind::Count) {
                        EXPECT_TRUE(!row[c].empty() &&
                                    std::all_of(row[c].begin(), row[c].end(),
                                                [](char d) { return d >= '0' && d <= '9'; }))
                            << "column " << c << ": " << row[c];
                    }
                }
            }
        }
    }
}

} // namespace
} // namespace logdesk
