#include "line_sink.h"

#include "text/gbk_codec.h"

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>
#include <utility>

namespace logdesk {

namespace {

constexpr std::size_t kBufferSize = std::size_t{1} << 20;
// Symbolic links followed before giving up, as the kernel does.
constexpr int kMaxLinks = 40;
// Bytes of the target's name kept in a temporary file's name, so that the
// suffix still fits the 255 bytes a name may have.
constexpr std::size_t kNameKept = 200;

// What a path leads to once its symbolic links are followed.
struct Destination {
    enum Kind { New, Regular, InPlace, Failed } kind = Failed;
    std::string path; // the file to create or replace, or the path to open in place
    bool append = false;
    int error = 0;
};

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

// Follows the links of path one at a time (realpath() cannot name a file that
// does not exist yet, such as the target of a dangling link). A link living
// in /proc stands for an open descriptor and is not followed: the kernel
// opens what it refers to, which may not be reachable by any name.
Destination Resolve(const std::string& path) {
    std::string current = path;
    for (int hop = 0; hop <= kMaxLinks; ++hop) {
        const std::size_t slash = current.rfind('/');
        const std::string dir = slash == std::string::npos ? "."
                                : slash == 0               ? "/"
                                                           : current.substr(0, slash);
        const std::string base = slash == std::string::npos ? current : current.substr(slash + 1);
        if (base.empty() || base == "." || base == "..") {
            return {Destination::InPlace, path}; // a directory: opening it fails
        }
        char* real = ::realpath(dir.c_str(), nullptr);
        if (real == nullptr) {
            return {Destination::Failed, {}, false, errno};
        }
        const std::string realDir = real;
        std::free(real);
        struct statfs fs {};
        if (::statfs(realDir.c_str(), &fs) == 0 && fs.f_type == PROC_SUPER_MAGIC) {
            struct stat st {};
            const bool regular = ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
            return {Destination::InPlace, path, regular};
        }
        const std::string candidate = (realDir == "/" ? "" : realDir) + "/" + base;
        struct stat st {};
        if (::lstat(candidate.c_str(), &st) != 0) {
            if (errno == ENOENT) {
                return {Destination::New, candidate};
            }
            return {Destination::Failed, {}, false, errno};
        }
        if (S_ISLNK(st.st_mode)) {
            std::string link;
            if (!ReadLink(candidate, link)) {
                return {Destination::Failed, {}, false, errno};
            }
            current = !link.empty() && link[0] == '/' ? link : realDir + "/" + link;
            continue;
        }
        if (S_ISREG(st.st_mode)) {
            return {Destination::Regular, candidate};
        }
        return {Destination::InPlace, candidate};
    }
    return {Destination::Failed, {}, false, ELOOP};
}

// Creates a file of its own beside target; -1 with errno set when none could
// be made.
int CreateTemporary(const std::string& target, std::string& temporary) {
    static std::atomic<unsigned> counter{0};
    const std::size_t slash = target.rfind('/');
    const std::string dir = target.substr(0, slash + 1);
    const std::string base = target.substr(slash + 1, kNameKept);
    for (int attempt = 0; attempt < 100; ++attempt) {
        temporary = dir + base + ".tmp" + std::to_string(::getpid()) + "-" +
                    std::to_string(counter.fetch_add(1));
        const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST) {
            return fd;
        }
    }
    errno = EEXIST;
    return -1;
}

// Makes a rename in the directory of path durable; a failure here loses
// nothing that is not already in place.
void SyncDirectory(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    const std::string dir = slash == 0 ? "/" : path.substr(0, slash);
    const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

} // namespace

FileSink::FileSink(const std::string& path) : owned_(true) {
    const Destination to = Resolve(path);
    switch (to.kind) {
    case Destination::Failed:
        fail("cannot create", to.error);
        break;
    case Destination::InPlace:
        openInPlace(to.path, to.append);
        break;
    case Destination::New:
    case Destination::Regular:
        openReplacement(to.path, to.kind == Destination::Regular);
        break;
    }
    if (ok()) {
        buffer_.reserve(kBufferSize);
    }
}

void FileSink::openInPlace(const std::string& path, bool append) {
    fd_ = ::open(path.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC | (append ? O_APPEND : 0));
    if (fd_ < 0) {
        fail("cannot create", errno);
    }
}

void FileSink::openReplacement(const std::string& target, bool exists) {
    struct stat old {};
    if (exists) {
        if (::access(target.c_str(), W_OK) != 0 || ::stat(target.c_str(), &old) != 0) {
            fail("cannot create", errno);
            return;
        }
    }
    fd_ = CreateTemporary(target, temporary_);
    if (fd_ < 0) {
        fail("cannot create", errno);
        temporary_.clear();
        return;
    }
    target_ = target;
    if (exists) {
        // Owner and group only where the process may give them (root, or a
        // group it belongs to); the permission bits always, so that a
        // private file does not become readable by others.
        struct stat now {};
        if (::fstat(fd_, &now) == 0 && (now.st_uid != old.st_uid || now.st_gid != old.st_gid)) {
            [[maybe_unused]] const int ignored = ::fchown(fd_, old.st_uid, old.st_gid);
        }
        if (::fchmod(fd_, old.st_mode & 0777) != 0) {
            fail("cannot create", errno);
            abandon();
        }
    }
}

FileSink FileSink::ForDescriptor(int fd) {
    FileSink sink;
    sink.fd_ = fd;
    sink.owned_ = false;
    sink.buffer_.reserve(kBufferSize);
    return sink;
}

FileSink::FileSink(FileSink&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), owned_(other.owned_),
      target_(std::exchange(other.target_, {})), temporary_(std::exchange(other.temporary_, {})),
      buffer_(std::move(other.buffer_)), error_(std::move(other.error_)) {}

FileSink::~FileSink() {
    abandon();
}

void FileSink::abandon() {
    if (fd_ >= 0 && owned_) {
        ::close(fd_);
    }
    fd_ = -1;
    if (!temporary_.empty()) {
        ::unlink(temporary_.c_str());
        temporary_.clear();
    }
    buffer_.clear();
}

void FileSink::fail(const char* what, int err) {
    if (error_.empty()) {
        error_ = std::string(what) + ": " + std::strerror(err);
    }
}

bool FileSink::write(std::string_view bytes) {
    if (!ok() || fd_ < 0) {
        return false;
    }
    buffer_.append(bytes);
    if (buffer_.size() >= kBufferSize) {
        return flush();
    }
    return true;
}

bool FileSink::flush() {
    std::size_t done = 0;
    while (done < buffer_.size() && ok()) {
        const ssize_t n = ::write(fd_, buffer_.data() + done, buffer_.size() - done);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            fail("write failed", errno);
        } else if (n == 0) {
            fail("write failed", EIO);
        } else {
            done += static_cast<std::size_t>(n);
        }
    }
    buffer_.clear();
    return ok();
}

bool FileSink::close() {
    if (fd_ < 0) {
        abandon();
        return ok();
    }
    if (ok()) {
        flush();
    }
    if (!owned_) {
        fd_ = -1;
        return ok();
    }
    // EINVAL: the file system keeps no data to sync.
    if (ok() && !target_.empty() && ::fsync(fd_) != 0 && errno != EINVAL) {
        fail("write failed", errno);
    }
    if (::close(fd_) != 0 && ok()) {
        fail("write failed", errno);
    }
    fd_ = -1;
    if (ok() && !target_.empty()) {
        if (::rename(temporary_.c_str(), target_.c_str()) == 0) {
            temporary_.clear();
            SyncDirectory(target_);
        } else {
            fail("cannot replace", errno);
        }
    }
    abandon();
    return ok();
}

bool SameFile(const std::string& a, const std::string& b) {
    struct stat first {};
    struct stat second {};
    return ::stat(a.c_str(), &first) == 0 && ::stat(b.c_str(), &second) == 0 &&
           first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

bool Utf8Sink::write(std::string_view bytes) {
    return target_.write(GbkToUtf8(bytes));
}

} // namespace logdesk
