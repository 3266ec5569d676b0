// The published crawler ranges: the engines' formats served from a loopback
// HTTP server, stored with date and source, a damaged download keeping the
// previous copy, and verdicts that rest on them before any DNS query.
#include "core/verify/crawler_ranges.h"
#include "core/verify/crawler_verifier.h"
#include "core/verify/verification_report.h"
#include "support/file_test_support.h"
#include "support/local_dns_server.h"
#include "support/local_http_server.h"
#include "core/text/gbk_codec.h"

#include <fstream>
#include <gtest/gtest.h>
#include <map>

namespace logdesk {
namespace {

using testing::ReadFile;
using testing::TempFile;

void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

// Google's, Bing's, Apple's and OpenAI's form.
constexpr const char* kGooglebotJson = R"({
  "creationTime": "2026-12-01T23:00:00.000000",
  "prefixes": [
    {"ipv6Prefix": "2001:4860:4801:10::/64"},
    {"ipv4Prefix": "66.249.64.0/27"},
    {"ipv4Prefix": "66.249.66.0/27"}
  ]
})";
constexpr const char* kBingbotJson =
    R"({"creationTime":"2026-12-01T10:00:00","prefixes":[{"ipv4Prefix":"157.55.39.0/24"}]})";
// DuckDuckGo's help page lists addresses as items.
constexpr const char* kDuckDuckBotPage =
    "<html><body><p>DuckDuckBot/1.1 version 1.1 originates from:</p><ul>\n"
    "<li>20.191.45.212</li>\n<li>40.88.21.235</li>\n<li>not an address</li></ul></body></html>";

std::string Reply(const std::string& body, const char* status = "200 OK") {
    return std::string("HTTP/1.1 ") + status +
           "\r\nContent-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" +
           body;
}

TEST(CrawlerRangesTest, RangesParseAndHoldTheirAddressesOnly) {
    const auto range = IpRange::Parse("66.249.64.0/27");
    ASSERT_TRUE(range);
    EXPECT_TRUE(range->contains(*IpAddress::Parse("66.249.64.31")));
    EXPECT_FALSE(range->contains(*IpAddress::Parse("66.249.64.32")));
    EXPECT_FALSE(range->contains(*IpAddress::Parse("::ffff:66.249.65.1")));
    EXPECT_TRUE(range->contains(*IpAddress::Parse("::ffff:66.249.64.1")));
    const auto v6 = IpRange::Parse("2001:4860:4801:10::/64");
    ASSERT_TRUE(v6);
    EXPECT_TRUE(v6->contains(*IpAddress::Parse("2001:4860:4801:10:ffff::1")));
    EXPECT_FALSE(v6->contains(*IpAddress::Parse("2001:4860:4801:11::1")));
    EXPECT_FALSE(v6->contains(*IpAddress::Parse("66.249.64.1")));
    EXPECT_EQ(IpRange::Parse("20.191.45.212")->prefixLength, 32);
    for (const char* bad :
         {"", "66.249.64.0/33", "66.249.64.0/", "/8", "x/8", "::/129", "66.249.64.0/2x"}) {
        EXPECT_FALSE(IpRange::Parse(bad)) << bad;
    }
    ASSERT_TRUE(ParseRangeBody(RangeFormat::PrefixJson, kGooglebotJson));
    EXPECT_EQ(ParseRangeBody(RangeFormat::PrefixJson, kGooglebotJson)->size(), 3u);
    const auto ddg = ParseRangeBody(RangeFormat::AddressList, kDuckDuckBotPage);
    ASSERT_TRUE(ddg);
    EXPECT_EQ(ddg->size(), 2u);
    for (const char* damaged :
         {"", "<html>Service Unavailable</html>", R"({"prefixes": []})", R"({"prefixes": [{}]})",
          R"({"prefixes": [{"ipv4Prefix": "66.249.64.0/99"}]})", R"({"creationTime": "x")",
          R"({"prefixes": [{"ipv4Prefix": "66.249.64.0/27"}, )"}) {
        EXPECT_FALSE(ParseRangeBody(RangeFormat::PrefixJson, damaged)) << damaged;
    }
}

TEST(CrawlerRangesTest, UpdatesStoreWithDateAndSourceAndADamagedDownloadKeepsTheOldCopy) {
    TempFile dir("");
    const std::string folder = dir.dir().string();
    const std::vector<RangeSource> sources = {
        {"googlebot", "", SpiderId::Google, RangeFormat::PrefixJson},
        {"bingbot", "", SpiderId::Bing, RangeFormat::PrefixJson},
        {"duckduckbot", "", SpiderId::DuckDuckGo, RangeFormat::AddressList}};
    std::map<std::string, std::string> replies = {{"/googlebot.json", Reply(kGooglebotJson)},
                                                  {"/bingbot.json", Reply(kBingbotJson)},
                                                  {"/duckduckbot", Reply(kDuckDuckBotPage)}};
    LocalHttpServer server(20, [&replies](const std::string& request) {
        const std::size_t start = request.find(' ') + 1;
        return replies[request.substr(start, request.find(' ', start) - start)];
    });
    auto urlFor = [&server](const RangeSource& source) {
        return server.url(std::string("/") + std::string(source.id) +
                          (source.format == RangeFormat::PrefixJson ? ".json" : ""));
    };
    const std::vector<RangeUpdate> first =
        UpdatePublishedRanges(folder, sources, "2026-12-10 20:00:00 UTC", urlFor);
    ASSERT_EQ(first.size(), 3u);
    for (const RangeUpdate& update : first) {
        EXPECT_TRUE(update.stored) << update.id << " " << GbkToUtf8(update.error);
    }
    EXPECT_EQ(ReadFile(RangeFilePath(folder, "googlebot")),
              "# source " + server.url("/googlebot.json") +
                  "\r\n# fetched 2026-12-10 20:00:00 UTC\r\n"
                  "2001:4860:4801:10::/64\r\n66.249.64.0/27\r\n66.249.66.0/27\r\n");

    const PublishedRanges loaded = PublishedRanges::Load(folder);
    EXPECT_TRUE(loaded.damaged().empty());
    ASSERT_EQ(loaded.stored().size(), 3u);
    const StoredRanges* google = loaded.find(SpiderId::Google, *IpAddress::Parse("66.249.66.1"));
    ASSERT_NE(google, nullptr);
    EXPECT_EQ(google->fetched, "2026-12-10 20:00:00 UTC");
    EXPECT_EQ(google->source, server.url("/googlebot.json"));
    // Only the claimed engine's ranges count.
    EXPECT_EQ(loaded.find(SpiderId::Bing, *IpAddress::Parse("66.249.66.1")), nullptr);
    EXPECT_NE(loaded.find(SpiderId::DuckDuckGo, *IpAddress::Parse("40.88.21.235")), nullptr);

    // Damaged downloads: an error page, a cut-off JSON, an empty list.
    replies["/googlebot.json"] = Reply("<html>busy</html>", "503 Service Unavailable");
    replies["/bingbot.json"] = Reply(R"({"prefixes": [{"ipv4Prefix": "157.55.)");
    replies["/duckduckbot"] = Reply("<html><ul></ul></html>");
    const std::vector<RangeUpdate> second =
        UpdatePublishedRanges(folder, sources, "2026-12-11 20:00:00 UTC", urlFor);
    for (const RangeUpdate& update : second) {
        EXPECT_FALSE(update.stored) << update.id;
        EXPECT_FALSE(update.error.empty());
    }
    const PublishedRanges kept = PublishedRanges::Load(folder);
    ASSERT_EQ(kept.stored().size(), 3u);
    EXPECT_EQ(kept.stored()[0].fetched, "2026-12-10 20:00:00 UTC");
    EXPECT_EQ(kept.stored()[1].ranges.size(), 1u);

    // A stored copy spoilt on disk is named and not used.
    WriteFile(RangeFilePath(folder, "bingbot"), "# source x\r\n157.55.39.0/99\r\n");
    const PublishedRanges spoilt = PublishedRanges::Load(folder);
    EXPECT_EQ(spoilt.stored().size(), 2u);
    EXPECT_EQ(spoilt.damaged(), (std::vector<std::string>{RangeFilePath(folder, "bingbot")}));
}

TEST(CrawlerRangesTest, AnAddressInItsEnginesRangeIsGenuineWhateverDnsSays) {
    TempFile dir("");
    const std::string folder = dir.dir().string();
    WriteFile(RangeFilePath(folder, "googlebot"),
              "# source https://example\r\n# fetched 2026-12-10 20:00:00 UTC\r\n"
              "66.249.64.0/27\r\n");
    LocalDnsServer server;
    server.addPtr("66.249.64.9", "scraper.example"); // DNS would say 假
    server.addPtr("66.249.99.1", "scraper.example");
    const std::vector<CrawlerClaim> claims = {{"66.249.64.9", SpiderId::Google, {}, 1},
                                              {"66.249.99.1", SpiderId::Google, {}, 1},
                                              {"66.249.64.10", SpiderId::Bing, {}, 1}};
    CrawlerVerifier verifier({.timeoutMs = 1000, .attempts = 1, .servers = server.servers()},
                             PublishedRanges::Load(folder));
    const VerifyRun run = verifier.verify(claims);
    EXPECT_EQ(run.verdicts[0],
              (CrawlerVerdict{Verdict::Genuine, VerdictReason::InPublishedRange, {}}));
    EXPECT_EQ(ConclusionText(run.verdicts[0]), Gbk("真（在该蜘蛛公布的IP段内）"));
    EXPECT_EQ(server.questionsFor(LocalDnsServer::ReverseName("66.249.64.9")), 0);
    // Outside the range, or claiming another engine: DNS decides.
    EXPECT_EQ(run.verdicts[1].reason, VerdictReason::OtherDomain);
    EXPECT_EQ(run.verdicts[2].reason, VerdictReason::NoReverseName);
    // An in-range address is never blocked, even with a broken resolver.
    LocalDnsServer broken;
    broken.setNxdomainForEverything(true);
    CrawlerVerifier again({.servers = broken.servers()}, PublishedRanges::Load(folder));
    EXPECT_EQ(again.verify(claims).verdicts[0].verdict, Verdict::Genuine);
}

} // namespace
} // namespace logdesk
