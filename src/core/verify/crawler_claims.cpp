#include "crawler_claims.h"

#include "core/logimport/client_address.h"
#include "core/verify/crawler_rules.h"

#include <algorithm>
#include <array>

namespace logdesk {

void CrawlerClaimCollector::add(const PageRecord& record) {
    if (record.ip.empty()) {
        return;
    }
    // A cell that names no crawler claims none.
    const SpiderId spider = record.crawler().value_or(SpiderId::Unknown);
    if (spider != lastSpider_) {
        lastSpider_ = spider;
        lastLogged_.clear();
        lastDocumented_ = true;
        if (const CrawlerRule* rule = RuleForSpider(lastSpider_);
            rule != nullptr && !record.loggedAgent.empty()) {
            lastLogged_.assign(record.loggedAgent);
            lastDocumented_ = AgentHasToken(*rule, record.loggedAgent);
        }
    } else if (!record.loggedAgent.empty() && record.loggedAgent != lastLogged_) {
        if (const CrawlerRule* rule = RuleForSpider(lastSpider_)) {
            lastLogged_.assign(record.loggedAgent);
            lastDocumented_ = AgentHasToken(*rule, record.loggedAgent);
        }
    }
    if (lastSpider_ == SpiderId::Unknown) {
        if (const auto it = unclaimed_.find(record.ip); it != unclaimed_.end()) {
            ++it->second;
        } else {
            unclaimed_.emplace(record.ip, 1);
        }
        return;
    }
    key_.assign(record.ip);
    key_.push_back(static_cast<char>(lastSpider_));
    auto it = visits_.find(std::string_view(key_));
    if (it == visits_.end()) {
        it = visits_.emplace(key_, Count{}).first;
    }
    ++it->second.visits;
    it->second.documented = it->second.documented || lastDocumented_;
}

void CrawlerClaimCollector::join(RecordConsumer& later) {
    auto& other = static_cast<CrawlerClaimCollector&>(later);
    for (auto& [key, count] : other.visits_) {
        Count& mine = visits_[key];
        mine.visits += count.visits;
        mine.documented = mine.documented || count.documented;
    }
    for (auto& [ip, visits] : other.unclaimed_) {
        unclaimed_[ip] += visits;
    }
    other.visits_.clear();
    other.unclaimed_.clear();
}

std::vector<CrawlerClaim> CrawlerClaimCollector::claims() const {
    std::vector<CrawlerClaim> claims;
    claims.reserve(visits_.size());
    for (const auto& [key, count] : visits_) {
        const std::string_view ip = std::string_view(key).substr(0, key.size() - 1);
        const auto unclaimed = unclaimed_.find(ip);
        claims.push_back({std::string(ip),
                          static_cast<SpiderId>(key.back()),
                          {},
                          count.visits,
                          count.documented,
                          unclaimed == unclaimed_.end() ? 0 : unclaimed->second});
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
                                               const CancelToken& cancel,
                                               std::int32_t clientIpColumn) {
    CrawlerClaimCollector collector;
    if (fields[FieldSlot::UserAgent] <= 0 ||
        (fields[FieldSlot::ClientIp] <= 0 && clientIpColumn <= 0) || table.data() == nullptr) {
        return {};
    }
    const std::array<ColumnIndex, 2> columns = {
        ColumnIndex{fields[FieldSlot::UserAgent]},
        ColumnIndex{fields[FieldSlot::ClientIp] > 0 ? fields[FieldSlot::ClientIp] : -1}};
    std::array<std::string_view, 2> cells;
    PageRecord record;
    const std::uint32_t rows = table.rowCount();
    for (std::uint32_t r = 0; r < rows; ++r) {
        if ((r & 0xFFF) == 0 && cancel.cancelled()) {
            return {};
        }
        const RecordIndex at = table.record(RowIndex{r});
        table.data()->cellsOf(at, columns.data(), columns.size(), cells.data());
        record.agent = cells[0];
        record.spider = table.data()->spider(at);
        record.ip =
            clientIpColumn > 0
                ? ClientAddress(table.data()->cell(at, ColumnIndex{clientIpColumn}), cells[1])
                : cells[1];
        record.loggedAgent = table.data()->loggedCell(at, columns[0]);
        collector.add(record);
    }
    return collector.claims();
}

} // namespace logdesk
