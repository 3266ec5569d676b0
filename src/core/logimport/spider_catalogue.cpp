#include "spider_catalogue.h"

#include "core/text/gbk_codec.h"
#include "core/text/gbk_text.h"

#include <algorithm>

namespace logdesk {

namespace {

// The display name up to its last "(", the whole name without one.
std::string_view ShortPart(std::string_view displayName) {
    const std::size_t open = displayName.rfind('(');
    return open == std::string_view::npos ? displayName : displayName.substr(0, open);
}

} // namespace

std::vector<SpiderInfo> CatalogueOf(std::span<const CrawlerEntry> registry) {
    std::vector<SpiderInfo> entries;
    entries.reserve(registry.size());
    for (const CrawlerEntry& entry : registry) {
        const bool classic = entry.id < kFirstTodaySpider || entry.id == SpiderId::Unknown;
        entries.push_back({entry.id, entry.tokens, Gbk(entry.displayName),
                           Gbk(ShortPart(entry.displayName)), classic, entry.rgb});
    }
    return entries;
}

const std::array<SpiderInfo, kSpiderCount>& SpiderCatalogue() {
    static const std::array<SpiderInfo, kSpiderCount> catalogue = [] {
        const std::vector<SpiderInfo> derived = CatalogueOf(CrawlerRegistry());
        std::array<SpiderInfo, kSpiderCount> entries;
        std::copy_n(derived.begin(), std::min<std::size_t>(derived.size(), kSpiderCount),
                    entries.begin());
        return entries;
    }();
    return catalogue;
}

const SpiderInfo* FindSpiderByDisplayName(std::string_view displayName) {
    for (const SpiderInfo& spider : SpiderCatalogue()) {
        if (spider.displayName == displayName) {
            return &spider;
        }
    }
    return nullptr;
}

std::vector<std::string> TallyOrderOf(std::span<const CrawlerEntry> registry) {
    std::vector<std::string> names(registry.size());
    for (const CrawlerEntry& entry : registry) {
        if (entry.tallyPlace >= 0 && static_cast<std::size_t>(entry.tallyPlace) < names.size()) {
            names[static_cast<std::size_t>(entry.tallyPlace)] = Gbk(ShortPart(entry.displayName));
        }
    }
    return names;
}

const std::array<std::string, kSpiderCount>& SpiderTallyOrder() {
    static const std::array<std::string, kSpiderCount> order = [] {
        const std::vector<std::string> derived = TallyOrderOf(CrawlerRegistry());
        std::array<std::string, kSpiderCount> names;
        std::copy_n(derived.begin(), std::min<std::size_t>(derived.size(), kSpiderCount),
                    names.begin());
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
