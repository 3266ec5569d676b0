#include "line_sink.h"

#include "util/gbk_codec.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <utility>

namespace logdesk {

namespace {
constexpr std::size_t kBufferSize = std::size_t{1} << 20;
}

FileSink::FileSink(const std::string& path) : owned_(true), path_(path) {
    fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd_ < 0) {
        fail("cannot create", errno);
    }
    buffer_.reserve(kBufferSize);
}

FileSink FileSink::ForDescriptor(int fd) {
    FileSink sink;
    sink.fd_ = fd;
    sink.owned_ = false;
    sink.buffer_.reserve(kBufferSize);
    return sink;
}

FileSink::FileSink(FileSink&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), owned_(other.owned_), path_(std::move(other.path_)),
      buffer_(std::move(other.buffer_)), error_(std::move(other.error_)) {}

FileSink::~FileSink() {
    if (fd_ >= 0) {
        close();
    }
}

void FileSink::fail(const char* what, int err) {
    if (error_.empty()) {
        error_ = std::string(what) + ": " + std::strerror(err);
    }
}

bool FileSink::write(std::string_view bytes) {
    if (!ok()) {
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
        } else {
            done += static_cast<std::size_t>(n);
        }
    }
    buffer_.clear();
    return ok();
}

bool FileSink::close() {
    if (fd_ < 0) {
        return ok();
    }
    if (ok()) {
        flush();
    }
    if (owned_) {
        if (::close(fd_) != 0 && ok()) {
            fail("write failed", errno);
        }
        if (!ok()) {
            ::unlink(path_.c_str());
        }
    }
    fd_ = -1;
    return ok();
}

bool Utf8Sink::write(std::string_view bytes) {
    return target_.write(GbkToUtf8(bytes));
}

} // namespace logdesk
