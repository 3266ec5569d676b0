// Input through const pointers.
#define ZLIB_CONST

#include "core/input/gzip_source.h"

#include "core/base/platform.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <isa-l/igzip_lib.h>
#include <libdeflate.h>
#include <limits>
#include <vector>
#include <zlib.h>

namespace logdesk {
namespace {

constexpr std::size_t kMaxStep = std::size_t{1} << 30; // the inflaters count in 32 bits
// Deflate cannot expand a byte into more than 1032: a trailer claiming more
// is forged or damaged, and must not size a buffer.
constexpr std::uint64_t kMaxRatio = 1032;

// One inflater working through one member at a time.
class MemberDecoder {
public:
    enum class Code { More, MemberEnd, Corrupt, NoMemory };
    struct Step {
        std::size_t consumed = 0;
        std::size_t produced = 0;
        Code code = Code::More;
        const char* message = "";
    };
    virtual ~MemberDecoder() = default;
    // Readies the decoder for a member starting at the next input byte.
    virtual bool start() = 0;
    virtual Step step(const std::uint8_t* in, std::size_t inSize, std::uint8_t* out,
                      std::size_t outSize) = 0;
};

class IsalDecoder final : public MemberDecoder {
public:
    bool start() override {
        isal_inflate_init(&state_);
        state_.crc_flag = ISAL_GZIP;
        return true;
    }
    Step step(const std::uint8_t* in, std::size_t inSize, std::uint8_t* out,
              std::size_t outSize) override {
        // The inflater takes non-const input but only reads it.
        state_.next_in = const_cast<std::uint8_t*>(in);
        state_.avail_in = static_cast<std::uint32_t>(std::min(inSize, kMaxStep));
        state_.next_out = out;
        state_.avail_out = static_cast<std::uint32_t>(std::min(outSize, kMaxStep));
        const std::uint32_t availIn = state_.avail_in;
        const std::uint32_t availOut = state_.avail_out;
        const int result = isal_inflate(&state_);
        Step step;
        step.consumed = availIn - state_.avail_in;
        step.produced = availOut - state_.avail_out;
        if (result < 0) {
            step.code = Code::Corrupt;
            step.message = Message(result);
        } else if (state_.block_state == ISAL_BLOCK_FINISH) {
            step.code = Code::MemberEnd;
        }
        return step;
    }

private:
    static const char* Message(int result) {
        switch (result) {
        case ISAL_INVALID_BLOCK:
            return "invalid deflate block";
        case ISAL_INVALID_SYMBOL:
            return "invalid deflate code";
        case ISAL_INVALID_LOOKBACK:
            return "invalid distance back into the text";
        case ISAL_INVALID_WRAPPER:
            return "invalid gzip header";
        case ISAL_UNSUPPORTED_METHOD:
            return "unknown compression method";
        case ISAL_INCORRECT_CHECKSUM:
            return "the member's checksum or length does not match its text";
        default:
            return "invalid compressed data";
        }
    }

    inflate_state state_{};
};

class ZlibDecoder final : public MemberDecoder {
public:
    ~ZlibDecoder() override {
        if (initialised_) {
            inflateEnd(&stream_);
        }
    }
    bool start() override {
        if (initialised_) {
            return inflateReset(&stream_) == Z_OK;
        }
        // 16 + 15: a gzip wrapper, the largest window.
        initialised_ = inflateInit2(&stream_, 16 + MAX_WBITS) == Z_OK;
        return initialised_;
    }
    Step step(const std::uint8_t* in, std::size_t inSize, std::uint8_t* out,
              std::size_t outSize) override {
        stream_.next_in = in;
        stream_.avail_in = static_cast<uInt>(std::min(inSize, kMaxStep));
        stream_.next_out = out;
        stream_.avail_out = static_cast<uInt>(std::min(outSize, kMaxStep));
        const uInt availIn = stream_.avail_in;
        const uInt availOut = stream_.avail_out;
        const int result = inflate(&stream_, Z_NO_FLUSH);
        Step step;
        step.consumed = availIn - stream_.avail_in;
        step.produced = availOut - stream_.avail_out;
        switch (result) {
        case Z_OK:
        case Z_BUF_ERROR: // no progress possible without more input
            break;
        case Z_STREAM_END:
            step.code = Code::MemberEnd;
            break;
        case Z_MEM_ERROR:
            step.code = Code::NoMemory;
            break;
        default:
            step.code = Code::Corrupt;
            step.message = stream_.msg != nullptr ? stream_.msg : "invalid compressed data";
            break;
        }
        return step;
    }

private:
    z_stream stream_{};
    bool initialised_ = false;
};

// The length the last member's trailer records, read without moving the
// descriptor, at most what the file can expand to; 0 when the file is too
// short or not regular.
std::uint64_t LastMemberLength(int fd, std::uint64_t fileSize) {
    if (fileSize < 18) { // the smallest member: a 10-byte header, an empty block, the trailer
        return 0;
    }
    unsigned char tail[4];
    const Result<std::size_t> got = ReadAt(fd, reinterpret_cast<char*>(tail), 4, fileSize - 4);
    if (!got || *got != 4) {
        return 0;
    }
    const std::uint64_t length = std::uint64_t{tail[0]} | std::uint64_t{tail[1]} << 8 |
                                 std::uint64_t{tail[2]} << 16 | std::uint64_t{tail[3]} << 24;
    return std::min(length, fileSize * kMaxRatio);
}

bool StartsMember(const std::uint8_t* bytes) {
    return bytes[0] == 0x1f && bytes[1] == 0x8b;
}

std::string NotGzipReason(std::uint64_t members) {
    return members == 0
               ? "not gzip data"
               : "the bytes after member " + std::to_string(members) + " are not gzip data";
}

// The streaming inflaters: compressed bytes come through a block buffer,
// text goes straight into the caller's buffer.
class GzipStreamSource final : public LogSource {
public:
    GzipStreamSource(const std::string& path, FileDescriptor fd,
                     std::unique_ptr<MemberDecoder> decoder, std::size_t blockBytes)
        : LogSource({path, {}}, 0), fd_(std::move(fd)), decoder_(std::move(decoder)),
          input_(std::max<std::size_t>(blockBytes, 2)) {
        fileSize_ = RegularFileSize(fd_.get()).value_or(0);
        setSizeHint(LastMemberLength(fd_.get(), fileSize_));
    }

    SourceProgress progress() const override {
        const std::uint64_t done = consumedOffset();
        return {done, fileSize_ == 0 ? 0 : std::max(fileSize_, done)};
    }

protected:
    ssize_t readSome(char* buffer, std::size_t size) override {
        if (pendingDamage_) {
            damage(std::move(pendingReason_), pendingOffset_);
            distrustFrom(memberTextStart_);
            return -1;
        }
        auto* out = reinterpret_cast<std::uint8_t*>(buffer);
        const std::size_t outSize = std::min(size, kMaxStep);
        for (;;) {
            if (!inMember_) {
                // A member starts with two magic bytes; make sure both are here.
                if (end_ - begin_ < 2 && !eof_) {
                    if (!refill()) {
                        return -1;
                    }
                    continue;
                }
                if (begin_ == end_) {
                    if (members_ == 0) {
                        damage("the file holds no gzip member", 0);
                        return -1;
                    }
                    return 0;
                }
                if (end_ - begin_ < 2 || !StartsMember(input_.data() + begin_)) {
                    damage(NotGzipReason(members_), consumedOffset());
                    return -1;
                }
                if (!decoder_->start()) {
                    fail(SourceState::ReadFailed, ENOMEM, ErrnoText(ENOMEM));
                    return -1;
                }
                inMember_ = true;
            }
            const MemberDecoder::Step step =
                decoder_->step(input_.data() + begin_, end_ - begin_, out, outSize);
            begin_ += step.consumed;
            switch (step.code) {
            case MemberDecoder::Code::More:
                break;
            case MemberDecoder::Code::MemberEnd:
                inMember_ = false;
                ++members_;
                // The member's checksum held: its text, out by the end of
                // this read, is sound.
                memberTextStart_ = delivered() + step.produced;
                break;
            case MemberDecoder::Code::NoMemory:
                fail(SourceState::ReadFailed, ENOMEM, ErrnoText(ENOMEM));
                return -1;
            case MemberDecoder::Code::Corrupt:
                // The text decoded before the damage goes out first.
                if (step.produced > 0) {
                    pendingDamage_ = true;
                    pendingReason_ = step.message;
                    pendingOffset_ = consumedOffset();
                    return static_cast<ssize_t>(step.produced);
                }
                damage(step.message, consumedOffset());
                distrustFrom(memberTextStart_);
                return -1;
            }
            if (step.produced > 0) {
                return static_cast<ssize_t>(step.produced);
            }
            if (step.code == MemberDecoder::Code::More && step.consumed == 0) {
                // The decoder needs more input than there is.
                if (eof_) {
                    damage("the file ends inside gzip member " + std::to_string(members_ + 1),
                           fileRead_);
                    return -1;
                }
                if (!refill()) {
                    return -1;
                }
            }
        }
    }

private:
    std::uint64_t consumedOffset() const { return fileRead_ - (end_ - begin_); }

    // Keeps the unconsumed bytes and reads more after them; false after
    // failing the source.
    bool refill() {
        if (begin_ > 0) {
            std::memmove(input_.data(), input_.data() + begin_, end_ - begin_);
            end_ -= begin_;
            begin_ = 0;
        }
        if (end_ == input_.size()) { // a decoder that wants to see more at once
            input_.resize(input_.size() * 2);
        }
        const Result<std::size_t> got = ReadSome(
            fd_.get(), reinterpret_cast<char*>(input_.data() + end_), input_.size() - end_);
        if (!got) {
            fail(SourceState::ReadFailed, got.error().code, ErrnoText(got.error().code));
            return false;
        }
        if (*got == 0) {
            eof_ = true;
            return true;
        }
        end_ += *got;
        fileRead_ += *got;
        return true;
    }

    FileDescriptor fd_;
    std::unique_ptr<MemberDecoder> decoder_;
    std::vector<std::uint8_t> input_;
    std::size_t begin_ = 0; // the next input byte for the decoder
    std::size_t end_ = 0;
    std::uint64_t fileRead_ = 0; // bytes read from the file so far
    std::uint64_t fileSize_ = 0;
    std::uint64_t members_ = 0; // members complete
    // Delivered text before the member being decoded: what checksums confirmed.
    std::uint64_t memberTextStart_ = 0;
    bool inMember_ = false;
    bool eof_ = false;
    bool pendingDamage_ = false;
    std::string pendingReason_;
    std::uint64_t pendingOffset_ = 0;
};

// libdeflate decodes a whole member in one call: the file is read into
// memory, and each member is decoded into a buffer the reads copy from.
class LibdeflateSource final : public LogSource {
public:
    LibdeflateSource(const std::string& path, FileDescriptor fd)
        : LogSource({path, {}}, 0), fd_(std::move(fd)) {
        fileSize_ = RegularFileSize(fd_.get()).value_or(0);
        setSizeHint(LastMemberLength(fd_.get(), fileSize_));
    }
    ~LibdeflateSource() override {
        if (decompressor_ != nullptr) {
            libdeflate_free_decompressor(decompressor_);
        }
    }

    SourceProgress progress() const override { return {position_, fileSize_}; }

protected:
    ssize_t readSome(char* buffer, std::size_t size) override {
        if (!loaded_ && !load()) {
            return -1;
        }
        while (textAt_ == textSize_) {
            if (position_ == file_.size()) {
                if (members_ == 0) {
                    damage("the file holds no gzip member", 0);
                    return -1;
                }
                return 0;
            }
            if (!decodeMember()) {
                return -1;
            }
        }
        const std::size_t n = std::min(size, textSize_ - textAt_);
        std::memcpy(buffer, text_.get() + textAt_, n);
        textAt_ += n;
        return static_cast<ssize_t>(n);
    }

private:
    bool load() {
        loaded_ = true;
        decompressor_ = libdeflate_alloc_decompressor();
        if (decompressor_ == nullptr) {
            fail(SourceState::ReadFailed, ENOMEM, ErrnoText(ENOMEM));
            return false;
        }
        // The size the file had when opened, and more while it grows.
        file_.resize(static_cast<std::size_t>(fileSize_) + 1);
        std::size_t at = 0;
        for (;;) {
            if (at == file_.size()) {
                file_.resize(file_.size() * 2);
            }
            const Result<std::size_t> got =
                ReadSome(fd_.get(), reinterpret_cast<char*>(file_.data() + at), file_.size() - at);
            if (!got) {
                fail(SourceState::ReadFailed, got.error().code, ErrnoText(got.error().code));
                return false;
            }
            if (*got == 0) {
                break;
            }
            at += *got;
        }
        file_.resize(at);
        return true;
    }

    bool decodeMember() {
        const std::size_t left = file_.size() - position_;
        if (left < 2 || !StartsMember(file_.data() + position_)) {
            damage(NotGzipReason(members_), position_);
            return false;
        }
        // Logs shrink to a fifth or less; the trailer's length is exact for
        // the usual single member. Never more than the member can expand to.
        std::size_t capacity =
            std::clamp(std::max(static_cast<std::size_t>(sizeHint()), left * 4),
                       std::size_t{1} << 16, left * kMaxRatio + (std::size_t{1} << 16));
        for (;;) {
            if (capacity > textCapacity_) {
                text_ = std::make_unique_for_overwrite<std::uint8_t[]>(capacity);
                textCapacity_ = capacity;
            }
            std::size_t used = 0;
            std::size_t produced = 0;
            const libdeflate_result result =
                libdeflate_gzip_decompress_ex(decompressor_, file_.data() + position_, left,
                                              text_.get(), textCapacity_, &used, &produced);
            if (result == LIBDEFLATE_SUCCESS) {
                position_ += used;
                textAt_ = 0;
                textSize_ = produced;
                ++members_;
                return true;
            }
            if (result != LIBDEFLATE_INSUFFICIENT_SPACE ||
                textCapacity_ > std::numeric_limits<std::size_t>::max() / 4) {
                damage("gzip member " + std::to_string(members_ + 1) + " is corrupt or truncated",
                       position_);
                return false;
            }
            capacity = textCapacity_ * 2;
        }
    }

    FileDescriptor fd_;
    std::uint64_t fileSize_ = 0;
    libdeflate_decompressor* decompressor_ = nullptr;
    bool loaded_ = false;
    std::vector<std::uint8_t> file_;
    std::size_t position_ = 0; // the next member's first byte in file_
    std::unique_ptr<std::uint8_t[]> text_;
    std::size_t textCapacity_ = 0;
    std::size_t textAt_ = 0;
    std::size_t textSize_ = 0;
    std::uint64_t members_ = 0;
};

} // namespace

std::unique_ptr<LogSource> OpenGzipFile(const std::string& path, const GzipOptions& options) {
    Result<FileDescriptor> opened = OpenForReading(path);
    if (!opened) {
        const int error = opened.error().code;
        return FailedSource({path, {}}, SourceState::OpenFailed, error, ErrnoText(error));
    }
    FileDescriptor fd = std::move(opened).value();
    switch (options.inflater) {
    case GzipInflater::Libdeflate:
        return std::make_unique<LibdeflateSource>(path, std::move(fd));
    case GzipInflater::Zlib:
        return std::make_unique<GzipStreamSource>(
            path, std::move(fd), std::make_unique<ZlibDecoder>(), options.inputBlockBytes);
    case GzipInflater::Isal:
        break;
    }
    return std::make_unique<GzipStreamSource>(path, std::move(fd), std::make_unique<IsalDecoder>(),
                                              options.inputBlockBytes);
}

} // namespace logdesk
