// Verdicts that a webmaster pastes into IIS: a resolver that cannot answer
// never makes anyone 假, odd answers and broken TCP hide no fake and spoil
// no other lookup, and claims are judged by the engines' own tokens. Every
// case runs against the DNS server of tests/support on 127.0.0.1.
#include "core/verify/crawler_claims.h"
#include "core/verify/crawler_verifier.h"
#include "core/verify/verification_report.h"
#include "support/import_test_support.h"
#include "support/local_dns_server.h"
#include "core/text/gbk_codec.h"

#include <chrono>
#include <gtest/gtest.h>
#include <map>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace logdesk {
namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

ResolverSettings Settings(const std::string& servers, int timeoutMs = 1000, int attempts = 1) {
    return {.timeoutMs = timeoutMs, .attempts = attempts, .servers = servers};
}

// Addresses from the crawler ranges of Google, Baidu and Bing, each claiming
// its own engine: what a real log of real crawlers gives.
std::vector<CrawlerClaim> RealCrawlerClaims(int each) {
    std::vector<CrawlerClaim> claims;
    for (int i = 0; i < each; ++i) {
        const std::string low = std::to_string(i / 200) + "." + std::to_string(i % 200 + 1);
        claims.push_back({"66.249." + low, SpiderId::Google, {}, 3});
        claims.push_back({"220.181." + low, SpiderId::Baidu, {}, 2});
        claims.push_back({"157.55." + low, SpiderId::Bing, {}, 1});
    }
    return claims;
}

// A loopback UDP port nothing listens on.
std::string DeadServer() {
    const int s = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(s, reinterpret_cast<sockaddr*>(&address), length);
    ::getsockname(s, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(s);
    return "127.0.0.1:" + std::to_string(ntohs(address.sin_port));
}

void ExpectNobodyBlocked(const std::vector<CrawlerClaim>& claims, const VerifyRun& run) {
    for (const CrawlerVerdict& verdict : run.verdicts) {
        EXPECT_NE(verdict.verdict, Verdict::Fake) << static_cast<int>(verdict.reason);
    }
    EXPECT_TRUE(AddressesToBlock(claims, run.verdicts).empty());
    EXPECT_FALSE(ResolverProblemText(run.problem).empty());
}

TEST(VerifySafetyTest, AResolverThatAnswersNoReverseNameBlocksNobody) {
    const std::vector<CrawlerClaim> claims = RealCrawlerClaims(68); // 204 addresses
    {
        // NXDOMAIN for everything, the control query's zone included.
        LocalDnsServer server;
        server.setNxdomainForEverything(true);
        CrawlerVerifier verifier(Settings(server.servers()));
        const VerifyRun run = verifier.verify(claims);
        ASSERT_TRUE(run.completed);
        EXPECT_EQ(run.problem, ResolverProblem::ControlFailed);
        ExpectNobodyBlocked(claims, run);
        EXPECT_EQ(run.verdicts[0],
                  (CrawlerVerdict{Verdict::Unverifiable, VerdictReason::ResolverUnusable, {}}));
    }
    {
        // Split horizon: the public zones answer, no reverse name does.
        LocalDnsServer server;
        CrawlerVerifier verifier(Settings(server.servers()));
        const VerifyRun run = verifier.verify(claims);
        EXPECT_EQ(run.problem, ResolverProblem::NoReverseNames);
        ExpectNobodyBlocked(claims, run);
    }
    {
        // One real name among them: the server does answer reverse lookups,
        // and an address without a PTR record is 假.
        LocalDnsServer server;
        server.addCrawler("66.249.0.1", "crawl-66-249-0-1.googlebot.com");
        CrawlerVerifier verifier(Settings(server.servers()));
        const VerifyRun run = verifier.verify(claims);
        EXPECT_EQ(run.problem, ResolverProblem::None);
        EXPECT_EQ(run.verdicts[0].verdict, Verdict::Genuine);
        EXPECT_EQ(run.verdicts[1],
                  (CrawlerVerdict{Verdict::Fake, VerdictReason::NoReverseName, {}}));
        EXPECT_EQ(AddressesToBlock(claims, run.verdicts).size(), claims.size() - 1);
    }
}

TEST(VerifySafetyTest, ADeadOrSilentServerEndsTheRunSoonAndBlocksNobody) {
    const std::vector<CrawlerClaim> claims = RealCrawlerClaims(300); // 900 addresses
    {
        CrawlerVerifier verifier(Settings(DeadServer(), 300, 2));
        const auto start = steady_clock::now();
        const VerifyRun run = verifier.verify(claims);
        EXPECT_LT(steady_clock::now() - start, std::chrono::seconds(3));
        EXPECT_EQ(run.problem, ResolverProblem::NoAnswers);
        ExpectNobodyBlocked(claims, run);
    }
    {
        // Without giving up, 900 addresses in groups of 128 cost seven times
        // two attempts of 300 ms.
        LocalDnsServer server;
        server.setSilent(true);
        CrawlerVerifier verifier(Settings(server.servers(), 300, 2));
        const auto start = steady_clock::now();
        const VerifyRun run = verifier.verify(claims);
        const auto elapsed = steady_clock::now() - start;
        EXPECT_GE(elapsed, milliseconds(550));
        EXPECT_LT(elapsed, milliseconds(600 + 1200));
        EXPECT_EQ(run.problem, ResolverProblem::Silent);
        ExpectNobodyBlocked(claims, run);
        EXPECT_LE(server.questions(), 2 * 128 + 2);
        EXPECT_EQ(run.verdicts.back().reason, VerdictReason::ServerSilent);
    }
}

TEST(VerifySafetyTest, OddBytesInOnePtrNameHideNoOtherName) {
    LocalDnsServer server;
    // Every odd name beside a good one in the domain, which passes.
    const std::vector<std::vector<std::string>> odd = {
        {std::string("crawl\0x", 7), "googlebot", "com"},
        {"crawl 1", "googlebot", "com"},
        {"crawl.1", "googlebot", "com"},
        {"crawl\xff", "googlebot", "com"}};
    for (const auto& labels : odd) {
        server.addPtrLabels("66.249.66.1", labels);
        server.addPtrLabels("6.6.6.1", labels);
    }
    server.addCrawler("66.249.66.1", "crawl-66-249-66-1.googlebot.com");
    // A fake with a foreign name among odd ones.
    server.addPtr("6.6.6.1", "scraper.example");
    // A fake whose every name is odd.
    for (const auto& labels : odd) {
        server.addPtrLabels("6.6.6.2", labels);
    }
    const std::vector<CrawlerClaim> claims = {{"66.249.66.1", SpiderId::Google, {}, 1},
                                              {"6.6.6.1", SpiderId::Google, {}, 1},
                                              {"6.6.6.2", SpiderId::Google, {}, 1}};
    CrawlerVerifier verifier(Settings(server.servers()));
    const VerifyRun run = verifier.verify(claims);
    EXPECT_EQ(run.verdicts,
              (std::vector<CrawlerVerdict>{
                  {Verdict::Genuine, VerdictReason::Confirmed, "crawl-66-249-66-1.googlebot.com"},
                  {Verdict::Fake, VerdictReason::OtherDomain, "scraper.example"},
                  {Verdict::Fake, VerdictReason::UnusableReverseName, {}}}));
    EXPECT_EQ(AddressesToBlock(claims, run.verdicts).size(), 2u);
}

// A PTR answer of `first` (when given) and `names` foreign names, about 45
// bytes each.
void AddLongPtr(LocalDnsServer& server, const std::string& ip, int names,
                const std::string& first) {
    if (!first.empty()) {
        server.addPtr(ip, first);
    }
    for (int n = 0; n < names; ++n) {
        server.addPtr(ip, "host-" + std::to_string(n) + "-of-many.hosting.example");
    }
}

TEST(VerifySafetyTest, LongAnswersAndBrokenTcpSpoilNoOtherLookup) {
    for (const LocalDnsServer::Tcp tcp :
         {LocalDnsServer::Tcp::Close, LocalDnsServer::Tcp::Refuse}) {
        LocalDnsServer server;
        server.setTcp(tcp);
        server.randomDelays(1, 20, 5);
        std::vector<CrawlerClaim> claims;
        // 300 fakes whose answers are about 700 bytes: more than 512, less
        // than an EDNS payload of 1232.
        for (int i = 0; i < 300; ++i) {
            const std::string ip = "6.6." + std::to_string(i / 200) + "." + std::to_string(i % 200);
            AddLongPtr(server, ip, 14, {});
            claims.push_back({ip, SpiderId::Google, {}, 1});
        }
        for (int i = 0; i < 130; ++i) {
            const std::string ip = "66.249.70." + std::to_string(i + 1);
            server.addCrawler(ip, "crawl-66-249-70-" + std::to_string(i + 1) + ".googlebot.com");
            claims.push_back({ip, SpiderId::Google, {}, 1});
        }
        // One answer too long even for EDNS: it needs the TCP that breaks.
        AddLongPtr(server, "6.6.9.9", 40, "crawl-6-6-9-9.googlebot.com");
        claims.push_back({"6.6.9.9", SpiderId::Google, {}, 1});

        CrawlerVerifier verifier(Settings(server.servers(), 2000, 2));
        const VerifyRun run = verifier.verify(claims);
        ASSERT_EQ(run.problem, ResolverProblem::None);
        for (std::size_t i = 0; i < 300; ++i) {
            EXPECT_EQ(run.verdicts[i].reason, VerdictReason::OtherDomain) << claims[i].ip;
        }
        for (std::size_t i = 300; i < 430; ++i) {
            EXPECT_EQ(run.verdicts[i].verdict, Verdict::Genuine) << claims[i].ip;
        }
        EXPECT_EQ(run.verdicts.back(),
                  (CrawlerVerdict{Verdict::Unverifiable, VerdictReason::ServerFailure, {}}));
        EXPECT_EQ(AddressesToBlock(claims, run.verdicts).size(), 300u);
    }
    // A server whose TCP works answers the long one there.
    LocalDnsServer server;
    AddLongPtr(server, "6.6.9.9", 40, "crawl-6-6-9-9.googlebot.com");
    server.addAddress("crawl-6-6-9-9.googlebot.com", "6.6.9.9");
    server.setIgnoreEdns(true);
    AddLongPtr(server, "6.6.9.8", 14, {});
    CrawlerVerifier verifier(Settings(server.servers()));
    const std::vector<CrawlerClaim> claims = {{"6.6.9.9", SpiderId::Google, {}, 1},
                                              {"6.6.9.8", SpiderId::Google, {}, 1}};
    const VerifyRun run = verifier.verify(claims);
    EXPECT_EQ(run.verdicts[0].verdict, Verdict::Genuine);
    EXPECT_EQ(run.verdicts[1].reason, VerdictReason::OtherDomain);
    EXPECT_EQ(server.tcpQuestions(), 2);
}

TEST(VerifySafetyTest, AtMostEightNamesAreForwardCheckedAndEachNameOnce) {
    LocalDnsServer server;
    for (int n = 0; n < 1000; ++n) {
        server.addPtr("6.6.7.1", "crawl-" + std::to_string(n) + ".googlebot.com");
    }
    // Two addresses behind one name: one forward question serves both.
    server.addPtr("6.6.7.2", "shared.googlebot.com");
    server.addPtr("6.6.7.3", "shared.googlebot.com");
    server.addAddress("shared.googlebot.com", "6.6.7.3");
    const std::vector<CrawlerClaim> claims = {{"6.6.7.1", SpiderId::Google, {}, 1},
                                              {"6.6.7.2", SpiderId::Google, {}, 1},
                                              {"6.6.7.3", SpiderId::Google, {}, 1}};
    CrawlerVerifier verifier(Settings(server.servers()));
    const auto start = steady_clock::now();
    const VerifyRun run = verifier.verify(claims);
    EXPECT_LT(steady_clock::now() - start, std::chrono::seconds(2));
    EXPECT_EQ(run.verdicts[0], (CrawlerVerdict{Verdict::Fake, VerdictReason::ForwardMismatch,
                                               "crawl-0.googlebot.com"}));
    EXPECT_EQ(run.verdicts[1].reason, VerdictReason::ForwardMismatch);
    EXPECT_EQ(run.verdicts[2].verdict, Verdict::Genuine);
    // The control query, three reverse (the long one again over TCP) and
    // 8 + 1 forward questions.
    EXPECT_EQ(server.questions(), 1 + 3 + 1 + 8 + 1);
    EXPECT_EQ(server.tcpQuestions(), 1);
    EXPECT_EQ(server.questionsFor("shared.googlebot.com"), 1);
}

TEST(VerifySafetyTest, OnlyTheEnginesDocumentedTokensMakeAClaimTheyCheck) {
    LocalDnsServer server;
    server.addCrawler("157.55.39.1", "msnbot-157-55-39-1.search.msn.com");
    server.addCrawler("72.30.14.1", "b1.crawl.yahoo.net");
    const LogImport log = testing::Imported(ImportLogBytes(
        "#Fields: c-ip cs(User-Agent)\r\n"
        "157.55.39.1 Mozilla/5.0+(compatible;+bingbot/2.0;+http://www.bing.com/bingbot.htm)\r\n"
        "6.6.6.1 Bingo-Blitz/2.1\r\n"
        "6.6.6.2 Yahoo+Ad+Monitoring\r\n"
        "6.6.6.3 YahooMailProxy\r\n"
        "72.30.14.1 "
        "Mozilla/5.0+(compatible;+Yahoo!+Slurp;+http://help.yahoo.com/help/us/ysearch/slurp)\r\n"
        "6.6.6.4 Googlebot-Image/1.0\r\n"
        "6.6.6.5 NotGooglebot/1.0\r\n"));
    // The tally still names them as it always did.
    EXPECT_EQ(testing::Tally(log.tally),
              (std::vector<std::pair<std::string, int>>{
                  {"谷歌(Googlebot)", 2}, {"必应(Msnbot&Bing)", 2}, {"雅虎(Yahoo)", 3}}));
    const std::vector<CrawlerClaim> claims = CollectCrawlerClaims(log.table, log.header.fieldMap);
    ASSERT_EQ(claims.size(), 7u);
    CrawlerVerifier verifier(Settings(server.servers()));
    const VerifyRun run = verifier.verify(claims);
    std::map<std::string, VerdictReason> reasons;
    for (std::size_t i = 0; i < claims.size(); ++i) {
        reasons[claims[i].ip] = run.verdicts[i].reason;
    }
    EXPECT_EQ(reasons["157.55.39.1"], VerdictReason::Confirmed);
    EXPECT_EQ(reasons["72.30.14.1"], VerdictReason::Confirmed);
    EXPECT_EQ(reasons["6.6.6.1"], VerdictReason::NoDocumentedToken);
    EXPECT_EQ(reasons["6.6.6.2"], VerdictReason::NoDocumentedToken);
    EXPECT_EQ(reasons["6.6.6.3"], VerdictReason::NoDocumentedToken);
    EXPECT_EQ(reasons["6.6.6.4"], VerdictReason::NoReverseName);
    EXPECT_EQ(reasons["6.6.6.5"], VerdictReason::NoDocumentedToken);
    EXPECT_EQ(server.questionsFor(LocalDnsServer::ReverseName("6.6.6.1")), 0);
    const std::vector<IpAddress> blocked = AddressesToBlock(claims, run.verdicts);
    ASSERT_EQ(blocked.size(), 1u);
    EXPECT_EQ(blocked[0].text(), "6.6.6.4");
}

TEST(VerifySafetyTest, AnAddressSharedWithPeopleIsLeftOutOfTheBlockRules) {
    std::string text = "#Fields: c-ip cs(User-Agent)\r\n6.6.6.1 Googlebot/2.1\r\n"
                       "6.6.6.2 Googlebot/2.1\r\n";
    for (int i = 0; i < 1000; ++i) {
        text += "6.6.6.1 Mozilla/5.0+Chrome/120.0\r\n";
    }
    const LogImport log = testing::Imported(ImportLogBytes(text));
    const std::vector<CrawlerClaim> claims = CollectCrawlerClaims(log.table, log.header.fieldMap);
    ASSERT_EQ(claims.size(), 2u);
    EXPECT_EQ(claims[0].ip, "6.6.6.1");
    EXPECT_EQ(claims[0].visits, 1);
    EXPECT_EQ(claims[0].unclaimedVisits, 1000);
    EXPECT_EQ(VerifyTableRow(claims[0], {})[5], "1000");
    EXPECT_EQ(claims[1].unclaimedVisits, 0);
    const std::vector<CrawlerVerdict> fake(2, {Verdict::Fake, VerdictReason::NoReverseName, {}});
    std::size_t leftOut = 0;
    const std::vector<IpAddress> blocked = AddressesToBlock(claims, fake, false, &leftOut);
    ASSERT_EQ(blocked.size(), 1u);
    EXPECT_EQ(blocked[0].text(), "6.6.6.2");
    EXPECT_EQ(leftOut, 1u);
    EXPECT_NE(
        BlockRules(BlockFormat::WebConfig, blocked, leftOut).find("1 address(es) judged fake"),
        std::string::npos);
    EXPECT_EQ(AddressesToBlock(claims, fake, true, &leftOut).size(), 2u);
    EXPECT_EQ(leftOut, 0u);

    // Streamed records count the same.
    CrawlerClaimCollector first;
    CrawlerClaimCollector second;
    const std::string google = Gbk("谷歌(Googlebot)");
    const std::string other = Gbk("其他流量(unknown)");
    PageRecord record;
    record.ip = "6.6.6.1";
    record.agent = google;
    record.spider = SpiderId::Google;
    record.loggedAgent = "Googlebot/2.1";
    first.add(record);
    record.agent = other;
    record.spider = SpiderId::Unknown;
    record.loggedAgent = "Chrome";
    second.add(record);
    first.join(second);
    EXPECT_EQ(first.claims()[0].unclaimedVisits, 1);
}

} // namespace
} // namespace logdesk
