#include "core/input/log_source.h"

#include "core/base/platform.h"

#include <algorithm>
#include <cerrno>
#include <new>

namespace logdesk {

std::string SourceName::display() const {
    return member.empty() ? path : path + ":" + member;
}

ssize_t LogSource::read(char* buffer, std::size_t size) {
    if (status_.ended()) {
        if (status_.complete()) {
            return 0;
        }
        errno = status_.code();
        return -1;
    }
    if (size == 0) {
        return 0;
    }
    ssize_t got = -1;
    try {
        got = readSome(buffer, size);
    } catch (const std::bad_alloc&) {
        fail(SourceState::ReadFailed, ENOMEM, ErrnoText(ENOMEM));
    }
    if (got > 0) {
        delivered_ += static_cast<std::uint64_t>(got);
        return got;
    }
    if (!status_.ended()) {
        if (got == 0) {
            status_.state = SourceState::Complete;
        } else { // a failure without a reason still ends the source
            fail(SourceState::ReadFailed, EIO, ErrnoText(EIO));
        }
    }
    status_.deliveredBytes = delivered_;
    if (status_.complete()) {
        return 0;
    }
    errno = status_.code();
    return -1;
}

void LogSource::fail(SourceState state, int error, std::string reason) {
    status_.state = state;
    status_.error = Error{{}, {}, std::move(reason), error};
    status_.deliveredBytes = delivered_;
}

void LogSource::damage(std::string reason, std::optional<std::uint64_t> compressedOffset) {
    fail(SourceState::Damaged, EBADMSG, std::move(reason));
    status_.compressedOffset = compressedOffset;
}

void LogSource::adoptEnd(const SourceStatus& ended) {
    status_ = ended;
    status_.deliveredBytes = delivered_;
}

std::string LogSource::describeFailure() const {
    std::string text = name_.display() + ": ";
    switch (status_.state) {
    case SourceState::Reading:
    case SourceState::Complete:
        return {};
    case SourceState::OpenFailed:
        text += "cannot be opened: ";
        break;
    case SourceState::ReadFailed:
        text += "reading failed after " + std::to_string(status_.deliveredBytes) + " bytes: ";
        break;
    case SourceState::Damaged:
        text += "damaged after " + std::to_string(status_.deliveredBytes) + " bytes";
        if (status_.compressedOffset) {
            text += " (compressed offset " + std::to_string(*status_.compressedOffset) + ")";
        }
        text += ": ";
        break;
    }
    return text + (status_.error ? status_.error->cause : std::string());
}

namespace {

class FailedLogSource final : public LogSource {
public:
    FailedLogSource(SourceName name, SourceState state, int error, std::string reason)
        : LogSource(std::move(name), 0) {
        fail(state, error, std::move(reason));
    }
    SourceProgress progress() const override { return {}; }

protected:
    ssize_t readSome(char*, std::size_t) override { return -1; }
};

// Reads a descriptor as it is; owns it when `owned`.
class DescriptorSource final : public LogSource {
public:
    DescriptorSource(SourceName name, int fd, bool owned)
        : LogSource(std::move(name), 0), fd_(owned ? fd : -1), borrowed_(owned ? -1 : fd) {
        if (const std::optional<std::uint64_t> size = RegularFileSize(this->fd())) {
            // Standard input redirected from a file may start inside it.
            total_ = *size;
            start_ = std::min(ReadPosition(this->fd()).value_or(0), total_);
            setSizeHint(total_ - start_);
        }
    }
    SourceProgress progress() const override {
        // A log still being written grows past the size it had when opened.
        const std::uint64_t done = start_ + delivered();
        return {done, total_ == 0 ? 0 : std::max(total_, done)};
    }

protected:
    ssize_t readSome(char* buffer, std::size_t size) override {
        const Result<std::size_t> got = ReadSome(fd(), buffer, size);
        if (!got) {
            fail(SourceState::ReadFailed, got.error().code, ErrnoText(got.error().code));
            return -1;
        }
        return static_cast<ssize_t>(*got);
    }

private:
    int fd() const { return fd_.valid() ? fd_.get() : borrowed_; }

    FileDescriptor fd_;
    int borrowed_;
    std::uint64_t start_ = 0;
    std::uint64_t total_ = 0;
};

} // namespace

std::unique_ptr<LogSource> FailedSource(SourceName name, SourceState state, int error,
                                        std::string reason) {
    return std::make_unique<FailedLogSource>(std::move(name), state, error, std::move(reason));
}

std::unique_ptr<LogSource> OpenPlainFile(const std::string& path) {
    Result<FileDescriptor> fd = OpenForReading(path);
    if (!fd) {
        const int error = fd.error().code;
        return FailedSource({path, {}}, SourceState::OpenFailed, error, ErrnoText(error));
    }
    return std::make_unique<DescriptorSource>(SourceName{path, {}}, fd->release(), true);
}

std::unique_ptr<LogSource> OpenDescriptor(int fd) {
    return std::make_unique<DescriptorSource>(SourceName{"-", {}}, fd, false);
}

} // namespace logdesk
