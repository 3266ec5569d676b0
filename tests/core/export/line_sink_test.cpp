#include "core/export/line_sink.h"
#include "support/file_test_support.h"

#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <set>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace logdesk {
namespace {

namespace fs = std::filesystem;
using testing::InChildWithoutRoot;
using testing::ReadFile;
using testing::TempFile;

// The sink for path; the test stops when it cannot be opened.
FileSink Open(const fs::path& path) {
    Result<FileSink> sink = FileSink::Open(path);
    EXPECT_TRUE(sink) << sink.error().line();
    if (!sink) {
        return FileSink::ForDescriptor(-1);
    }
    return std::move(sink).value();
}

// The reason of a failed result; empty for a success.
std::string Reason(const Result<void>& result) {
    return result ? std::string() : result.error().reason();
}

std::set<std::string> Names(const fs::path& dir) {
    std::set<std::string> names;
    for (const fs::directory_entry& entry : fs::directory_iterator(dir)) {
        names.insert(entry.path().filename().string());
    }
    return names;
}

mode_t Mode(const fs::path& path) {
    struct stat st {};
    EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
    return st.st_mode;
}

// Runs `body` with writes limited to `bytes` per file, as a nearly full disk
// limits them; SIGXFSZ is ignored so that the write fails with EFBIG.
template <typename Body> void WithFileSizeLimit(rlim_t bytes, Body body) {
    struct rlimit saved {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = saved;
    small.rlim_cur = bytes;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    body();
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);
}

class FileSinkTest : public ::testing::Test {
protected:
    TempFile dir_{"last week\r\n", "old.csv"};
    fs::path old_ = dir_.path();
    const std::string block_ = std::string(1 << 20, 'x');
};

TEST_F(FileSinkTest, AFailedOrAbandonedWriteKeepsTheOldFile) {
    ::chmod(old_.c_str(), 0640);
    WithFileSizeLimit(1 << 20, [&] {
        FileSink sink = Open(old_);
        sink.write(block_);
        sink.write(block_);
        const Result<void> closed = sink.close();
        EXPECT_EQ(Reason(closed), "write failed: File too large");
        EXPECT_EQ(closed.error().path, old_.string());
        EXPECT_EQ(Reason(sink.close()), "write failed: File too large"); // the same answer
    });
    EXPECT_EQ(ReadFile(old_), "last week\r\n");
    EXPECT_EQ(Names(dir_.dir()), std::set<std::string>{"old.csv"});

    // Destroyed before close(): after a megabyte went out, and with bytes
    // still buffered.
    {
        FileSink sink = Open(old_);
        ASSERT_TRUE(sink.write(block_));
        ASSERT_TRUE(sink.write("more"));
    }
    EXPECT_EQ(ReadFile(old_), "last week\r\n");
    EXPECT_EQ(Names(dir_.dir()), std::set<std::string>{"old.csv"});

    // A name that did not exist: nothing is left of a failed write.
    const fs::path fresh = dir_.dir() / "fresh.csv";
    WithFileSizeLimit(1 << 20, [&] {
        FileSink sink = Open(fresh);
        sink.write(block_);
        sink.write(block_);
        EXPECT_FALSE(sink.close());
    });
    EXPECT_EQ(Names(dir_.dir()), std::set<std::string>{"old.csv"});
}

TEST_F(FileSinkTest, ReplacesWholeAndKeepsTheModes) {
    ::chmod(old_.c_str(), 0640);
    {
        FileSink sink = Open(old_);
        ASSERT_TRUE(sink.write("this week\r\n"));
        // Nothing changes before close().
        EXPECT_EQ(ReadFile(old_), "last week\r\n");
        ASSERT_EQ(Reason(sink.close()), "");
    }
    EXPECT_EQ(ReadFile(old_), "this week\r\n");
    EXPECT_EQ(Mode(old_) & 07777, 0640u);
    EXPECT_EQ(Names(dir_.dir()), std::set<std::string>{"old.csv"});

    const mode_t mask = ::umask(027);
    const fs::path fresh = dir_.dir() / "fresh.csv";
    {
        FileSink sink = Open(fresh);
        ASSERT_TRUE(sink.write("new"));
        ASSERT_TRUE(sink.close());
    }
    ::umask(mask);
    EXPECT_EQ(ReadFile(fresh), "new");
    EXPECT_EQ(Mode(fresh) & 07777, 0640u); // 0666 less the umask

    // A long name still leaves room for the temporary's suffix.
    const fs::path longName = dir_.dir() / (std::string(250, 'n') + ".csv");
    FileSink sink = Open(longName);
    ASSERT_TRUE(sink.write("long"));
    ASSERT_EQ(Reason(sink.close()), "");
    EXPECT_EQ(ReadFile(longName), "long");
}

TEST_F(FileSinkTest, LinksAreFollowedAndKept) {
    const fs::path link = dir_.dir() / "link.csv";
    fs::create_symlink("old.csv", link);
    {
        FileSink sink = Open(link);
        ASSERT_TRUE(sink.write("through the link"));
        ASSERT_EQ(Reason(sink.close()), "");
    }
    EXPECT_TRUE(S_ISLNK(Mode(link)));
    EXPECT_EQ(ReadFile(old_), "through the link");

    // A link to a name that does not exist yet creates that name.
    fs::create_directory(dir_.dir() / "sub");
    const fs::path dangling = dir_.dir() / "dangling.csv";
    fs::create_symlink("sub/made.csv", dangling);
    {
        FileSink sink = Open(dangling);
        ASSERT_TRUE(sink.write("made"));
        ASSERT_EQ(Reason(sink.close()), "");
    }
    EXPECT_TRUE(S_ISLNK(Mode(dangling)));
    EXPECT_EQ(ReadFile(dir_.dir() / "sub" / "made.csv"), "made");
    EXPECT_EQ(Names(dir_.dir() / "sub"), std::set<std::string>{"made.csv"});

    const fs::path loop = dir_.dir() / "loop.csv";
    fs::create_symlink("loop.csv", loop);
    const Result<FileSink> looping = FileSink::Open(loop);
    ASSERT_FALSE(looping);
    EXPECT_EQ(looping.error().reason(), "cannot create: Too many levels of symbolic links");
}

TEST_F(FileSinkTest, RefusesWhatCannotBeWritten) {
    const Result<FileSink> missingDir = FileSink::Open("/nonexistent-dir/out.csv");
    ASSERT_FALSE(missingDir);
    EXPECT_EQ(missingDir.error().line(),
              "/nonexistent-dir/out.csv: cannot create: No such file or directory");

    const Result<FileSink> directory = FileSink::Open(dir_.dir());
    ASSERT_FALSE(directory);
    EXPECT_EQ(directory.error().reason(), "cannot create: Is a directory");

    // A file the user may not write, in a folder where a new file could be
    // renamed over it. Root may write anything, so root tries as nobody.
    ::chmod(old_.c_str(), 0444);
    ::chmod(dir_.dir().c_str(), 0777);
    const fs::path old = old_;
    EXPECT_TRUE(InChildWithoutRoot([&] {
        const Result<FileSink> readOnly = FileSink::Open(old);
        return !readOnly && readOnly.error().reason() == "cannot create: Permission denied";
    }));
    EXPECT_EQ(ReadFile(old_), "last week\r\n");
    EXPECT_EQ(Names(dir_.dir()), std::set<std::string>{"old.csv"});
}

TEST_F(FileSinkTest, DevicesAndPipesAreWrittenInPlace) {
    {
        FileSink sink = Open("/dev/null");
        ASSERT_TRUE(sink.write(block_));
        EXPECT_EQ(Reason(sink.close()), "");
    }
    EXPECT_TRUE(S_ISCHR(Mode("/dev/null")));
    {
        FileSink sink = Open("/dev/full");
        sink.write(block_);
        sink.write(block_);
        EXPECT_EQ(Reason(sink.close()), "write failed: No space left on device");
    }
    EXPECT_TRUE(S_ISCHR(Mode("/dev/full")));

    // A FIFO in a folder of the test's own, which the sink could delete from.
    const fs::path fifo = dir_.dir() / "pipe";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    {
        const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
        ASSERT_GE(reader, 0);
        FileSink sink = Open(fifo);
        ASSERT_TRUE(sink.write("through the pipe"));
        EXPECT_EQ(Reason(sink.close()), "");
        char got[64] = {};
        EXPECT_EQ(::read(reader, got, sizeof got), 16);
        EXPECT_STREQ(got, "through the pipe");
        ::close(reader);
    }
    {
        const auto oldHandler = std::signal(SIGPIPE, SIG_IGN);
        const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
        ASSERT_GE(reader, 0);
        FileSink sink = Open(fifo);
        ::close(reader); // the reader goes away before the bytes arrive
        sink.write("lost");
        EXPECT_EQ(Reason(sink.close()), "write failed: Broken pipe");
        std::signal(SIGPIPE, oldHandler);
    }
    EXPECT_TRUE(S_ISFIFO(Mode(fifo)));
    EXPECT_EQ(Names(dir_.dir()), (std::set<std::string>{"old.csv", "pipe"}));
}

TEST_F(FileSinkTest, StandardOutputIsAppendedToNotReplaced) {
    // As `logdesk-report --output /dev/stdout >> old.csv` would run.
    struct stat before {};
    ASSERT_EQ(::stat(old_.c_str(), &before), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const int fd = ::open(old_.c_str(), O_WRONLY | O_APPEND);
        if (fd < 0 || ::dup2(fd, 1) < 0) {
            ::_exit(3);
        }
        Result<FileSink> sink = FileSink::Open("/dev/stdout");
        const bool written = sink && sink->write("appended") && sink->close();
        ::_exit(written ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(ReadFile(old_), "last week\r\nappended");
    struct stat after {};
    ASSERT_EQ(::stat(old_.c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino);
}

// A sink that refuses bytes without keeping a reason.
class RefusingSink final : public LineSink {
public:
    bool write(std::string_view) override { return false; }
    Result<void> status() const override { return {}; }
};

TEST_F(FileSinkTest, AnExportGivesItsFirstFailureAndOnlyThenReplaces) {
    const auto writeBlock = [&](LineSink& sink) -> Result<void> {
        return sink.write(block_) && sink.write(block_) ? Result<void>() : FailureOf(sink);
    };
    EXPECT_EQ(Reason(ExportToFile(dir_.dir() / "none" / "x.csv", writeBlock)),
              "cannot create: No such file or directory");
    // Written into the buffer, failed only when flushed on close.
    EXPECT_EQ(Reason(ExportToFile("/dev/full",
                                  [](LineSink& sink) -> Result<void> {
                                      return sink.write("x") ? Result<void>() : FailureOf(sink);
                                  })),
              "write failed: No space left on device");
    // A writer's own failure wins, and the file stays as it was.
    const Result<void> refused = ExportToFile(old_, [](LineSink& sink) -> Result<void> {
        sink.write("half");
        return Error{"cannot convert", {}, "bad cell", 0};
    });
    EXPECT_EQ(Reason(refused), "cannot convert: bad cell");
    EXPECT_EQ(ReadFile(old_), "last week\r\n");
    EXPECT_EQ(Names(dir_.dir()), std::set<std::string>{"old.csv"});

    ASSERT_TRUE(ExportToFile(old_, writeBlock));
    EXPECT_EQ(ReadFile(old_), block_ + block_);

    // A sink that fails without a reason is still a failure.
    RefusingSink refusing;
    EXPECT_EQ(FailureOf(refusing).reason(), "write failed");
}

} // namespace
} // namespace logdesk
