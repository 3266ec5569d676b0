#include "core/input/input_fixtures.h"
#include "core/input/log_inputs.h"
#include "core/input/name_order.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace logdesk {
namespace {

using testing::GzipMember;
using testing::LogText;
using testing::ReadToEnd;
using testing::ScratchFolder;
using testing::WriteArchive;

std::vector<std::string> Paths(const LogInputs& inputs) {
    std::vector<std::string> paths;
    for (const InputFile& file : inputs.files()) {
        paths.push_back(file.path);
    }
    return paths;
}

TEST(NameOrder, DatesThenPrefixesLettersWithoutCaseAndTheWholePathLast) {
    const std::vector<std::string> sorted{
        "ex130430.log",
        "z/EX130501.LOG", // letters without case: between 0430 and 0502
        "a/ex130501.log", // same name without case: upper case bytes first, then the path
        "b/ex130501.log",       "ex130502.log", "ex131231.log",
        "u_ex140101.log", // after every "ex" name
        "u_ex140102.log",
        "\xc8\xd5\xd6\xbe.log", // GBK bytes are above ASCII
    };
    std::vector<std::string> shuffled{sorted.rbegin(), sorted.rend()};
    std::swap(shuffled[1], shuffled[5]);
    std::sort(shuffled.begin(), shuffled.end(),
              [](const std::string& a, const std::string& b) { return NameOrderLess(a, b); });
    EXPECT_EQ(shuffled, sorted);
    EXPECT_FALSE(NameOrderLess("a/x.log", "a/x.log"));
}

TEST(LogInputs, FolderMeansItsLogsAndArchivesWithoutSubfoldersAllInOneNameOrder) {
    ScratchFolder folder;
    for (const char* name : {"ex130503.log", "EX130501.LOG", "ex130502.log.gz", "ex1305.zip",
                             "ex1304.tar.gz", "u_ex140101.log.xz", "notes.txt", "ex130504.log.1",
                             "sub/ex130505.log", "sub.log/ex130506.log"}) {
        folder.write(name, "x");
    }
    const std::string loose = folder.write("other/access.txt", "given by name, read as a log");

    // The same answer whatever the order of the arguments; "-" first.
    const LogInputs forward({folder.path(), "-", loose});
    const LogInputs backward({loose, folder.path() + "/", "-"});
    const std::string base = folder.path();
    EXPECT_EQ(Paths(forward),
              (std::vector<std::string>{"-", base + "/other/access.txt", base + "/ex1304.tar.gz",
                                        base + "/ex1305.zip", base + "/EX130501.LOG",
                                        base + "/ex130502.log.gz", base + "/ex130503.log",
                                        base + "/u_ex140101.log.xz"}));
    std::vector<std::string> again = Paths(backward);
    for (std::string& path : again) { // the folder was given with a final '/'
        if (const auto at = path.find("//"); at != std::string::npos) {
            path.erase(at, 1);
        }
    }
    EXPECT_EQ(again, Paths(forward));
    EXPECT_TRUE(forward.problems().empty());

    std::vector<InputKind> kinds;
    for (const InputFile& file : forward.files()) {
        kinds.push_back(file.kind);
    }
    EXPECT_EQ(kinds,
              (std::vector<InputKind>{InputKind::StandardInput, InputKind::Plain,
                                      InputKind::Archive, InputKind::Archive, InputKind::Plain,
                                      InputKind::Gzip, InputKind::Plain, InputKind::Compressed}));
}

TEST(LogInputs, FileReachedTwiceIsReadOnce) {
    ScratchFolder folder;
    const std::string log = folder.write("ex130501.log", "a");
    ASSERT_EQ(::symlink(log.c_str(), (folder / "today.log").c_str()), 0);
    const LogInputs inputs({log, folder.path(), folder / "today.log", "-", "-"});
    EXPECT_EQ(Paths(inputs), (std::vector<std::string>{"-", log}));
}

TEST(LogInputs, UnreadableInputsAreReportedWithTheirReasonAndTheRestGoesOn) {
    ScratchFolder folder;
    const std::string good = folder.write("logs/ex130501.log", LogText(3));
    ASSERT_EQ(::symlink((folder / "gone.log").c_str(), (folder / "logs/dangling.log").c_str()), 0);
    const std::string file = folder.write("file.log", "x");
    std::vector<std::string> arguments{folder / "missing.log", folder / "logs", file + "/inside"};
    std::string locked;
    if (::geteuid() != 0) { // permission bits do not stop root
        locked = folder.write("locked.log", "secret");
        ::chmod(locked.c_str(), 0);
        arguments.push_back(locked);
    }
    const LogInputs inputs(arguments);
    EXPECT_EQ(Paths(inputs), (std::vector<std::string>{good}));

    std::vector<std::pair<std::string, std::string>> problems;
    for (const InputProblem& problem : inputs.problems()) {
        EXPECT_EQ(problem.error.cause, std::strerror(problem.error.code));
        problems.emplace_back(problem.error.path, problem.error.cause);
    }
    std::vector<std::pair<std::string, std::string>> expected{
        {folder / "missing.log", std::strerror(ENOENT)},
        {folder / "logs/dangling.log", std::strerror(ENOENT)},
        {file + "/inside", std::strerror(ENOTDIR)},
    };
    if (!locked.empty()) {
        expected.emplace_back(locked, std::strerror(EACCES));
    }
    EXPECT_EQ(problems, expected);
}

TEST(LogInputs, NextOpensTheSourcesOneByOneInOrderWithProgressOverAll) {
    ScratchFolder folder;
    const std::string day1 = LogText(100, 1);
    const std::string day2 = LogText(200, 2);
    const std::string day3 = LogText(300, 3);
    const std::string day4 = LogText(50, 4);
    folder.write("ex130501.log", day1);
    folder.write("ex130502.log.gz", GzipMember(day2));
    WriteArchive(folder / "ex130503.zip", archive_write_set_format_zip, nullptr,
                 {{"ex130504.log", day4}, {"ex130503.log", day3}, {"readme.txt", "?"}});
    WriteArchive(folder / "ex130505.zip", archive_write_set_format_zip, nullptr,
                 {{"readme.txt", "no logs here"}});
    folder.write("ex130506.log.gz", GzipMember(day1).substr(0, 40));
    folder.write("ex130507.log", "");
    // Cut inside its second member: the listing stops there.
    const std::string tgz = folder / "ex130508.tgz";
    WriteArchive(tgz, archive_write_set_format_ustar, archive_write_add_filter_gzip,
                 {{"a.log", day1}, {"b.log", LogText(30000, 8)}});
    const std::string packed = testing::ReadFileBytes(tgz);
    folder.write("ex130508.tgz", packed.substr(0, packed.size() * 2 / 3));

    for (const bool readAhead : {false, true}) {
        SCOPED_TRACE(readAhead);
        LogInputsOptions options;
        options.readAhead = readAhead;
        LogInputs inputs({folder.path()}, options);
        ASSERT_EQ(inputs.files().size(), 7u);
        std::uint64_t total = 0;
        for (const InputFile& f : inputs.files()) {
            total += f.size;
        }
        EXPECT_EQ(inputs.totalBytes(), total);

        struct Seen {
            std::string name;
            std::string bytes;
            SourceState state;
        };
        std::vector<Seen> seen;
        std::uint64_t lastDone = 0;
        while (std::unique_ptr<LogSource> source = inputs.next()) {
            const auto outcome = ReadToEnd(*source, 1000);
            const SourceProgress overall = inputs.overallProgress(*source);
            EXPECT_GE(overall.done, lastDone);
            EXPECT_LE(overall.done, overall.total);
            lastDone = overall.done;
            std::string name = source->name().display().substr(folder.path().size() + 1);
            seen.push_back({std::move(name), outcome.bytes, source->status().state});
        }
        ASSERT_EQ(seen.size(), 10u);
        const std::vector<std::pair<std::string, SourceState>> expected{
            {"ex130501.log", SourceState::Complete},
            {"ex130502.log.gz", SourceState::Complete},
            {"ex130503.zip:ex130503.log", SourceState::Complete},
            {"ex130503.zip:ex130504.log", SourceState::Complete},
            {"ex130505.zip", SourceState::OpenFailed},
            {"ex130506.log.gz", SourceState::Damaged},
            {"ex130507.log", SourceState::Complete},
            {"ex130508.tgz:a.log", SourceState::Complete},
            {"ex130508.tgz:b.log", SourceState::Damaged},
            {"ex130508.tgz", SourceState::Damaged}, // members after the cut are unknown
        };
        for (std::size_t i = 0; i < expected.size(); ++i) {
            EXPECT_EQ(seen[i].name, expected[i].first);
            EXPECT_EQ(seen[i].state, expected[i].second) << seen[i].name;
        }
        EXPECT_TRUE(seen[0].bytes == day1);
        EXPECT_TRUE(seen[1].bytes == day2);
        EXPECT_TRUE(seen[2].bytes == day3);
        EXPECT_TRUE(seen[3].bytes == day4);
        EXPECT_TRUE(day1.starts_with(seen[5].bytes));
        EXPECT_TRUE(seen[6].bytes.empty());
        EXPECT_TRUE(seen[7].bytes == day1);
        EXPECT_GT(lastDone, total - inputs.files().back().size); // into the last file
        EXPECT_EQ(inputs.next(), nullptr);
    }
}

TEST(LogInputs, ReadingAheadOpensTheNextGzipFileOnlyAndKeepsProgressPerFile) {
    ScratchFolder folder;
    std::vector<std::string> days;
    for (int d = 1; d <= 4; ++d) {
        days.push_back(LogText(3000 * d, d));
        folder.write("ex13050" + std::to_string(d) + ".log.gz", GzipMember(days.back()));
    }
    LogInputsOptions options;
    options.readAhead = true;
    LogInputs inputs({folder.path()}, options);
    ASSERT_EQ(inputs.files().size(), 4u);
    std::unique_ptr<LogSource> first = inputs.next();
    // The second file inflates already, so it no longer needs its name; the
    // third and fourth are not open yet.
    ASSERT_EQ(::unlink((folder / "ex130502.log.gz").c_str()), 0);
    ASSERT_EQ(::unlink((folder / "ex130504.log.gz").c_str()), 0);
    std::vector<std::unique_ptr<LogSource>> sources;
    sources.push_back(std::move(first));
    std::uint64_t before = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        if (i > 0) {
            sources.push_back(inputs.next());
        }
        ASSERT_NE(sources.back(), nullptr);
        LogSource& source = *sources.back();
        const auto outcome = ReadToEnd(source, 4096);
        const SourceProgress overall = inputs.overallProgress(source);
        if (i < 3) {
            EXPECT_EQ(source.status().state, SourceState::Complete) << i;
            EXPECT_TRUE(outcome.bytes == days[i]) << i;
            // The progress of the file read, not of the one opened after it.
            EXPECT_EQ(overall.done, before + inputs.files()[i].size) << i;
        } else {
            EXPECT_EQ(source.status().state, SourceState::OpenFailed);
        }
        before += inputs.files()[i].size;
    }
    EXPECT_EQ(inputs.next(), nullptr);
}

TEST(LogInputs, StandardInputIsReadFromTheGivenDescriptor) {
    const std::string text = LogText(2000, 7);
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    ScratchFolder folder;
    const std::string file = folder.write("ex130501.log", "after\n");
    LogInputsOptions options;
    options.standardInput = fds[0];
    LogInputs inputs({file, "-"}, options);
    ASSERT_EQ(inputs.files().front().size, 0u);

    auto in = inputs.next();
    EXPECT_EQ(in->name().path, "-");
    // The writer fills the pipe while the source drains it.
    std::string written = text;
    std::string read;
    char buffer[4096];
    while (!written.empty()) {
        const ssize_t put =
            ::write(fds[1], written.data(), std::min<std::size_t>(written.size(), 4096));
        ASSERT_GT(put, 0);
        written.erase(0, static_cast<std::size_t>(put));
        const ssize_t got = in->read(buffer, sizeof buffer);
        ASSERT_GT(got, 0);
        read.append(buffer, static_cast<std::size_t>(got));
    }
    ::close(fds[1]);
    read += ReadToEnd(*in).bytes;
    EXPECT_TRUE(read == text);
    EXPECT_TRUE(in->status().complete());
    EXPECT_NE(::fcntl(fds[0], F_GETFD), -1); // left open
    ::close(fds[0]);
    EXPECT_EQ(ReadToEnd(*inputs.next()).bytes, "after\n");
}

} // namespace
} // namespace logdesk
