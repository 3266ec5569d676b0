#include "core/input/archive_source.h"

#include "core/base/platform.h"
#include "core/input/name_order.h"

#include <algorithm>
#include <archive.h>
#include <archive_entry.h>
#include <cerrno>
#include <mutex>

namespace logdesk {

namespace {

constexpr std::size_t kBlockBytes = std::size_t{64} << 10;
constexpr std::uint64_t kNoEntry = ~std::uint64_t{0};
// What libarchive sets for bytes it cannot make sense of: its private header
// names this ARCHIVE_ERRNO_FILE_FORMAT, and ARCHIVE_ERRNO_MISC, -1, for the
// decoders' complaints.
constexpr int kFormatErrno = EILSEQ;
// A member's size that its header claims beyond this many times the
// archive's size is not believed (deflate's limit; see gzip_source.cpp).
constexpr std::uint64_t kMaxRatio = 1032;

} // namespace

// One open archive positioned at some entry. Shared by the member sources
// of one LogArchive; used by one thread at a time.
class ArchiveReader {
public:
    enum class Header { Entry, End, Error };

    ArchiveReader(std::string path, bool singleStream)
        : path_(std::move(path)), singleStream_(singleStream) {}
    ~ArchiveReader() { close(); }
    ArchiveReader(const ArchiveReader&) = delete;
    ArchiveReader& operator=(const ArchiveReader&) = delete;

    // Opens the file again at its start; false with error() set.
    bool rewind() {
        close();
        Result<FileDescriptor> opened = OpenForReading(path_);
        if (!opened) {
            setSystemError(opened.error().code, true);
            return false;
        }
        fd_ = std::move(opened).value();
        if (const std::optional<std::uint64_t> size = RegularFileSize(fd_.get())) {
            fileSize_ = *size;
        }
        archive_ = archive_read_new();
        if (archive_ == nullptr) {
            setSystemError(ENOMEM, true);
            return false;
        }
        archive_read_support_filter_gzip(archive_);
        archive_read_support_filter_bzip2(archive_);
        archive_read_support_filter_xz(archive_);
        archive_read_support_filter_zstd(archive_);
        if (singleStream_) {
            archive_read_support_format_raw(archive_);
        } else {
            // The directory when it is there, else the members from the start.
            archive_read_support_format_zip_seekable(archive_);
            archive_read_support_format_zip_streamable(archive_);
            archive_read_support_format_tar(archive_);
        }
        if (archive_read_open_fd(archive_, fd_.get(), kBlockBytes) != ARCHIVE_OK) {
            setArchiveError();
            return false;
        }
        current_ = kNoEntry;
        broken_ = false;
        return true;
    }

    // Reads the next entry's header.
    Header next() {
        if (broken_) {
            return Header::Error;
        }
        const int result = archive_read_next_header(archive_, &entry_);
        if (result == ARCHIVE_EOF) {
            atEnd_ = true;
            return Header::End;
        }
        notePosition();
        // A warning (a name in another character set) still gives the entry.
        if (result == ARCHIVE_OK || result == ARCHIVE_WARN) {
            current_ = current_ == kNoEntry ? 0 : current_ + 1;
            return Header::Entry;
        }
        setArchiveError();
        broken_ = true;
        return Header::Error;
    }

    // Positions the reader at the entry numbered `index`; false with error()
    // set.
    bool seek(std::uint64_t index) {
        if (archive_ == nullptr || broken_ || atEnd_ ||
            (current_ != kNoEntry && current_ >= index)) {
            if (!rewind()) {
                return false;
            }
        }
        while (current_ == kNoEntry || current_ < index) {
            const Header header = next();
            if (header == Header::End) {
                error_ = {EBADMSG,
                          index == 0 ? std::string("the file holds no data")
                                     : "the archive changed: its entry " +
                                           std::to_string(index + 1) + " is gone",
                          false};
                return false;
            }
            if (header == Header::Error) {
                return false;
            }
        }
        return true;
    }

    // Bytes of the current entry's text, 0 at its end, -1 with error() set.
    ssize_t readData(char* buffer, std::size_t size) {
        if (broken_) {
            return -1;
        }
        const la_ssize_t got = archive_read_data(archive_, buffer, size);
        notePosition();
        if (got >= 0) {
            return static_cast<ssize_t>(got);
        }
        setArchiveError();
        broken_ = true;
        return -1;
    }

    archive_entry* entry() const { return entry_; }
    std::uint64_t current() const { return current_; }
    std::uint64_t position() const { return position_; }
    std::uint64_t fileSize() const { return fileSize_; }
    bool filtered() const {
        return archive_ != nullptr && archive_filter_code(archive_, 0) != ARCHIVE_FILTER_NONE;
    }

    struct Error {
        int number = 0;
        std::string words;
        bool system = false; // the system refused, rather than the bytes being wrong
    };
    const Error& error() const { return error_; }

    // The member source that moved the reader last; see LogArchive. Both,
    // and every use of the reader by a member source, under `mutex`: a
    // member read ahead on a worker thread may still be running when the
    // next member is opened.
    const void* owner = nullptr;
    std::mutex mutex;

private:
    void close() {
        if (archive_ != nullptr) {
            archive_read_free(archive_);
            archive_ = nullptr;
        }
        entry_ = nullptr;
        fd_ = FileDescriptor();
        atEnd_ = false;
    }

    void notePosition() {
        const la_int64_t at = archive_filter_bytes(archive_, -1);
        if (at > 0) {
            position_ =
                std::max(position_, std::min(static_cast<std::uint64_t>(at),
                                             fileSize_ > 0 ? fileSize_ : ~std::uint64_t{0}));
        }
    }

    void setSystemError(int number, bool system) { error_ = {number, ErrnoText(number), system}; }

    // Other positive numbers are the system's (a failed read, memory).
    void setArchiveError() {
        const int number = archive_errno(archive_);
        const char* words = archive_error_string(archive_);
        const bool system = number > 0 && number != kFormatErrno;
        error_ = {system ? number : EBADMSG,
                  words != nullptr ? words : (system ? ErrnoText(number) : "damaged data"), system};
    }

    std::string path_;
    bool singleStream_;
    FileDescriptor fd_;
    archive* archive_ = nullptr;
    archive_entry* entry_ = nullptr;
    std::uint64_t current_ = kNoEntry; // index of the entry whose header was read last
    std::uint64_t position_ = 0;       // furthest byte of the file read, for progress
    std::uint64_t fileSize_ = 0;
    bool broken_ = false;
    bool atEnd_ = false;
    Error error_;
};

namespace {

std::string EntryPath(archive_entry* entry) {
    const char* path = archive_entry_pathname(entry);
    if (path == nullptr) {
        path = archive_entry_pathname_utf8(entry);
    }
    return path != nullptr ? path : std::string();
}

class ArchiveStreamSource final : public LogSource {
public:
    ArchiveStreamSource(SourceName name, std::shared_ptr<ArchiveReader> reader, std::uint64_t index,
                        std::uint64_t sizeHint)
        : LogSource(std::move(name), sizeHint), reader_(std::move(reader)), index_(index) {
        reader_->owner = this; // the caller holds the reader's mutex
    }
    ~ArchiveStreamSource() override {
        std::lock_guard guard(reader_->mutex);
        if (reader_->owner == this) {
            reader_->owner = nullptr;
        }
    }

    SourceProgress progress() const override { return {reader_->position(), reader_->fileSize()}; }

    // Ends the source with the reader's last error.
    void failWithReaderError() {
        const ArchiveReader::Error& error = reader_->error();
        if (error.system) {
            fail(SourceState::ReadFailed, error.number, error.words);
        } else {
            damage(error.words);
            // A member whose data broke off keeps the sound text before the
            // cut; any other damage (a bad checksum, corrupt data) may have
            // come out as wrong text for a stretch before it was found, and
            // the member has no check of its own before its end.
            if (error.words.find("runcated") == std::string::npos) {
                distrustFrom(0);
            }
        }
    }

protected:
    ssize_t readSome(char* buffer, std::size_t size) override {
        std::lock_guard guard(reader_->mutex);
        if (reader_->owner != this || reader_->current() != index_) {
            fail(SourceState::ReadFailed, EBUSY,
                 "another member of the archive was opened before this one was read to its end");
            return -1;
        }
        const ssize_t got = reader_->readData(buffer, size);
        if (got < 0) {
            failWithReaderError();
        }
        return got;
    }

private:
    std::shared_ptr<ArchiveReader> reader_;
    std::uint64_t index_;
};

} // namespace

LogArchive::LogArchive(const std::string& path)
    : path_(path), reader_(std::make_shared<ArchiveReader>(path, false)) {
    if (!reader_->rewind()) {
        const ArchiveReader::Error& error = reader_->error();
        failure_.state = error.system ? SourceState::OpenFailed : SourceState::Damaged;
        failure_.error = Error{{}, {}, error.words, error.number};
        (error.system ? failed_ : stopped_) = true;
        return;
    }
    std::string lastSeen;
    for (;;) {
        const ArchiveReader::Header header = reader_->next();
        if (header == ArchiveReader::Header::End) {
            break;
        }
        if (header == ArchiveReader::Header::Error) {
            const ArchiveReader::Error& error = reader_->error();
            failure_.state = error.system ? SourceState::ReadFailed : SourceState::Damaged;
            std::string words = error.words;
            words += lastSeen.empty() ? " (before the first entry)"
                                      : " (after the entry \"" + lastSeen + "\")";
            failure_.error = Error{{}, {}, std::move(words), error.number};
            (error.system && members_.empty() ? failed_ : stopped_) = true;
            break;
        }
        archive_entry* entry = reader_->entry();
        std::string name = EntryPath(entry);
        if (archive_entry_filetype(entry) == AE_IFREG && EndsWithNoCase(name, ".log")) {
            Member member;
            member.path = name;
            if (archive_entry_size_is_set(entry) != 0) {
                // A header's claim sizes buffers only as far as it is plausible.
                member.size =
                    static_cast<std::uint64_t>(std::max<la_int64_t>(archive_entry_size(entry), 0));
                if (reader_->fileSize() > 0) {
                    member.size = std::min(member.size, reader_->fileSize() * kMaxRatio);
                }
            }
            member.index = reader_->current();
            members_.push_back(std::move(member));
        }
        lastSeen = std::move(name);
    }
    std::stable_sort(members_.begin(), members_.end(), [](const Member& a, const Member& b) {
        return NameOrderLess(a.path, b.path);
    });
}

LogArchive::~LogArchive() = default;

std::unique_ptr<LogSource> LogArchive::openMember(std::size_t i) {
    if (i >= members_.size()) {
        return FailedSource({path_, {}}, SourceState::OpenFailed, EINVAL,
                            "the archive has no log member " + std::to_string(i + 1));
    }
    const Member& member = members_[i];
    SourceName name{path_, member.path};
    std::lock_guard guard(reader_->mutex);
    auto source = std::make_unique<ArchiveStreamSource>(name, reader_, member.index, member.size);
    if (!reader_->seek(member.index)) {
        source->failWithReaderError();
    }
    return source;
}

std::unique_ptr<LogSource> OpenCompressedFile(const std::string& path) {
    auto reader = std::make_shared<ArchiveReader>(path, true);
    SourceName name{path, {}};
    if (!reader->rewind()) {
        const ArchiveReader::Error& error = reader->error();
        if (error.system) {
            return FailedSource(name, SourceState::OpenFailed, error.number, error.words);
        }
        return FailedSource(name, SourceState::Damaged, EBADMSG, error.words);
    }
    std::unique_ptr<ArchiveStreamSource> source;
    bool filtered = true;
    {
        std::lock_guard guard(reader->mutex);
        source = std::make_unique<ArchiveStreamSource>(name, reader, 0, 0);
        if (!reader->seek(0)) {
            source->failWithReaderError();
        } else {
            filtered = reader->filtered();
        }
    }
    if (!filtered) {
        // The raw format takes any bytes; only decompressed ones are a log here.
        return FailedSource(name, SourceState::Damaged, EBADMSG,
                            "not bzip2, xz or zstd compressed data");
    }
    return source;
}

} // namespace logdesk
