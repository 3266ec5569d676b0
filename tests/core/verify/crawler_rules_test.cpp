#include "core/verify/crawler_rules.h"

#include <gtest/gtest.h>

namespace logdesk {
namespace {

TEST(CrawlerRulesTest, DomainsMatchWholeLabelsOnly) {
    for (const char* host : {"crawl.baidu.com", "baidu.com", "BaiduSpider-1-2-3-4.CRAWL.Baidu.Com",
                             "crawl.baidu.com.", "baidu.com."}) {
        EXPECT_TRUE(HostInDomain(host, "baidu.com")) << host;
    }
    for (const char* host :
         {"baidu.com.evil.example", "fakebaidu.com", "baidu.co", "aidu.com", "com", "", ".",
          ".baidu.com", "a..baidu.com", "evil\\.baidu.com", "crawl.baidu.com..", "baidu.com.cn"}) {
        EXPECT_FALSE(HostInDomain(host, "baidu.com")) << host;
    }
    EXPECT_TRUE(HostInDomain("msnbot-157-55-33-18.search.msn.com", "search.msn.com"));
    EXPECT_FALSE(HostInDomain("evil.msn.com", "search.msn.com"));
    EXPECT_EQ(NormaliseHostName("Crawl-66-249-66-1.GoogleBot.COM."),
              "crawl-66-249-66-1.googlebot.com");
}

TEST(CrawlerRulesTest, CatalogueCrawlersAndLaterTokensFindTheirRules) {
    const CrawlerRule* baidu = RuleForSpider(SpiderId::Baidu);
    ASSERT_NE(baidu, nullptr);
    EXPECT_EQ(MatchingDomain(*baidu, "baiduspider-1.crawl.baidu.jp"), "baidu.jp");
    EXPECT_EQ(MatchingDomain(*baidu, "crawl.googlebot.com"), "");
    for (SpiderId id : {SpiderId::Google, SpiderId::Bing, SpiderId::Yahoo}) {
        EXPECT_NE(RuleForSpider(id), nullptr) << static_cast<int>(id);
    }
    // Owners that publish no reverse-lookup check get no guessed domain.
    for (SpiderId id : {SpiderId::Sogou, SpiderId::Qihoo360, SpiderId::Soso, SpiderId::Yodao,
                        SpiderId::Majestic12, SpiderId::Unknown}) {
        EXPECT_EQ(RuleForSpider(id), nullptr) << static_cast<int>(id);
    }
    const CrawlerRule* yandex = RuleForToken("yandexbot");
    ASSERT_NE(yandex, nullptr);
    EXPECT_EQ(MatchingDomain(*yandex, "5-255-253-1.spider.yandex.com"), "yandex.com");
    const CrawlerRule* apple = RuleForToken("APPLEBOT");
    ASSERT_NE(apple, nullptr);
    EXPECT_EQ(MatchingDomain(*apple, "17-58-101-179.applebot.apple.com"), "applebot.apple.com");
    EXPECT_EQ(MatchingDomain(*apple, "www.apple.com"), "");
    EXPECT_EQ(RuleForToken("bingbot"), RuleForSpider(SpiderId::Bing));
    EXPECT_EQ(RuleForToken(""), nullptr);
    EXPECT_EQ(RuleForToken("Sogou"), nullptr);

    for (const CrawlerRule& rule : CrawlerRules()) {
        EXPECT_TRUE(rule.documentation.starts_with("http")) << rule.documentation;
        for (std::string_view domain : rule.domains) {
            // A domain must match its own subdomains, so it has to be stored
            // as the comparison sees names.
            EXPECT_EQ(NormaliseHostName(domain), domain);
            EXPECT_TRUE(HostInDomain(std::string("x.") + std::string(domain), domain));
        }
    }
}

TEST(CrawlerRulesTest, TodaysCrawlersWithAPublishedCheckHaveTheirRule) {
    const std::pair<SpiderId, const char*> checked[] = {
        {SpiderId::Petal, "crawl-114-119-1-1.petalsearch.com"},
        {SpiderId::Naver, "crawl.211-249-40-1.web.naver.com"},
        {SpiderId::Seznam, "fulltextrobot-77-75-77-1.seznam.cz"},
        {SpiderId::CocCoc, "bot-1.coccoc.com"},
        {SpiderId::Yandex, "5-255-253-1.spider.yandex.com"}};
    for (const auto& [id, host] : checked) {
        const CrawlerRule* rule = RuleForSpider(id);
        ASSERT_NE(rule, nullptr) << host;
        EXPECT_FALSE(MatchingDomain(*rule, host).empty()) << host;
        EXPECT_TRUE(AgentHasToken(*rule, Spider(id).tokens.front())) << host;
    }
    // OpenAI, DuckDuckGo, Anthropic publish no reverse-lookup check.
    for (SpiderId id : {SpiderId::OpenAi, SpiderId::DuckDuckGo, SpiderId::Anthropic}) {
        EXPECT_EQ(RuleForSpider(id), nullptr);
    }
    EXPECT_TRUE(AgentHasToken(*RuleForSpider(SpiderId::Yandex), "YandexImages/3.0"));
    EXPECT_TRUE(AgentHasToken(*RuleForSpider(SpiderId::CocCoc), "coccocbot-image/1.0"));
    EXPECT_FALSE(AgentHasToken(*RuleForSpider(SpiderId::Naver), "Yetifier/2.0"));
}

// A new registry entry's reverse-lookup check becomes its rule; an entry
// without one gets none.
TEST(CrawlerRulesTest, ARegistryEntryWithACheckBecomesItsRule) {
    const CrawlerEntry registry[] = {
        {.id = SpiderId::Sogou,
         .tokens = {"ExampleBot"},
         .displayName = "示例(ExampleBot)",
         .tallyPlace = 0,
         .rgb = Rgb(1, 2, 3),
         .check = ReverseDnsCheck({"ExampleBot", "ExampleBot-Image"}, {"crawl.example"},
                                  "https://example.invalid/bot")},
        {.id = SpiderId::Unknown,
         .tokens = {},
         .displayName = "其他流量(unknown)",
         .tallyPlace = 1,
         .rgb = Rgb(255, 255, 255),
         .check = NoPublishedCheck()},
    };
    const std::vector<CrawlerRule> rules = CrawlerRulesOf(registry);
    ASSERT_EQ(rules.size(), 1u);
    EXPECT_EQ(std::vector<SpiderId>(rules[0].spiders.begin(), rules[0].spiders.end()),
              std::vector<SpiderId>{SpiderId::Sogou});
    EXPECT_TRUE(AgentHasToken(rules[0], "Mozilla/5.0 (compatible; examplebot-image/1.0)"));
    EXPECT_EQ(MatchingDomain(rules[0], "bot-1.crawl.example."), "crawl.example");
    EXPECT_EQ(rules[0].documentation, "https://example.invalid/bot");
}

} // namespace
} // namespace logdesk
