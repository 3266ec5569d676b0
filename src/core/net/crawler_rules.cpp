#include "crawler_rules.h"

#include "text/gbk_text.h"

#include <array>

namespace logdesk {
namespace {

// Google: "Verifying Googlebot and other Google crawlers",
// https://developers.google.com/search/docs/crawling-indexing/verifying-googlebot
constexpr std::array<std::string_view, 1> kGoogleTokens = {"googlebot"};
constexpr std::array<std::string_view, 2> kGoogleDomains = {"googlebot.com", "google.com"};

// Baidu: the Baiduspider help page every Baiduspider agent links to, "如何判断
// 是否冒充Baiduspider的抓取", https://www.baidu.com/search/spider.html
constexpr std::array<std::string_view, 1> kBaiduTokens = {"Baiduspider"};
constexpr std::array<std::string_view, 2> kBaiduDomains = {"baidu.com", "baidu.jp"};

// Bing: "Verifying Bingbot",
// https://www.bing.com/webmaster/help/how-to-verify-bingbot-3905dc26
// The catalogue counts msnbot and bingbot as one crawler; both crawl from
// search.msn.com.
constexpr std::array<std::string_view, 3> kBingTokens = {"Msnbot", "Bing", "bingbot"};
constexpr std::array<std::string_view, 1> kBingDomains = {"search.msn.com"};

// Yahoo: "Yahoo! Search Crawler, Slurp, has a new Address and Signature Card",
// http://www.ysearchblog.com/2007/06/05/yahoo-search-crawler-slurp-has-a-new-address-and-signature-card/
constexpr std::array<std::string_view, 2> kYahooTokens = {"Yahoo", "Slurp"};
constexpr std::array<std::string_view, 1> kYahooDomains = {"crawl.yahoo.net"};

// Yandex: "How to check that a robot belongs to Yandex",
// https://yandex.com/support/webmaster/robot-workings/check-yandex-robots.html
constexpr std::array<std::string_view, 2> kYandexTokens = {"Yandex", "YandexBot"};
constexpr std::array<std::string_view, 3> kYandexDomains = {"yandex.ru", "yandex.net",
                                                            "yandex.com"};

// Apple: "About Applebot", https://support.apple.com/en-us/119829
constexpr std::array<std::string_view, 1> kAppleTokens = {"Applebot"};
constexpr std::array<std::string_view, 1> kAppleDomains = {"applebot.apple.com"};

// Sogou, 360, Soso, Yodao and the other crawlers of the catalogue have no
// rule: their owners' help pages describe the agents but no reverse-lookup
// check.
constexpr std::array<CrawlerRule, 6> kRules = {{
    {kGoogleTokens, kGoogleDomains,
     "https://developers.google.com/search/docs/crawling-indexing/verifying-googlebot"},
    {kBaiduTokens, kBaiduDomains, "https://www.baidu.com/search/spider.html"},
    {kBingTokens, kBingDomains,
     "https://www.bing.com/webmaster/help/how-to-verify-bingbot-3905dc26"},
    {kYahooTokens, kYahooDomains,
     "http://www.ysearchblog.com/2007/06/05/"
     "yahoo-search-crawler-slurp-has-a-new-address-and-signature-card/"},
    {kYandexTokens, kYandexDomains,
     "https://yandex.com/support/webmaster/robot-workings/check-yandex-robots.html"},
    {kAppleTokens, kAppleDomains, "https://support.apple.com/en-us/119829"},
}};

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
    for (std::string_view token : Spider(id).tokens) {
        if (const CrawlerRule* rule = RuleForToken(token)) {
            return rule;
        }
    }
    return nullptr;
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
