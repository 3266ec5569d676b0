#include "logimport/spider_catalogue.h"
#include "text/gbk_codec.h"

#include <gtest/gtest.h>

namespace logdesk {
namespace {

std::string Identify(std::string_view agent) {
    return GbkToUtf8(SpiderDisplayName(IdentifySpider(agent)));
}

TEST(IdentifySpiderTest, TokensInTestOrder) {
    EXPECT_EQ(Identify("Mozilla/5.0+(compatible;+Googlebot/2.1;++http://www.google.com/bot.html)"),
              "谷歌(Googlebot)");
    EXPECT_EQ(Identify("Baiduspider+Googlebot"), "谷歌(Googlebot)");
    EXPECT_EQ(Identify("Mozilla/5.0+(compatible;+bingbot/2.0)"), "必应(Msnbot&Bing)");
    EXPECT_EQ(Identify("msnbot-media/1.1"), "必应(Msnbot&Bing)");
    EXPECT_EQ(Identify("Mozilla/5.0+(compatible;+Yahoo!+Slurp)"), "雅虎(Yahoo)");
    EXPECT_EQ(Identify("Scrubbing"), "必应(Msnbot&Bing)");
    EXPECT_EQ(Identify("yAhOo"), "雅虎(Yahoo)");
    EXPECT_EQ(Identify("Sogou+web+spider/4.0"), "搜狗(Sogou)");
    EXPECT_EQ(Identify("Sosospider+(+http://help.soso.com/webspider.htm)"), "搜搜(Sosospider)");
    EXPECT_EQ(Identify("Mozilla/5.0+(compatible;+AhrefsBot/5.0)"), "Ahrefs(AhrefsBot)");
    EXPECT_EQ(Identify("FAST-WebCrawler/3.8"), "Alltheweb(fast-webcrawler)");
    EXPECT_EQ(Identify("-"), "其他流量(unknown)");
    EXPECT_EQ(Identify(""), "其他流量(unknown)");
    // A token never matches from the second byte of a double-byte character.
    EXPECT_EQ(Identify("\xB0"
                       "bing"),
              "其他流量(unknown)");
    EXPECT_EQ(Identify("\xB0\xB0"
                       "bing"),
              "必应(Msnbot&Bing)");
}

TEST(SpiderCatalogueTest, EachDisplayNameContainsOnlyItsOwnShortName) {
    for (const SpiderInfo& spider : SpiderCatalogue()) {
        int contained = 0;
        for (const std::string& shortName : SpiderTallyOrder()) {
            if (spider.displayName.find(shortName) != std::string::npos) {
                ++contained;
                EXPECT_EQ(shortName, spider.shortName);
            }
        }
        EXPECT_EQ(contained, 1) << GbkToUtf8(spider.displayName);
    }
}

TEST(SpiderTallyTest, CountsInFirstSeenOrderAndFinishesInTallyOrder) {
    SpiderTally tally;
    for (SpiderId id : {SpiderId::Google, SpiderId::Unknown, SpiderId::Baidu, SpiderId::Google,
                        SpiderId::Ahrefs, SpiderId::Altavista, SpiderId::Bing}) {
        tally.count(SpiderDisplayName(id));
    }
    ASSERT_EQ(tally.length(), 6);
    EXPECT_EQ(GbkToUtf8(tally.entry(1).name), "谷歌(Googlebot)");
    EXPECT_EQ(tally.entry(1).count, 2);
    tally.finish();
    std::vector<std::string> names;
    for (const SpiderTally::Entry& e : tally.entries()) {
        names.push_back(GbkToUtf8(e.name));
    }
    EXPECT_EQ(names, (std::vector<std::string>{"百度(Baiduspider)", "谷歌(Googlebot)",
                                               "必应(Msnbot&Bing)", "Ahrefs(AhrefsBot)",
                                               "Altavista(scooter)", "其他流量(unknown)"}));
    EXPECT_EQ(tally.entry(2).count, 2);
    EXPECT_EQ(tally.length(), 6);
}

TEST(SpiderTallyTest, FinishOrdersAllTwentyOne) {
    SpiderTally tally;
    for (int i = kSpiderCount - 1; i >= 0; --i) {
        tally.count(SpiderDisplayName(static_cast<SpiderId>(i)));
    }
    tally.finish();
    ASSERT_EQ(tally.length(), kSpiderCount);
    for (int i = 0; i < kSpiderCount; ++i) {
        EXPECT_NE(tally.entry(i + 1).name.find(SpiderTallyOrder()[static_cast<std::size_t>(i)]),
                  std::string::npos);
    }
}

} // namespace
} // namespace logdesk
