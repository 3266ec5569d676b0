#include "core/base/cancellation.h"
#include "core/verify/crawler_claims.h"
#include "core/verify/verification_report.h"
#include "support/import_test_support.h"
#include "core/text/gbk_codec.h"

#include <gtest/gtest.h>

namespace logdesk {
namespace {

using testing::Imported;
using testing::TempFile;

struct Claimed {
    std::string ip;
    SpiderId spider;
    std::int64_t visits;
    bool operator==(const Claimed&) const = default;
};

std::vector<Claimed> Simple(const std::vector<CrawlerClaim>& claims) {
    std::vector<Claimed> out;
    for (const CrawlerClaim& claim : claims) {
        EXPECT_EQ(claim.token, "");
        out.push_back({claim.ip, claim.spider, claim.visits});
    }
    return out;
}

void PrintTo(const Claimed& c, std::ostream* os) {
    *os << c.ip << "/" << static_cast<int>(c.spider) << "/" << c.visits;
}

PageRecord Record(std::string_view agent, std::string_view ip) {
    PageRecord record;
    record.agent = agent;
    if (const SpiderInfo* spider = FindSpiderByDisplayName(agent)) {
        record.spider = spider->id;
    }
    record.ip = ip;
    return record;
}

// Agents: the crawler of the catalogue a user-agent names, as the import
// writes it into the table.
const std::string kLog = "#Fields: c-ip cs(User-Agent)\r\n"
                         "10.0.0.9 Baiduspider\r\n"
                         "10.0.0.1 Googlebot/2.1\r\n"
                         "10.0.0.1 Googlebot/2.1\r\n"
                         "9.9.9.9 Mozilla/5.0\r\n"      // the fallback: no claim
                         "10.0.0.1 Baiduspider/2.0\r\n" // the same address, another crawler
                         "10.0.0.10 Baiduspider\r\n"
                         "10.0.0.9 Baiduspider\r\n"
                         "- msnbot\r\n" // no address, still a claim: the verifier judges it
                         "\r\n"         // an empty line: no c-ip, no claim
                         "10.0.0.3 Sosospider\r\n"; // a crawler without a rule counts too

TEST(CrawlerClaimsTest, TableGivesOneClaimPerAddressAndCrawlerMostVisitsFirst) {
    TempFile log(kLog);
    const LogImport imported = Imported(ImportLogFile(log.path()));
    const std::vector<CrawlerClaim> claims =
        CollectCrawlerClaims(imported.table, imported.header.fieldMap);
    // Equal visits go by IP bytes ("-" < "10.0.0.1" < "10.0.0.10" < "10.0.0.3"),
    // then by catalogue order (Google before Baidu).
    const std::vector<Claimed> expected = {
        {"10.0.0.1", SpiderId::Google, 2}, {"10.0.0.9", SpiderId::Baidu, 2},
        {"-", SpiderId::Bing, 1},          {"10.0.0.1", SpiderId::Baidu, 1},
        {"10.0.0.10", SpiderId::Baidu, 1}, {"10.0.0.3", SpiderId::Soso, 1},
    };
    EXPECT_EQ(Simple(claims), expected);

    // Rows in another order give the same claims: the order is the claims' own.
    RecordTable reversed = imported.table;
    std::vector<RecordIndex> order;
    for (std::uint32_t r = reversed.rowCount(); r-- > 0;) {
        order.push_back(RecordIndex{r});
    }
    reversed.setRowOrder(order);
    EXPECT_EQ(Simple(CollectCrawlerClaims(reversed, imported.header.fieldMap)), expected);
}

TEST(CrawlerClaimsTest, MissingFieldsOrCancelGiveNoClaims) {
    TempFile noIp("#Fields: cs-uri-stem cs(User-Agent)\r\n/a Baiduspider\r\n");
    const LogImport withoutIp = Imported(ImportLogFile(noIp.path()));
    EXPECT_TRUE(CollectCrawlerClaims(withoutIp.table, withoutIp.header.fieldMap).empty());
    TempFile noAgent("#Fields: c-ip cs-uri-stem\r\n10.0.0.1 /a\r\n");
    const LogImport withoutAgent = Imported(ImportLogFile(noAgent.path()));
    EXPECT_TRUE(CollectCrawlerClaims(withoutAgent.table, withoutAgent.header.fieldMap).empty());
    EXPECT_TRUE(CollectCrawlerClaims(RecordTable{}, FieldMap{}).empty());

    TempFile log(kLog);
    const LogImport imported = Imported(ImportLogFile(log.path()));
    Cancellation stop;
    stop.cancel();
    EXPECT_TRUE(
        CollectCrawlerClaims(imported.table, imported.header.fieldMap, stop.token()).empty());
}

TEST(CrawlerClaimsTest, StreamedRecordsInJoinedPiecesGiveWhatOnePassGives) {
    const std::string baidu = SpiderDisplayName(SpiderId::Baidu);
    const std::string google = SpiderDisplayName(SpiderId::Google);
    const std::string other = SpiderDisplayName(SpiderId::Unknown);
    std::vector<std::pair<std::string, std::string>> records;
    for (int i = 0; i < 200; ++i) {
        const std::string ip = "192.0.2." + std::to_string(i % 37);
        records.emplace_back(i % 3 == 0 ? baidu : i % 3 == 1 ? google : other, ip);
    }
    // An agent that only looks like a display name is no claim.
    records.emplace_back(baidu + " ", "192.0.2.1");
    records.emplace_back(Gbk("百度"), "192.0.2.1");

    CrawlerClaimCollector whole;
    for (const auto& [agent, ip] : records) {
        whole.add(Record(agent, ip));
    }
    std::array<CrawlerClaimCollector, 3> pieces;
    for (std::size_t i = 0; i < records.size(); ++i) {
        const PageRecord record = Record(records[i].first, records[i].second);
        pieces[i * 3 / records.size()].addBatch(&record, 1);
    }
    pieces[0].join(pieces[1]);
    pieces[0].join(pieces[2]);
    EXPECT_EQ(pieces[0].size(), whole.size());
    EXPECT_EQ(Simple(pieces[0].claims()), Simple(whole.claims()));

    std::int64_t visits = 0;
    for (const CrawlerClaim& claim : whole.claims()) {
        visits += claim.visits;
        EXPECT_NE(claim.spider, SpiderId::Unknown);
    }
    EXPECT_EQ(visits, 134); // the records of Baidu and Google only
}

// The window's share list: parts of claimed and of genuine visits, rounded,
// and crawlers without a rule marked instead of shown as 0.
TEST(CrawlerClaimsTest, ShareRowsGivePartsOfClaimedAndOfGenuineVisits) {
    const std::vector<CrawlerShare> shares = {
        {SpiderDisplayName(SpiderId::Baidu), true, 2, 1, 1},
        {SpiderDisplayName(SpiderId::Google), true, 1, 1, 0},
        {SpiderDisplayName(SpiderId::Soso), false, 3, 0, 0},
        {"YandexBot", true, 0, 0, 0},
    };
    std::vector<std::vector<std::string>> rows;
    for (const auto& row : ShareTableRows(shares)) {
        std::vector<std::string> cells;
        for (const std::string& cell : row) {
            cells.push_back(GbkToUtf8(cell));
        }
        rows.push_back(cells);
    }
    const std::vector<std::vector<std::string>> expected = {
        {"百度(Baiduspider)", "2", "33.33%", "1", "50.00%"},
        {"谷歌(Googlebot)", "1", "16.67%", "1", "50.00%"},
        {"搜搜(Sosospider)", "3", "50.00%", "无法验证", "无法验证"},
        {"YandexBot", "0", "0.00%", "0", "0.00%"},
    };
    EXPECT_EQ(rows, expected);
    // Nothing genuine at all: every part of it is 0, never a division by 0.
    const std::vector<CrawlerShare> fakes = {{"x", true, 7, 0, 7}};
    EXPECT_EQ(ShareTableRows(fakes)[0][4], "0.00%");
    EXPECT_EQ(ShareTableRows(fakes)[0][2], "100.00%");
    EXPECT_EQ(GbkToUtf8(ShareColumnTitles()[4]), "验证为真占比");
}

} // namespace
} // namespace logdesk
