// Everything the core asks of the operating system. One implementation per
// system (platform_posix.cpp here); no other core file talks to the system
// directly.
//
// Paths are file system bytes. A failed call gives an Error whose `what`
// names the operation in plain words ("cannot open"), whose path is the path
// the call was given and whose cause is the system's text; callers with
// words of their own put them in `what`. Interrupted calls are retried.
#pragma once

#include "result.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace logdesk {

// Makes a write past the process's file size limit (`ulimit -f`) fail with
// EFBIG, which the writer reports and recovers from (an export's temporary
// file is removed), instead of ending the process on the spot. Called once
// at start-up, before any thread exists.
void KeepWritingPastFileSizeLimit();

// The system's text for an errno value; safe on any thread.
std::string ErrnoText(int code);

// Owns an open file descriptor and closes it once, when destroyed or by
// close(). Descriptors are the C runtime's on every system, so that standard
// output is descriptor 1 everywhere.
class FileDescriptor {
public:
    FileDescriptor() = default;
    explicit FileDescriptor(int fd) : fd_(fd) {}
    FileDescriptor(FileDescriptor&& other) noexcept : fd_(other.release()) {}
    FileDescriptor& operator=(FileDescriptor&& other) noexcept;
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    // Closes without a word: a failure to close matters only for a file
    // that was written, and such a file is closed with close().
    ~FileDescriptor();

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    // Gives up ownership; the descriptor stays open.
    int release() {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }
    // Closes now. A failure means written bytes may not have reached the
    // file; the descriptor is closed whatever the answer.
    Result<void> close();

private:
    int fd_ = -1;
};

// For reading, never disturbing a writer that holds the file open.
Result<FileDescriptor> OpenForReading(const std::string& path);

// An existing file for writing in place: neither created nor truncated, at
// its end when `append` is set, never becoming the controlling terminal.
Result<FileDescriptor> OpenForWriting(const std::string& path, bool append);

// Reads up to size bytes; 0 at the end of the file.
Result<std::size_t> ReadSome(int fd, char* buffer, std::size_t size);

// Reads up to size bytes from `offset` on, leaving the descriptor's position
// where it was; 0 at or past the end of the file.
Result<std::size_t> ReadAt(int fd, char* buffer, std::size_t size, std::uint64_t offset);

// Where reading the open file goes on, in bytes from its start; nothing for
// a pipe or a failed query.
std::optional<std::uint64_t> ReadPosition(int fd);

// Whether the process may open the file for reading: opened and closed again
// at once, without waiting for a FIFO's writer or taking a terminal.
Result<void> CheckReadable(const std::string& path);

// A character or block device other than a terminal and the null device
// (/dev/zero, /dev/urandom, a disk): what it gives is endless, or no text. A
// path that cannot be examined is no such device.
bool IsDeviceOtherThanTerminal(const std::string& path);
bool IsDeviceOtherThanTerminal(int fd);

// What a path (its symbolic links followed) or an open file is.
struct FileStatus {
    enum Kind {
        Regular,
        Directory,
        Other, // a FIFO, a device, a socket
    };
    Kind kind = Other;
    std::uint64_t size = 0; // regular files; 0 for the others
    // Together the file's identity: equal for every name and link of one file.
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
};
Result<FileStatus> StatusOf(const std::string& path);
Result<FileStatus> StatusOfOpen(int fd);

// The names of the entries of a folder, "." and ".." left out, in the order
// the system lists them.
Result<std::vector<std::string>> ListFolder(const std::string& path);

// Writes every byte, going on after short writes.
Result<void> WriteAll(int fd, std::string_view bytes);

// Makes the file's bytes durable. A file system that keeps nothing to sync
// (a pipe, a device, some special mounts) counts as synced.
Result<void> SyncFile(int fd);

// Makes a rename or creation in the folder holding path durable; best
// effort, as a failure here loses nothing that is not already in place.
void SyncDirectoryOf(const std::string& path);

// Replaces `to` by `from` in one step, as seen by every other process.
Result<void> RenameFile(const std::string& from, const std::string& to);

// Removes a file the program made and no longer wants; best effort.
void DiscardFile(const std::string& path);

// The size of the open file when it is a regular file; nothing for a pipe,
// a device or a failed query.
std::optional<std::uint64_t> RegularFileSize(int fd);

// True when both paths name one existing file (the same file on the same
// device), also through hard links and symbolic links.
bool SameFile(const std::string& a, const std::string& b);

// Whether the process may create and remove files in the folder.
bool CanCreateFilesIn(const std::string& dir);

// Whether the process may write the existing file; the refusal as an Error.
Result<void> CheckWritable(const std::string& path);

// A file of the program's own, new, beside target in the same folder and
// named after it. The name carries a random part and is created exclusively,
// with other names tried on a clash, so no other writer's file is ever
// taken over.
struct TemporaryFile {
    FileDescriptor file;
    std::string path;
};
Result<TemporaryFile> CreateTemporaryBeside(const std::string& target);

// Gives the open file the permission bits of the file at `from`, and its
// owner and group where the process may give them. Nothing is done when
// `from` does not exist.
Result<void> CopyAccessRights(const std::string& from, int fd);

// The file path leads to once its symbolic links are followed, or path
// itself when that fails; a name that does not exist yet stays as it is.
std::string FollowLinks(const std::string& path);

// What writing to a path means.
struct WriteTarget {
    enum Kind {
        New,     // nothing there yet: the file at `path` is to be created
        Regular, // a regular file at `path`, to be replaced whole
        InPlace, // a device, a FIFO, a terminal or a descriptor: written as it is
    };
    Kind kind = New;
    std::string path;    // what to create, replace or open
    bool append = false; // InPlace: a regular file reached through a descriptor
};
// Follows the links of path one by one, so that a link to a name that does
// not exist yet leads to that name. A link standing for an open descriptor
// (as /dev/stdout does) is not followed: the system opens what it refers to,
// which may have no name at all.
Result<WriteTarget> ResolveWriteTarget(const std::string& path);


// ---- Big buffers -----------------------------------------------------------
//
// Memory for buffers of megabytes that are filled once and then read: the
// import's buffers of log text, the sources' rings. The first touch of each
// fresh page costs a kernel fault, so a buffer of 2 MiB or more is mapped on
// its own, 2 MiB aligned and advised for transparent huge pages where the
// system offers them (one fault per 2 MiB instead of one per 4 KiB); smaller
// ones, and every one where mapping fails, come from the C heap. A released
// buffer goes back to a pool of the process and is handed out again to the
// next request it fits, its pages already in place, so a streaming import
// or a second pass over the same logs faults only once. Thread-safe.
namespace bigbuffer {
// Requests below this are ordinary heap memory and never pooled.
inline constexpr std::size_t kMappedFrom = std::size_t{2} << 20;
// Bytes of released buffers the pool keeps at most; beyond them the least
// recently released go back to the system.
inline constexpr std::size_t kPoolLimit = std::size_t{512} << 20;
} // namespace bigbuffer

class BigBuffer {
public:
    BigBuffer() = default;
    // At least `size` bytes, their contents unspecified (a pooled buffer
    // keeps what it held); an empty buffer (data() null) when memory cannot
    // be had. A size of 0 gives an empty buffer.
    static BigBuffer allocate(std::size_t size);

    BigBuffer(BigBuffer&& other) noexcept;
    BigBuffer& operator=(BigBuffer&& other) noexcept;
    BigBuffer(const BigBuffer&) = delete;
    BigBuffer& operator=(const BigBuffer&) = delete;
    ~BigBuffer() { release(); }

    char* data() const { return data_; }
    // The bytes asked for; the buffer may own more.
    std::size_t size() const { return size_; }
    explicit operator bool() const { return data_ != nullptr; }

    // Gives the buffer `size` bytes, keeping the first of them up to the
    // smaller of the two sizes; a mapped buffer grows or shrinks in place
    // where it can and is remapped, not copied, where it cannot. False when
    // memory cannot be had: the buffer stays as it was.
    bool resize(std::size_t size);
    // Returns the memory to the pool (mapped) or the heap; the buffer is
    // empty afterwards.
    void release();

private:
    char* data_ = nullptr;
    std::size_t size_ = 0;
    std::size_t owned_ = 0; // mapped bytes; 0 for heap memory
};

// The same memory for containers, which give back the size they asked for:
// what AllocateBigBytes(bytes) gives goes back through ReleaseBigBytes with
// those bytes. Throws std::bad_alloc.
void* AllocateBigBytes(std::size_t bytes);
void ReleaseBigBytes(void* memory, std::size_t bytes) noexcept;

// A standard allocator over AllocateBigBytes, for containers that grow to
// megabytes (hash tables of the statistics pages).
template <typename T> struct BigBufferAllocator {
    using value_type = T;
    BigBufferAllocator() = default;
    template <typename U> BigBufferAllocator(const BigBufferAllocator<U>&) noexcept {}
    T* allocate(std::size_t n) { return static_cast<T*>(AllocateBigBytes(n * sizeof(T))); }
    void deallocate(T* p, std::size_t n) noexcept { ReleaseBigBytes(p, n * sizeof(T)); }
    template <typename U> bool operator==(const BigBufferAllocator<U>&) const noexcept {
        return true;
    }
};

// What the pool has done in this process, for benchmarks and tests.
struct BigBufferCounts {
    std::uint64_t mapped = 0;     // buffers mapped afresh
    std::uint64_t reused = 0;     // requests served from the pool
    std::uint64_t pooledBytes = 0; // bytes waiting in the pool now
    bool hugePages = false;       // the system takes the huge-page advice
};
BigBufferCounts BigBufferStatistics();
// Gives every pooled buffer back to the system.
void TrimBigBufferPool();

} // namespace logdesk
