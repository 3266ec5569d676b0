#include "core/logimport/log_importer.h"
#include "core/logimport/spider_catalogue.h"
#include "support/import_test_support.h"
#include "core/text/gbk_codec.h"

#include <gtest/gtest.h>

namespace logdesk {
namespace {

std::string Identify(std::string_view agent, Crawlers crawlers = Crawlers::Classic) {
    return GbkToUtf8(SpiderDisplayName(IdentifySpider(agent, crawlers)));
}

// Agents of today's crawlers as their owners document them, with the blanks
// IIS writes as '+', and the name each must get.
struct TodaysAgent {
    SpiderId id;
    const char* agent;
    const char* name;
};
const TodaysAgent kTodaysAgents[] = {
    {SpiderId::ByteDance,
     "Mozilla/5.0+(Linux;+Android+5.0)+AppleWebKit/537.36+(KHTML,+like+Gecko)+Mobile+Safari/"
     "537.36+(compatible;+Bytespider;+spider-feedback@bytedance.com)",
     "字节跳动(Bytespider)"},
    {SpiderId::Yandex, "Mozilla/5.0+(compatible;+YandexBot/3.0;++http://yandex.com/bots)",
     "Yandex(YandexBot)"},
    {SpiderId::Petal,
     "Mozilla/5.0+(compatible;PetalBot;+https://webmaster.petalsearch.com/site/petalbot)",
     "花瓣(PetalBot)"},
    {SpiderId::Apple,
     "Mozilla/5.0+(Macintosh;+Intel+Mac+OS+X+10_15_5)+AppleWebKit/605.1.15+(KHTML,+like+Gecko)+"
     "Version/13.1.1+Safari/605.1.15+(Applebot/0.1;++http://www.apple.com/go/applebot)",
     "苹果(Applebot)"},
    {SpiderId::DuckDuckGo, "DuckDuckBot/1.1;+(+http://duckduckgo.com/duckduckbot.html)",
     "DuckDuckGo(DuckDuckBot)"},
    {SpiderId::OpenAi,
     "Mozilla/5.0+AppleWebKit/537.36+(KHTML,+like+Gecko;+compatible;+GPTBot/1.1;++https://"
     "openai.com/gptbot)",
     "OpenAI(GPTBot)"},
    {SpiderId::Anthropic,
     "Mozilla/5.0+AppleWebKit/537.36+(KHTML,+like+Gecko;+compatible;+ClaudeBot/1.0;+"
     "+claudebot@anthropic.com)",
     "Anthropic(ClaudeBot)"},
    {SpiderId::CommonCrawl, "CCBot/2.0+(https://commoncrawl.org/faq/)", "CommonCrawl(CCBot)"},
    {SpiderId::Semrush,
     "Mozilla/5.0+(compatible;+SemrushBot/7~bl;++http://www.semrush.com/bot.html)",
     "Semrush(SemrushBot)"},
    {SpiderId::Naver, "Mozilla/5.0+(compatible;+Yeti/1.1;++https://naver.me/spd)", "Naver(Yeti)"},
    {SpiderId::Seznam,
     "Mozilla/5.0+(compatible;+SeznamBot/4.0;++https://o-seznam.cz/napoveda/"
     "vyhledavani/en/seznambot-crawler/)",
     "Seznam(SeznamBot)"},
    {SpiderId::CocCoc,
     "Mozilla/5.0+(compatible;+coccocbot-web/1.0;++http://help.coccoc.com/searchengine)",
     "CocCoc(coccocbot)"},
};

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

TEST(IdentifySpiderTest, TodaysCrawlersOnlyWhenAsked) {
    ASSERT_EQ(std::size(kTodaysAgents), static_cast<std::size_t>(kTodaySpiderCount));
    for (const TodaysAgent& today : kTodaysAgents) {
        SCOPED_TRACE(today.name);
        EXPECT_EQ(IdentifySpider(today.agent, Crawlers::All), today.id);
        EXPECT_EQ(Identify(today.agent, Crawlers::All), today.name);
        EXPECT_EQ(Identify(today.agent), "其他流量(unknown)");
        EXPECT_EQ(Identify(today.agent, Crawlers::Classic), "其他流量(unknown)");
        EXPECT_FALSE(Spider(today.id).classic);
    }
    // Tokens match ignoring ASCII case, as the classic ones do.
    EXPECT_EQ(Identify("gptbot/1.0", Crawlers::All), "OpenAI(GPTBot)");
    EXPECT_EQ(Identify("BYTESPIDER", Crawlers::All), "字节跳动(Bytespider)");
    // The owners' other documented robots go to their crawler.
    EXPECT_EQ(Identify("Mozilla/5.0+(compatible;+YandexImages/3.0;++http://yandex.com/bots)",
                       Crawlers::All),
              "Yandex(YandexBot)");
    EXPECT_EQ(Identify("Mozilla/5.0+(compatible;+OAI-SearchBot/1.0;++https://openai.com/searchbot)",
                       Crawlers::All),
              "OpenAI(GPTBot)");
    EXPECT_EQ(Identify("Mozilla/5.0+(compatible;+ChatGPT-User/1.0;++https://openai.com/bot)",
                       Crawlers::All),
              "OpenAI(GPTBot)");
    EXPECT_EQ(
        Identify("DuckAssistBot/1.2;+(+http://duckduckgo.com/duckassistbot.html)", Crawlers::All),
        "DuckDuckGo(DuckDuckBot)");
    EXPECT_EQ(Identify("YandexImages/3.0"), "其他流量(unknown)");
}

TEST(IdentifySpiderTest, TodaysCrawlersNeverTakeAClassicAgent) {
    // Every classic crawler keeps its agents: an agent naming a classic and a
    // new crawler is the classic one's, and "bing" or "yahoo" inside another
    // word still wins as before.
    for (const char* agent :
         {"Googlebot/2.1+GPTBot/1.1", "ClaudeBot+Baiduspider", "YandexBot+bingbot",
          "CCBot+Sogou+web+spider", "AhrefsBot+SemrushBot", "PetalBot+Yahoo!+Slurp",
          "Mozilla/5.0+(compatible;+Applebot-Scrubbing)", "-", "", "Mozilla/5.0"}) {
        SCOPED_TRACE(agent);
        EXPECT_EQ(IdentifySpider(agent, Crawlers::All), IdentifySpider(agent, Crawlers::Classic));
    }
    EXPECT_EQ(Identify("Googlebot/2.1+GPTBot/1.1", Crawlers::All), "谷歌(Googlebot)");
    // A token starting on a trail byte is no match for today's crawlers either.
    EXPECT_EQ(Identify("\xB0"
                       "CCBot",
                       Crawlers::All),
              "其他流量(unknown)");
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

TEST(SpiderTallyTest, FinishOrdersEveryEntry) {
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

TEST(SpiderTallyTest, TodaysCrawlersAfterTheClassicOnesBeforeUnknown) {
    SpiderTally tally;
    for (SpiderId id : {SpiderId::Semrush, SpiderId::Unknown, SpiderId::ByteDance,
                        SpiderId::Alltheweb, SpiderId::Baidu, SpiderId::OpenAi}) {
        tally.count(SpiderDisplayName(id));
    }
    tally.finish();
    std::vector<std::string> names;
    for (const SpiderTally::Entry& e : tally.entries()) {
        names.push_back(GbkToUtf8(e.name));
    }
    EXPECT_EQ(names, (std::vector<std::string>{"百度(Baiduspider)", "Alltheweb(fast-webcrawler)",
                                               "字节跳动(Bytespider)", "OpenAI(GPTBot)",
                                               "Semrush(SemrushBot)", "其他流量(unknown)"}));
}

// The import's choice reaches the identification on one thread and on many.
TEST(ImportCrawlersTest, OptionReachesEveryImport) {
    std::string log = "#Fields: c-ip cs(User-Agent)\n";
    for (int i = 0; i < 400; ++i) {
        log += "10.0.0." + std::to_string(i % 250) + " " + kTodaysAgents[i % 9].agent + "\n";
        log += "10.0.1.1 Baiduspider/2.0\n";
    }
    for (unsigned threads : {1u, 3u}) {
        SCOPED_TRACE(threads);
        ImportOptions options;
        options.threads = threads;
        options.rangeBytes = 4096; // many pieces
        const LogImport classic = testing::Imported(ImportLogBytes(log, {}, options));
        EXPECT_EQ(testing::Tally(classic.tally),
                  (std::vector<std::pair<std::string, int>>{{"百度(Baiduspider)", 400},
                                                            {"其他流量(unknown)", 400}}));
        options.crawlers = Crawlers::All;
        const LogImport all = testing::Imported(ImportLogBytes(log, {}, options));
        std::vector<std::pair<std::string, int>> expected = {{"百度(Baiduspider)", 400}};
        for (std::size_t i = 0; i < 9; ++i) {
            expected.emplace_back(kTodaysAgents[i].name, i < 4 ? 45 : 44);
        }
        EXPECT_EQ(testing::Tally(all.tally), expected);
        EXPECT_EQ(GbkToUtf8(all.table.cell(RowIndex{0}, ColumnIndex{2})), "字节跳动(Bytespider)");
        EXPECT_EQ(GbkToUtf8(classic.table.cell(RowIndex{0}, ColumnIndex{2})), "其他流量(unknown)");
    }
}

} // namespace
} // namespace logdesk
