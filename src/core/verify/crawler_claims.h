// Which addresses visited as which catalogue crawler, and how often: the
// claims a verification run settles, gathered from an imported log.
//
// A claim is one (c-ip cell, crawler) pair: an address whose visits name two
// crawlers gives two claims. Only crawlers of the catalogue count, with a
// verification rule or without one; records of the fallback
// (其他流量(unknown)) give none but are counted as the address's unclaimed
// visits, and records with an empty c-ip cell give nothing. The IP is kept
// as logged, byte for byte ("-" and other non-addresses included: the
// verifier judges them). A claim is documented when some visit's agent as
// logged holds a token of the crawler's rule as a whole token; a record
// without the logged agent (PageRecord::loggedAgent empty) is judged by its
// crawler's name alone, as documented.
//
// Order of the claims, so that a table, a report and its golden file never
// depend on hashing or threads: most visits first; equal visits by the IP
// text, byte by byte ascending; then by the crawler's place in the catalogue.
#pragma once

#include "core/base/cancel_token.h"
#include "core/logimport/field_catalogue.h"
#include "core/logimport/imported_log.h"
#include "core/logimport/record_consumer.h"
#include "core/logimport/record_table.h"
#include "core/verify/crawler_verifier.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace logdesk {

// Counts claims over records given in order, from a table or while an
// import streams them past (PageRecord::agent is the crawler's display
// name, PageRecord::ip the c-ip cell). One thread at a time, as every
// consumer.
class CrawlerClaimCollector : public RecordConsumer {
public:
    void add(const PageRecord& record) override;
    // Takes in what another collector counted (any records: the claims are
    // sums, so the order of joining does not change them).
    void join(RecordConsumer& later) override;

    // The claims so far, in the order above.
    std::vector<CrawlerClaim> claims() const;
    // Distinct (IP, crawler) pairs so far.
    std::size_t size() const { return visits_.size(); }

private:
    struct Hash {
        using is_transparent = void;
        std::size_t operator()(std::string_view key) const {
            return std::hash<std::string_view>{}(key);
        }
    };
    struct Count {
        std::int64_t visits = 0;
        bool documented = false;
    };
    // Key: the IP bytes followed by one byte, the SpiderId.
    std::unordered_map<std::string, Count, Hash, std::equal_to<>> visits_;
    // Visits that named no crawler, by IP.
    std::unordered_map<std::string, std::int64_t, Hash, std::equal_to<>> unclaimed_;
    std::string key_; // reused, so that a repeated pair costs no allocation
    // The crawler of the record before: logs repeat agents.
    SpiderId lastSpider_ = SpiderId::Unknown;
    // The logged agent looked at last, and whether it was documented.
    std::string lastLogged_;
    bool lastDocumented_ = true;
};

// The claims of every row of `table` (one pass in row order on the calling
// thread, through the columns `fields` names). A log without a user-agent or
// c-ip field has none. `cancel` is polled every few thousand rows; once it
// is cancelled the result is empty.
// With a clientIpColumn (1-based; 0 for none) a record's address is
// ClientAddress(that column's cell, its c-ip cell): the client behind a proxy.
std::vector<CrawlerClaim> CollectCrawlerClaims(const RecordTable& table, const FieldMap& fields,
                                               const CancelToken& cancel = {},
                                               std::int32_t clientIpColumn = 0);
inline std::vector<CrawlerClaim> CollectCrawlerClaims(const ImportedLog& log,
                                                      const CancelToken& cancel = {}) {
    return CollectCrawlerClaims(log.table, log.header.fieldMap, cancel);
}

} // namespace logdesk
