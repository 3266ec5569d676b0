// A stream of log bytes: one plain file, standard input, one .gz file, one
// .bz2/.xz/.zst file, or one .log member of an archive.
//
// Every source is read the way a descriptor is:
//
//     ssize_t n = source.read(buffer, size);
//
// returns the bytes placed in buffer (> 0), 0 at the end, or -1 with errno
// set. A source that returned 0 or -1 keeps returning the same (and the same
// errno). read() never throws and never returns -1 with EINTR.
//
// How a source ended is in status(), whose state tells apart:
// - Complete: every byte was delivered (read returned 0).
// - OpenFailed / ReadFailed: the system refused (errno is the system's, and
//   status().error holds it with the system's words); nothing after the
//   failure was delivered.
// - Damaged: the bytes are not what a sound file holds (a truncated or
//   corrupt .gz, a broken archive member); read returned -1 with errno
//   EBADMSG. What was decoded before the damage was found has been
//   delivered by earlier reads, status().deliveredBytes of it. A caller may
//   keep those bytes only when it tells the user that the source was
//   damaged, and where: a damaged source never looks like a complete one.
//   Truncated data ends cleanly at the cut. Corrupt data may decode into
//   wrong text for a stretch before the decoder finds it out, and a
//   checksum fails only at the end of its member, once all of its text is
//   out: deliveredBytes is where the damage was found, not where it began.
//   unconfirmedFrom then says where the text that no check vouches for
//   starts (the damaged member's first byte); a caller keeps only the bytes
//   before it.
//
// A source is used by one thread at a time. Plain and .gz sources read with
// O_RDONLY only: IIS keeps today's log open for writing, and reading must
// not disturb it.
#pragma once

#include "core/base/result.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <sys/types.h>

namespace logdesk {

struct SourceName {
    std::string path;   // the file as listed; "-" for standard input
    std::string member; // the member's path inside an archive; empty otherwise

    // "path" or "path:member", for messages.
    std::string display() const;
};

enum class SourceState {
    Reading, // not ended yet
    Complete,
    OpenFailed,
    ReadFailed,
    Damaged,
};

struct SourceStatus {
    SourceState state = SourceState::Reading;
    // Why it failed or was damaged: the code is the errno read() set (the
    // system's, or EBADMSG for Damaged), the cause the system's words or
    // what the decoder found wrong; `what` and `path` are empty. None while
    // reading and once complete.
    std::optional<Error> error;
    // Bytes read() delivered before the source ended.
    std::uint64_t deliveredBytes = 0;
    // Damaged only: the byte of the compressed file where decoding failed,
    // when the decoder knows it (a .gz file); an archive member's damage is
    // located by deliveredBytes, the offset reached within the member.
    std::optional<std::uint64_t> compressedOffset;
    // Damaged by corruption: the first delivered byte that may be wrong text,
    // at most deliveredBytes. Unset when every delivered byte is sound (a
    // truncated file: deflate text ends cleanly at the cut).
    std::optional<std::uint64_t> unconfirmedFrom;

    // The errno read() set; 0 while reading and once complete.
    int code() const { return error ? error->code : 0; }
    bool ended() const { return state != SourceState::Reading; }
    bool complete() const { return state == SourceState::Complete; }
};

// How far reading has come through the file the source comes from: bytes of
// the file itself (compressed bytes for a compressed file; for an archive
// member, the position reached in the archive, which its members share).
struct SourceProgress {
    std::uint64_t done = 0;
    std::uint64_t total = 0; // the file's size; 0 when unknown (a pipe)
};

class LogSource {
public:
    virtual ~LogSource() = default;
    LogSource(const LogSource&) = delete;
    LogSource& operator=(const LogSource&) = delete;

    // See the top of this file. A size of 0 reads nothing and returns 0
    // without ending the source.
    ssize_t read(char* buffer, std::size_t size);

    const SourceName& name() const { return name_; }
    // Bytes of log text expected, for sizing buffers; 0 when unknown. A hint
    // only: the source may deliver more or fewer.
    std::uint64_t sizeHint() const { return sizeHint_; }
    std::uint64_t delivered() const { return delivered_; }
    const SourceStatus& status() const { return status_; }
    virtual SourceProgress progress() const = 0;

    // "NAME: damaged after N bytes (compressed offset M): REASON" and the
    // like; empty while reading and once complete.
    std::string describeFailure() const;

protected:
    LogSource(SourceName name, std::uint64_t sizeHint)
        : name_(std::move(name)), sizeHint_(sizeHint) {}

    // Returns bytes (> 0), 0 at a clean end, or -1 after calling fail() or
    // damage(). Called only while the source has not ended, with size > 0.
    virtual ssize_t readSome(char* buffer, std::size_t size) = 0;

    void fail(SourceState state, int error, std::string reason);
    void damage(std::string reason, std::optional<std::uint64_t> compressedOffset = std::nullopt);
    // After damage(): the delivered text from `from` on may be wrong.
    void distrustFrom(std::uint64_t from) {
        status_.unconfirmedFrom = std::min(from, status_.deliveredBytes);
    }
    // Takes over how another source ended (one read on this one's behalf).
    void adoptEnd(const SourceStatus& ended);
    void setSizeHint(std::uint64_t hint) { sizeHint_ = hint; }

private:
    SourceName name_;
    std::uint64_t sizeHint_ = 0;
    std::uint64_t delivered_ = 0;
    SourceStatus status_;
};

// A source that failed before any byte: read() returns -1 with `error`.
std::unique_ptr<LogSource> FailedSource(SourceName name, SourceState state, int error,
                                        std::string reason);

// A plain file, read as it is. Opening failures end the source as OpenFailed.
std::unique_ptr<LogSource> OpenPlainFile(const std::string& path);

// An inherited descriptor (standard input by default), read as it is and
// left open. Named "-".
std::unique_ptr<LogSource> OpenDescriptor(int fd = 0);

} // namespace logdesk
