#include "platform.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <linux/magic.h>
#include <memory>
#include <mutex>
#include <new>
#include <random>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace logdesk {

namespace {

// Symbolic links followed before giving up, as the kernel does.
constexpr int kMaxLinks = 40;
// Bytes of the target's name kept in a temporary file's name, so that the
// suffix still fits the 255 bytes a name may have.
constexpr std::size_t kNameKept = 200;
constexpr int kTemporaryAttempts = 100;

Error Failed(const char* what, const std::string& path, int code = errno) {
    return SystemError(code, what, path);
}

// The folder part of path: "." for a bare name, "/" for a name in the root.
std::string DirectoryOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

// The target of a symbolic link; false with errno set when it cannot be read.
bool ReadLink(const std::string& path, std::string& target) {
    std::string buffer(256, '\0');
    for (;;) {
        const ssize_t n = ::readlink(path.c_str(), buffer.data(), buffer.size());
        if (n < 0) {
            return false;
        }
        if (static_cast<std::size_t>(n) < buffer.size()) {
            target.assign(buffer.data(), static_cast<std::size_t>(n));
            return true;
        }
        buffer.resize(buffer.size() * 2);
    }
}

// strerror_r comes in two kinds: the GNU one returns its text (which need
// not be in the buffer), the POSIX one fills the buffer and returns 0.
[[maybe_unused]] std::string StrerrorText(const char* text, const char*) {
    return text;
}
[[maybe_unused]] std::string StrerrorText(int status, const char* buffer) {
    return status == 0 ? std::string(buffer) : std::string("Unknown error");
}

} // namespace

std::string ErrnoText(int code) {
    char buffer[256] = {};
    return StrerrorText(::strerror_r(code, buffer, sizeof buffer), buffer);
}

FileDescriptor& FileDescriptor::operator=(FileDescriptor&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) {
            ::close(fd_);
        }
        fd_ = other.release();
    }
    return *this;
}

FileDescriptor::~FileDescriptor() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

Result<void> FileDescriptor::close() {
    if (fd_ < 0) {
        return {};
    }
    // Linux frees the descriptor even when close() fails, EINTR included:
    // retrying could close a descriptor another thread just opened. Any
    // failure counts, since bytes may not have been written back.
    if (::close(release()) != 0) {
        return Failed("write failed", {});
    }
    return {};
}

void KeepWritingPastFileSizeLimit() {
    ::signal(SIGXFSZ, SIG_IGN);
}

Result<FileDescriptor> OpenForReading(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return Failed("cannot open", path);
    }
    return FileDescriptor(fd);
}

Result<FileDescriptor> OpenForWriting(const std::string& path, bool append) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC | (append ? O_APPEND : 0));
    if (fd < 0) {
        return Failed("cannot open", path);
    }
    return FileDescriptor(fd);
}

Result<std::size_t> ReadSome(int fd, char* buffer, std::size_t size) {
    for (;;) {
        const ssize_t n = ::read(fd, buffer, size);
        if (n >= 0) {
            return static_cast<std::size_t>(n);
        }
        if (errno != EINTR) {
            return Failed("cannot read", {});
        }
    }
}

Result<std::size_t> ReadAt(int fd, char* buffer, std::size_t size, std::uint64_t offset) {
    for (;;) {
        const ssize_t n = ::pread(fd, buffer, size, static_cast<off_t>(offset));
        if (n >= 0) {
            return static_cast<std::size_t>(n);
        }
        if (errno != EINTR) {
            return Failed("cannot read", {});
        }
    }
}

std::optional<std::uint64_t> ReadPosition(int fd) {
    const off_t at = ::lseek(fd, 0, SEEK_CUR);
    if (at < 0) {
        return std::nullopt;
    }
    return static_cast<std::uint64_t>(at);
}

Result<void> CheckReadable(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0 && S_ISFIFO(info.st_mode)) {
        // Opening a FIFO's reading end and closing it again would end a
        // writer that is already waiting (it gets SIGPIPE), and the real
        // open after it would then wait for a writer that is gone: the
        // permission alone is checked, and the FIFO is opened once, later.
        if (::faccessat(AT_FDCWD, path.c_str(), R_OK, AT_EACCESS) != 0) {
            return Failed("cannot open", path);
        }
        return {};
    }
    // O_NONBLOCK: a device that waits for data would hold the caller up.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        return Failed("cannot open", path);
    }
    ::close(fd);
    return {};
}

namespace {

// A device, and not the null device, which ends at once like an empty file.
bool EndlessOrBinaryDevice(const struct stat& info) {
    if (!(S_ISCHR(info.st_mode) || S_ISBLK(info.st_mode))) {
        return false;
    }
    struct stat null {};
    return !(S_ISCHR(info.st_mode) && ::stat("/dev/null", &null) == 0 &&
             info.st_rdev == null.st_rdev);
}

} // namespace

bool IsDeviceOtherThanTerminal(int fd) {
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !EndlessOrBinaryDevice(info)) {
        return false;
    }
    return ::isatty(fd) == 0;
}

bool IsDeviceOtherThanTerminal(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0 || !EndlessOrBinaryDevice(info)) {
        return false;
    }
    // Only a terminal's own descriptor says it is one; O_NOCTTY keeps it
    // from becoming the controlling terminal, O_NONBLOCK from waiting.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        return true; // whatever the reason, it is not read as a log
    }
    const bool terminal = ::isatty(fd) != 0;
    ::close(fd);
    return !terminal;
}

namespace {

FileStatus StatusFrom(const struct stat& info) {
    FileStatus status;
    status.kind = S_ISREG(info.st_mode)   ? FileStatus::Regular
                  : S_ISDIR(info.st_mode) ? FileStatus::Directory
                                          : FileStatus::Other;
    status.size = S_ISREG(info.st_mode) ? static_cast<std::uint64_t>(info.st_size) : 0;
    status.device = static_cast<std::uint64_t>(info.st_dev);
    status.inode = static_cast<std::uint64_t>(info.st_ino);
    return status;
}

} // namespace

Result<FileStatus> StatusOf(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        return Failed("cannot examine", path);
    }
    return StatusFrom(info);
}

Result<FileStatus> StatusOfOpen(int fd) {
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        return Failed("cannot examine", {});
    }
    return StatusFrom(info);
}

Result<std::vector<std::string>> ListFolder(const std::string& path) {
    const std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(path.c_str()), &::closedir);
    if (dir == nullptr) {
        return Failed("cannot list", path);
    }
    std::vector<std::string> names;
    for (;;) {
        errno = 0;
        const dirent* entry = ::readdir(dir.get());
        if (entry == nullptr) {
            if (errno != 0) {
                return Failed("cannot list", path);
            }
            return names;
        }
        const std::string_view name = entry->d_name;
        if (name != "." && name != "..") {
            names.emplace_back(name);
        }
    }
}

Result<void> WriteAll(int fd, std::string_view bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            return Failed("write failed", {});
        }
        if (n == 0) {
            return Failed("write failed", {}, EIO);
        }
        done += static_cast<std::size_t>(n);
    }
    return {};
}

Result<void> SyncFile(int fd) {
    // EINVAL: the file is of a kind that keeps no data to sync.
    if (::fsync(fd) != 0 && errno != EINVAL) {
        return Failed("write failed", {});
    }
    return {};
}

void SyncDirectoryOf(const std::string& path) {
    const int fd = ::open(DirectoryOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

Result<void> RenameFile(const std::string& from, const std::string& to) {
    if (::rename(from.c_str(), to.c_str()) != 0) {
        return Failed("cannot rename", to);
    }
    return {};
}

void DiscardFile(const std::string& path) {
    ::unlink(path.c_str());
}

std::optional<std::uint64_t> RegularFileSize(int fd) {
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        return std::nullopt;
    }
    return static_cast<std::uint64_t>(info.st_size);
}

bool SameFile(const std::string& a, const std::string& b) {
    struct stat first {};
    struct stat second {};
    return ::stat(a.c_str(), &first) == 0 && ::stat(b.c_str(), &second) == 0 &&
           first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

bool CanCreateFilesIn(const std::string& dir) {
    return !dir.empty() && ::access(dir.c_str(), W_OK | X_OK) == 0;
}

Result<void> CheckWritable(const std::string& path) {
    if (::access(path.c_str(), W_OK) != 0) {
        return Failed("cannot write", path);
    }
    return {};
}

Result<TemporaryFile> CreateTemporaryBeside(const std::string& target) {
    const std::size_t slash = target.rfind('/');
    const std::string dir = slash == std::string::npos ? "" : target.substr(0, slash + 1);
    const std::string base = target.substr(slash == std::string::npos ? 0 : slash + 1, kNameKept);
    const std::string stem = dir + base + ".tmp" + std::to_string(::getpid()) + "-";
    std::random_device random;
    for (int attempt = 0; attempt < kTemporaryAttempts; ++attempt) {
        std::string path = stem + std::to_string(random());
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            return TemporaryFile{FileDescriptor(fd), std::move(path)};
        }
        if (errno != EEXIST) {
            return Failed("cannot create", path);
        }
    }
    return Failed("cannot create", target, EEXIST);
}

Result<void> CopyAccessRights(const std::string& from, int fd) {
    struct stat old {};
    if (::stat(from.c_str(), &old) != 0) {
        if (errno == ENOENT) {
            return {};
        }
        return Failed("cannot read the permissions of", from);
    }
    // Owner and group only where the process may give them (root, or a
    // group it belongs to); the permission bits always, so that a private
    // file does not become readable by others.
    struct stat now {};
    if (::fstat(fd, &now) == 0 && (now.st_uid != old.st_uid || now.st_gid != old.st_gid)) {
        [[maybe_unused]] const int ignored = ::fchown(fd, old.st_uid, old.st_gid);
    }
    if (::fchmod(fd, old.st_mode & 0777) != 0) {
        return Failed("cannot set the permissions of", from);
    }
    return {};
}

std::string FollowLinks(const std::string& path) {
    char* resolved = ::realpath(path.c_str(), nullptr);
    if (resolved == nullptr) {
        return path;
    }
    std::string target = resolved;
    std::free(resolved);
    return target;
}

// realpath() alone cannot name a file that does not exist yet, such as the
// target of a dangling link; the links are followed one hop at a time.
Result<WriteTarget> ResolveWriteTarget(const std::string& path) {
    std::string current = path;
    for (int hop = 0; hop <= kMaxLinks; ++hop) {
        const std::size_t slash = current.rfind('/');
        const std::string dir = DirectoryOf(current);
        const std::string base = slash == std::string::npos ? current : current.substr(slash + 1);
        if (base.empty() || base == "." || base == "..") {
            return WriteTarget{WriteTarget::InPlace, path}; // a directory: opening it fails
        }
        char* real = ::realpath(dir.c_str(), nullptr);
        if (real == nullptr) {
            return Failed("cannot resolve", path);
        }
        const std::string realDir = real;
        std::free(real);
        struct statfs fs {};
        if (::statfs(realDir.c_str(), &fs) == 0 && fs.f_type == PROC_SUPER_MAGIC) {
            struct stat st {};
            const bool regular = ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
            return WriteTarget{WriteTarget::InPlace, path, regular};
        }
        const std::string candidate = (realDir == "/" ? "" : realDir) + "/" + base;
        struct stat st {};
        if (::lstat(candidate.c_str(), &st) != 0) {
            if (errno == ENOENT) {
                return WriteTarget{WriteTarget::New, candidate};
            }
            return Failed("cannot resolve", path);
        }
        if (S_ISLNK(st.st_mode)) {
            std::string link;
            if (!ReadLink(candidate, link)) {
                return Failed("cannot resolve", path);
            }
            current = !link.empty() && link[0] == '/' ? link : realDir + "/" + link;
            continue;
        }
        if (S_ISREG(st.st_mode)) {
            return WriteTarget{WriteTarget::Regular, candidate};
        }
        return WriteTarget{WriteTarget::InPlace, candidate};
    }
    return Failed("cannot resolve", path, ELOOP);
}

// ---- Big buffers -----------------------------------------------------------

namespace {

// A huge page on x86-64 and on most arm64 kernels; where pages are larger
// the advice still applies to every aligned 2 MiB run that fits.
constexpr std::size_t kHugePage = std::size_t{2} << 20;

std::size_t RoundUpToHugePage(std::size_t size) {
    return (size + kHugePage - 1) & ~(kHugePage - 1);
}

// Released mapped buffers, least recently released first.
class BigBufferPool {
public:
    // Never destroyed: buffers of static objects may come back after exit
    // began.
    static BigBufferPool& instance() {
        static BigBufferPool* const pool = new BigBufferPool;
        return *pool;
    }

    // A pooled mapping of at least `bytes` (a multiple of kHugePage): the
    // smallest that fits; a much larger one (with `exact`, any larger one) is
    // cut down to size first.
    std::pair<char*, std::size_t> take(std::size_t bytes, bool exact = false) {
        const std::lock_guard lock(mutex_);
        std::size_t best = free_.size();
        for (std::size_t i = 0; i < free_.size(); ++i) {
            if (free_[i].second >= bytes &&
                (best == free_.size() || free_[i].second < free_[best].second)) {
                best = i;
            }
        }
        if (best == free_.size()) {
            return {nullptr, 0};
        }
        auto [base, owned] = free_[best];
        free_.erase(free_.begin() + static_cast<std::ptrdiff_t>(best));
        pooled_ -= owned;
        ++reused_;
        if (owned > 2 * bytes || (exact && owned > bytes)) {
            ::munmap(base + bytes, owned - bytes);
            owned = bytes;
        }
        return {base, owned};
    }

    void give(char* base, std::size_t owned) {
        const std::lock_guard lock(mutex_);
        free_.emplace_back(base, owned);
        pooled_ += owned;
        while (pooled_ > bigbuffer::kPoolLimit && !free_.empty()) {
            ::munmap(free_.front().first, free_.front().second);
            pooled_ -= free_.front().second;
            free_.erase(free_.begin());
        }
    }

    void trim() {
        const std::lock_guard lock(mutex_);
        for (const auto& [base, owned] : free_) {
            ::munmap(base, owned);
        }
        free_.clear();
        pooled_ = 0;
    }

    void countMapped() {
        const std::lock_guard lock(mutex_);
        ++mapped_;
    }

    BigBufferCounts counts() {
        const std::lock_guard lock(mutex_);
        return {mapped_, reused_, pooled_, hugePages_};
    }

private:
    BigBufferPool() {
        // "always [madvise] never": the advice counts unless "never" is chosen.
        const int fd =
            ::open("/sys/kernel/mm/transparent_hugepage/enabled", O_RDONLY | O_CLOEXEC);
        if (fd >= 0) {
            char text[128] = {};
            const ssize_t n = ::read(fd, text, sizeof text - 1);
            ::close(fd);
            hugePages_ = n > 0 && std::strstr(text, "[never]") == nullptr;
        }
    }

    std::mutex mutex_;
    std::vector<std::pair<char*, std::size_t>> free_;
    std::size_t pooled_ = 0;
    std::uint64_t mapped_ = 0;
    std::uint64_t reused_ = 0;
    bool hugePages_ = false;
};

// A fresh mapping of `bytes` (a multiple of kHugePage) starting on a huge
// page boundary, advised for huge pages; null when the system refuses.
char* MapHugePageAligned(std::size_t bytes) {
    void* raw = ::mmap(nullptr, bytes + kHugePage, PROT_READ | PROT_WRITE,
                       MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw == MAP_FAILED) {
        return nullptr;
    }
    auto* start = static_cast<char*>(raw);
    const auto at = reinterpret_cast<std::uintptr_t>(start);
    const std::size_t head = ((at + kHugePage - 1) & ~(kHugePage - 1)) - at;
    if (head > 0) {
        ::munmap(start, head);
    }
    if (kHugePage - head > 0) {
        ::munmap(start + head + bytes, kHugePage - head);
    }
#ifdef MADV_HUGEPAGE
    // Advice only: a kernel without transparent huge pages refuses it and
    // the mapping works with small pages.
    ::madvise(start + head, bytes, MADV_HUGEPAGE);
#endif
    BigBufferPool::instance().countMapped();
    return start + head;
}

} // namespace

BigBuffer BigBuffer::allocate(std::size_t size) {
    BigBuffer buffer;
    if (size == 0) {
        return buffer;
    }
    if (size >= bigbuffer::kMappedFrom) {
        const std::size_t bytes = RoundUpToHugePage(size);
        auto [base, owned] = BigBufferPool::instance().take(bytes);
        if (base == nullptr) {
            base = MapHugePageAligned(bytes);
            owned = bytes;
        }
        if (base != nullptr) {
            buffer.data_ = base;
            buffer.size_ = size;
            buffer.owned_ = owned;
            return buffer;
        }
        // Mapping refused: the heap may still have room.
    }
    buffer.data_ = static_cast<char*>(std::malloc(size));
    buffer.size_ = buffer.data_ != nullptr ? size : 0;
    return buffer;
}

BigBuffer::BigBuffer(BigBuffer&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)), size_(std::exchange(other.size_, 0)),
      owned_(std::exchange(other.owned_, 0)) {}

BigBuffer& BigBuffer::operator=(BigBuffer&& other) noexcept {
    if (this != &other) {
        release();
        data_ = std::exchange(other.data_, nullptr);
        size_ = std::exchange(other.size_, 0);
        owned_ = std::exchange(other.owned_, 0);
    }
    return *this;
}

bool BigBuffer::resize(std::size_t size) {
    if (data_ == nullptr || size == 0) {
        BigBuffer fresh = allocate(size);
        if (size > 0 && !fresh) {
            return false;
        }
        *this = std::move(fresh);
        return true;
    }
    if (owned_ == 0) {
        if (size >= bigbuffer::kMappedFrom) {
            BigBuffer bigger = allocate(size);
            if (!bigger) {
                return false;
            }
            std::memcpy(bigger.data_, data_, std::min(size, size_));
            *this = std::move(bigger);
            return true;
        }
        void* moved = std::realloc(data_, size);
        if (moved == nullptr) {
            return false;
        }
        data_ = static_cast<char*>(moved);
        size_ = size;
        return true;
    }
    const std::size_t bytes = RoundUpToHugePage(size);
    if (bytes <= owned_) {
        if (bytes < owned_) {
            ::munmap(data_ + bytes, owned_ - bytes);
            owned_ = bytes;
        }
        size_ = size;
        return true;
    }
    // The advice belongs to the mapping and moves with it.
    void* moved = ::mremap(data_, owned_, bytes, MREMAP_MAYMOVE);
    if (moved == MAP_FAILED) {
        return false;
    }
    data_ = static_cast<char*>(moved);
    owned_ = bytes;
    size_ = size;
    return true;
}

void BigBuffer::release() {
    if (data_ == nullptr) {
        return;
    }
    if (owned_ > 0) {
        BigBufferPool::instance().give(data_, owned_);
    } else {
        std::free(data_);
    }
    data_ = nullptr;
    size_ = 0;
    owned_ = 0;
}

void* AllocateBigBytes(std::size_t bytes) {
    if (bytes < bigbuffer::kMappedFrom) {
        return ::operator new(bytes);
    }
    // Exactly the huge pages asked for, so that the size given back says
    // what to release.
    const std::size_t pages = RoundUpToHugePage(bytes);
    char* base = BigBufferPool::instance().take(pages, true).first;
    if (base == nullptr) {
        base = MapHugePageAligned(pages);
    }
    if (base == nullptr) {
        throw std::bad_alloc();
    }
    return base;
}

void ReleaseBigBytes(void* memory, std::size_t bytes) noexcept {
    if (memory == nullptr) {
        return;
    }
    if (bytes < bigbuffer::kMappedFrom) {
        ::operator delete(memory);
        return;
    }
    BigBufferPool::instance().give(static_cast<char*>(memory), RoundUpToHugePage(bytes));
}

BigBufferCounts BigBufferStatistics() {
    return BigBufferPool::instance().counts();
}

void TrimBigBufferPool() {
    BigBufferPool::instance().trim();
}

} // namespace logdesk
