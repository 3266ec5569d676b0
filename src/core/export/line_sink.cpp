#include "line_sink.h"

#include "core/base/platform.h"
#include "core/text/gbk_codec.h"

#include <utility>

namespace logdesk {

namespace {

constexpr std::size_t kBufferSize = std::size_t{1} << 20;

} // namespace

Error FailureOf(const LineSink& sink) {
    const Result<void> status = sink.status();
    return status ? Error{"write failed", {}, {}, 0} : status.error();
}

Result<FileSink> FileSink::Open(const std::string& path) {
    FileSink sink(path);
    const Result<WriteTarget> to = ResolveWriteTarget(path);
    if (!to) {
        sink.fail("cannot create", to.error());
        return *sink.failure_;
    }
    if (to->kind == WriteTarget::InPlace) {
        Result<FileDescriptor> file = OpenForWriting(to->path, to->append);
        if (!file) {
            sink.fail("cannot create", file.error());
            return *sink.failure_;
        }
        sink.inPlace_ = std::move(file).value();
        sink.fd_ = sink.inPlace_.get();
    } else {
        if (to->kind == WriteTarget::Regular) {
            if (const Result<void> writable = CheckWritable(to->path); !writable) {
                sink.fail("cannot create", writable.error());
                return *sink.failure_;
            }
        }
        Result<FileReplacement> replacement = FileReplacement::Begin(to->path);
        if (!replacement) {
            sink.fail("cannot create", replacement.error());
            return *sink.failure_;
        }
        sink.replacement_.emplace(std::move(replacement).value());
        sink.fd_ = sink.replacement_->descriptor();
    }
    sink.buffer_.reserve(kBufferSize);
    return sink;
}

FileSink FileSink::ForDescriptor(int fd) {
    FileSink sink({});
    sink.fd_ = fd;
    sink.buffer_.reserve(kBufferSize);
    return sink;
}

FileSink::FileSink(FileSink&& other) noexcept
    : path_(std::move(other.path_)), fd_(std::exchange(other.fd_, -1)),
      replacement_(std::move(other.replacement_)), inPlace_(std::move(other.inPlace_)),
      buffer_(std::move(other.buffer_)), failure_(std::move(other.failure_)) {
    other.replacement_.reset();
}

void FileSink::fail(const char* what, const Error& error) {
    if (!failure_) {
        failure_ = Error{what, path_, error.cause, error.code};
    }
}

Result<void> FileSink::status() const {
    if (failure_) {
        return *failure_;
    }
    return {};
}

bool FileSink::write(std::string_view bytes) {
    if (failure_ || fd_ < 0) {
        return false;
    }
    buffer_.append(bytes);
    if (buffer_.size() >= kBufferSize) {
        return flush();
    }
    return true;
}

bool FileSink::flush() {
    if (const Result<void> written = WriteAll(fd_, buffer_); !written) {
        fail("write failed", written.error());
    }
    buffer_.clear();
    return !failure_;
}

Result<void> FileSink::close() {
    if (fd_ >= 0) {
        if (!failure_) {
            flush();
        }
        fd_ = -1;
        if (replacement_) {
            if (!failure_) {
                const Result<void> committed = replacement_->commit();
                if (!committed) {
                    fail(committed.error().what.c_str(), committed.error());
                }
            }
        } else if (inPlace_.valid()) {
            if (const Result<void> closed = inPlace_.close(); !closed) {
                fail("write failed", closed.error());
            }
        }
    }
    replacement_.reset();
    inPlace_ = FileDescriptor();
    buffer_.clear();
    return status();
}

Result<void> ExportToFile(const std::string& path,
                          const std::function<Result<void>(LineSink&)>& write) {
    Result<FileSink> file = FileSink::Open(path);
    if (!file) {
        return file.error();
    }
    if (Result<void> written = write(*file); !written) {
        return written; // the sink abandons what it holds: the old file stays
    }
    return file->close();
}

bool Utf8Sink::write(std::string_view bytes) {
    return target_.write(GbkToUtf8(bytes));
}

} // namespace logdesk
