// logdesk-report --page verify and --block-rules against the DNS server of
// tests/support on 127.0.0.1.
#include "core/verify/crawler_ranges.h"
#include "report.h"
#include "support/file_test_support.h"
#include "support/html_test_support.h"
#include "support/local_dns_server.h"
#include "support/local_http_server.h"
#include "support/verify_log_fixture.h"
#include "core/text/gbk_codec.h"

#include <chrono>
#include <gtest/gtest.h>

namespace logdesk {
namespace {

using testing::ReadFile;
using testing::TempFile;

struct ReportRun {
    int code;
    std::string out;
    std::string messages;
};

ReportRun Report(const std::vector<std::string>& args) {
    StringSink out;
    std::string messages;
    const int code = RunReport(args, out, messages);
    return {code, out.text(), messages};
}

std::string Golden(const std::string& name) {
    return ReadFile(std::string(LOGDESK_TEST_DATA) + "/" + name);
}

TEST(ReportVerifyTest, TableAndBlockRulesAsGoldenFiles) {
    LocalDnsServer server;
    testing::ServeVerifyAnswers(server);
    TempFile log(testing::kVerifyLog);
    const std::vector<std::string> dns = {"--dns-server", server.servers(), "--dns-timeout", "150"};
    auto with = [&](std::vector<std::string> args) {
        args.insert(args.end(), dns.begin(), dns.end());
        args.push_back(log.path());
        return args;
    };

    const auto started = std::chrono::steady_clock::now();
    const ReportRun table = Report(with({"--page", "verify", "--utf8"}));
    // The silent zone costs its two attempts of 150 ms, not the default 2 s.
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(1500));
    ASSERT_EQ(table.code, 0) << table.messages;
    EXPECT_EQ(table.out, Golden("report_verify.csv"));

    // Claims counted while the log is read, keeping no records: the same table.
    const ReportRun streamed = Report(with({"--page", "verify", "--utf8", "--stream"}));
    ASSERT_EQ(streamed.code, 0) << streamed.messages;
    EXPECT_EQ(streamed.out, table.out);

    const ReportRun iis = Report(with({"--block-rules", "iis"}));
    ASSERT_EQ(iis.code, 0) << iis.messages;
    EXPECT_EQ(iis.out, Golden("verify_block_rules.config"));

    // To a file: the same bytes, and nothing on standard output.
    TempFile out("", "blocked.txt");
    const ReportRun list =
        Report(with({"--page", "verify", "--block-rules", "list", "--output", out.path()}));
    ASSERT_EQ(list.code, 0) << list.messages;
    EXPECT_EQ(list.out, "");
    EXPECT_EQ(ReadFile(out.path()), Golden("verify_block_list.txt"));

    // A text file gets the bare cells, sorted as header clicks sort.
    TempFile sorted("", "verify.txt");
    ASSERT_EQ(
        Report(with({"--page", "verify", "--sort", "2", "--desc", "--output", sorted.path()})).code,
        0);
    const std::string text = ReadFile(sorted.path());
    EXPECT_EQ(text.find("IP,"), std::string::npos);
    EXPECT_EQ(text.substr(0, text.find(',')), "1.1.1.1");
    EXPECT_NE(text.find(Gbk(
                  "\r\n66.249.66.1,谷歌(Googlebot),1,crawl-66-249-66-1.googlebot.com,真,0\r\n")),
              std::string::npos);
}

TEST(ReportVerifyTest, ALogWithoutCrawlersGivesTheColumnsAndNoRules) {
    LocalDnsServer server;
    TempFile log("#Fields: c-ip cs(User-Agent)\r\n10.0.0.6 Mozilla/5.0\r\n");
    const ReportRun table =
        Report({"--page", "verify", "--utf8", "--dns-server", server.servers(), log.path()});
    ASSERT_EQ(table.code, 0) << table.messages;
    EXPECT_EQ(table.out,
              "\"IP\",\"声称蜘蛛\",\"访问次数\",\"反查主机名\",\"结论\",\"非蜘蛛访问次数\"\r\n");
    const ReportRun rules =
        Report({"--block-rules", "list", "--dns-server", server.servers(), log.path()});
    EXPECT_EQ(rules.code, 0);
    EXPECT_EQ(rules.out, "");
    EXPECT_EQ(server.questions(), 0);
}

// Today's crawlers are claims only when the report names them; then they are
// checked by their owners' rules as the classic ones are.
TEST(ReportVerifyTest, TodaysCrawlersAreClaimedWithCrawlersAll) {
    LocalDnsServer server;
    server.addCrawler("5.255.253.1", "5-255-253-1.spider.yandex.com");
    TempFile log("#Fields: c-ip cs(User-Agent)\r\n5.255.253.1 YandexBot/3.0\r\n"
                 "5.255.253.2 YandexBot/3.0\r\n");
    const std::vector<std::string> verify = {"--page", "verify", "--utf8", "--dns-server",
                                             server.servers()};
    std::vector<std::string> all = verify;
    all.insert(all.end(), {"--crawlers", "all", log.path()});
    const ReportRun today = Report(all);
    ASSERT_EQ(today.code, 0) << today.messages;
    EXPECT_NE(today.out.find("\"5.255.253.1\",\"Yandex(YandexBot)\",\"1\","
                             "\"5-255-253-1.spider.yandex.com\",\"真\",\"0\"\r\n"),
              std::string::npos)
        << today.out;
    EXPECT_NE(today.out.find("\"5.255.253.2\",\"Yandex(YandexBot)\",\"1\",\"\",\"假"),
              std::string::npos);
    std::vector<std::string> classic = verify;
    classic.push_back(log.path());
    EXPECT_EQ(Report(classic).out,
              "\"IP\",\"声称蜘蛛\",\"访问次数\",\"反查主机名\",\"结论\",\"非蜘蛛访问次数\"\r\n");
}

TEST(ReportVerifyTest, BadOptionsAndAResolverThatCannotStart) {
    TempFile log(testing::kVerifyLog);
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"--block-rules", "nginx", log.path()},
             {"--block-rules", "iis", "--page", "ips", log.path()},
             {"--block-rules", "iis", "--sort", "1", log.path()},
             {"--page", "verify", "--dns-timeout", "0", log.path()},
             {"--page", "verify", "--dns-timeout", "2s", log.path()},
             {"--page", "verify", "--dns-server", log.path()},
             // An explicit list that is empty, has a bad port or no address:
             // never the system's resolver instead.
             {"--page", "verify", "--dns-server", "", log.path()},
             {"--page", "verify", "--dns-server", "127.0.0.1:0", log.path()},
             {"--page", "verify", "--dns-server", "127.0.0.1:99999", log.path()},
             {"--page", "verify", "--dns-server", "127.0.0.1:", log.path()},
             {"--page", "verify", "--dns-server", "127.0.0.1,,[::1]:53", log.path()},
             {"--page", "verify", "--dns-server", "dns.example:53", log.path()},
             {"--page", "verify", "--dns-server", "not a server!", log.path()},
             {"--block-shared", log.path()}}) {
        const ReportRun run = Report(args);
        EXPECT_EQ(run.code, 2) << args[0] << " " << args[1];
        EXPECT_NE(run.messages.find("usage:"), std::string::npos);
    }
}

// A DNS server that cannot answer: nothing is listed, and the run says why
// and fails, before any rule is written.
TEST(ReportVerifyTest, AResolverThatCannotAnswerFailsTheRunAndListsNobody) {
    TempFile log(testing::kVerifyLog);
    LocalDnsServer nxdomain;
    nxdomain.setNxdomainForEverything(true);
    LocalDnsServer silent;
    silent.setSilent(true);
    for (const std::string& servers : {nxdomain.servers(), silent.servers()}) {
        for (const char* format : {"list", "iis", "powershell", "appcmd"}) {
            const ReportRun rules = Report({"--block-rules", format, "--dns-server", servers,
                                            "--dns-timeout", "100", log.path()});
            EXPECT_EQ(rules.code, 1) << format;
            EXPECT_EQ(rules.out, "") << format;
            EXPECT_NE(rules.messages.find("DNS服务器不回答反查"), std::string::npos)
                << rules.messages;
        }
        const ReportRun table = Report({"--page", "verify", "--utf8", "--dns-server", servers,
                                        "--dns-timeout", "100", log.path()});
        EXPECT_EQ(table.code, 1);
        EXPECT_EQ(table.out.find("\"假"), std::string::npos) << table.out;
        EXPECT_NE(table.out.find("\"1.1.1.1\",\"百度(Baiduspider)\",\"4\""), std::string::npos);
    }
    const ReportRun table =
        Report({"--page", "verify", "--utf8", "--dns-server", nxdomain.servers(), log.path()});
    EXPECT_NE(table.out.find("无法验证（DNS服务器不回答反查）"), std::string::npos) << table.out;
}

TEST(ReportVerifyTest, SharedAddressesAreLeftOutUnlessAskedAndCounted) {
    LocalDnsServer server;
    server.addCrawler("66.249.66.1", "crawl-66-249-66-1.googlebot.com");
    std::string text = "#Fields: c-ip cs(User-Agent)\r\n66.249.66.1 Googlebot/2.1\r\n"
                       "6.6.6.1 Googlebot/2.1\r\n6.6.6.2 Googlebot/2.1\r\n";
    for (int i = 0; i < 1000; ++i) {
        text += "6.6.6.1 Mozilla/5.0\r\n";
    }
    TempFile log(text);
    const std::vector<std::string> base = {"--block-rules", "list", "--dns-server",
                                           server.servers()};
    std::vector<std::string> args = base;
    args.push_back(log.path());
    const ReportRun list = Report(args);
    ASSERT_EQ(list.code, 0) << list.messages;
    EXPECT_EQ(list.out, "6.6.6.2\r\n");
    EXPECT_NE(list.messages.find("1 address(es) judged 假"), std::string::npos) << list.messages;
    args.insert(args.begin(), "--block-shared");
    const ReportRun all = Report(args);
    EXPECT_EQ(all.out, "6.6.6.1\r\n6.6.6.2\r\n");
    EXPECT_EQ(all.messages, "");

    const ReportRun table =
        Report({"--page", "verify", "--utf8", "--dns-server", server.servers(), log.path()});
    EXPECT_NE(table.out.find("\"6.6.6.1\",\"谷歌(Googlebot)\",\"1\",\"\",\"假（没有反查记录）\","
                             "\"1000\"\r\n"),
              std::string::npos)
        << table.out;
    const ReportRun script =
        Report({"--block-rules", "powershell", "--dns-server", server.servers(), log.path()});
    EXPECT_NE(script.out.find("    '6.6.6.2'\r\n)"), std::string::npos) << script.out;
    EXPECT_NE(script.out.find("# 1 address(es) judged fake are left out"), std::string::npos);
    const ReportRun batch =
        Report({"--block-rules", "appcmd", "--dns-server", server.servers(), log.path()});
    EXPECT_NE(batch.out.find("/+\"[ipAddress='6.6.6.2',allowed='false']\" /commit:apphost\r\n"),
              std::string::npos);
}

// --update-ranges fetches every published list (here all from a loopback
// server, never the engines' own), and verification then trusts them.
TEST(ReportVerifyTest, UpdatedRangesAreStoredAndSettleClaimsInThem) {
    const std::string googlebot =
        R"({"creationTime":"2026-12-01","prefixes":[{"ipv4Prefix":"66.249.64.0/27"}]})";
    LocalHttpServer http(40, [&googlebot](const std::string& request) {
        if (request.starts_with("GET /googlebot ")) {
            return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(googlebot.size()) +
                   "\r\nConnection: close\r\n\r\n" + googlebot;
        }
        return std::string("HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n"
                           "Connection: close\r\n\r\n");
    });
    TempFile dir("");
    const std::string folder = dir.dir().string();
    std::vector<std::string> update = {"--update-ranges", "--ranges-dir", folder};
    for (const RangeSource& source : RangeSources()) {
        update.push_back("--ranges-source");
        update.push_back(std::string(source.id) + "=" + http.url("/" + std::string(source.id)));
    }
    const ReportRun fetched = Report(update);
    EXPECT_EQ(fetched.code, 1); // the others were not found
    EXPECT_NE(fetched.messages.find("ranges googlebot: 1 stored"), std::string::npos)
        << fetched.messages;
    EXPECT_NE(fetched.messages.find("ranges bingbot: "), std::string::npos);
    EXPECT_NE(fetched.messages.find("the previous copy stays"), std::string::npos);
    EXPECT_EQ(http.requests().size(), RangeSources().size());

    LocalDnsServer dns;
    TempFile log("#Fields: c-ip cs(User-Agent)\r\n66.249.64.7 Googlebot/2.1\r\n"
                 "66.249.99.7 Googlebot/2.1\r\n");
    const ReportRun table = Report({"--page", "verify", "--utf8", "--dns-server", dns.servers(),
                                    "--ranges-dir", folder, log.path()});
    EXPECT_NE(table.out.find("\"66.249.64.7\",\"谷歌(Googlebot)\",\"1\",\"\","
                             "\"真（在该蜘蛛公布的IP段内）\""),
              std::string::npos)
        << table.out;
    EXPECT_EQ(Report({"--update-ranges", log.path()}).code, 2);
    EXPECT_EQ(Report({"--update-ranges", "--ranges-source", "nosuch=http://127.0.0.1/"}).code, 2);
}

// Behind a proxy every visit comes from its address; the field the
// administrator logs names the client, and the pages and verdicts follow it.
TEST(ReportVerifyTest, TheClientBehindAProxyIsJudgedAndCounted) {
    LocalDnsServer server;
    server.addCrawler("66.249.66.1", "crawl-66-249-66-1.googlebot.com");
    TempFile log("#Fields: c-ip X-Forwarded-For cs(User-Agent)\r\n"
                 "10.0.0.1 66.249.66.1,+10.0.0.7 Googlebot/2.1\r\n"
                 "10.0.0.1 6.6.6.6 Googlebot/2.1\r\n"
                 "10.0.0.1 203.0.113.5 Mozilla/5.0\r\n"
                 "10.0.0.1 - Mozilla/5.0\r\n");
    const std::vector<std::string> dns = {"--dns-server", server.servers()};
    auto run = [&](std::vector<std::string> args) {
        args.insert(args.end(), dns.begin(), dns.end());
        args.push_back(log.path());
        return Report(args);
    };
    const ReportRun off = run({"--block-rules", "list"});
    EXPECT_EQ(off.out, ""); // the proxy also sent other visits: left out
    const ReportRun on = run({"--block-rules", "list", "--client-ip-field", "X-Forwarded-For"});
    ASSERT_EQ(on.code, 0) << on.messages;
    EXPECT_EQ(on.out, "6.6.6.6\r\n");
    const ReportRun table =
        run({"--page", "verify", "--utf8", "--client-ip-field", "x-forwarded-for"});
    EXPECT_NE(table.out.find("\"66.249.66.1\",\"谷歌(Googlebot)\",\"1\","
                             "\"crawl-66-249-66-1.googlebot.com\",\"真\",\"0\""),
              std::string::npos)
        << table.out;
    const ReportRun ips = run({"--page", "ips", "--utf8", "--client-ip-field", "X-Forwarded-For"});
    EXPECT_NE(ips.out.find("\"203.0.113.5\""), std::string::npos) << ips.out;
    EXPECT_NE(ips.out.find("\"10.0.0.1\",\"1\""), std::string::npos) << ips.out; // the "-" visit
    // Off by default: the IP page is the proxy's.
    EXPECT_NE(run({"--page", "ips", "--utf8"}).out.find("\"10.0.0.1\",\"4\""), std::string::npos);
    EXPECT_EQ(run({"--page", "ips", "--client-ip-field", "X-Real-IP"}).code, 2);
    EXPECT_EQ(run({"--page", "ips", "--stream", "--client-ip-field", "X-Forwarded-For"}).code, 2);
}

// The HTML report verifies only when --dns-server names the servers; its
// table is the first rows of --page verify, on one thread or several. A
// server that does not answer reverse lookups gives a report that says so,
// and exit 1; one the resolver cannot use, no report.
TEST(ReportVerifyTest, TheHtmlReportVerifiesWithTheServersGiven) {
    LocalDnsServer server;
    testing::ServeVerifyAnswers(server);
    TempFile log(testing::kVerifyLog);
    const std::string html = (log.dir() / "r.html").string();
    const ReportRun csv = Report({"--page", "verify", "--utf8", "--dns-server", server.servers(),
                                  "--dns-timeout", "150", log.path()});
    ASSERT_EQ(csv.code, 0) << csv.messages;
    // The CSV rows' cells, unquoted (no cell here holds a quote or a comma).
    std::vector<std::vector<std::string>> rows;
    for (std::size_t at = 0; at < csv.out.size();) {
        const std::size_t end = csv.out.find("\r\n", at);
        std::vector<std::string> cells;
        const std::string line = csv.out.substr(at, end - at);
        for (std::size_t c = 0; c < line.size();) {
            const std::size_t close = line.find('"', c + 1);
            cells.push_back(line.substr(c + 1, close - c - 1));
            c = close + 2;
        }
        rows.push_back(cells);
        at = end + 2;
    }
    for (const char* threads : {"1", "4"}) {
        const ReportRun run = Report({"--html", html, "--dns-server", server.servers(),
                                      "--dns-timeout", "150", "--threads", threads, log.path()});
        ASSERT_EQ(run.code, 0) << run.messages;
        const testing::ParsedHtml parsed(ReadFile(html));
        const auto tables = parsed.tables("verify");
        ASSERT_EQ(tables.size(), 1u);
        EXPECT_EQ(testing::ParsedHtml::Cells(tables.front()), rows) << threads;
        // The shares say how many claimed visits passed.
        EXPECT_NE(parsed.root().text().find("各蜘蛛的访问"), std::string::npos);
    }

    // No reverse answers: the report is written, says so, and judges nobody.
    LocalDnsServer nxdomain;
    nxdomain.setNxdomainForEverything(true);
    const ReportRun unanswered =
        Report({"--html", html, "--dns-server", nxdomain.servers(), log.path()});
    EXPECT_EQ(unanswered.code, 1);
    EXPECT_NE(unanswered.messages.find("DNS服务器不回答反查"), std::string::npos);
    const std::string written = ReadFile(html);
    EXPECT_NE(written.find("DNS服务器不回答反查"), std::string::npos);
    const testing::ParsedHtml parsed(written);
    for (const auto& row : testing::ParsedHtml::Cells(parsed.tables("verify").front())) {
        EXPECT_NE(row[4].rfind("假", 0), 0u) << row[4];
    }

    // Without --dns-server nobody is asked, and the report has no such part.
    const int asked = server.questions();
    ASSERT_EQ(Report({"--html", html, log.path()}).code, 0);
    EXPECT_EQ(server.questions(), asked);
    EXPECT_TRUE(testing::ParsedHtml(ReadFile(html)).tables("verify").empty());
}

} // namespace
} // namespace logdesk
