#include "spider_catalogue.h"

#include "text/gbk_codec.h"
#include "text/gbk_text.h"

namespace logdesk {

const std::array<SpiderInfo, kSpiderCount>& SpiderCatalogue() {
    static const std::array<SpiderInfo, kSpiderCount> catalogue = [] {
        struct Row {
            SpiderId id;
            std::vector<std::string_view> tokens;
            std::string_view displayUtf8;
            std::string_view shortUtf8;
            bool classic = true;
        };
        const Row rows[kSpiderCount] = {
            {SpiderId::Google, {"googlebot"}, "谷歌(Googlebot)", "谷歌"},
            {SpiderId::Baidu, {"Baiduspider"}, "百度(Baiduspider)", "百度"},
            {SpiderId::Qihoo360, {"360Spider"}, "360(360Spider)", "360"},
            {SpiderId::Sogou, {"Sogou"}, "搜狗(Sogou)", "搜狗"},
            {SpiderId::Soso, {"Sosospider"}, "搜搜(Sosospider)", "搜搜"},
            {SpiderId::Yodao, {"YodaoBot"}, "有道(YodaoBot)", "有道"},
            {SpiderId::Yahoo, {"Yahoo"}, "雅虎(Yahoo)", "雅虎"},
            {SpiderId::Bing, {"Msnbot", "Bing"}, "必应(Msnbot&Bing)", "必应"},
            {SpiderId::Alexa, {"ia_archiver"}, "Alexa(ia_archiver)", "Alexa"},
            {SpiderId::Easou, {"EasouSpider"}, "宜搜(EasouSpider)", "宜搜"},
            {SpiderId::Yisou, {"YisouSpider"}, "一搜(YisouSpider)", "一搜"},
            {SpiderId::Jike, {"JikeSpider"}, "即刻(JikeSpider)", "即刻"},
            {SpiderId::Panguso, {"PangusoSpider"}, "盘古搜(PangusoSpider)", "盘古搜"},
            {SpiderId::Altavista, {"scooter"}, "Altavista(scooter)", "Altavista"},
            {SpiderId::Lycos, {"lycos_spider"}, "Lycos(lycos_spider)", "Lycos"},
            {SpiderId::Alltheweb, {"fast-webcrawler"}, "Alltheweb(fast-webcrawler)", "Alltheweb"},
            {SpiderId::Gigablast, {"Gigabot"}, "Gigablast(Gigabot)", "Gigablast"},
            {SpiderId::Webalta, {"WebAlta"}, "Webalta(WebAlta)", "Webalta"},
            {SpiderId::Majestic12, {"MJ12bot"}, "Majestic12(MJ12bot)", "Majestic12"},
            {SpiderId::Ahrefs, {"AhrefsBot"}, "Ahrefs(AhrefsBot)", "Ahrefs"},
            // Today's crawlers, each token as its owner documents the agent.
            // ByteDance (Toutiao, Douyin): no crawler page of its own was
            // found; its agents name the crawler and a contact: "...
            // (compatible; Bytespider; spider-feedback@bytedance.com)".
            {SpiderId::ByteDance, {"Bytespider"}, "字节跳动(Bytespider)", "字节跳动", false},
            // "Yandex robots in the server logs",
            // https://yandex.com/support/webmaster/robot-workings/check-yandex-robots.html
            // YandexBot is the main indexing robot; the page lists the
            // others, each with an agent token of its own.
            {SpiderId::Yandex,
             {"YandexBot",        "YandexImages",
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
             "Yandex(YandexBot)",
             "Yandex",
             false},
            // Petal Search (Huawei, 花瓣搜索): "What Is PetalBot",
            // https://aspiegel.com/petalbot
            {SpiderId::Petal, {"PetalBot"}, "花瓣(PetalBot)", "花瓣", false},
            // "About Applebot", https://support.apple.com/en-us/119829
            {SpiderId::Apple, {"Applebot"}, "苹果(Applebot)", "苹果", false},
            // "Is DuckDuckBot related to DuckDuckGo?",
            // https://duckduckgo.com/duckduckgo-help-pages/results/duckduckbot
            // DuckAssistBot fetches pages for DuckAssist answers.
            {SpiderId::DuckDuckGo,
             {"DuckDuckBot", "DuckAssistBot"},
             "DuckDuckGo(DuckDuckBot)",
             "DuckDuckGo",
             false},
            // "Overview of OpenAI Crawlers", https://developers.openai.com/api/docs/bots
            // GPTBot is the crawler, OAI-SearchBot the search's, and
            // ChatGPT-User fetches for a person.
            {SpiderId::OpenAi,
             {"GPTBot", "OAI-SearchBot", "ChatGPT-User"},
             "OpenAI(GPTBot)",
             "OpenAI",
             false},
            // "Does Anthropic crawl data from the web, and how can site owners
            // block the crawler?",
            // https://support.claude.com/en/articles/8896518-does-anthropic-crawl-data-from-the-web-and-how-can-site-owners-block-the-crawler
            {SpiderId::Anthropic, {"ClaudeBot"}, "Anthropic(ClaudeBot)", "Anthropic", false},
            // "CCBot", https://commoncrawl.org/ccbot
            {SpiderId::CommonCrawl, {"CCBot"}, "CommonCrawl(CCBot)", "CommonCrawl", false},
            // "SemrushBot", https://www.semrush.com/bot/
            {SpiderId::Semrush, {"SemrushBot"}, "Semrush(SemrushBot)", "Semrush", false},
            // Naver: "네이버 검색로봇 Yeti",
            // https://searchadvisor.naver.com/guide/seo-basic-firewall
            {SpiderId::Naver, {"Yeti"}, "Naver(Yeti)", "Naver", false},
            // Seznam: "SeznamBot crawler",
            // https://o-seznam.cz/napoveda/vyhledavani/en/seznambot-crawler/
            {SpiderId::Seznam, {"SeznamBot"}, "Seznam(SeznamBot)", "Seznam", false},
            // Coc Coc: "Coc Coc's crawler", https://help.coccoc.com/en/search-engine
            {SpiderId::CocCoc, {"coccocbot"}, "CocCoc(coccocbot)", "CocCoc", false},
            {SpiderId::Unknown, {}, "其他流量(unknown)", "其他流量"},
        };
        std::array<SpiderInfo, kSpiderCount> entries;
        for (int i = 0; i < kSpiderCount; ++i) {
            const Row& row = rows[i];
            entries[static_cast<std::size_t>(i)] = {row.id, row.tokens, Gbk(row.displayUtf8),
                                                    Gbk(row.shortUtf8), row.classic};
        }
        return entries;
    }();
    return catalogue;
}

const std::array<std::string, kSpiderCount>& SpiderTallyOrder() {
    static const std::array<std::string, kSpiderCount> order = [] {
        const std::string_view utf8[kSpiderCount] = {
            "百度",
            "谷歌",
            "360",
            "搜搜",
            "搜狗",
            "有道",
            "必应",
            "Alexa",
            "一搜",
            "宜搜",
            "即刻",
            "雅虎",
            "盘古搜",
            "Gigablast",
            "Webalta",
            "Majestic12",
            "Ahrefs",
            "Altavista",
            "Lycos",
            "Alltheweb",
            // Today's crawlers, after every classic one.
            "字节跳动",
            "Yandex",
            "花瓣",
            "苹果",
            "DuckDuckGo",
            "OpenAI",
            "Anthropic",
            "CommonCrawl",
            "Semrush",
            "Naver",
            "Seznam",
            "CocCoc",
            "其他流量",
        };
        std::array<std::string, kSpiderCount> names;
        for (int i = 0; i < kSpiderCount; ++i) {
            names[static_cast<std::size_t>(i)] = Gbk(utf8[i]);
        }
        return names;
    }();
    return order;
}

SpiderId IdentifySpider(std::string_view userAgent, Crawlers crawlers) {
    for (const SpiderInfo& spider : SpiderCatalogue()) {
        if (!spider.classic && crawlers == Crawlers::Classic) {
            continue;
        }
        for (std::string_view token : spider.tokens) {
            if (ContainsIgnoreCase(userAgent, token)) {
                return spider.id;
            }
        }
    }
    return SpiderId::Unknown;
}

void SpiderTally::count(std::string_view displayName, std::int32_t visits) {
    for (Entry& entry : entries_) {
        if (entry.name == displayName) {
            entry.count += visits;
            return;
        }
    }
    entries_.push_back({std::string(displayName), visits});
}

void SpiderTally::finish() {
    std::vector<Entry> remaining = std::move(entries_);
    entries_.clear();
    for (const std::string& shortName : SpiderTallyOrder()) {
        for (auto it = remaining.begin(); it != remaining.end(); ++it) {
            if (ContainsIgnoreCase(it->name, shortName)) {
                entries_.push_back(std::move(*it));
                remaining.erase(it);
                break;
            }
        }
    }
    // Names outside the catalogue cannot reach the tally through the import;
    // should one ever be counted, it is kept rather than dropped.
    for (Entry& entry : remaining) {
        entries_.push_back(std::move(entry));
    }
}

} // namespace logdesk
