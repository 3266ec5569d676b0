#include "core/base/platform.h"
#include "core/base/whole_files.h"
#include "support/file_test_support.h"

#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <set>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace logdesk {
namespace {

namespace fs = std::filesystem;
using testing::InChildWithoutRoot;
using testing::ReadFile;
using testing::TempFile;

std::set<std::string> Names(const fs::path& dir) {
    std::set<std::string> names;
    for (const fs::directory_entry& entry : fs::directory_iterator(dir)) {
        names.insert(entry.path().filename().string());
    }
    return names;
}

class PlatformTest : public ::testing::Test {
protected:
    TempFile dir_{"old\r\n", "kept.ini"};
    std::string target_ = dir_.path();
    std::string missing_ = (dir_.dir() / "none" / "out.csv").string();
};

TEST_F(PlatformTest, AMissingFolderFailsWithThePathAndTheSystemsWords) {
    const Result<FileDescriptor> opened = OpenForReading(missing_);
    ASSERT_FALSE(opened);
    EXPECT_EQ(opened.error().code, ENOENT);
    EXPECT_EQ(opened.error().line(), missing_ + ": cannot open: No such file or directory");

    const Result<std::string> whole = ReadWholeFile(missing_);
    ASSERT_FALSE(whole);
    EXPECT_EQ(whole.error().code, ENOENT); // what a missing settings file is told by

    const Result<TemporaryFile> temporary = CreateTemporaryBeside(missing_);
    ASSERT_FALSE(temporary);
    EXPECT_EQ(temporary.error().reason(), "cannot create: No such file or directory");
    EXPECT_FALSE(FileReplacement::Begin(missing_));
    const Result<WriteTarget> target = ResolveWriteTarget(missing_);
    ASSERT_FALSE(target);
    EXPECT_EQ(target.error().code, ENOENT);
    EXPECT_FALSE(CanCreateFilesIn((dir_.dir() / "none").string()));

    // A folder opens but does not read.
    const Result<std::string> folder = ReadWholeFile(dir_.dir().string());
    ASSERT_FALSE(folder);
    EXPECT_EQ(folder.error().reason(), "cannot read: Is a directory");
    EXPECT_EQ(folder.error().path, dir_.dir().string());
}

TEST_F(PlatformTest, AReadOnlyFolderRefusesNewFilesAndKeepsItsOwn) {
    ::chmod(target_.c_str(), 0644);
    ::chmod(dir_.dir().c_str(), 0555);
    const std::string target = target_;
    EXPECT_TRUE(InChildWithoutRoot([&] {
        const Result<FileReplacement> replacement = FileReplacement::Begin(target);
        const Result<void> writable = CheckWritable(target);
        return !replacement && replacement.error().code == EACCES &&
               replacement.error().what == "cannot create" && !writable &&
               writable.error().code == EACCES && !CanCreateFilesIn(fs::path(target).parent_path());
    }));
    ::chmod(dir_.dir().c_str(), 0755);
    EXPECT_EQ(ReadFile(target_), "old\r\n");
    EXPECT_EQ(Names(dir_.dir()), std::set<std::string>{"kept.ini"});
}

TEST_F(PlatformTest, AReplacementTakesThePlaceWholeOrNotAtAll) {
    ::chmod(target_.c_str(), 0600);
    {
        // Two at once get names of their own.
        Result<TemporaryFile> first = CreateTemporaryBeside(target_);
        Result<TemporaryFile> second = CreateTemporaryBeside(target_);
        ASSERT_TRUE(first && second);
        EXPECT_NE(first->path, second->path);
        EXPECT_TRUE(first->path.starts_with(target_ + ".tmp")) << first->path;
        EXPECT_EQ(Names(dir_.dir()).size(), 3u);
        DiscardFile(first->path);
        DiscardFile(second->path);
    }
    {
        Result<FileReplacement> abandoned = FileReplacement::Begin(target_);
        ASSERT_TRUE(abandoned);
        ASSERT_TRUE(WriteAll(abandoned->descriptor(), "lost"));
    }
    EXPECT_EQ(ReadFile(target_), "old\r\n");
    EXPECT_EQ(Names(dir_.dir()), std::set<std::string>{"kept.ini"});

    Result<FileReplacement> replacement = FileReplacement::Begin(target_);
    ASSERT_TRUE(replacement);
    ASSERT_TRUE(WriteAll(replacement->descriptor(), "new\r\n"));
    EXPECT_EQ(ReadFile(target_), "old\r\n");
    ASSERT_TRUE(replacement->commit());
    EXPECT_EQ(ReadFile(target_), "new\r\n");
    EXPECT_EQ(fs::status(target_).permissions(), fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(Names(dir_.dir()), std::set<std::string>{"kept.ini"});
    EXPECT_FALSE(replacement->commit()); // once only
}

TEST_F(PlatformTest, DescriptorsCloseOnceAndWriteFailuresAreReported) {
    int fd = -1;
    {
        Result<FileDescriptor> opened = OpenForReading(target_);
        ASSERT_TRUE(opened);
        const FileDescriptor file = std::move(opened).value();
        fd = file.get();
        char bytes[16] = {};
        const Result<std::size_t> got = ReadSome(file.get(), bytes, sizeof bytes);
        ASSERT_TRUE(got);
        EXPECT_EQ(std::string(bytes, *got), "old\r\n");
        EXPECT_GE(::fcntl(fd, F_GETFD), 0);
    }
    EXPECT_EQ(::fcntl(fd, F_GETFD), -1); // closed with its owner

    Result<FileDescriptor> full = OpenForWriting("/dev/full", false);
    ASSERT_TRUE(full);
    const Result<void> written = WriteAll(full->get(), "x");
    ASSERT_FALSE(written);
    EXPECT_EQ(written.error().reason(), "write failed: No space left on device");
    EXPECT_TRUE(SyncFile(full->get())); // a device keeps nothing to sync
    EXPECT_TRUE(full->close());
    EXPECT_FALSE(full->valid());
}

TEST_F(PlatformTest, SameFileSeesThroughLinks) {
    const fs::path hard = dir_.dir() / "hard.log";
    const fs::path soft = dir_.dir() / "soft.log";
    fs::create_hard_link(target_, hard);
    fs::create_symlink(hard, soft);
    EXPECT_TRUE(SameFile(target_, target_));
    EXPECT_TRUE(SameFile(target_, hard));
    EXPECT_TRUE(SameFile(soft, target_));
    EXPECT_TRUE(SameFile((dir_.dir() / "." / "kept.ini").string(), target_));
    const fs::path other = dir_.dir() / "other.log";
    std::ofstream(other) << "old\r\n";
    EXPECT_FALSE(SameFile(other, target_));
    EXPECT_FALSE(SameFile(dir_.dir() / "missing", target_));
    EXPECT_FALSE(SameFile(dir_.dir() / "missing", dir_.dir() / "missing"));
}

TEST_F(PlatformTest, WhatAFileIsAndWhatAFolderHolds) {
    const std::string file = (dir_.dir() / "ex130501.log").string();
    std::ofstream(file, std::ios::binary) << "0123456789";
    const std::string link = (dir_.dir() / "today.log").string();
    fs::create_symlink("ex130501.log", link);
    const std::string fifo = (dir_.dir() / "pipe.log").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);

    const Result<FileStatus> regular = StatusOf(file);
    ASSERT_TRUE(regular);
    EXPECT_EQ(regular->kind, FileStatus::Regular);
    EXPECT_EQ(regular->size, 10u);
    const Result<FileStatus> linked = StatusOf(link);
    ASSERT_TRUE(linked);
    EXPECT_EQ(std::pair(linked->device, linked->inode), std::pair(regular->device, regular->inode));
    EXPECT_EQ(StatusOf(dir_.dir().string())->kind, FileStatus::Directory);
    EXPECT_EQ(StatusOf(fifo)->kind, FileStatus::Other);
    EXPECT_EQ(StatusOf(fifo)->size, 0u);
    EXPECT_EQ(StatusOf(missing_).error().code, ENOENT);

    // A FIFO without a writer does not hold the check up.
    EXPECT_TRUE(CheckReadable(fifo));
    EXPECT_TRUE(CheckReadable(file));
    EXPECT_EQ(CheckReadable(missing_).error().line(),
              missing_ + ": cannot open: No such file or directory");

    const Result<std::vector<std::string>> names = ListFolder(dir_.dir().string());
    ASSERT_TRUE(names);
    EXPECT_EQ(std::set<std::string>(names->begin(), names->end()), Names(dir_.dir()));
    EXPECT_EQ(ListFolder(file).error().code, ENOTDIR);

    // Reading at an offset leaves the position where it was.
    const Result<FileDescriptor> opened = OpenForReading(file);
    ASSERT_TRUE(opened);
    char buffer[8] = {};
    ASSERT_EQ(*ReadSome(opened->get(), buffer, 2), 2u);
    EXPECT_EQ(*ReadAt(opened->get(), buffer, 4, 7), 3u);
    EXPECT_EQ(std::string(buffer, 3), "789");
    EXPECT_EQ(*ReadAt(opened->get(), buffer, 4, 20), 0u);
    EXPECT_EQ(ReadPosition(opened->get()), std::optional<std::uint64_t>(2));
    EXPECT_EQ(StatusOfOpen(opened->get())->inode, regular->inode);
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    EXPECT_EQ(ReadPosition(fds[0]), std::nullopt);
    EXPECT_FALSE(ReadAt(fds[0], buffer, 1, 0));
    ::close(fds[0]);
    ::close(fds[1]);
}

// Fills [0, n) with a pattern that tells every byte's place.
void Fill(char* bytes, std::size_t n) {
    for (std::size_t i = 0; i < n; i += 4093) {
        bytes[i] = static_cast<char>(i / 4093);
    }
}
bool Holds(const char* bytes, std::size_t n) {
    for (std::size_t i = 0; i < n; i += 4093) {
        if (bytes[i] != static_cast<char>(i / 4093)) {
            return false;
        }
    }
    return true;
}

constexpr std::size_t kMiB = std::size_t{1} << 20;

TEST(BigBufferTest, ResizingKeepsTheBytesAcrossHeapAndMappedMemory) {
    TrimBigBufferPool();
    BigBuffer small = BigBuffer::allocate(100 * 1024);
    ASSERT_TRUE(small);
    Fill(small.data(), small.size());
    // Heap memory that grows into a mapping, then grows by remapping and
    // shrinks again.
    for (const std::size_t size : {3 * kMiB, 40 * kMiB, 5 * kMiB + 17, std::size_t{4096}}) {
        const std::size_t kept = std::min(size, small.size());
        ASSERT_TRUE(small.resize(size));
        EXPECT_EQ(small.size(), size);
        EXPECT_TRUE(Holds(small.data(), kept)) << size;
        Fill(small.data(), size);
    }
    BigBuffer big = BigBuffer::allocate(9 * kMiB);
    ASSERT_TRUE(big);
    // Mapped afresh on a huge-page boundary, so that every 2 MiB can be one page.
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(big.data()) % (2 * kMiB), 0u);
    Fill(big.data(), big.size());
    BigBuffer moved = std::move(big);
    EXPECT_FALSE(big);
    EXPECT_TRUE(Holds(moved.data(), 9 * kMiB));
    EXPECT_FALSE(BigBuffer::allocate(0));
}

TEST(BigBufferTest, ReleasedBuffersAreHandedOutAgainUpToThePoolLimit) {
    TrimBigBufferPool();
    const BigBufferCounts before = BigBufferStatistics();
    BigBuffer first = BigBuffer::allocate(8 * kMiB);
    ASSERT_TRUE(first);
    Fill(first.data(), first.size());
    char* const at = first.data();
    first.release();
    EXPECT_FALSE(first);
    EXPECT_EQ(BigBufferStatistics().pooledBytes, 8 * kMiB);

    // The next request it fits gets it, pages and bytes as they were.
    BigBuffer again = BigBuffer::allocate(7 * kMiB);
    EXPECT_EQ(again.data(), at);
    EXPECT_TRUE(Holds(again.data(), 7 * kMiB));
    EXPECT_EQ(BigBufferStatistics().reused, before.reused + 1);
    EXPECT_EQ(BigBufferStatistics().pooledBytes, 0u);
    // One that does not fit is mapped afresh.
    BigBuffer larger = BigBuffer::allocate(20 * kMiB);
    EXPECT_NE(larger.data(), at);
    again.release();
    larger.release();
    EXPECT_EQ(BigBufferStatistics().pooledBytes, 28 * kMiB);
    // The smallest that fits; one many times the size asked is cut down to it.
    BigBuffer best = BigBuffer::allocate(3 * kMiB);
    EXPECT_EQ(best.data(), at);
    EXPECT_EQ(BigBufferStatistics().pooledBytes, 20 * kMiB);
    BigBuffer cut = BigBuffer::allocate(5 * kMiB);
    EXPECT_EQ(BigBufferStatistics().pooledBytes, 0u);
    cut.release();
    EXPECT_EQ(BigBufferStatistics().pooledBytes, 6 * kMiB);
    best.release();

    // The pool keeps at most its limit, dropping the oldest first.
    std::vector<BigBuffer> many;
    for (std::size_t held = 0; held < 2 * bigbuffer::kPoolLimit; held += 64 * kMiB) {
        many.push_back(BigBuffer::allocate(64 * kMiB));
        ASSERT_TRUE(many.back());
    }
    many.clear();
    EXPECT_LE(BigBufferStatistics().pooledBytes, bigbuffer::kPoolLimit);
    EXPECT_GE(BigBufferStatistics().pooledBytes, bigbuffer::kPoolLimit - 64 * kMiB);
    TrimBigBufferPool();
    EXPECT_EQ(BigBufferStatistics().pooledBytes, 0u);
}

TEST(BigBufferTest, ContainersGiveTheirMemoryBackToThePoolBySize) {
    TrimBigBufferPool();
    {
        std::vector<std::uint64_t, BigBufferAllocator<std::uint64_t>> keys;
        for (std::uint64_t k = 0; k < (std::uint64_t{1} << 20); ++k) {
            keys.push_back(k * 7);
        }
        // Grown through heap memory into mappings of 2, 4 and 8 MiB, the
        // smaller ones released to the pool on the way.
        EXPECT_EQ(keys[12345], 12345u * 7);
        EXPECT_EQ(keys.back(), ((std::uint64_t{1} << 20) - 1) * 7);
        EXPECT_EQ(BigBufferStatistics().pooledBytes, 6 * kMiB);
    }
    EXPECT_EQ(BigBufferStatistics().pooledBytes, 14 * kMiB);
    // The smallest that fits, cut to the request's own size, so that giving
    // it back by that size releases exactly what it holds.
    void* fits = AllocateBigBytes(3 * kMiB);
    EXPECT_EQ(BigBufferStatistics().pooledBytes, 10 * kMiB);
    void* cut = AllocateBigBytes(5 * kMiB);
    EXPECT_EQ(BigBufferStatistics().pooledBytes, 2 * kMiB);
    ReleaseBigBytes(cut, 5 * kMiB);
    EXPECT_EQ(BigBufferStatistics().pooledBytes, 8 * kMiB);
    ReleaseBigBytes(fits, 3 * kMiB);
    EXPECT_EQ(BigBufferStatistics().pooledBytes, 12 * kMiB);
    TrimBigBufferPool();
}

} // namespace
} // namespace logdesk
