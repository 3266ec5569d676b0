#include "core/input/input_fixtures.h"
#include "report.h"
#include "support/import_test_support.h"
#include "support/mmdb_writer.h"
#include "core/text/gbk_codec.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace logdesk {
namespace {

using testing::ReadFile;
using testing::TempFile;

const std::string kLog = "#Software: Microsoft Internet Information Services 7.5\r\n"
                         "#Fields: date time s-ip cs-uri-stem c-ip cs(User-Agent) sc-status\r\n"
                         "2013-05-01 00:00:01 1.1.1.1 /a 10.0.0.1 Googlebot/2.1 200\r\n"
                         "2013-05-01 00:00:02 1.1.1.1 /b 10.0.0.2 Baiduspider 404\r\n"
                         "2013-05-01 00:00:03 1.1.1.1 /c 10.0.0.3 Mozilla 200\r\n";

struct ReportRun {
    int code;
    std::string out;
    std::string messages;
};

ReportRun Report(std::vector<std::string> args, int standardInput = 0) {
    StringSink out;
    std::string messages;
    const int code = RunReport(args, out, messages, standardInput);
    return {code, out.text(), messages};
}

// The run with the logs read into a table, as every page was once counted.
ReportRun FromTable(std::vector<std::string> args, int standardInput = 0) {
    StringSink out;
    std::string messages;
    ReportReading reading;
    reading.keepRecords = true;
    const int code = RunReport(args, out, messages, standardInput, {}, &reading);
    EXPECT_FALSE(reading.streamed);
    return {code, out.text(), messages};
}

TEST(ReportTest, RecordsPageOnStandardOutput) {
    TempFile log(kLog);
    const ReportRun all = Report({log.path()});
    ASSERT_EQ(all.code, 0) << all.messages;
    EXPECT_EQ(
        GbkToUtf8(all.out),
        "\"序号(ID)\",\"日期(date)\",\"时间(time)\",\"服务器IP(s-ip)\",\"URL(cs-uri-stem)\","
        "\"访问者IP(c-ip)\",\"访问者身份(cs(User-Agent))\",\"状态码 (sc-status)\"\r\n"
        "\"1\",\"2013-05-01\",\"00:00:01\",\"1.1.1.1\",\"/a\",\"10.0.0.1\",\"谷歌(Googlebot)\","
        "\"200\"\r\n"
        "\"2\",\"2013-05-01\",\"00:00:02\",\"1.1.1.1\",\"/b\",\"10.0.0.2\","
        "\"百度(Baiduspider)\",\"404\"\r\n"
        "\"3\",\"2013-05-01\",\"00:00:03\",\"1.1.1.1\",\"/c\",\"10.0.0.3\","
        "\"其他流量(unknown)\",\"200\"\r\n");
    const ReportRun utf8 = Report({"--utf8", log.path()});
    EXPECT_EQ(utf8.out, GbkToUtf8(all.out));

    const ReportRun chosen = Report({"--columns", "default", log.path()});
    EXPECT_EQ(chosen.out.find(Gbk("服务器IP")), std::string::npos);
    EXPECT_NE(chosen.out.find(Gbk("访问者IP")), std::string::npos);
}

TEST(ReportTest, SortsAsTheHeaderClickDoes) {
    TempFile log("#Fields: c-ip cs-uri-stem\r\n10.0.0.2 /b\r\n10.0.0.10 /a\r\n10.0.0.2 /c\r\n");
    const ReportRun sorted = Report({"--sort", "1", log.path()});
    ASSERT_EQ(sorted.code, 0) << sorted.messages;
    // Text order; the two equal keys: the later one is not less than the
    // last key so far and goes after it.
    EXPECT_EQ(sorted.out.substr(sorted.out.find("\r\n") + 2),
              "\"2\",\"10.0.0.10\",\"/a\"\r\n\"1\",\"10.0.0.2\",\"/b\"\r\n"
              "\"3\",\"10.0.0.2\",\"/c\"\r\n");
    EXPECT_EQ(Report({"--sort", "x", log.path()}).code, 2);

    // Three columns: the record number and two fields. The page's own
    // columns decide, so the check waits for the import.
    EXPECT_EQ(Report({"--sort", "2", log.path()}).code, 0);
    for (const std::vector<std::string>& beyond :
         {std::vector<std::string>{"--sort", "3", log.path()},
          {"--sort", "3", "--desc", "--columns", "default", log.path()},
          {"--page", "urls", "--sort", "3", log.path()}}) {
        const ReportRun run = Report(beyond);
        EXPECT_EQ(run.code, 2) << beyond[1];
        EXPECT_NE(run.messages.find("no column 3"), std::string::npos) << run.messages;
        EXPECT_NE(run.messages.find("usage: logdesk-report"), std::string::npos);
        EXPECT_EQ(run.out, "");
    }
}

TEST(ReportTest, StatisticsPagesWithFilterAndSort) {
    TempFile log(kLog);
    const ReportRun urls =
        Report({"--page", "urls", "--utf8", "--sort", "0", "--desc", log.path()});
    ASSERT_EQ(urls.code, 0) << urls.messages;
    // The summary row stays on top through both clicks.
    EXPECT_EQ(urls.out, "\"URL\",\"访问次数\",\"独立IP数\"\r\n\"全部URL\",\"3\",\"3\"\r\n"
                        "\"/c\",\"1\",\"1\"\r\n\"/b\",\"1\",\"1\"\r\n\"/a\",\"1\",\"1\"\r\n");
    const ReportRun ips = Report({"--page", "ips", "--spider", "谷歌", "--utf8", log.path()});
    ASSERT_EQ(ips.code, 0) << ips.messages;
    EXPECT_EQ(ips.out, "\"IP\",\"访问次数\",\"所属蜘蛛\",\"IP 所在地\"\r\n"
                       "\"10.0.0.1\",\"1\",\"谷歌(Googlebot)\",\"\"\r\n");
    EXPECT_EQ(Report({"--page", "ips", "--spider", "无此", log.path()}).code, 2);
    EXPECT_EQ(Report({"--page", "spider-traffic", "--spider", "谷歌", log.path()}).code, 2);
    EXPECT_EQ(Report({"--page", "urls", "--sort", "9", log.path()}).code, 2);
}

// --locate fills the ips page's last column from the database and changes no
// other byte, whether the page is counted while reading or from the table.
TEST(ReportTest, LocateFillsTheIpsPageFromTheDatabase) {
    using namespace testing;
    MmdbWriter writer(6, "GeoLite2-City");
    writer.add("10.0.0.1/32",
               MmdbMap({{"country", MmdbMap({{"names", MmdbNames("China", "中国")}})},
                        {"subdivisions",
                         MmdbArray({MmdbMap({{"names", MmdbNames("Guangdong", "广东")}})})},
                        {"city", MmdbMap({{"names", MmdbNames("Shenzhen", "深圳")}})}}));
    writer.add("10.0.0.2/32",
               MmdbMap({{"country", MmdbMap({{"names", MmdbNames("United States", "美国")}})}}));
    const TempFile database(writer.bytes(), "city.mmdb");
    TempFile log(kLog);

    const std::string located = "\"IP\",\"访问次数\",\"所属蜘蛛\",\"IP 所在地\"\r\n"
                                "\"10.0.0.1\",\"1\",\"谷歌(Googlebot)\",\"中国 广东 深圳\"\r\n"
                                "\"10.0.0.2\",\"1\",\"百度(Baiduspider)\",\"美国\"\r\n"
                                "\"10.0.0.3\",\"1\",\"其他流量(unknown)\",\"\"\r\n";
    const std::vector<std::string> args = {"--page", "ips", "--locate", database.path(),
                                           log.path()};
    for (const ReportRun& run : {Report(args), FromTable(args)}) {
        ASSERT_EQ(run.code, 0) << run.messages;
        EXPECT_EQ(GbkToUtf8(run.out), located);
    }

    // A file that is no database: nothing written, the file named.
    const ReportRun bad = Report({"--page", "ips", "--locate", log.path(), log.path()});
    EXPECT_EQ(bad.code, 1);
    EXPECT_EQ(bad.out, "");
    EXPECT_NE(bad.messages.find(log.path() + ": not an IP database"), std::string::npos)
        << bad.messages;
}

// Three days, the second one written first; Baidu gets a 404 twice.
const std::string kDays =
    "#Fields: date time cs-uri-stem c-ip cs(User-Agent) sc-status sc-win32-status\r\n"
    "2013-05-02 10:00:00 /a 10.0.0.1 Baiduspider 200 0\r\n"
    "2013-05-02 11:00:00 /gone 10.0.0.1 Baiduspider 404 2\r\n"
    "2013-05-01 09:00:00 /b 10.0.0.2 Googlebot/2.1 500 0\r\n"
    "2013-05-03 08:00:00 /gone 10.0.0.1 Baiduspider 404 2\r\n"
    "2013-05-03 08:30:00 /c 10.0.0.3 Mozilla 200 0\r\n";

TEST(ReportTest, CrawlerStatusAndDays) {
    TempFile log(kDays);
    const ReportRun status = Report({"--page", "status", "--spider", "百度", "--utf8", log.path()});
    ASSERT_EQ(status.code, 0) << status.messages;
    EXPECT_EQ(status.out,
              "\"状态码\",\"出现次数\",\"状态描述\"\r\n"
              "\"200|0\",\"1\",\"访问正常(OK)|完成\"\r\n"
              "\"404|2\",\"2\",\"该文档已经不存在(Not Found)|系统找不到指定的文件\"\r\n");

    const ReportRun days = Report({"--page", "spider-days", "--utf8", log.path()});
    ASSERT_EQ(days.code, 0) << days.messages;
    EXPECT_EQ(days.out, "\"时间\",\"百度\",\"谷歌\",\"其他流量\",\"流量汇总\"\r\n"
                        "\"全部日期\",\"3\",\"1\",\"1\",\"5\"\r\n"
                        "\"2013-05-01\",\"0\",\"1\",\"0\",\"1\"\r\n"
                        "\"2013-05-02\",\"2\",\"0\",\"0\",\"2\"\r\n"
                        "\"2013-05-03\",\"1\",\"0\",\"1\",\"2\"\r\n");
    // The summary stays on top through a sort, as on the window.
    const ReportRun sorted =
        Report({"--page", "spider-days", "--sort", "4", "--desc", "--utf8", log.path()});
    ASSERT_EQ(sorted.code, 0) << sorted.messages;
    EXPECT_EQ(sorted.out.find("\r\n\"全部日期\",\"3\""), sorted.out.find("\r\n"));
    EXPECT_EQ(sorted.out.substr(sorted.out.size() - 30),
              "\"2013-05-01\",\"0\",\"1\",\"0\",\"1\"\r\n");

    // A crawler the log does not have is a usage error naming the ones it has.
    const ReportRun unknown = Report({"--page", "status", "--spider", "必应", log.path()});
    EXPECT_EQ(unknown.code, 2);
    EXPECT_EQ(unknown.out, "");
    EXPECT_EQ(unknown.messages.substr(0, unknown.messages.find('\n') + 1),
              "logdesk-report: no crawler '必应' in this log; --spider takes one of: 百度, 谷歌, "
              "其他流量\n");
    EXPECT_NE(unknown.messages.find("usage: logdesk-report"), std::string::npos);
    EXPECT_EQ(Report({"--page", "spider-days", "--spider", "百度", log.path()}).code, 2);
    // "所有流量" is the window's tab for no filter, not a crawler.
    EXPECT_EQ(Report({"--page", "status", "--spider", "所有流量", log.path()}).code, 2);
}

// The pages the crawler filter and the days touch, as they were before them,
// byte for byte over the sample log on one thread and on several; the
// filtered URL and IP pages beside the golden outputs of every page.
TEST(ReportTest, ExistingPagesKeepTheirBytes) {
    const std::string sample = std::string(LOGDESK_SAMPLES_DIR) + "/ex130501.log";
    const std::string golden = std::string(LOGDESK_TEST_DATA) + "/golden/ex130501.";
    const std::pair<std::vector<std::string>, const char*> cases[] = {
        {{"--page", "status"}, "status.csv"},
        {{"--page", "spider-traffic"}, "spider-traffic.csv"},
        {{"--page", "urls", "--spider", "百度"}, "urls-baidu.csv"},
        {{"--page", "ips", "--spider", "谷歌"}, "ips-google.csv"},
    };
    for (const auto& [options, file] : cases) {
        for (const char* threads : {"1", "3"}) {
            std::vector<std::string> args = options;
            args.insert(args.end(), {"--threads", threads, sample});
            const ReportRun run = Report(args);
            ASSERT_EQ(run.code, 0) << run.messages;
            EXPECT_TRUE(run.out == ReadFile(golden + file)) << file << " threads " << threads;
        }
    }
}

TEST(ReportTest, OutputFilesDecideHeaderAndQuotes) {
    TempFile log(kLog);
    const std::string txt = (log.dir() / "out.txt").string();
    ASSERT_EQ(Report({"--output", txt, log.path()}).code, 0);
    EXPECT_EQ(ReadFile(txt).substr(0, 5), "\"1\",\"");

    const std::string csv = (log.dir() / "spiders.CSV").string();
    ASSERT_EQ(Report({"--page", "spiders", "--output", csv, log.path()}).code, 0);
    EXPECT_EQ(GbkToUtf8(ReadFile(csv)),
              "\"蜘蛛\",\"访问次数\"\r\n\"百度(Baiduspider)\",\"1\"\r\n"
              "\"谷歌(Googlebot)\",\"1\"\r\n\"其他流量(unknown)\",\"1\"\r\n");
    const std::string plain = (log.dir() / "spiders.txt").string();
    ASSERT_EQ(Report({"--page", "spiders", "--utf8", "--output", plain, log.path()}).code, 0);
    EXPECT_EQ(ReadFile(plain),
              "百度(Baiduspider),1\r\n谷歌(Googlebot),1\r\n其他流量(unknown),1\r\n");
}

TEST(ReportTest, NeverWritesOverTheLog) {
    TempFile log(kLog, "ex130501.log");
    const std::filesystem::path hard = log.dir() / "hard.log";
    const std::filesystem::path soft = log.dir() / "soft.csv";
    std::filesystem::create_hard_link(log.path(), hard);
    std::filesystem::create_symlink("ex130501.log", soft);
    for (const std::string& output : {log.path(), hard.string(), soft.string()}) {
        const ReportRun run = Report({"--output", output, log.path()});
        EXPECT_EQ(run.code, 1) << output;
        EXPECT_NE(run.messages.find(output + " is the log being read"), std::string::npos)
            << run.messages;
        EXPECT_EQ(ReadFile(log.path()), kLog);
    }
    EXPECT_EQ(Report({"--page", "spiders", "--output", soft.string(), hard.string()}).code, 1);
    EXPECT_EQ(ReadFile(log.path()), kLog);

    // Devices are written where they are, and never removed on failure.
    EXPECT_EQ(Report({"--output", "/dev/null", log.path()}).code, 0);
    const ReportRun full = Report({"--output", "/dev/full", log.path()});
    EXPECT_EQ(full.code, 1);
    EXPECT_NE(full.messages.find("/dev/full: write failed: No space left on device"),
              std::string::npos)
        << full.messages;
    EXPECT_TRUE(std::filesystem::is_character_file("/dev/full"));
}

TEST(ReportTest, FailuresAndBadArguments) {
    const ReportRun missing = Report({"/nonexistent/ex1.log"});
    EXPECT_EQ(missing.code, 1);
    EXPECT_NE(missing.messages.find("/nonexistent/ex1.log: No such file or directory"),
              std::string::npos);

    TempFile rejected("#Fields:\r\n1 2\r\n");
    const ReportRun r = Report({rejected.path()});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.messages.find("这个文件不是标准的IIS日志文件！"), std::string::npos);
    EXPECT_EQ(r.out, "");

    TempFile log(kLog);
    EXPECT_EQ(Report({"--output", "/nonexistent/out.csv", log.path()}).code, 1);
    for (const std::vector<std::string>& bad : {std::vector<std::string>{},
                                                {"--page", "nope", log.path()},
                                                {"--columns"},
                                                {"--frobnicate", log.path()}}) {
        const ReportRun run = Report(bad);
        EXPECT_EQ(run.code, 2);
        EXPECT_NE(run.messages.find("usage: logdesk-report"), std::string::npos);
    }
}

TEST(ReportTest, RunningOutOfMemoryIsOneLineAndExitOne) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "address-space limits do not apply under sanitizers";
#endif
    TempFile dir("");
    const std::string big = (dir.dir() / "big.log").string();
    { std::ofstream out(big, std::ios::binary); }
    std::filesystem::resize_file(big, std::uintmax_t{1} << 30);
    // Runs the report in a child whose address space ends 128 MiB above
    // what it holds now; the exit status and the messages.
    auto limited = [&](const std::vector<std::string>& args) {
        int pipeFds[2];
        EXPECT_EQ(::pipe(pipeFds), 0);
        const pid_t pid = ::fork();
        if (pid == 0) {
            std::FILE* statm = std::fopen("/proc/self/statm", "r");
            unsigned long pages = 0;
            if (std::fscanf(statm, "%lu", &pages) != 1) {
                ::_exit(99);
            }
            const rlim_t limit =
                pages * static_cast<rlim_t>(::sysconf(_SC_PAGESIZE)) + (rlim_t{128} << 20);
            const rlimit lowered{limit, limit};
            ::setrlimit(RLIMIT_AS, &lowered);
            const ReportRun run = Report(args);
            (void)!::write(pipeFds[1], run.messages.data(), run.messages.size());
            ::_exit(run.code);
        }
        ::close(pipeFds[1]);
        std::string messages;
        char buf[512];
        for (ssize_t n; (n = ::read(pipeFds[0], buf, sizeof buf)) > 0;) {
            messages.append(buf, static_cast<std::size_t>(n));
        }
        ::close(pipeFds[0]);
        int status = 0;
        ::waitpid(pid, &status, 0);
        EXPECT_TRUE(WIFEXITED(status));
        return std::make_pair(WEXITSTATUS(status), messages);
    };
    // The records page holds the log in memory.
    const auto [code, messages] = limited({"--page", "records", big});
    EXPECT_EQ(code, 1);
    EXPECT_EQ(messages, "logdesk-report: " + big + ": out of memory (Cannot allocate memory)\n");
    // The other pages count while reading, in memory that does not grow with
    // the log.
    const auto [counted, none] = limited({"--page", "spiders", big});
    EXPECT_EQ(counted, 0) << none;
}

TEST(ReportTest, ThreadsChangeNoByte) {
    std::string log = kLog;
    for (int i = 0; i < 40000; ++i) {
        log += "2013-05-01 00:00:0" + std::to_string(i % 10) + " 1.1.1.1 /p" +
               std::to_string(i % 900) + " 10.0.0." + std::to_string(i % 200) +
               (i % 3 == 0 ? " Baiduspider " : " Mozilla ") + std::to_string(200 + i % 3) + "\r\n";
    }
    TempFile file(log);
    for (const std::vector<std::string>& options :
         {std::vector<std::string>{"--page", "records", "--sort", "4"},
          std::vector<std::string>{"--page", "urls", "--sort", "1", "--desc"},
          std::vector<std::string>{"--page", "ips"}, std::vector<std::string>{"--page", "status"},
          std::vector<std::string>{"--page", "spider-traffic"},
          std::vector<std::string>{"--page", "spider-days"},
          std::vector<std::string>{"--page", "status", "--spider", "百度"}}) {
        std::vector<std::string> one = options;
        one.insert(one.end(), {"--threads", "1", file.path()});
        std::vector<std::string> many = options;
        many.insert(many.end(), {"--threads", "3", file.path()});
        const ReportRun a = Report(one);
        const ReportRun b = Report(many);
        ASSERT_EQ(a.code, 0) << a.messages;
        EXPECT_EQ(a.out, b.out) << options[1];
    }
    for (const char* bad : {"0", "x", "-2", ""}) {
        EXPECT_EQ(Report({"--threads", bad, file.path()}).code, 2) << bad;
    }
}

TEST(ReportTest, StreamedPagesEqualThePagesOfTheTable) {
    // The middle header names c-ip twice, and the table's c-ip column holds
    // the first of them, while its own header's address is the second: the
    // first pass counts those lines by the second, and the report counts
    // again knowing the last header.
    std::string log = kLog;
    for (int i = 0; i < 3000; ++i) {
        if (i == 1000) {
            log += "#Fields: date time c-ip cs-uri-stem c-ip cs(User-Agent) sc-status "
                   "sc-win32-status\r\n";
        }
        if (i == 2000) {
            log += "#Fields: date time cs-uri-stem c-ip sc-status cs(User-Agent)\r\n";
        }
        const std::string agent = i % 3 == 0 ? "Baiduspider" : i % 3 == 1 ? "Googlebot" : "Mozilla";
        const std::string status = std::to_string(200 + (i % 4) * 100);
        if (i < 2000) {
            log += "2013-05-0" + std::to_string(1 + i % 3) + " 0" + std::to_string(i % 10) +
                   ":00:00 1.1.1.1 /p" + std::to_string(i % 90) + " 10.0.0." +
                   std::to_string(i % 20) + " " + agent + " " + status +
                   (i >= 1000 ? " " + std::to_string(i % 3 * 32) : "") + "\r\n";
        } else {
            log += "2013-05-04 1" + std::to_string(i % 10) + ":00:00 /q" + std::to_string(i % 70) +
                   " 10.0.1." + std::to_string(i % 30) + " " + status + " " + agent + "\r\n";
        }
    }
    TempFile file(log);
    for (const std::vector<std::string>& options :
         {std::vector<std::string>{"--page", "spiders"},
          std::vector<std::string>{"--page", "urls", "--sort", "1", "--desc"},
          std::vector<std::string>{"--page", "urls", "--spider", "Baidu"},
          std::vector<std::string>{"--page", "ips", "--spider", Gbk("谷歌")},
          std::vector<std::string>{"--page", "ips", "--spider", "nobody"},
          std::vector<std::string>{"--page", "status"},
          std::vector<std::string>{"--page", "status", "--spider", "百度"},
          std::vector<std::string>{"--page", "status", "--spider", "nobody"},
          std::vector<std::string>{"--page", "spider-days", "--sort", "1"},
          std::vector<std::string>{"--page", "spider-traffic", "--utf8"}}) {
        for (const char* threads : {"1", "3"}) {
            std::vector<std::string> kept = options;
            kept.insert(kept.end(), {"--threads", threads, file.path()});
            std::vector<std::string> streamed = kept;
            streamed.insert(streamed.begin(), "--stream");
            const ReportRun a = FromTable(kept);
            for (const ReportRun& b : {Report(streamed), Report(kept)}) {
                EXPECT_EQ(a.code, b.code) << options[1];
                EXPECT_EQ(a.messages, b.messages) << options[1];
                EXPECT_EQ(a.out, b.out) << options[1] << " " << options.back();
            }
        }
    }
    const ReportRun records = Report({"--stream", "--page", "records", file.path()});
    EXPECT_EQ(records.code, 2);
    EXPECT_NE(records.messages.find("cannot --stream"), std::string::npos);
}

// Outputs written before today's crawlers joined the catalogue, kept under
// tests/data/golden: with the classic catalogue (the default) every page of
// every sample stays byte for byte what it was.
TEST(ReportCrawlersTest, ClassicCatalogueKeepsEveryPage) {
    const std::string data = LOGDESK_TEST_DATA;
    const std::pair<std::string, std::string> logs[] = {
        {"ex130501", std::string(LOGDESK_SAMPLES_DIR) + "/ex130501.log"},
        {"todays_crawlers", data + "/todays_crawlers.log"}};
    for (const auto& [name, path] : logs) {
        for (const char* page : {"records", "spiders", "spider-traffic", "urls", "ips", "status"}) {
            SCOPED_TRACE(name + " " + page);
            const std::string golden = ReadFile(data + "/golden/" + name + "." + page + ".csv");
            ASSERT_FALSE(golden.empty());
            const ReportRun implicit = Report({"--page", page, path});
            ASSERT_EQ(implicit.code, 0) << implicit.messages;
            EXPECT_TRUE(implicit.out == golden);
            EXPECT_TRUE(Report({"--crawlers", "classic", "--page", page, path}).out == golden);
            EXPECT_TRUE(FromTable({"--page", page, path}).out == golden);
        }
    }
    // The bundled sample has none of today's crawlers: naming them changes
    // nothing there either.
    EXPECT_TRUE(Report({"--crawlers", "all", "--page", "spiders", logs[0].second}).out ==
                ReadFile(data + "/golden/ex130501.spiders.csv"));
}

TEST(ReportCrawlersTest, AllNamesTodaysCrawlersOnEveryPage) {
    const std::string data = LOGDESK_TEST_DATA;
    const std::string log = data + "/todays_crawlers.log";
    for (const char* page : {"records", "spiders", "spider-traffic", "ips"}) {
        SCOPED_TRACE(page);
        const ReportRun run = Report({"--crawlers", "all", "--page", page, log});
        ASSERT_EQ(run.code, 0) << run.messages;
        EXPECT_TRUE(run.out == ReadFile(data + "/golden/todays_crawlers.all." + page + ".csv"));
        if (std::string_view(page) != "records") {
            // Counted while the log is read, the pages name them too.
            EXPECT_TRUE(Report({"--stream", "--crawlers", "all", "--page", page, log}).out ==
                        run.out);
        }
    }
    // A crawler of today filters the URL page by its short name, which the
    // classic catalogue does not know.
    const ReportRun petal =
        Report({"--crawlers", "all", "--page", "urls", "--spider", "花瓣", "--utf8", log});
    ASSERT_EQ(petal.code, 0) << petal.messages;
    EXPECT_NE(petal.out.find("\"4\""), std::string::npos) << petal.out;
    // Without them it is a crawler the log does not have: a bad argument.
    EXPECT_EQ(Report({"--page", "urls", "--spider", "花瓣", log}).code, 2);
    // Only the two catalogues.
    for (const std::vector<std::string>& bad :
         {std::vector<std::string>{"--crawlers", "today", log},
          {"--crawlers", "ALL", log},
          {log, "--crawlers"}}) {
        const ReportRun run = Report(bad);
        EXPECT_EQ(run.code, 2) << bad[1];
        EXPECT_NE(run.messages.find("usage: logdesk-report"), std::string::npos);
    }
}

TEST(ReportTest, ManyInputsReportAsTheirTextJoinedInNameOrder) {
    testing::ScratchFolder folder;
    const std::string day1 = kLog;
    const std::string day2 = "2013-05-02 00:00:01 1.1.1.1 /a 10.0.0.9 Baiduspider 500\r\n";
    const std::string day3 = "#Fields: date c-ip cs(User-Agent) sc-status\r\n"
                             "2013-05-03 10.0.0.1 Sogou+web+spider 301\r\n";
    const std::string piped = "#Fields: cs-uri-stem sc-status\n/in 200\n";
    folder.write("logs/ex130501.log", day1);
    folder.write("logs/ex130502.log.gz", testing::GzipMember(day2));
    folder.write("logs/readme.txt", "not a log");
    const std::string loose = folder.write("ex130503.log", day3);
    const std::string joined = folder.write("joined.txt", piped + day1 + day2 + day3);
    for (const char* page : {"records", "spiders", "status", "urls", "ips", "spider-traffic"}) {
        int fds[2];
        ASSERT_EQ(::pipe(fds), 0);
        ASSERT_EQ(::write(fds[1], piped.data(), piped.size()), static_cast<ssize_t>(piped.size()));
        ::close(fds[1]);
        // Standard input comes first wherever "-" stands; a file named twice
        // is read once.
        const ReportRun many = Report({"--page", page, loose, folder / "logs", "-", loose}, fds[0]);
        ::close(fds[0]);
        const ReportRun one = Report({"--page", page, joined});
        ASSERT_EQ(many.code, 0) << many.messages;
        EXPECT_EQ(many.messages, "");
        EXPECT_EQ(many.out, one.out) << page;
        if (std::string(page) != "records") {
            const ReportRun streamed = Report({"--stream", "--page", page, loose, folder / "logs"});
            const ReportRun kept = FromTable({"--page", page, loose, folder / "logs"});
            ASSERT_EQ(streamed.code, 0) << streamed.messages;
            EXPECT_EQ(streamed.out, kept.out) << page;
            EXPECT_EQ(Report({"--page", page, loose, folder / "logs"}).out, kept.out) << page;
        }
    }
}

TEST(ReportTest, StandardInputThatWouldNeedASecondPassIsRefused) {
    // c-ip twice: the table's column holds the first, the header's own
    // address is the second, and standard input cannot be read again.
    const std::string log = "#Fields: date c-ip c-ip cs(User-Agent)\n"
                            "2013-05-01 1.1.1.1 2.2.2.2 Baiduspider\n"
                            "#Fields: date c-ip cs(User-Agent)\n"
                            "2013-05-02 3.3.3.3 Googlebot\n";
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    ASSERT_EQ(::write(fds[1], log.data(), log.size()), static_cast<ssize_t>(log.size()));
    ::close(fds[1]);
    const ReportRun piped = Report({"--stream", "--page", "ips", "-"}, fds[0]);
    ::close(fds[0]);
    EXPECT_EQ(piped.code, 1);
    EXPECT_NE(piped.messages.find("standard input cannot be read twice"), std::string::npos);
    EXPECT_EQ(piped.out, "");

    TempFile file(log);
    const ReportRun streamed = Report({"--stream", "--page", "ips", file.path()});
    const ReportRun kept = FromTable({"--page", "ips", file.path()});
    ASSERT_EQ(streamed.code, 0) << streamed.messages;
    EXPECT_EQ(streamed.out, kept.out);
    EXPECT_NE(kept.out.find("1.1.1.1"), std::string::npos);
}

// Every page but records is counted while reading unless --stream is left
// out for standard input, which a second pass could not read again; the
// headers that disagree get that second pass from the files.
TEST(ReportTest, PagesStreamByDefaultWhereASecondPassCouldReadAgain) {
    const std::string changing = "#Fields: date c-ip c-ip cs(User-Agent) sc-status\n"
                                 "2013-05-01 1.1.1.1 2.2.2.2 Baiduspider 200\n"
                                 "#Fields: date c-ip cs(User-Agent) sc-status\n"
                                 "2013-05-02 3.3.3.3 Googlebot 404\n";
    TempFile steady(kLog);
    TempFile twice(changing);
    auto run = [](std::vector<std::string> args, int standardInput = 0) {
        StringSink out;
        std::string messages;
        ReportReading reading;
        EXPECT_EQ(RunReport(args, out, messages, standardInput, {}, &reading), 0) << messages;
        return std::make_pair(reading, out.text());
    };
    for (const char* page :
         {"spiders", "spider-traffic", "spider-days", "urls", "ips", "status", "records"}) {
        SCOPED_TRACE(page);
        const bool streams = std::string_view(page) != "records";
        const auto [once, out] = run({"--page", page, steady.path()});
        EXPECT_EQ(once.streamed, streams);
        EXPECT_EQ(once.passes, 1);
        EXPECT_EQ(out, FromTable({"--page", page, steady.path()}).out);
        const auto [again, outAgain] = run({"--page", page, "--threads", "2", twice.path()});
        EXPECT_EQ(again.streamed, streams);
        EXPECT_EQ(again.passes, streams ? 2 : 1);
        EXPECT_EQ(outAgain, FromTable({"--page", page, twice.path()}).out);

        // Standard input: into a table, the output as from the file.
        int fds[2];
        ASSERT_EQ(::pipe(fds), 0);
        ASSERT_EQ(::write(fds[1], changing.data(), changing.size()),
                  static_cast<ssize_t>(changing.size()));
        ::close(fds[1]);
        const auto [piped, outPiped] = run({"--page", page, "-"}, fds[0]);
        ::close(fds[0]);
        EXPECT_FALSE(piped.streamed);
        EXPECT_EQ(outPiped, outAgain);
    }
}

TEST(ReportTest, AnInputThatCannotBeReadIsNamedAndTheOthersReported) {
    testing::ScratchFolder folder;
    folder.write("ex130501.log", kLog);
    const std::string gz = testing::GzipMember(testing::LogText(20000));
    const std::string cut = folder.write("ex130502.log.gz", gz.substr(0, gz.size() / 2));
    const std::string missing = folder / "ex130503.log";
    const std::string out = folder / "spiders.csv";
    const ReportRun run = Report({"--page", "spiders", "--output", out, folder.path(), missing});
    EXPECT_EQ(run.code, 1);
    // One line each, arguments first, then in reading order.
    const auto lines = std::count(run.messages.begin(), run.messages.end(), '\n');
    EXPECT_EQ(lines, 2) << run.messages;
    EXPECT_TRUE(run.messages.starts_with("logdesk-report: " + missing +
                                         ": cannot be read: " + std::strerror(ENOENT) + "\n"))
        << run.messages;
    EXPECT_NE(run.messages.find("logdesk-report: " + cut + ": damaged after "), std::string::npos)
        << run.messages;
    // Still written, from what could be read (the .gz text names no agent).
    EXPECT_EQ(GbkToUtf8(ReadFile(out)), "\"蜘蛛\",\"访问次数\"\r\n\"百度(Baiduspider)\",\"1\"\r\n"
                                        "\"谷歌(Googlebot)\",\"1\"\r\n"
                                        "\"其他流量(unknown)\",\"1\"\r\n");

    // Nothing readable: nothing written.
    const ReportRun none = Report({missing, folder / "ex130504.log"});
    EXPECT_EQ(none.code, 1);
    EXPECT_EQ(none.out, "");
    EXPECT_EQ(std::count(none.messages.begin(), none.messages.end(), '\n'), 2);
    testing::ScratchFolder empty;
    const ReportRun nothing = Report({empty.path()});
    EXPECT_EQ(nothing.code, 1);
    EXPECT_EQ(nothing.messages, "logdesk-report: no log file among the inputs\n");

    // The output is none of the logs, also when a folder names it.
    const ReportRun over = Report({"--output", folder / "ex130501.log", folder.path()});
    EXPECT_EQ(over.code, 1);
    EXPECT_NE(over.messages.find("is the log being read"), std::string::npos);
    EXPECT_EQ(ReadFile(folder / "ex130501.log"), kLog);
}

} // namespace
} // namespace logdesk
