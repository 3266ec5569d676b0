#include "crawler_rules.h"

#include "text/gbk_text.h"

#include <algorithm>
#include <array>

namespace logdesk {
namespace {

// Google: "Verifying Googlebot and other Google crawlers",
// https://developers.google.com/search/docs/crawling-indexing/verifying-googlebot
// and the agents of "Google's common crawlers", "special-case crawlers" and
// "user-triggered fetchers" on the crawler overview.
constexpr std::array<std::string_view, 17> kGoogleTokens = {"Googlebot",
                                                            "Googlebot-Image",
                                                            "Googlebot-News",
                                                            "Googlebot-Video",
                                                            "Storebot-Google",
                                                            "Google-InspectionTool",
                                                            "GoogleOther",
                                                            "GoogleOther-Image",
                                                            "GoogleOther-Video",
                                                            "Google-CloudVertexBot",
                                                            "APIs-Google",
                                                            "AdsBot-Google",
                                                            "AdsBot-Google-Mobile",
                                                            "Mediapartners-Google",
                                                            "FeedFetcher-Google",
                                                            "Google-Read-Aloud",
                                                            "Google-Site-Verification"};
constexpr std::array<SpiderId, 1> kGoogleSpiders = {SpiderId::Google};
constexpr std::array<std::string_view, 2> kGoogleDomains = {"googlebot.com", "google.com"};

// Baidu: the Baiduspider help page every Baiduspider agent links to, "如何判断
// 是否冒充Baiduspider的抓取", https://www.baidu.com/search/spider.html
constexpr std::array<std::string_view, 8> kBaiduTokens = {
    "Baiduspider",      "Baiduspider-image", "Baiduspider-video", "Baiduspider-news",
    "Baiduspider-favo", "Baiduspider-cpro",  "Baiduspider-ads",   "Baiduspider-render"};
constexpr std::array<SpiderId, 1> kBaiduSpiders = {SpiderId::Baidu};
constexpr std::array<std::string_view, 2> kBaiduDomains = {"baidu.com", "baidu.jp"};

// Bing: "Verifying Bingbot",
// https://www.bing.com/webmaster/help/how-to-verify-bingbot-3905dc26, and
// "Which crawlers does Bing use?" for the agents. The catalogue counts msnbot
// and bingbot as one crawler; all crawl from search.msn.com.
constexpr std::array<std::string_view, 6> kBingTokens = {
    "bingbot", "msnbot", "msnbot-media", "BingPreview", "adidxbot", "MicrosoftPreview"};
constexpr std::array<SpiderId, 1> kBingSpiders = {SpiderId::Bing};
constexpr std::array<std::string_view, 1> kBingDomains = {"search.msn.com"};

// Yahoo: "Yahoo! Search Crawler, Slurp, has a new Address and Signature Card",
// http://www.ysearchblog.com/2007/06/05/yahoo-search-crawler-slurp-has-a-new-address-and-signature-card/
// The address is documented for Slurp alone, not for Yahoo's other agents.
constexpr std::array<std::string_view, 1> kYahooTokens = {"Slurp"};
constexpr std::array<SpiderId, 1> kYahooSpiders = {SpiderId::Yahoo};
constexpr std::array<std::string_view, 1> kYahooDomains = {"crawl.yahoo.net"};

// Yandex: "How to check that a robot belongs to Yandex" and "Yandex robots in
// the server logs",
// https://yandex.com/support/webmaster/robot-workings/check-yandex-robots.html
constexpr std::array<std::string_view, 27> kYandexTokens = {"YandexBot",
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
                                                            "YandexVideo"};
constexpr std::array<SpiderId, 1> kYandexSpiders = {SpiderId::Yandex};
constexpr std::array<std::string_view, 3> kYandexDomains = {"yandex.ru", "yandex.net",
                                                            "yandex.com"};

// Apple: "About Applebot", https://support.apple.com/en-us/119829
constexpr std::array<std::string_view, 1> kAppleTokens = {"Applebot"};
constexpr std::array<SpiderId, 1> kAppleSpiders = {SpiderId::Apple};
constexpr std::array<std::string_view, 1> kAppleDomains = {"applebot.apple.com"};

// Petal Search: "What Is PetalBot", https://aspiegel.com/petalbot: its
// addresses resolve to petalsearch.com.
constexpr std::array<std::string_view, 1> kPetalTokens = {"PetalBot"};
constexpr std::array<SpiderId, 1> kPetalSpiders = {SpiderId::Petal};
constexpr std::array<std::string_view, 1> kPetalDomains = {"petalsearch.com"};

// Naver: the Yeti page of Naver Search Advisor checks Yeti by reverse DNS
// in naver.com.
constexpr std::array<std::string_view, 1> kNaverTokens = {"Yeti"};
constexpr std::array<SpiderId, 1> kNaverSpiders = {SpiderId::Naver};
constexpr std::array<std::string_view, 1> kNaverDomains = {"naver.com"};

// Seznam: the SeznamBot page names its crawlers' reverse names in seznam.cz.
constexpr std::array<std::string_view, 1> kSeznamTokens = {"SeznamBot"};
constexpr std::array<SpiderId, 1> kSeznamSpiders = {SpiderId::Seznam};
constexpr std::array<std::string_view, 1> kSeznamDomains = {"seznam.cz"};

// Coc Coc: its crawler's addresses resolve to coccoc.com.
constexpr std::array<std::string_view, 3> kCocCocTokens = {"coccocbot", "coccocbot-web",
                                                           "coccocbot-image"};
constexpr std::array<SpiderId, 1> kCocCocSpiders = {SpiderId::CocCoc};
constexpr std::array<std::string_view, 1> kCocCocDomains = {"coccoc.com"};

// Sogou, 360, Soso, Yodao and the other crawlers of the catalogue have no
// rule: their owners' help pages describe the agents but no reverse-lookup
// check.
constexpr std::array<CrawlerRule, 10> kRules = {{
    {kGoogleTokens, kGoogleSpiders, kGoogleDomains,
     "https://developers.google.com/search/docs/crawling-indexing/verifying-googlebot"},
    {kBaiduTokens, kBaiduSpiders, kBaiduDomains, "https://www.baidu.com/search/spider.html"},
    {kBingTokens, kBingSpiders, kBingDomains,
     "https://www.bing.com/webmaster/help/how-to-verify-bingbot-3905dc26"},
    {kYahooTokens, kYahooSpiders, kYahooDomains,
     "http://www.ysearchblog.com/2007/06/05/"
     "yahoo-search-crawler-slurp-has-a-new-address-and-signature-card/"},
    {kYandexTokens, kYandexSpiders, kYandexDomains,
     "https://yandex.com/support/webmaster/robot-workings/check-yandex-robots.html"},
    {kAppleTokens, kAppleSpiders, kAppleDomains, "https://support.apple.com/en-us/119829"},
    {kPetalTokens, kPetalSpiders, kPetalDomains, "https://aspiegel.com/petalbot"},
    {kNaverTokens, kNaverSpiders, kNaverDomains,
     "https://searchadvisor.naver.com/guide/seo-basic-firewall"},
    {kSeznamTokens, kSeznamSpiders, kSeznamDomains,
     "https://o-seznam.cz/napoveda/vyhledavani/en/seznambot-crawler/"},
    {kCocCocTokens, kCocCocSpiders, kCocCocDomains, "https://help.coccoc.com/en/search-engine"},
}};

bool TokenByte(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '_';
}

} // namespace

std::span<const CrawlerRule> CrawlerRules() {
    return kRules;
}

const CrawlerRule* RuleForToken(std::string_view token) {
    if (token.empty()) {
        return nullptr;
    }
    for (const CrawlerRule& rule : kRules) {
        for (std::string_view own : rule.tokens) {
            if (EqualsIgnoreAsciiCase(own, token)) {
                return &rule;
            }
        }
    }
    return nullptr;
}

const CrawlerRule* RuleForSpider(SpiderId id) {
    if (id == SpiderId::Unknown) {
        return nullptr;
    }
    for (const CrawlerRule& rule : kRules) {
        if (std::find(rule.spiders.begin(), rule.spiders.end(), id) != rule.spiders.end()) {
            return &rule;
        }
    }
    return nullptr;
}

bool AgentHasToken(const CrawlerRule& rule, std::string_view agent) {
    std::size_t start = 0;
    while (start < agent.size()) {
        while (start < agent.size() && !TokenByte(agent[start])) {
            ++start;
        }
        std::size_t end = start;
        while (end < agent.size() && TokenByte(agent[end])) {
            ++end;
        }
        const std::string_view word = agent.substr(start, end - start);
        for (std::string_view token : rule.tokens) {
            if (EqualsIgnoreAsciiCase(word, token)) {
                return true;
            }
        }
        start = end;
    }
    return false;
}

std::string NormaliseHostName(std::string_view host) {
    if (host.ends_with('.')) {
        host.remove_suffix(1);
    }
    return AsciiLower(host);
}

bool HostInDomain(std::string_view host, std::string_view domain) {
    const std::string name = NormaliseHostName(host);
    if (name.empty() || domain.empty() || name.find('\\') != std::string::npos ||
        name.front() == '.' || name.find("..") != std::string::npos) {
        return false;
    }
    if (name == domain) {
        return true;
    }
    return name.size() > domain.size() && name.ends_with(domain) &&
           name[name.size() - domain.size() - 1] == '.';
}

std::string_view MatchingDomain(const CrawlerRule& rule, std::string_view host) {
    for (std::string_view domain : rule.domains) {
        if (HostInDomain(host, domain)) {
            return domain;
        }
    }
    return {};
}

} // namespace logdesk
