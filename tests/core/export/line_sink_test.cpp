#include "export/line_sink.h"
#include "support/import_test_support.h"

#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <set>
#include <sstream>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace logdesk {
namespace {

namespace fs = std::filesystem;
using testing::TempFile;

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
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
        FileSink sink(old_);
        ASSERT_TRUE(sink.ok()) << sink.error();
        sink.write(block_);
        sink.write(block_);
        EXPECT_FALSE(sink.close());
        EXPECT_NE(sink.error().find("File too large"), std::string::npos) << sink.error();
        EXPECT_FALSE(sink.close()); // asked again: the same answer
    });
    EXPECT_EQ(ReadFile(old_), "last week\r\n");
    EXPECT_EQ(Names(dir_.dir()), std::set<std::string>{"old.csv"});

    // Destroyed before close(): after a megabyte went out, and with bytes
    // still buffered.
    {
        FileSink sink(old_);
        ASSERT_TRUE(sink.write(block_));
        ASSERT_TRUE(sink.write("more"));
    }
    EXPECT_EQ(ReadFile(old_), "last week\r\n");
    EXPECT_EQ(Names(dir_.dir()), std::set<std::string>{"old.csv"});

    // A name that did not exist: nothing is left of a failed write.
    const fs::path fresh = dir_.dir() / "fresh.csv";
    WithFileSizeLimit(1 << 20, [&] {
        FileSink sink(fresh);
        sink.write(block_);
        sink.write(block_);
        EXPECT_FALSE(sink.close());
    });
    EXPECT_EQ(Names(dir_.dir()), std::set<std::string>{"old.csv"});
}

TEST_F(FileSinkTest, ReplacesWholeAndKeepsTheModes) {
    ::chmod(old_.c_str(), 0640);
    {
        FileSink sink(old_);
        ASSERT_TRUE(sink.write("this week\r\n"));
        // Nothing changes before close().
        EXPECT_EQ(ReadFile(old_), "last week\r\n");
        ASSERT_TRUE(sink.close()) << sink.error();
    }
    EXPECT_EQ(ReadFile(old_), "this week\r\n");
    EXPECT_EQ(Mode(old_) & 07777, 0640u);
    EXPECT_EQ(Names(dir_.dir()), std::set<std::string>{"old.csv"});

    const mode_t mask = ::umask(027);
    const fs::path fresh = dir_.dir() / "fresh.csv";
    {
        FileSink sink(fresh);
        ASSERT_TRUE(sink.write("new"));
        ASSERT_TRUE(sink.close());
    }
    ::umask(mask);
    EXPECT_EQ(ReadFile(fresh), "new");
    EXPECT_EQ(Mode(fresh) & 07777, 0640u); // 0666 less the umask

    // A long name still leaves room for the temporary's suffix.
    const fs::path longName = dir_.dir() / (std::string(250, 'n') + ".csv");
    FileSink sink(longName);
    ASSERT_TRUE(sink.write("long"));
    ASSERT_TRUE(sink.close()) << sink.error();
    EXPECT_EQ(ReadFile(longName), "long");
}

TEST_F(FileSinkTest, LinksAreFollowedAndKept) {
    const fs::path link = dir_.dir() / "link.csv";
    fs::create_symlink("old.csv", link);
    {
        FileSink sink(link);
        ASSERT_TRUE(sink.write("through the link"));
        ASSERT_TRUE(sink.close()) << sink.error();
    }
    EXPECT_TRUE(S_ISLNK(Mode(link)));
    EXPECT_EQ(ReadFile(old_), "through the link");

    // A link to a name that does not exist yet creates that name.
    fs::create_directory(dir_.dir() / "sub");
    const fs::path dangling = dir_.dir() / "dangling.csv";
    fs::create_symlink("sub/made.csv", dangling);
    {
        FileSink sink(dangling);
        ASSERT_TRUE(sink.write("made"));
        ASSERT_TRUE(sink.close()) << sink.error();
    }
    EXPECT_TRUE(S_ISLNK(Mode(dangling)));
    EXPECT_EQ(ReadFile(dir_.dir() / "sub" / "made.csv"), "made");
    EXPECT_EQ(Names(dir_.dir() / "sub"), std::set<std::string>{"made.csv"});

    const fs::path loop = dir_.dir() / "loop.csv";
    fs::create_symlink("loop.csv", loop);
    FileSink looping(loop);
    EXPECT_FALSE(looping.ok());
    EXPECT_NE(looping.error().find("Too many levels of symbolic links"), std::string::npos);
}

TEST_F(FileSinkTest, RefusesWhatCannotBeWritten) {
    FileSink missingDir("/nonexistent-dir/out.csv");
    EXPECT_FALSE(missingDir.ok());
    EXPECT_NE(missingDir.error().find("No such file or directory"), std::string::npos);
    EXPECT_FALSE(missingDir.write("x"));
    EXPECT_FALSE(missingDir.close());

    FileSink directory(dir_.dir());
    EXPECT_FALSE(directory.ok());

    // A file the user may not write, in a folder where a new file could be
    // renamed over it. Root may write anything, so root tries as nobody.
    ::chmod(old_.c_str(), 0444);
    ::chmod(dir_.dir().c_str(), 0777);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) {
            ::_exit(3);
        }
        FileSink readOnly(old_);
        const bool refused =
            !readOnly.ok() && readOnly.error().find("Permission denied") != std::string::npos;
        readOnly.write("overwritten");
        readOnly.close();
        ::_exit(refused ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(ReadFile(old_), "last week\r\n");
    EXPECT_EQ(Names(dir_.dir()), std::set<std::string>{"old.csv"});
}

TEST_F(FileSinkTest, DevicesAndPipesAreWrittenInPlace) {
    {
        FileSink sink("/dev/null");
        ASSERT_TRUE(sink.write(block_));
        EXPECT_TRUE(sink.close()) << sink.error();
    }
    EXPECT_TRUE(S_ISCHR(Mode("/dev/null")));
    {
        FileSink sink("/dev/full");
        sink.write(block_);
        sink.write(block_);
        EXPECT_FALSE(sink.close());
        EXPECT_NE(sink.error().find("No space left on device"), std::string::npos);
    }
    EXPECT_TRUE(S_ISCHR(Mode("/dev/full")));

    // A FIFO in a folder of the test's own, which the sink could delete from.
    const fs::path fifo = dir_.dir() / "pipe";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    {
        const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
        ASSERT_GE(reader, 0);
        FileSink sink(fifo);
        ASSERT_TRUE(sink.write("through the pipe"));
        EXPECT_TRUE(sink.close()) << sink.error();
        char got[64] = {};
        EXPECT_EQ(::read(reader, got, sizeof got), 16);
        EXPECT_STREQ(got, "through the pipe");
        ::close(reader);
    }
    {
        const auto oldHandler = std::signal(SIGPIPE, SIG_IGN);
        const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
        ASSERT_GE(reader, 0);
        FileSink sink(fifo);
        ::close(reader); // the reader goes away before the bytes arrive
        sink.write("lost");
        EXPECT_FALSE(sink.close());
        EXPECT_NE(sink.error().find("Broken pipe"), std::string::npos) << sink.error();
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
        FileSink sink("/dev/stdout");
        const bool written = sink.write("appended") && sink.close();
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

TEST_F(FileSinkTest, SameFileSeesThroughLinks) {
    const fs::path hard = dir_.dir() / "hard.log";
    const fs::path soft = dir_.dir() / "soft.log";
    fs::create_hard_link(old_, hard);
    fs::create_symlink(hard, soft);
    EXPECT_TRUE(SameFile(old_, old_));
    EXPECT_TRUE(SameFile(old_, hard));
    EXPECT_TRUE(SameFile(soft, old_));
    EXPECT_TRUE(SameFile((dir_.dir() / "." / "old.csv").string(), old_));
    const fs::path other = dir_.dir() / "other.log";
    std::ofstream(other) << "last week\r\n";
    EXPECT_FALSE(SameFile(other, old_));
    EXPECT_FALSE(SameFile(dir_.dir() / "missing", old_));
    EXPECT_FALSE(SameFile(dir_.dir() / "missing", dir_.dir() / "missing"));
}

} // namespace
} // namespace logdesk
