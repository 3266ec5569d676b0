// The crawler registry: one entry per crawler holding everything the program
// knows of it. The catalogue (SpiderCatalogue, SpiderTallyOrder), the
// verification rules, the short names and the chart colours are all derived
// from these entries, so a crawler is added by adding its SpiderId and its
// entry, and nothing else has to agree with them byte for byte.
//
// The entries are plain data in UTF-8; the catalogue converts the names to
// GBK. Colours are 0xRRGGBB numbers, which the windows turn into colours of
// their own.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <utility>
#include <vector>

namespace logdesk {

// A registry entry, in test order: the classic crawlers, then today's (from
// kFirstTodaySpider on); `Unknown` is the fallback and stays last. Values are
// positions in the registry and in SpiderCatalogue() and live only in memory,
// so they may change when the registry grows.
enum class SpiderId : std::uint8_t {
    Google,
    Baidu,
    Qihoo360,
    Sogou,
    Soso,
    Yodao,
    Yahoo,
    Bing,
    Alexa,
    Easou,
    Yisou,
    Jike,
    Panguso,
    Altavista,
    Lycos,
    Alltheweb,
    Gigablast,
    Webalta,
    Majestic12,
    Ahrefs,
    // Today's crawlers.
    ByteDance,
    Yandex,
    Petal,
    Apple,
    DuckDuckGo,
    OpenAi,
    Anthropic,
    CommonCrawl,
    Semrush,
    Naver,
    Seznam,
    CocCoc,
    Unknown,
};
inline constexpr SpiderId kFirstTodaySpider = SpiderId::ByteDance;
inline constexpr int kClassicSpiderCount = static_cast<int>(kFirstTodaySpider);
// Every entry and the fallback: the size of per-crawler arrays.
inline constexpr int kSpiderCount = static_cast<int>(SpiderId::Unknown) + 1;
inline constexpr int kTodaySpiderCount = kSpiderCount - kClassicSpiderCount - 1;

// How a visit claiming to be the crawler can be checked.
struct CrawlerCheck {
    enum class Kind : std::uint8_t {
        Unset,      // the entry forgot to say; the registry's tests reject it
        None,       // the owner documents no check, and none is made up
        ReverseDns, // a forward-confirmed reverse lookup into `domains`
    };
    Kind kind = Kind::Unset;
    // The product tokens (ASCII) the owner documents for the agents the check
    // covers; a visit is judged only when its agent holds one as a whole token.
    std::vector<std::string_view> tokens;
    // Domains, lower case, without leading or trailing dot.
    std::vector<std::string_view> domains;
    // Where the owner documents the check.
    std::string_view documentation;
};

inline CrawlerCheck NoPublishedCheck() {
    return {CrawlerCheck::Kind::None, {}, {}, {}};
}
inline CrawlerCheck ReverseDnsCheck(std::vector<std::string_view> tokens,
                                    std::vector<std::string_view> domains,
                                    std::string_view documentation) {
    return {CrawlerCheck::Kind::ReverseDns, std::move(tokens), std::move(domains), documentation};
}

// No colour given: the registry's tests reject an entry that keeps it.
inline constexpr std::int32_t kNoColour = -1;

constexpr std::int32_t Rgb(int red, int green, int blue) {
    return (red << 16) | (green << 8) | blue;
}

struct CrawlerEntry {
    SpiderId id = SpiderId::Unknown;
    // Identification: tried in order, ASCII case ignored, found anywhere in
    // the agent.
    std::vector<std::string_view> tokens;
    // UTF-8, as the tables name the crawler: its short name, then "(", then
    // what identifies it. The short name (the part before the last "(")
    // heads the crawler's columns and tabs, orders the tally and chooses the
    // chart colour, so no crawler's short name may occur in another's
    // display name.
    std::string_view displayName;
    // 0-based position in the tally order; the places of all entries are a
    // permutation of 0..kSpiderCount-1, the fallback's the last.
    int tallyPlace = -1;
    // The chart colour, 0xRRGGBB.
    std::int32_t rgb = kNoColour;
    CrawlerCheck check;
};

// Every entry, indexed by SpiderId. Program-wide constant.
std::span<const CrawlerEntry> CrawlerRegistry();

} // namespace logdesk
