// logdesk-report --html: one file whose tables are the CSV pages of the same
// log, counted while the logs stream past or from the table alike, and the
// arguments it goes with.
#include "core/text/gbk_codec.h"
#include "report.h"
#include "support/file_test_support.h"
#include "support/html_test_support.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <set>

namespace logdesk {
namespace {

using testing::ParsedHtml;
using testing::ReadFile;
using testing::TempFile;
using TextRows = std::vector<std::vector<std::string>>;

struct ReportRun {
    int code;
    std::string out;
    std::string messages;
    bool streamed;
};

ReportRun Report(const std::vector<std::string>& args, bool fromTable = false) {
    StringSink out;
    std::string messages;
    ReportReading reading;
    reading.keepRecords = fromTable;
    const int code = RunReport(args, out, messages, 0, {}, &reading);
    return {code, out.text(), messages, reading.streamed};
}

// The quoted cells of a CSV page with CR LF line ends, as --utf8 writes it.
TextRows CsvRows(const std::string& text) {
    TextRows rows;
    std::vector<std::string> row;
    std::string cell;
    bool quoted = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quoted) {
            if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
                cell += '"';
                ++i;
            } else if (c == '"') {
                quoted = false;
            } else {
                cell += c;
            }
        } else if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            row.push_back(std::move(cell));
            cell.clear();
        } else if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            row.push_back(std::move(cell));
            cell.clear();
            rows.push_back(std::move(row));
            row.clear();
            ++i;
        } else {
            cell += c;
        }
    }
    return rows;
}

// Two days of three crawlers and people; one URL with markup in it, one in
// Chinese; Baidu fetches 24 URLs, more than the report lists.
std::string KnownLog(bool timeTaken = true) {
    std::string log = "#Fields: date time cs-uri-stem c-ip cs(User-Agent) sc-status "
                      "sc-win32-status" +
                      std::string(timeTaken ? " time-taken" : "") + "\r\n";
    const auto line = [&](const std::string& date, const std::string& url, const std::string& ip,
                          const std::string& agent, const std::string& status, int ms) {
        log += date + " 10:00:00 " + url + " " + ip + " " + agent + " " + status + " 0" +
               (timeTaken ? " " + std::to_string(ms) : "") + "\r\n";
    };
    for (int n = 1; n <= 24; ++n) {
        for (int i = 0; i <= n % 7; ++i) {
            line(i % 2 == 0 ? "2013-05-01" : "2013-05-02", "/b/" + std::to_string(n),
                 "10.0.0." + std::to_string(i), "Baiduspider", n % 5 == 0 ? "404" : "200", n);
        }
    }
    line("2013-05-02", "/g", "66.249.66.1", "Googlebot/2.1", "200", 12);
    line("2013-05-02", "/g", "66.249.66.1", "Googlebot/2.1", "304", 3);
    line("2013-05-01", "/m", "10.1.1.1", "bingbot/2.0", "500", 700);
    line("2013-05-01", "/a<script>alert(1)</script>", "192.0.2.1", "Mozilla/5.0", "200", 9);
    line("2013-05-02", Gbk("/新闻.htm"), "192.0.2.2", "Mozilla/5.0", "200", 11);
    return log;
}

// The report's tables, keyed by page and crawler filter.
std::map<std::pair<std::string, std::string>, TextRows> Tables(const std::string& html) {
    const ParsedHtml parsed(html);
    EXPECT_EQ(parsed.errors(), 0u);
    EXPECT_TRUE(parsed.all("script").empty());
    std::map<std::pair<std::string, std::string>, TextRows> tables;
    for (const auto& table : parsed.all("table")) {
        if (const char* page = table.attribute("data-page")) {
            const char* spider = table.attribute("data-spider");
            const auto key = std::make_pair(std::string(page), std::string(spider ? spider : ""));
            EXPECT_EQ(tables.count(key), 0u) << page << " twice";
            tables[key] = ParsedHtml::Cells(table);
        }
    }
    return tables;
}

// The report without the moment it was made.
std::string Timeless(std::string html) {
    const std::size_t footer = html.find("<footer>");
    return footer == std::string::npos ? html : html.substr(0, footer);
}

// Every table is the CSV page of the same log; every crawler has its own.
TEST(ReportHtmlTest, TablesAreTheCsvPagesOfTheLog) {
    const TempFile log(KnownLog(), "ex130501.log");
    const TempFile urls("https://www.example.com/b/1\nhttps://www.example.com/nowhere\n",
                        "urls.txt");
    const std::string html = (log.dir() / "report.html").string();
    const ReportRun run = Report({"--html", html, "--urls", urls.path(), log.path()});
    ASSERT_EQ(run.code, 0) << run.messages;
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.messages, "");
    const std::string written = ReadFile(html);
    const auto tables = Tables(written);

    const auto page = [&](std::vector<std::string> args) {
        args.push_back("--utf8");
        args.push_back(log.path());
        const ReportRun csv = Report(args);
        EXPECT_EQ(csv.code, 0) << csv.messages;
        return CsvRows(csv.out);
    };
    std::set<std::pair<std::string, std::string>> expected = {
        {"spiders", ""}, {"spider-days", ""}, {"status", ""}, {"timing", ""}, {"coverage", ""}};
    for (const char* spider : {"百度", "谷歌", "必应", "其他流量"}) {
        expected.insert({"status", spider});
        expected.insert({"urls", spider});
    }
    std::set<std::pair<std::string, std::string>> found;
    for (const auto& [key, rows] : tables) {
        found.insert(key);
        std::vector<std::string> args = {"--page", key.first};
        if (!key.second.empty()) {
            args.insert(args.end(), {"--spider", key.second});
        }
        if (key.first == "urls") {
            args.insert(args.end(), {"--sort", "1", "--desc"});
        }
        if (key.first == "coverage") {
            args.insert(args.end(), {"--urls", urls.path()});
        }
        TextRows want = page(args);
        if (key.first == "urls" && want.size() > 22) {
            want.resize(22); // the captions, the summary and the top 20
        }
        EXPECT_EQ(rows, want) << key.first << " " << key.second;
    }
    EXPECT_EQ(found, expected);
    EXPECT_EQ(tables.at({"urls", "百度"}).size(), 22u);
    const TextRows& people = tables.at({"urls", "其他流量"});
    ASSERT_EQ(people.size(), 4u);
    EXPECT_EQ((std::set<std::string>{people[2][0], people[3][0]}),
              (std::set<std::string>{"/a<script>alert(1)</script>", "/新闻.htm"}));
    // UTF-8 said before anything else the parser reads.
    EXPECT_EQ(written.rfind(
                  "<!DOCTYPE html>\n<html lang=\"zh-CN\">\n<head>\n<meta charset=\"utf-8\">", 0),
              0u);
    EXPECT_NE(written.find("<title>蜘蛛访问报告 - ex130501.log</title>"), std::string::npos);
    EXPECT_EQ(written.find(log.dir().string()), std::string::npos); // no folder of the server
}

// Counted while the logs stream past or from the table, on one thread or
// several: the same report, byte for byte but for when it was made.
TEST(ReportHtmlTest, StreamedAndFromTheTableTheSame) {
    std::string bytes = KnownLog();
    // Enough lines that a streamed import joins pieces of consumers.
    for (int i = 0; i < 40000; ++i) {
        bytes += "2013-05-0" + std::to_string(1 + i % 3) + " 11:00:00 /p/" +
                 std::to_string(i % 997) + " 10.2.0." + std::to_string(i % 200) +
                 (i % 3 == 0   ? " Baiduspider "
                  : i % 3 == 1 ? " Sogou+web+spider "
                               : " x ") +
                 (i % 11 == 0 ? "404" : "200") + " 0 " + std::to_string(i % 500) + "\r\n";
    }
    const TempFile log(bytes);
    const std::string html = (log.dir() / "r.html").string();
    std::vector<std::string> reports;
    for (const auto& [fromTable, threads] :
         {std::pair{false, "4"}, std::pair{true, "4"}, std::pair{false, "1"}}) {
        const ReportRun run = Report({"--html", html, "--threads", threads, log.path()}, fromTable);
        ASSERT_EQ(run.code, 0) << run.messages;
        EXPECT_EQ(run.streamed, !fromTable);
        reports.push_back(Timeless(ReadFile(html)));
    }
    EXPECT_GT(reports[0].size(), 10000u);
    EXPECT_EQ(reports[0], reports[1]);
    EXPECT_EQ(reports[0], reports[2]);
    EXPECT_EQ(Tables(reports[0]).count({"status", "搜狗"}), 1u);
}

// What the report goes with, and what it refuses.
TEST(ReportHtmlTest, ArgumentsItTakesAndRefuses) {
    const TempFile log(KnownLog(false));
    const std::string html = (log.dir() / "r.html").string();
    for (const std::vector<std::string>& refused :
         {std::vector<std::string>{"--html", html, "--page", "urls"},
          {"--html", html, "--output", (log.dir() / "x.csv").string()},
          {"--html", html, "--sort", "1"},
          {"--html", html, "--spider", "百度"},
          {"--html", html, "--depth", "2"},
          {"--html", html, "--block-rules", "list"},
          {"--html", html, "--locate", "x.mmdb"},
          {"--html", html, "--client-ip-field", "c-ip", "--stream"},
          {"--html", ""}}) {
        std::vector<std::string> args = refused;
        args.push_back(log.path());
        const ReportRun run = Report(args);
        EXPECT_EQ(run.code, 2) << refused.back();
        EXPECT_NE(run.messages.find("usage: logdesk-report"), std::string::npos);
        EXPECT_FALSE(std::filesystem::exists(html)) << refused.back();
    }
    EXPECT_EQ(Report({"--update-ranges", "--ranges-dir", log.dir().string(), "--html", html}).code,
              2);

    // Never over the log it reads.
    const std::string before = ReadFile(log.path());
    const ReportRun over = Report({"--html", log.path(), log.path()});
    EXPECT_EQ(over.code, 1);
    EXPECT_NE(over.messages.find("is the log being read"), std::string::npos);
    EXPECT_EQ(ReadFile(log.path()), before);

    // Without time-taken the timing section says why it has no figures; no
    // URL list, no coverage; no --dns-server, no verification.
    const ReportRun plain = Report({"--html", html, log.path()});
    ASSERT_EQ(plain.code, 0) << plain.messages;
    const std::string written = ReadFile(html);
    const auto tables = Tables(written);
    EXPECT_EQ(tables.at({"timing", ""}).size(), 1u);
    EXPECT_NE(written.find("time-taken"), std::string::npos);
    EXPECT_EQ(tables.count({"coverage", ""}), 0u);
    EXPECT_EQ(tables.count({"verify", ""}), 0u);
    EXPECT_EQ(written.find("id=\"verify\""), std::string::npos);

    // The client behind a proxy is read from the table; a folder that cannot
    // take the file is named.
    const ReportRun proxied =
        Report({"--html", html, "--client-ip-field", "c-ip", log.path()}, true);
    EXPECT_EQ(proxied.code, 0) << proxied.messages;
    const ReportRun nowhere =
        Report({"--html", (log.dir() / "no/such/r.html").string(), log.path()});
    EXPECT_EQ(nowhere.code, 1);
    EXPECT_NE(nowhere.messages.find("no/such/r.html"), std::string::npos) << nowhere.messages;
}

} // namespace
} // namespace logdesk
