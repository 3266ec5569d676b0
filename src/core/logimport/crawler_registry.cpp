#include "crawler_registry.h"

namespace logdesk {
namespace {

std::vector<CrawlerEntry> Entries() {
    return {
        // The classic crawlers.
        {.id = SpiderId::Google,
         .tokens = {"googlebot"},
         .displayName = "谷歌(Googlebot)",
         .tallyPlace = 1,
         .rgb = Rgb(185, 9, 37),
         // "Verifying Googlebot and other Google crawlers", and the agents of
         // "Google's common crawlers", "special-case crawlers" and
         // "user-triggered fetchers" on the crawler overview.
         .check = ReverseDnsCheck(
             {"Googlebot", "Googlebot-Image", "Googlebot-News", "Googlebot-Video",
              "Storebot-Google", "Google-InspectionTool", "GoogleOther", "GoogleOther-Image",
              "GoogleOther-Video", "Google-CloudVertexBot", "APIs-Google", "AdsBot-Google",
              "AdsBot-Google-Mobile", "Mediapartners-Google", "FeedFetcher-Google",
              "Google-Read-Aloud", "Google-Site-Verification"},
             {"googlebot.com", "google.com"},
             "https://developers.google.com/search/docs/crawling-indexing/verifying-googlebot")},
        {.id = SpiderId::Baidu,
         .tokens = {"Baiduspider"},
         .displayName = "百度(Baiduspider)",
         .tallyPlace = 0,
         .rgb = Rgb(41, 50, 225),
         // The Baiduspider help page every Baiduspider agent links to, "如何
         // 判断是否冒充Baiduspider的抓取".
         .check = ReverseDnsCheck(
             {"Baiduspider", "Baiduspider-image", "Baiduspider-video", "Baiduspider-news",
              "Baiduspider-favo", "Baiduspider-cpro", "Baiduspider-ads", "Baiduspider-render"},
             {"baidu.com", "baidu.jp"}, "https://www.baidu.com/search/spider.html")},
        // Sogou, 360, Soso, Yodao and the other classic crawlers without a
        // check: their owners' help pages describe the agents but no
        // reverse-lookup check.
        {.id = SpiderId::Qihoo360,
         .tokens = {"360Spider"},
         .displayName = "360(360Spider)",
         .tallyPlace = 2,
         .rgb = Rgb(59, 168, 13),
         .check = NoPublishedCheck()},
        {.id = SpiderId::Sogou,
         .tokens = {"Sogou"},
         .displayName = "搜狗(Sogou)",
         .tallyPlace = 4,
         .rgb = Rgb(86, 1, 125),
         .check = NoPublishedCheck()},
        {.id = SpiderId::Soso,
         .tokens = {"Sosospider"},
         .displayName = "搜搜(Sosospider)",
         .tallyPlace = 3,
         .rgb = Rgb(245, 200, 52),
         .check = NoPublishedCheck()},
        {.id = SpiderId::Yodao,
         .tokens = {"YodaoBot"},
         .displayName = "有道(YodaoBot)",
         .tallyPlace = 5,
         .rgb = Rgb(244, 45, 61),
         .check = NoPublishedCheck()},
        {.id = SpiderId::Yahoo,
         .tokens = {"Yahoo"},
         .displayName = "雅虎(Yahoo)",
         .tallyPlace = 11,
         .rgb = Rgb(123, 0, 153),
         // "Yahoo! Search Crawler, Slurp, has a new Address and Signature
         // Card": the address is documented for Slurp alone, not for Yahoo's
         // other agents.
         .check =
             ReverseDnsCheck({"Slurp"}, {"crawl.yahoo.net"},
                             "http://www.ysearchblog.com/2007/06/05/"
                             "yahoo-search-crawler-slurp-has-a-new-address-and-signature-card/")},
        {.id = SpiderId::Bing,
         .tokens = {"Msnbot", "Bing"},
         .displayName = "必应(Msnbot&Bing)",
         .tallyPlace = 6,
         .rgb = Rgb(233, 99, 52),
         // "Verifying Bingbot", and "Which crawlers does Bing use?" for the
         // agents. msnbot and bingbot count as one crawler; all crawl from
         // search.msn.com.
         .check = ReverseDnsCheck(
             {"bingbot", "msnbot", "msnbot-media", "BingPreview", "adidxbot", "MicrosoftPreview"},
             {"search.msn.com"},
             "https://www.bing.com/webmaster/help/how-to-verify-bingbot-3905dc26")},
        {.id = SpiderId::Alexa,
         .tokens = {"ia_archiver"},
         .displayName = "Alexa(ia_archiver)",
         .tallyPlace = 7,
         .rgb = Rgb(0, 0, 0),
         .check = NoPublishedCheck()},
        {.id = SpiderId::Easou,
         .tokens = {"EasouSpider"},
         .displayName = "宜搜(EasouSpider)",
         .tallyPlace = 9,
         .rgb = Rgb(0, 76, 160),
         .check = NoPublishedCheck()},
        {.id = SpiderId::Yisou,
         .tokens = {"YisouSpider"},
         .displayName = "一搜(YisouSpider)",
         .tallyPlace = 8,
         .rgb = Rgb(38, 175, 94),
         .check = NoPublishedCheck()},
        {.id = SpiderId::Jike,
         .tokens = {"JikeSpider"},
         .displayName = "即刻(JikeSpider)",
         .tallyPlace = 10,
         .rgb = Rgb(32, 36, 82),
         .check = NoPublishedCheck()},
        {.id = SpiderId::Panguso,
         .tokens = {"PangusoSpider"},
         .displayName = "盘古搜(PangusoSpider)",
         .tallyPlace = 12,
         .rgb = Rgb(89, 86, 86),
         .check = NoPublishedCheck()},
        {.id = SpiderId::Altavista,
         .tokens = {"scooter"},
         .displayName = "Altavista(scooter)",
         .tallyPlace = 17,
         .rgb = Rgb(128, 128, 0),
         .check = NoPublishedCheck()},
        {.id = SpiderId::Lycos,
         .tokens = {"lycos_spider"},
         .displayName = "Lycos(lycos_spider)",
         .tallyPlace = 18,
         .rgb = Rgb(128, 0, 128),
         .check = NoPublishedCheck()},
        {.id = SpiderId::Alltheweb,
         .tokens = {"fast-webcrawler"},
         .displayName = "Alltheweb(fast-webcrawler)",
         .tallyPlace = 19,
         .rgb = Rgb(255, 168, 255),
         .check = NoPublishedCheck()},
        {.id = SpiderId::Gigablast,
         .tokens = {"Gigabot"},
         .displayName = "Gigablast(Gigabot)",
         .tallyPlace = 13,
         .rgb = Rgb(128, 128, 255),
         .check = NoPublishedCheck()},
        {.id = SpiderId::Webalta,
         .tokens = {"WebAlta"},
         .displayName = "Webalta(WebAlta)",
         .tallyPlace = 14,
         .rgb = Rgb(0, 255, 255),
         .check = NoPublishedCheck()},
        {.id = SpiderId::Majestic12,
         .tokens = {"MJ12bot"},
         .displayName = "Majestic12(MJ12bot)",
         .tallyPlace = 15,
         .rgb = Rgb(255, 128, 192),
         .check = NoPublishedCheck()},
        {.id = SpiderId::Ahrefs,
         .tokens = {"AhrefsBot"},
         .displayName = "Ahrefs(AhrefsBot)",
         .tallyPlace = 16,
         .rgb = Rgb(216, 216, 0),
         .check = NoPublishedCheck()},

        // Today's crawlers, each token as its owner documents the agent, and
        // each colour far from every other crawler's. They follow every
        // classic crawler in the tally.
        //
        // ByteDance (Toutiao, Douyin): no crawler page of its own was found;
        // its agents name the crawler and a contact: "... (compatible;
        // Bytespider; spider-feedback@bytedance.com)".
        {.id = SpiderId::ByteDance,
         .tokens = {"Bytespider"},
         .displayName = "字节跳动(Bytespider)",
         .tallyPlace = 20,
         .rgb = Rgb(0, 150, 136),
         .check = NoPublishedCheck()},
        // "Yandex robots in the server logs" and "How to check that a robot
        // belongs to Yandex",
        // https://yandex.com/support/webmaster/robot-workings/check-yandex-robots.html
        // YandexBot is the main indexing robot; the page lists the others,
        // each with an agent token of its own.
        {.id = SpiderId::Yandex,
         .tokens = {"YandexBot",        "YandexImages",
                    "YandexMobileBot",  "YandexAccessibilityBot",
                    "YandexAdNet",      "YandexBlogs",
                    "YandexCalendar",   "YandexDirect",
                    "YaDirectFetcher",  "YandexFavicons",
                    "YandexForDomain",  "YandexImageResizer",
                    "YandexMarket",     "YandexMedia",
                    "YandexMetrika",    "YandexMobileScreenShotBot",
                    "YandexNews",       "YandexPagechecker",
                    "YandexRCA",        "YandexScreenshotBot",
                    "YandexSearchShop", "YandexSitelinks",
                    "YandexSpravBot",   "YandexTracker",
                    "YandexVertis",     "YandexVideo"},
         .displayName = "Yandex(YandexBot)",
         .tallyPlace = 21,
         .rgb = Rgb(141, 85, 36),
         .check = ReverseDnsCheck(
             {"YandexBot",
              "YandexAccessibilityBot",
              "YandexAdNet",
              "YandexBlogs",
              "YandexCalendar",
              "YandexDirect",
              "YandexDirectDyn",
              "YaDirectFetcher",
              "YandexFavicons",
              "YandexForDomain",
              "YandexImageResizer",
              "YandexImages",
              "YandexMarket",
              "YandexMedia",
              "YandexMetrika",
              "YandexMobileBot",
              "YandexMobileScreenShotBot",
              "YandexNews",
              "YandexPagechecker",
              "YandexRCA",
              "YandexScreenshotBot",
              "YandexSearchShop",
              "YandexSitelinks",
              "YandexSpravBot",
              "YandexTracker",
              "YandexVertis",
              "YandexVideo"},
             {"yandex.ru", "yandex.net", "yandex.com"},
             "https://yandex.com/support/webmaster/robot-workings/check-yandex-robots.html")},
        // Petal Search (Huawei, 花瓣搜索): "What Is PetalBot",
        // https://aspiegel.com/petalbot: its addresses resolve to
        // petalsearch.com.
        {.id = SpiderId::Petal,
         .tokens = {"PetalBot"},
         .displayName = "花瓣(PetalBot)",
         .tallyPlace = 22,
         .rgb = Rgb(150, 200, 255),
         .check =
             ReverseDnsCheck({"PetalBot"}, {"petalsearch.com"}, "https://aspiegel.com/petalbot")},
        // "About Applebot", https://support.apple.com/en-us/119829
        {.id = SpiderId::Apple,
         .tokens = {"Applebot"},
         .displayName = "苹果(Applebot)",
         .tallyPlace = 23,
         .rgb = Rgb(175, 175, 175),
         .check = ReverseDnsCheck({"Applebot"}, {"applebot.apple.com"},
                                  "https://support.apple.com/en-us/119829")},
        // "Is DuckDuckBot related to DuckDuckGo?",
        // https://duckduckgo.com/duckduckgo-help-pages/results/duckduckbot
        // DuckAssistBot fetches pages for DuckAssist answers. DuckDuckGo
        // publishes addresses, no reverse-lookup check.
        {.id = SpiderId::DuckDuckGo,
         .tokens = {"DuckDuckBot", "DuckAssistBot"},
         .displayName = "DuckDuckGo(DuckDuckBot)",
         .tallyPlace = 24,
         .rgb = Rgb(190, 240, 80),
         .check = NoPublishedCheck()},
        // "Overview of OpenAI Crawlers", https://developers.openai.com/api/docs/bots
        // GPTBot is the crawler, OAI-SearchBot the search's, and ChatGPT-User
        // fetches for a person. OpenAI publishes addresses, no reverse-lookup
        // check.
        {.id = SpiderId::OpenAi,
         .tokens = {"GPTBot", "OAI-SearchBot", "ChatGPT-User"},
         .displayName = "OpenAI(GPTBot)",
         .tallyPlace = 25,
         .rgb = Rgb(16, 100, 60),
         .check = NoPublishedCheck()},
        // "Does Anthropic crawl data from the web, and how can site owners
        // block the crawler?",
        // https://support.claude.com/en/articles/8896518-does-anthropic-crawl-data-from-the-web-and-how-can-site-owners-block-the-crawler
        {.id = SpiderId::Anthropic,
         .tokens = {"ClaudeBot"},
         .displayName = "Anthropic(ClaudeBot)",
         .tallyPlace = 26,
         .rgb = Rgb(255, 150, 100),
         .check = NoPublishedCheck()},
        // "CCBot", https://commoncrawl.org/ccbot
        {.id = SpiderId::CommonCrawl,
         .tokens = {"CCBot"},
         .displayName = "CommonCrawl(CCBot)",
         .tallyPlace = 27,
         .rgb = Rgb(120, 0, 30),
         .check = NoPublishedCheck()},
        // "SemrushBot", https://www.semrush.com/bot/
        {.id = SpiderId::Semrush,
         .tokens = {"SemrushBot"},
         .displayName = "Semrush(SemrushBot)",
         .tallyPlace = 28,
         .rgb = Rgb(200, 0, 210),
         .check = NoPublishedCheck()},
        // Naver: "네이버 검색로봇 Yeti",
        // https://searchadvisor.naver.com/guide/seo-basic-firewall, which
        // checks Yeti by reverse DNS in naver.com.
        {.id = SpiderId::Naver,
         .tokens = {"Yeti"},
         .displayName = "Naver(Yeti)",
         .tallyPlace = 29,
         .rgb = Rgb(120, 255, 200),
         .check = ReverseDnsCheck({"Yeti"}, {"naver.com"},
                                  "https://searchadvisor.naver.com/guide/seo-basic-firewall")},
        // Seznam: "SeznamBot crawler",
        // https://o-seznam.cz/napoveda/vyhledavani/en/seznambot-crawler/,
        // which names its crawlers' reverse names in seznam.cz.
        {.id = SpiderId::Seznam,
         .tokens = {"SeznamBot"},
         .displayName = "Seznam(SeznamBot)",
         .tallyPlace = 30,
         .rgb = Rgb(255, 255, 140),
         .check =
             ReverseDnsCheck({"SeznamBot"}, {"seznam.cz"},
                             "https://o-seznam.cz/napoveda/vyhledavani/en/seznambot-crawler/")},
        // Coc Coc: "Coc Coc's crawler", https://help.coccoc.com/en/search-engine;
        // its crawler's addresses resolve to coccoc.com.
        {.id = SpiderId::CocCoc,
         .tokens = {"coccocbot"},
         .displayName = "CocCoc(coccocbot)",
         .tallyPlace = 31,
         .rgb = Rgb(60, 120, 180),
         .check = ReverseDnsCheck({"coccocbot", "coccocbot-web", "coccocbot-image"}, {"coccoc.com"},
                                  "https://help.coccoc.com/en/search-engine")},

        // The fallback: every visit no entry names. White on the charts.
        {.id = SpiderId::Unknown,
         .tokens = {},
         .displayName = "其他流量(unknown)",
         .tallyPlace = kSpiderCount - 1,
         .rgb = Rgb(255, 255, 255),
         .check = NoPublishedCheck()},
    };
}

} // namespace

std::span<const CrawlerEntry> CrawlerRegistry() {
    static const std::vector<CrawlerEntry> entries = Entries();
    return entries;
}

} // namespace logdesk
