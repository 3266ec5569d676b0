// Archives and single compressed streams, read through libarchive.
//
// An archive (.zip, .tar, .tar.gz/.tgz, .tar.bz2/.tbz2/.tbz, .tar.xz/.txz,
// .tar.zst/.tzst) gives one source per member that is a regular file whose
// name ends in ".log" (without case), in name order (input/name_order.h) of
// the members' paths. Other members are skipped. A .bz2, .xz or .zst file
// that is no tar is one stream of log text, like a .gz file.
//
// Only the gzip, bzip2, xz and zstd decoders and the zip, tar and raw
// formats are enabled: libarchive never runs an outside program here.
#pragma once

#include "core/input/log_source.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace logdesk {

class ArchiveReader;

// One archive file: its .log members, listed when it is opened, and a
// reader they share.
//
// The members are read through one open archive, so read them one after
// another: opening a member moves the reader to it, and a member opened
// before then fails (ReadFailed, EBUSY) when it is read again unfinished.
// Members in the order the archive stores them are read in one pass; a
// member stored before the one read last makes the reader start again from
// the archive's beginning (cheap for a zip, which is read through its
// directory; a compressed tar is decompressed again up to that member).
//
// A tar is listed by reading it through, decompressing it; a zip by its
// directory. A zip whose directory is missing (a truncated copy) is read
// member by member from its start instead.
class LogArchive {
public:
    struct Member {
        std::string path; // inside the archive
        // Of its text as the archive claims it, at most 1032 times the
        // archive's size; 0 when the archive does not say.
        std::uint64_t size = 0;
        std::uint64_t index = 0; // position among all entries, in stored order
    };

    // Opens the file and lists its members. Check openFailure() and
    // listingStopped().
    explicit LogArchive(const std::string& path);
    ~LogArchive();
    LogArchive(const LogArchive&) = delete;
    LogArchive& operator=(const LogArchive&) = delete;

    const std::string& path() const { return path_; }
    // The .log members in name order, as far as the listing got.
    const std::vector<Member>& members() const { return members_; }

    // Set when the file could not be opened or read (state OpenFailed or
    // ReadFailed, the system's errno and words); members() is then empty.
    const SourceStatus* openFailure() const { return failed_ ? &failure_ : nullptr; }
    // Set when the listing stopped before the archive's end, at damage
    // (Damaged) or at a failed read (ReadFailed, the system's errno): the
    // members stored after that point are unknown. The reason says what was
    // found and after which entry.
    const SourceStatus* listingStopped() const { return stopped_ ? &failure_ : nullptr; }

    // The source of members()[i], the reader moved to it (an OpenFailed one
    // for an i out of range). Its progress() is the position reached in the
    // archive file.
    std::unique_ptr<LogSource> openMember(std::size_t i);

private:
    std::string path_;
    std::shared_ptr<ArchiveReader> reader_;
    std::vector<Member> members_;
    SourceStatus failure_;
    bool failed_ = false;
    bool stopped_ = false;
};

// A .bz2, .xz or .zst file holding one stream of log text. A file whose
// bytes are not compressed in one of those ways is Damaged, as is an empty
// one. sizeHint() is 0: the formats do not record the length.
std::unique_ptr<LogSource> OpenCompressedFile(const std::string& path);

} // namespace logdesk
