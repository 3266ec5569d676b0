// logdesk-report against hostile inputs and limits: the log must never be
// lost, a run must never hang, and what it prints must be what happened.
// Some cases run the program itself, since they concern the process (its
// signals, its file size limit, a FIFO opened by another process).
#include "core/input/input_fixtures.h"
#include "report.h"
#include "support/file_test_support.h"
#include "core/text/gbk_codec.h"

#include <algorithm>
#include <chrono>
#include <functional>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace logdesk {
namespace {

using testing::ReadFile;
using testing::ScratchFolder;

const std::string kLog = "#Fields: date time cs-uri-stem c-ip cs(User-Agent) sc-status\r\n"
                         "2013-05-01 00:00:01 /a 10.0.0.1 Googlebot/2.1 200\r\n"
                         "2013-05-01 00:00:02 /b 10.0.0.2 Baiduspider 404\r\n"
                         "2013-05-01 00:00:03 /c 10.0.0.3 Baiduspider 200\r\n";

struct ReportRun {
    int code;
    std::string out;
    std::string messages;
};

ReportRun Report(const std::vector<std::string>& args, int standardInput = 0) {
    StringSink out;
    std::string messages;
    const int code = RunReport(args, out, messages, standardInput);
    return {code, out.text(), messages};
}

// The program run as a child with `limits` applied: its exit status (or
// 128 + the signal that ended it) and what it wrote to standard error. The
// child is killed after `seconds`, so that a hang fails the test instead of
// holding it up.
struct ProcessRun {
    int status = -1;
    std::string messages;
    bool timedOut = false;
};

ProcessRun RunProgram(const std::vector<std::string>& args, const std::function<void()>& limits,
                      int seconds = 20) {
    int err[2];
    EXPECT_EQ(::pipe(err), 0);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(err[1], 2);
        ::close(err[0]);
        ::close(err[1]);
        limits();
        std::vector<char*> argv;
        static std::string program = LOGDESK_REPORT_BINARY;
        argv.push_back(program.data());
        std::vector<std::string> copies = args;
        for (std::string& arg : copies) {
            argv.push_back(arg.data());
        }
        argv.push_back(nullptr);
        ::execv(program.c_str(), argv.data());
        ::_exit(127);
    }
    ::close(err[1]);
    ::fcntl(err[0], F_SETFL, O_NONBLOCK);
    ProcessRun run;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    int status = 0;
    char buf[4096];
    for (;;) {
        for (ssize_t n; (n = ::read(err[0], buf, sizeof buf)) > 0;) {
            run.messages.append(buf, static_cast<std::size_t>(n));
        }
        if (::waitpid(pid, &status, WNOHANG) == pid) {
            break;
        }
        if (std::chrono::steady_clock::now() > deadline) {
            run.timedOut = true;
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    for (ssize_t n; (n = ::read(err[0], buf, sizeof buf)) > 0;) {
        run.messages.append(buf, static_cast<std::size_t>(n));
    }
    ::close(err[0]);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return run;
}

TEST(ReportEdgesTest, StandardInputRedirectedFromTheOutputFileIsNotOverwritten) {
    ScratchFolder folder;
    const std::string log = folder.write("x.log", kLog);
    const int in = ::open(log.c_str(), O_RDONLY);
    ASSERT_GE(in, 0);
    const ReportRun run = Report({"--page", "spiders", "--output", log, "-"}, in);
    ::close(in);
    EXPECT_EQ(run.code, 1);
    EXPECT_NE(run.messages.find(log + " is the log being read"), std::string::npos)
        << run.messages;
    EXPECT_EQ(ReadFile(log), kLog);

    // Another file, or standard input from a pipe, is written as before.
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    ASSERT_EQ(::write(fds[1], kLog.data(), kLog.size()), static_cast<ssize_t>(kLog.size()));
    ::close(fds[1]);
    const std::string other = folder / "spiders.csv";
    EXPECT_EQ(Report({"--page", "spiders", "--output", other, "-"}, fds[0]).code, 0);
    ::close(fds[0]);
    EXPECT_NE(ReadFile(other).find(Gbk("百度")), std::string::npos);
}

TEST(ReportEdgesTest, FifoWhoseWriterStartedFirstIsReadToItsEnd) {
    ScratchFolder folder;
    const std::string fifo = folder / "p.log";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    // The writer opens first and waits for a reader; a reader that opened
    // and closed the FIFO once would end it with SIGPIPE.
    std::thread writer([&] {
        const int fd = ::open(fifo.c_str(), O_WRONLY);
        if (fd >= 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            (void)!::write(fd, kLog.data(), kLog.size());
            ::close(fd);
        }
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const ProcessRun run = RunProgram({"--page", "spiders", "--output", folder / "s.csv", fifo},
                                      [] {}, 10);
    if (run.timedOut) {
        // Let the writer go, so that the test ends.
        const int fd = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
        ::close(fd);
    }
    writer.join();
    EXPECT_FALSE(run.timedOut);
    EXPECT_EQ(run.status, 0) << run.messages;
    EXPECT_NE(ReadFile(folder / "s.csv").find(Gbk("百度")), std::string::npos);
}

TEST(ReportEdgesTest, DevicesThatNeverEndAreRefusedWithAMessage) {
    const ProcessRun named = RunProgram({"--page", "spiders", "/dev/zero"}, [] {}, 10);
    EXPECT_FALSE(named.timedOut);
    EXPECT_EQ(named.status, 1);
    EXPECT_NE(named.messages.find("/dev/zero: a device, not a log file"), std::string::npos)
        << named.messages;

    const int zero = ::open("/dev/zero", O_RDONLY);
    ASSERT_GE(zero, 0);
    const ReportRun piped = Report({"--page", "spiders", "-"}, zero);
    ::close(zero);
    EXPECT_EQ(piped.code, 1);
    EXPECT_NE(piped.messages.find("-: a device, not a log file"), std::string::npos)
        << piped.messages;
}

TEST(ReportEdgesTest, FileSizeLimitIsAFailureThatKeepsTheOldFileAndLeavesNoTemporary) {
    ScratchFolder folder;
    std::string big = kLog;
    for (int i = 0; i < 4000; ++i) {
        big += "2013-05-01 00:00:04 /page/" + std::to_string(i) + " 10.0.0.9 Mozilla 200\r\n";
    }
    const std::string log = folder.write("ex130501.log", big);
    const std::string out = folder.write("old.csv", "old\r\n");
    const ProcessRun run = RunProgram({"--output", out, log}, [] {
        const rlimit small{100 * 1024, 100 * 1024};
        ::setrlimit(RLIMIT_FSIZE, &small);
    });
    EXPECT_EQ(run.status, 1) << run.messages;
    EXPECT_NE(run.messages.find("File too large"), std::string::npos) << run.messages;
    EXPECT_EQ(ReadFile(out), "old\r\n");
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder.path())) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"ex130501.log", "old.csv"}));
}

TEST(ReportEdgesTest, CrawlerPageSortsAsTheOtherPagesDo) {
    ScratchFolder folder;
    const std::string log = folder.write("ex130501.log", kLog);
    const ReportRun plain = Report({"--page", "spiders", "--utf8", log});
    ASSERT_EQ(plain.code, 0);
    EXPECT_EQ(plain.out, "\"蜘蛛\",\"访问次数\"\r\n\"百度(Baiduspider)\",\"2\"\r\n"
                         "\"谷歌(Googlebot)\",\"1\"\r\n");
    const ReportRun byCount = Report({"--page", "spiders", "--utf8", "--sort", "1", log});
    ASSERT_EQ(byCount.code, 0) << byCount.messages;
    EXPECT_EQ(byCount.out, "\"蜘蛛\",\"访问次数\"\r\n\"谷歌(Googlebot)\",\"1\"\r\n"
                           "\"百度(Baiduspider)\",\"2\"\r\n");
    const ReportRun back = Report({"--page", "spiders", "--utf8", "--sort", "1", "--desc", log});
    EXPECT_EQ(back.out, plain.out);
    const ReportRun beyond = Report({"--page", "spiders", "--sort", "77777", log});
    EXPECT_EQ(beyond.code, 2);
    EXPECT_NE(beyond.messages.find("no column 77777"), std::string::npos);
    EXPECT_EQ(beyond.out, "");
}

TEST(ReportEdgesTest, NamesAndReasonsReachTheTerminalWithoutControlBytes) {
    ScratchFolder folder;
    folder.write("ex130501.log", kLog);
    const std::string forged = "evil\nlogdesk-report: all inputs read fine\x1b[31m.log";
    testing::WriteArchive(folder / "logs.zip", archive_write_set_format_zip, nullptr,
                          {{"ex130502.log", kLog}, {forged, "#Fields:\r\n"}});
    const ReportRun run = Report({"--page", "spiders", folder.path(), folder / "gone\r.log"});
    EXPECT_EQ(run.code, 1);
    EXPECT_EQ(run.messages.find('\x1b'), std::string::npos) << run.messages;
    EXPECT_EQ(run.messages.find('\r'), std::string::npos) << run.messages;
    // One line per input: the missing file, the rejected member.
    EXPECT_EQ(std::count(run.messages.begin(), run.messages.end(), '\n'), 2) << run.messages;
    EXPECT_NE(run.messages.find("evil\\x0alogdesk-report: all inputs read fine\\x1b[31m.log"),
              std::string::npos)
        << run.messages;
    EXPECT_NE(run.messages.find("gone\\x0d.log: cannot be read"), std::string::npos)
        << run.messages;
}

} // namespace
} // namespace logdesk
