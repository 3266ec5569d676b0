// The pages' entries as the front ends use them: every page reachable by its
// name and by its tab, the tabs a strip without gaps, each accumulator the
// page's own.
#include "core/stats/page_builds.h"
#include "core/text/gbk_codec.h"

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
        EXPECT_EQ(StatsPageOfTab(entry.tab, entry.byDate), &entry);
        EXPECT_EQ(entry.byDate, entry.tabCaption.empty());
        // The accumulator makes this page: its empty page has the columns
        // of the page built from a table.
        const StatsTable counted = entry.makeAccumulator({})->finish(PageFields::Of(none), {});
        const StatsTable built = BuildStatsPage(entry.page, {}, none, {}, {});
        EXPECT_EQ(counted.headers, built.headers);
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
    EXPECT_EQ(StatsPageOfTab(-1, true), nullptr);
}

} // namespace
} // namespace logdesk
