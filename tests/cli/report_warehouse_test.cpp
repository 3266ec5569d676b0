// logdesk-report --to clickhouse and --from clickhouse against a server of
// the test's own (support/clickhouse_server.h): every page from the server
// is the page from the files, byte for byte; the password comes from the
// environment or the settings file and never shows.
#include "cli/report.h"
#include "core/export/line_sink.h"
#include "core/text/gbk_codec.h"
#include "support/clickhouse_server.h"
#include "support/file_test_support.h"
#include "support/warehouse_test_support.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <memory>

namespace logdesk {
namespace {

using testing::ClickHouseTestServer;
using testing::WarehouseLog;
using testing::WarehouseLogLines;
using testing::WriteBytes;

constexpr const char* kPassword = "c0rrect-h0rse";

struct ReportRun {
    int code = 0;
    std::string out;
    std::string messages;
};

ReportRun Report(const std::vector<std::string>& args, const std::string& settings = {}) {
    ReportRun run;
    StringSink out;
    run.code = RunReport(args, out, run.messages, 0, settings);
    run.out = out.text();
    return run;
}

class ReportWarehouse : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (!ClickHouseTestServer::Available()) {
            return;
        }
        server_ = std::make_unique<ClickHouseTestServer>(kPassword);
        if (!server_->start()) {
            server_.reset();
        }
    }
    static void TearDownTestSuite() { server_.reset(); }

    void SetUp() override {
        if (!ClickHouseTestServer::Available()) {
            ASSERT_FALSE(ClickHouseTestServer::Required()) << "clickhouse-server is not installed";
            GTEST_SKIP() << "clickhouse-server is not installed";
        }
        ASSERT_NE(server_, nullptr) << "the test's ClickHouse server did not start";
        ::setenv("LOGDESK_CLICKHOUSE_PASSWORD", kPassword, 1);
        table_ = "r_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name());
    }
    void TearDown() override { ::unsetenv("LOGDESK_CLICKHOUSE_PASSWORD"); }

    std::vector<std::string> to(std::vector<std::string> logs) const {
        std::vector<std::string> args = {"--to", "clickhouse", server_->url(), "--table", table_};
        args.insert(args.end(), logs.begin(), logs.end());
        return args;
    }
    std::vector<std::string> from(std::vector<std::string> page) const {
        std::vector<std::string> args = {"--from", "clickhouse", server_->url(), "--table", table_};
        args.insert(args.end(), page.begin(), page.end());
        return args;
    }

    // Every page the server writes, with the options given, against the
    // page of the files.
    void expectSamePages(const std::vector<std::string>& logs,
                         const std::vector<std::string>& options = {}) {
        std::vector<std::vector<std::string>> asks = {
            {"--page", "spiders"},      {"--page", "spider-traffic"}, {"--page", "spider-days"},
            {"--page", "urls"},         {"--page", "ips"},            {"--page", "status"},
            {"--page", "urls", "--spider", "百度"}, {"--page", "ips", "--spider", "谷歌"},
            {"--page", "status", "--spider", "百度"}, {"--page", "urls", "--sort", "1", "--desc"}};
        for (std::vector<std::string> ask : asks) {
            ask.insert(ask.end(), options.begin(), options.end());
            std::vector<std::string> direct = ask;
            direct.insert(direct.end(), logs.begin(), logs.end());
            const ReportRun files = Report(direct);
            const ReportRun server = Report(from(ask));
            SCOPED_TRACE(::testing::PrintToString(ask));
            ASSERT_EQ(files.code, 0) << files.messages;
            EXPECT_EQ(server.code, 0) << server.messages;
            EXPECT_GT(files.out.size(), 100u);
            EXPECT_TRUE(server.out == files.out) << server.messages << "\nserver:\n"
                                                 << server.out.substr(0, 2000) << "\nfiles:\n"
                                                 << files.out.substr(0, 2000);
        }
    }

    static inline std::unique_ptr<ClickHouseTestServer> server_;
    std::string table_;
    testing::TempFile folder_{""};
};

TEST_F(ReportWarehouse, EveryPageFromTheServerIsThePageOfTheFiles) {
    const auto dir = folder_.dir();
    WriteBytes(dir / "u_ex240302.log", WarehouseLog(3000, 9000));
    WriteBytes(dir / "ex240301.log", WarehouseLog(6000));
    const ReportRun loaded = Report(to({dir.string()}));
    ASSERT_EQ(loaded.code, 0) << loaded.messages;
    EXPECT_NE(loaded.messages.find("9000 rows loaded into " + table_), std::string::npos)
        << loaded.messages;
    expectSamePages({dir.string()});

    // Loading again changes no page; a file that grew, and one more file,
    // show on every page as they would read from the files.
    ASSERT_EQ(Report(to({dir.string()})).code, 0);
    WriteBytes(dir / "ex240301.log", WarehouseLogLines(6000, 1000), true);
    WriteBytes(dir / "ex240303.log", WarehouseLog(500, 20000));
    const ReportRun grown = Report(to({dir.string()}));
    ASSERT_EQ(grown.code, 0) << grown.messages;
    EXPECT_NE(grown.messages.find("1500 rows loaded"), std::string::npos) << grown.messages;
    expectSamePages({dir.string()});
}

TEST_F(ReportWarehouse, TodaysCrawlersAndDatesCountAsInTheFiles) {
    const auto dir = folder_.dir();
    WriteBytes(dir / "ex240301.log", WarehouseLog(4000));
    ASSERT_EQ(Report(to({"--crawlers", "all", dir.string()})).code, 0);
    expectSamePages({dir.string()}, {"--crawlers", "all"});

    // --since and --until count what a log of those days alone gives.
    std::string days = "#Fields: " + std::string(testing::kWarehouseFields) + "\r\n";
    const std::string all = WarehouseLog(4000);
    for (std::size_t at = 0; at < all.size();) {
        const std::size_t end = all.find('\n', at) + 1;
        const std::string line = all.substr(at, end - at);
        if (line.starts_with("2024-03-02") || line.starts_with("2024-03-03")) {
            days += line;
        }
        at = end;
    }
    testing::TempFile only(days, "ex240302.log");
    const std::vector<std::string> dates = {"--crawlers", "all", "--since", "2024-03-02",
                                            "--until", "2024-03-03"};
    for (const char* page : {"spiders", "spider-days", "urls", "status"}) {
        const ReportRun files = Report({"--page", page, "--crawlers", "all", only.path()});
        const ReportRun server = Report(from({"--page", page, dates[0], dates[1], dates[2], dates[3],
                                        dates[4], dates[5]}));
        EXPECT_EQ(server.code, 0) << server.messages;
        EXPECT_TRUE(server.out == files.out) << page << "\n" << server.out.substr(0, 1500);
    }
    // The classic catalogue's records are others: none were loaded.
    const ReportRun classic = Report(from({"--page", "spiders"}));
    EXPECT_EQ(classic.code, 0);
    EXPECT_EQ(classic.out, Utf8ToGbk("\"蜘蛛\",\"访问次数\"\r\n"));
}

TEST_F(ReportWarehouse, TheServersWordsAndNeverThePassword) {
    const auto dir = folder_.dir();
    WriteBytes(dir / "ex240301.log", WarehouseLog(50));
    ::setenv("LOGDESK_CLICKHOUSE_PASSWORD", "wr0ng-pass", 1);
    for (const std::vector<std::string>& args :
         {to({dir.string()}), from({"--page", "spiders"})}) {
        const ReportRun refused = Report(args);
        EXPECT_EQ(refused.code, 1);
        EXPECT_EQ(refused.out, "");
        EXPECT_NE(refused.messages.find("Wrong password for user default"), std::string::npos)
            << refused.messages;
        EXPECT_EQ(refused.messages.find("wr0ng-pass"), std::string::npos);
    }

    // Without the environment, the settings file's password and user.
    ::unsetenv("LOGDESK_CLICKHOUSE_PASSWORD");
    const std::string ini = "[ClickHouse]\r\n" + Utf8ToGbk("用户") + "=default\r\n" +
                            Utf8ToGbk("密码") + "=" + kPassword + "\r\n";
    WriteBytes(dir / "logdesk.ini", ini);
    const ReportRun loaded = Report(to({(dir / "ex240301.log").string()}), dir.string());
    EXPECT_EQ(loaded.code, 0) << loaded.messages;
    EXPECT_EQ(loaded.messages.find(kPassword), std::string::npos);
    const ReportRun page = Report(from({"--page", "spiders"}), dir.string());
    EXPECT_EQ(page.code, 0) << page.messages;
    EXPECT_EQ(page.out, Report({"--page", "spiders", (dir / "ex240301.log").string()}).out);

    // A statement the server refuses: its code and words, exit 1.
    ::setenv("LOGDESK_CLICKHOUSE_PASSWORD", kPassword, 1);
    const ReportRun bad = Report({"--from", "clickhouse", server_->url(), "--table", "no_such.db_table",
                            "--page", "spiders"});
    EXPECT_EQ(bad.code, 1);
    EXPECT_NE(bad.messages.find("Code: 81"), std::string::npos) << bad.messages;
}

} // namespace
} // namespace logdesk
