#include "crawler_claims.h"

#include <algorithm>
#include <array>

namespace logdesk {

SpiderId SpiderOfDisplayName(std::string_view agent) {
    for (const SpiderInfo& spider : SpiderCatalogue()) {
        if (spider.id != SpiderId::Unknown && spider.displayName == agent) {
            return spider.id;
        }
    }
    return SpiderId::Unknown;
}

void CrawlerClaimCollector::add(const PageRecord& record) {
    if (record.ip.empty()) {
        return;
    }
    if (record.agent != lastAgent_) {
        lastAgent_.assign(record.agent);
        lastSpider_ = SpiderOfDisplayName(record.agent);
    }
    if (lastSpider_ == SpiderId::Unknown) {
        return;
    }
    key_.assign(record.ip);
    key_.push_back(static_cast<char>(lastSpider_));
    if (const auto it = visits_.find(std::string_view(key_)); it != visits_.end()) {
        ++it->second;
    } else {
        visits_.emplace(key_, 1);
    }
}

void CrawlerClaimCollector::join(RecordConsumer& later) {
    auto& other = static_cast<CrawlerClaimCollector&>(later);
    for (auto& [key, visits] : other.visits_) {
        visits_[key] += visits;
    }
    other.visits_.clear();
}

std::vector<CrawlerClaim> CrawlerClaimCollector::claims() const {
    std::vector<CrawlerClaim> claims;
    claims.reserve(visits_.size());
    for (const auto& [key, visits] : visits_) {
        claims.push_back(
            {key.substr(0, key.size() - 1), static_cast<SpiderId>(key.back()), {}, visits});
    }
    std::sort(claims.begin(), claims.end(), [](const CrawlerClaim& a, const CrawlerClaim& b) {
        if (a.visits != b.visits) {
            return a.visits > b.visits;
        }
        if (a.ip != b.ip) {
            return a.ip < b.ip;
        }
        return a.spider < b.spider;
    });
    return claims;
}

std::vector<CrawlerClaim> CollectCrawlerClaims(const RecordTable& table, const FieldMap& fields,
                                               const std::atomic<bool>* cancel) {
    CrawlerClaimCollector collector;
    if (fields[FieldSlot::UserAgent] <= 0 || fields[FieldSlot::ClientIp] <= 0 ||
        table.data() == nullptr) {
        return {};
    }
    const std::array<ColumnIndex, 2> columns = {ColumnIndex{fields[FieldSlot::UserAgent]},
                                                ColumnIndex{fields[FieldSlot::ClientIp]}};
    std::array<std::string_view, 2> cells;
    PageRecord record;
    const std::uint32_t rows = table.rowCount();
    for (std::uint32_t r = 0; r < rows; ++r) {
        if ((r & 0xFFF) == 0 && cancel != nullptr && cancel->load(std::memory_order_relaxed)) {
            return {};
        }
        table.data()->cellsOf(table.record(RowIndex{r}), columns.data(), columns.size(),
                              cells.data());
        record.agent = cells[0];
        record.ip = cells[1];
        collector.add(record);
    }
    return collector.claims();
}

} // namespace logdesk
