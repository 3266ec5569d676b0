#include "core/logimport/crawler_registry.h"
#include "core/logimport/spider_catalogue.h"
#include "core/text/gbk_codec.h"
#include "core/text/gbk_text.h"

#include <gtest/gtest.h>
#include <set>

namespace logdesk {
namespace {

// What every entry must say, checked over the whole registry so that a new
// entry that forgets a part, or repeats another's, fails here rather than
// showing up as a white slice, a misplaced column or an unchecked crawler.
TEST(CrawlerRegistryTest, EveryEntryIsComplete) {
    const std::span<const CrawlerEntry> registry = CrawlerRegistry();
    ASSERT_EQ(registry.size(), static_cast<std::size_t>(kSpiderCount));
    std::vector<bool> placed(registry.size(), false);
    for (std::size_t i = 0; i < registry.size(); ++i) {
        const CrawlerEntry& entry = registry[i];
        SCOPED_TRACE(entry.displayName);
        // Indexed by id: SpiderCatalogue()[id] is the entry of id.
        EXPECT_EQ(static_cast<std::size_t>(entry.id), i);
        EXPECT_GE(entry.rgb, 0);
        EXPECT_LE(entry.rgb, 0xFFFFFF);
        EXPECT_NE(entry.check.kind, CrawlerCheck::Kind::Unset);
        if (entry.check.kind == CrawlerCheck::Kind::ReverseDns) {
            EXPECT_FALSE(entry.check.tokens.empty());
            EXPECT_FALSE(entry.check.domains.empty());
            EXPECT_TRUE(entry.check.documentation.starts_with("http"));
        } else {
            EXPECT_TRUE(entry.check.tokens.empty() && entry.check.domains.empty());
        }
        EXPECT_EQ(entry.tokens.empty(), entry.id == SpiderId::Unknown);
        const std::size_t open = entry.displayName.rfind('(');
        EXPECT_TRUE(open != std::string_view::npos && open > 0 && entry.displayName.ends_with(')'));

        ASSERT_GE(entry.tallyPlace, 0);
        ASSERT_LT(entry.tallyPlace, kSpiderCount);
        EXPECT_FALSE(placed[static_cast<std::size_t>(entry.tallyPlace)]) << entry.tallyPlace;
        placed[static_cast<std::size_t>(entry.tallyPlace)] = true;
        // Today's crawlers follow every classic one, the fallback comes last.
        if (entry.id == SpiderId::Unknown) {
            EXPECT_EQ(entry.tallyPlace, kSpiderCount - 1);
        } else {
            EXPECT_EQ(entry.tallyPlace < kClassicSpiderCount, entry.id < kFirstTodaySpider);
        }
    }
}

// The tally and the chart colours find a crawler by its short name anywhere
// in a display name, and verification finds a rule by token: neither may
// lead to a second entry.
TEST(CrawlerRegistryTest, NamesAndCheckTokensLeadToOneEntry) {
    std::set<std::string> checkTokens;
    for (const SpiderInfo& spider : SpiderCatalogue()) {
        for (const SpiderInfo& other : SpiderCatalogue()) {
            if (other.id != spider.id) {
                EXPECT_FALSE(ContainsIgnoreCase(other.displayName, spider.shortName))
                    << GbkToUtf8(spider.shortName) << " in " << GbkToUtf8(other.displayName);
            }
        }
        for (std::string_view token :
             CrawlerRegistry()[static_cast<std::size_t>(spider.id)].check.tokens) {
            EXPECT_TRUE(checkTokens.insert(AsciiLower(token)).second) << token;
        }
    }
}

// A registry of one crawler and the fallback, as a new entry would be
// written: its parts reach the catalogue and the tally order.
TEST(CrawlerRegistryTest, ANewEntryFlowsIntoCatalogueAndTally) {
    const CrawlerEntry registry[] = {
        {.id = SpiderId::Google,
         .tokens = {"ExampleBot"},
         .displayName = "示例(ExampleBot)",
         .tallyPlace = 1,
         .rgb = Rgb(1, 2, 3),
         .check = NoPublishedCheck()},
        {.id = SpiderId::Unknown,
         .tokens = {},
         .displayName = "其他流量(unknown)",
         .tallyPlace = 0,
         .rgb = Rgb(255, 255, 255),
         .check = NoPublishedCheck()},
    };
    const std::vector<SpiderInfo> catalogue = CatalogueOf(registry);
    ASSERT_EQ(catalogue.size(), 2u);
    EXPECT_EQ(catalogue[0].displayName, Gbk("示例(ExampleBot)"));
    EXPECT_EQ(catalogue[0].shortName, Gbk("示例"));
    EXPECT_EQ(catalogue[0].tokens, std::vector<std::string_view>{"ExampleBot"});
    EXPECT_EQ(catalogue[0].rgb, 0x010203);
    EXPECT_TRUE(catalogue[0].classic);
    EXPECT_EQ(TallyOrderOf(registry), (std::vector<std::string>{Gbk("其他流量"), Gbk("示例")}));
}

} // namespace
} // namespace logdesk
