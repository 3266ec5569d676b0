// The fixed catalogue of crawlers (the registry's entries with their names in
// GBK), crawler identification from a user-agent text, and the per-import
// tally of crawler visits.
//
// The catalogue holds the classic crawlers, which every import identifies,
// and after them the crawlers of today (AI crawlers, newer search engines and
// SEO tools), which an import identifies only when asked to: with the
// classic catalogue alone the tables, tallies and exports stay exactly those
// of the classic crawlers, and today's crawlers' visits count as 其他流量.
#pragma once

#include "core/logimport/crawler_registry.h"

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace logdesk {

// Which crawlers an identification may name.
enum class Crawlers : std::uint8_t {
    Classic, // the classic crawlers only
    All,     // the classic crawlers and today's
};

struct SpiderInfo {
    SpiderId id;
    std::vector<std::string_view> tokens; // tried in order; ASCII
    std::string displayName;              // GBK, as written into the table
    std::string shortName;                // GBK, the display name before its last "("
    bool classic = true;                  // false for today's crawlers
    std::int32_t rgb = kNoColour;         // the chart colour, 0xRRGGBB
};

// Entries in test order (the classic crawlers, today's, the fallback last).
// Program-wide constant: CatalogueOf(CrawlerRegistry()).
const std::array<SpiderInfo, kSpiderCount>& SpiderCatalogue();
// The catalogue of a registry, entry by entry.
std::vector<SpiderInfo> CatalogueOf(std::span<const CrawlerEntry> registry);
inline const SpiderInfo& Spider(SpiderId id) {
    return SpiderCatalogue()[static_cast<std::size_t>(id)];
}
inline const std::string& SpiderDisplayName(SpiderId id) {
    return Spider(id).displayName;
}

// The catalogue entry (the fallback included) of a display name, byte for
// byte; null for a name outside the catalogue.
const SpiderInfo* FindSpiderByDisplayName(std::string_view displayName);

// Short names in the order the tally lists crawlers in: the classic crawlers,
// then today's, then the fallback's. Program-wide constant:
// TallyOrderOf(CrawlerRegistry()).
const std::array<std::string, kSpiderCount>& SpiderTallyOrder();
// The short names (GBK) of a registry's entries by their tally places; a
// place no entry takes stays empty.
std::vector<std::string> TallyOrderOf(std::span<const CrawlerEntry> registry);

// The first entry of `crawlers`, in test order, one of whose tokens occurs in
// the text (ignoring ASCII case, character by character); Unknown when none
// does. Today's crawlers are tried only after every classic one, so adding
// them never changes what a classic token names.
SpiderId IdentifySpider(std::string_view userAgent, Crawlers crawlers = Crawlers::Classic);

// Visits per crawler display name for one import.
class SpiderTally {
public:
    struct Entry {
        std::string name; // a display name of the catalogue
        std::int32_t count = 0;
        bool operator==(const Entry&) const = default;
    };

    void clear() { entries_.clear(); }

    // Counts one visit: the entry of an equal name (byte for byte) gains one,
    // or a new entry with count 1 is appended.
    void count(std::string_view displayName, std::int32_t visits = 1);

    // Puts the entries into the fixed tally order: for each short name in
    // turn, the first remaining entry whose name contains it moves to the end
    // of the new list.
    void finish();

    int length() const { return static_cast<int>(entries_.size()); }
    const std::vector<Entry>& entries() const { return entries_; }
    // 1-based, as readers of the tally address it.
    const Entry& entry(int position) const {
        return entries_[static_cast<std::size_t>(position - 1)];
    }
    bool operator==(const SpiderTally&) const = default;

private:
    std::vector<Entry> entries_;
};

} // namespace logdesk
