#include "core/verify/crawler_verifier.h"
#include "core/verify/verification_report.h"
#include "support/local_dns_server.h"
#include "core/text/gbk_codec.h"

#include <atomic>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <thread>

namespace logdesk {
namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

ResolverSettings Settings(const LocalDnsServer& server, int timeoutMs = 1000, int attempts = 1) {
    return {.timeoutMs = timeoutMs, .attempts = attempts, .servers = server.servers()};
}

CrawlerVerdict Judged(Verdict verdict, VerdictReason reason, std::string host = {}) {
    return {verdict, reason, std::move(host)};
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST(CrawlerVerifierTest, EachClaimGetsItsVerdictReasonAndHost) {
    LocalDnsServer server;
    server.addCrawler("220.181.108.89", "baiduspider-220-181-108-89.crawl.baidu.com");
    server.addCrawler("66.249.66.1", "crawl-66-249-66-1.googlebot.com");
    server.addCrawler("1.1.1.1", "crawl.baidu.com.evil.example");
    server.addCrawler("1.1.1.2", "spider.fakebaidu.com");
    server.addPtr("1.1.1.3", "crawl-1-1-1-3.googlebot.com");
    server.addAddress("crawl-1-1-1-3.googlebot.com", "66.249.66.3");
    server.addPtr("1.1.1.4", "gone.crawl.baidu.com"); // the name itself does not exist
    server.addEmptyName(LocalDnsServer::ReverseName("1.1.1.6"));
    server.failName(LocalDnsServer::ReverseName("1.1.1.7"));
    server.addCrawler("2404:6800:4005:80a::200e", "crawl-v6.googlebot.com");
    // An IPv6 visitor whose name only has an IPv4 address.
    server.addPtr("2001:db8::9", "crawl-v4only.googlebot.com");
    server.addAddress("crawl-v4only.googlebot.com", "66.249.66.9");
    // A first PTR name outside the domain, a second inside it.
    server.addPtr("157.55.39.1", "edge.example.net");
    server.addCrawler("157.55.39.1", "msnbot-157-55-39-1.search.msn.com");
    server.addCrawler("5.255.253.1", "5-255-253-1.spider.yandex.com");
    server.addCrawler("123.126.113.1", "sogouspider-123-126-113-1.crawl.sogou.com");

    const std::vector<CrawlerClaim> claims = {
        {"220.181.108.89", SpiderId::Baidu, {}, 12},
        {"66.249.66.1", SpiderId::Google, {}, 5},
        {"1.1.1.1", SpiderId::Baidu, {}, 40},
        {"1.1.1.2", SpiderId::Baidu, {}, 30},
        {"1.1.1.3", SpiderId::Google, {}, 3},
        {"1.1.1.4", SpiderId::Baidu, {}, 2},
        {"1.1.1.5", SpiderId::Baidu, {}, 7}, // NXDOMAIN
        {"1.1.1.6", SpiderId::Google, {}, 1},
        {"1.1.1.7", SpiderId::Bing, {}, 1},
        {"2404:6800:4005:80a::200e", SpiderId::Google, {}, 4},
        {"2001:db8::9", SpiderId::Google, {}, 1},
        {"157.55.39.1", SpiderId::Bing, {}, 9},
        {"5.255.253.1", SpiderId::Unknown, "YandexBot", 6},
        {"123.126.113.1", SpiderId::Sogou, {}, 8},
        {"not-an-ip", SpiderId::Baidu, {}, 1},
    };
    CrawlerVerifier verifier(Settings(server));
    std::vector<std::size_t> progress;
    const VerifyRun run = verifier.verify(claims, [&progress](std::size_t done, std::size_t total) {
        EXPECT_EQ(total, 15u);
        progress.push_back(done);
    });
    ASSERT_TRUE(run.completed);
    EXPECT_FALSE(run.error);
    const std::vector<CrawlerVerdict> expected = {
        Judged(Verdict::Genuine, VerdictReason::Confirmed,
               "baiduspider-220-181-108-89.crawl.baidu.com"),
        Judged(Verdict::Genuine, VerdictReason::Confirmed, "crawl-66-249-66-1.googlebot.com"),
        Judged(Verdict::Fake, VerdictReason::OtherDomain, "crawl.baidu.com.evil.example"),
        Judged(Verdict::Fake, VerdictReason::OtherDomain, "spider.fakebaidu.com"),
        Judged(Verdict::Fake, VerdictReason::ForwardMismatch, "crawl-1-1-1-3.googlebot.com"),
        Judged(Verdict::Fake, VerdictReason::ForwardMismatch, "gone.crawl.baidu.com"),
        Judged(Verdict::Fake, VerdictReason::NoReverseName),
        Judged(Verdict::Fake, VerdictReason::NoReverseName),
        Judged(Verdict::Unverifiable, VerdictReason::ServerFailure),
        Judged(Verdict::Genuine, VerdictReason::Confirmed, "crawl-v6.googlebot.com"),
        Judged(Verdict::Fake, VerdictReason::ForwardMismatch, "crawl-v4only.googlebot.com"),
        Judged(Verdict::Genuine, VerdictReason::Confirmed, "msnbot-157-55-39-1.search.msn.com"),
        Judged(Verdict::Genuine, VerdictReason::Confirmed, "5-255-253-1.spider.yandex.com"),
        Judged(Verdict::Unverifiable, VerdictReason::NoRule),
        Judged(Verdict::Unverifiable, VerdictReason::NotAnAddress),
    };
    ASSERT_EQ(run.verdicts.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(run.verdicts[i], expected[i])
            << claims[i].ip << ": " << static_cast<int>(run.verdicts[i].reason) << " "
            << run.verdicts[i].reverseHost;
    }
    EXPECT_EQ(progress.size(), 15u);
    EXPECT_EQ(progress.back(), 15u);
    // No rule, no question; and the IPv6 name was asked for AAAA only.
    EXPECT_EQ(server.questionsFor(LocalDnsServer::ReverseName("123.126.113.1")), 0);
    EXPECT_EQ(server.questionsFor("crawl-v4only.googlebot.com"), 1);
}

TEST(CrawlerVerifierTest, SecondRunIsAnsweredFromTheCacheAndSharedAddressesAskOnce) {
    LocalDnsServer server;
    server.addCrawler("220.181.108.1", "baiduspider-220-181-108-1.crawl.baidu.com");
    server.addPtr("9.9.9.9", "scraper.example");
    const std::vector<CrawlerClaim> claims = {
        {"220.181.108.1", SpiderId::Baidu, {}, 3},
        {"220.181.108.1", SpiderId::Google, {}, 1},
        {"9.9.9.9", SpiderId::Google, {}, 2},
        {"9.9.9.8", SpiderId::Google, {}, 2},
    };
    CrawlerVerifier verifier(Settings(server));
    const VerifyRun first = verifier.verify(claims);
    const int asked = server.questions();
    EXPECT_EQ(asked, 5); // the control query, three PTR questions, one forward
    EXPECT_EQ(first.verdicts[0].verdict, Verdict::Genuine);
    EXPECT_EQ(first.verdicts[1], Judged(Verdict::Fake, VerdictReason::OtherDomain,
                                        "baiduspider-220-181-108-1.crawl.baidu.com"));
    const VerifyRun second = verifier.verify(claims);
    EXPECT_TRUE(second.completed);
    EXPECT_EQ(second.verdicts, first.verdicts);
    EXPECT_EQ(server.questions(), asked);
}

TEST(CrawlerVerifierTest, UnansweredLookupsEndAsTimeoutsWithinTheDeadline) {
    LocalDnsServer server;
    server.setSilent(true);
    std::vector<CrawlerClaim> claims;
    for (int i = 1; i <= 30; ++i) {
        claims.push_back({"10.9.0." + std::to_string(i), SpiderId::Baidu, {}, 1});
    }
    CrawlerVerifier verifier(Settings(server, 400, 1));
    const auto start = steady_clock::now();
    const VerifyRun run = verifier.verify(claims);
    const auto elapsed = steady_clock::now() - start;
    ASSERT_TRUE(run.completed);
    EXPECT_EQ(run.problem, ResolverProblem::Silent);
    for (const CrawlerVerdict& verdict : run.verdicts) {
        EXPECT_EQ(verdict.verdict, Verdict::Unverifiable);
        EXPECT_TRUE(verdict.reason == VerdictReason::TimedOut ||
                    verdict.reason == VerdictReason::ServerSilent);
    }
    EXPECT_GE(elapsed, milliseconds(380));
    EXPECT_LT(elapsed, milliseconds(400 + 1500));
}

TEST(CrawlerVerifierTest, AResolverThatCannotStartSaysSoAndSettlesNothingAsFake) {
    CrawlerVerifier verifier({.servers = "no such server"});
    const std::vector<CrawlerClaim> claims = {{"1.2.3.4", SpiderId::Baidu, {}, 1},
                                              {"1.2.3.5", SpiderId::Sogou, {}, 1}};
    const VerifyRun run = verifier.verify(claims);
    EXPECT_TRUE(run.completed);
    EXPECT_TRUE(run.error);
    EXPECT_EQ(run.verdicts, (std::vector<CrawlerVerdict>{
                                Judged(Verdict::Unverifiable, VerdictReason::ServerFailure),
                                Judged(Verdict::Unverifiable, VerdictReason::NoRule)}));
}

TEST(CrawlerVerifierTest, CancelReturnsPromptlyAndNoProgressFollowsIt) {
    LocalDnsServer server;
    server.randomDelays(1, 30, 3);
    std::vector<CrawlerClaim> claims;
    for (int i = 0; i < 400; ++i) {
        const std::string ip = "10.8." + std::to_string(i / 200) + "." + std::to_string(i % 200);
        server.addCrawler(ip, "b" + std::to_string(i) + ".crawl.baidu.com");
        claims.push_back({ip, SpiderId::Baidu, {}, 1});
    }
    ResolverSettings settings = Settings(server, 5000);
    settings.maxInFlight = 16;
    CrawlerVerifier verifier(settings);
    Cancellation cancel;
    std::atomic<std::size_t> reported{0};
    std::atomic<bool> cancelReturned{false};
    std::atomic<int> late{0};
    steady_clock::time_point cancelledAt;
    std::thread canceller([&] {
        const auto giveUp = steady_clock::now() + std::chrono::seconds(5);
        while (reported < 50 && steady_clock::now() < giveUp) {
            std::this_thread::sleep_for(milliseconds(1));
        }
        cancel.cancel();
        cancelledAt = steady_clock::now();
        cancelReturned = true;
    });
    const VerifyRun run = verifier.verify(
        claims,
        [&](std::size_t done, std::size_t) {
            late += cancelReturned ? 1 : 0;
            reported = done;
            std::this_thread::sleep_for(std::chrono::microseconds(300));
        },
        &cancel);
    const auto returnedAt = steady_clock::now();
    canceller.join();
    EXPECT_FALSE(run.completed);
    EXPECT_EQ(late, 0);
    EXPECT_LT(returnedAt - cancelledAt, milliseconds(500));
    ASSERT_EQ(run.verdicts.size(), claims.size());
    std::size_t genuine = 0;
    std::size_t cancelled = 0;
    for (const CrawlerVerdict& verdict : run.verdicts) {
        genuine += verdict.verdict == Verdict::Genuine ? 1 : 0;
        cancelled += verdict.reason == VerdictReason::Cancelled ? 1 : 0;
    }
    EXPECT_GE(genuine, reported.load());
    EXPECT_EQ(genuine + cancelled, claims.size());
    EXPECT_GT(cancelled, 0u);
}

TEST(VerificationReportTest, BlockRulesListEachFakeAddressOnceAndSpareGenuineOnes) {
    const std::vector<CrawlerClaim> claims = {
        {"1.1.1.1", SpiderId::Baidu, {}, 40},
        {"66.249.66.1", SpiderId::Google, {}, 5},
        {"1.1.1.1", SpiderId::Google, {}, 2},       // the same address again
        {"::ffff:1.1.1.2", SpiderId::Baidu, {}, 1}, // written as IPv6
        {"2001:DB8:0:0::7", SpiderId::Google, {}, 1},
        {"220.181.108.1", SpiderId::Baidu, {}, 9},  // the real Baidu ...
        {"220.181.108.1", SpiderId::Google, {}, 1}, // ... also claiming Google
        {"9.9.9.9", SpiderId::Bing, {}, 3},         // timed out: not blocked
    };
    const std::vector<CrawlerVerdict> verdicts = {
        Judged(Verdict::Fake, VerdictReason::OtherDomain, "x.example"),
        Judged(Verdict::Genuine, VerdictReason::Confirmed, "crawl.googlebot.com"),
        Judged(Verdict::Fake, VerdictReason::OtherDomain, "x.example"),
        Judged(Verdict::Fake, VerdictReason::NoReverseName),
        Judged(Verdict::Fake, VerdictReason::ForwardMismatch, "crawl.googlebot.com"),
        Judged(Verdict::Genuine, VerdictReason::Confirmed, "b.crawl.baidu.com"),
        Judged(Verdict::Fake, VerdictReason::OtherDomain, "b.crawl.baidu.com"),
        Judged(Verdict::Unverifiable, VerdictReason::TimedOut),
    };
    const std::vector<IpAddress> blocked = AddressesToBlock(claims, verdicts);
    EXPECT_EQ(IpSecurityRules(blocked),
              ReadFile(std::string(LOGDESK_TEST_DATA) + "/verify_block_rules.config"));
    EXPECT_EQ(AddressLines(blocked),
              ReadFile(std::string(LOGDESK_TEST_DATA) + "/verify_block_list.txt"));
    EXPECT_EQ(AddressLines({}), "");

    const std::vector<CrawlerShare> shares = CrawlerShares(claims, verdicts);
    ASSERT_EQ(shares.size(), 3u);
    // The tally's order: 百度, 谷歌, ..., 必应.
    EXPECT_EQ(shares[0], (CrawlerShare{Gbk("百度(Baiduspider)"), true, 50, 9, 41}));
    EXPECT_EQ(shares[1], (CrawlerShare{Gbk("谷歌(Googlebot)"), true, 9, 5, 4}));
    EXPECT_EQ(shares[2], (CrawlerShare{Gbk("必应(Msnbot&Bing)"), true, 3, 0, 0}));
}

TEST(VerificationReportTest, SharesAndRowsNameTokenCrawlersAndUnverifiableOnes) {
    const std::vector<CrawlerClaim> claims = {
        {"5.255.253.1", SpiderId::Unknown, "YandexBot", 6},
        {"123.126.113.1", SpiderId::Sogou, {}, 8},
        {"5.255.253.2", SpiderId::Unknown, "yandexbot", 2},
        {"1.2.3.4", SpiderId::Unknown, "SomeBot", 1},
    };
    const std::vector<CrawlerVerdict> verdicts = {
        Judged(Verdict::Genuine, VerdictReason::Confirmed, "a.spider.yandex.com"),
        Judged(Verdict::Unverifiable, VerdictReason::NoRule),
        Judged(Verdict::Fake, VerdictReason::ForwardMismatch, "b.spider.yandex.com"),
        Judged(Verdict::Unverifiable, VerdictReason::NoRule),
    };
    EXPECT_EQ(CrawlerShares(claims, verdicts),
              (std::vector<CrawlerShare>{{Gbk("搜狗(Sogou)"), false, 8, 0, 0},
                                         {"YandexBot", true, 8, 6, 2},
                                         {"SomeBot", false, 1, 0, 0}}));
    EXPECT_EQ(VerifyTableRow(claims[2], verdicts[2]),
              (std::array<std::string, kVerifyColumns>{"5.255.253.2", "yandexbot", "2",
                                                       "b.spider.yandex.com",
                                                       Gbk("假（正查结果与IP不符）"), "0"}));
    EXPECT_EQ(VerifyTableRow(claims[1], verdicts[1])[4],
              Gbk("无法验证（该蜘蛛没有公开的验证方法）"));
    EXPECT_EQ(ConclusionText(verdicts[0]), Gbk("真"));
    EXPECT_EQ(VerifyColumnTitles()[3], Gbk("反查主机名"));
}

} // namespace
} // namespace logdesk
