// .gz files, streamed: nothing is unpacked to disk.
//
// A file may hold several gzip members one after another (what `cat a.gz
// b.gz` makes); their contents are delivered as one stream. Each member's
// checksum and length are checked at its end. The source is Damaged
// (see log_source.h) when
// - the file ends inside a member (a truncated copy, a compressor that was
//   stopped), compressedOffset = the file's size;
// - a member's data is corrupt or its checksum or length does not match,
//   compressedOffset = about where the decoder stopped (with libdeflate,
//   the damaged member's start);
// - bytes after a complete member are not the start of another member
//   (padding, a partial append), compressedOffset = where they start;
// - the file is empty, as no gzip file is: it holds no member.
//
// The inflater (measured on a generated 1,000,000-line log of 254 MB, 44 MB
// after `gzip -6`, on this project's two-core build machine; medians of 5,
// printed by scripts/bench): ISA-L's igzip streams about 1,330 MB/s of log
// text, zlib about 510 MB/s. libdeflate reaches about 680 MB/s but only
// decodes a whole member at once, so it holds the whole compressed file and
// a whole member's text in memory (300 MB more at its peak here) and
// delivers none of a damaged member. ISA-L is the default: fastest,
// streaming in a few hundred kB, and it keeps the text before damage. The
// others stay selectable for the benchmark and for comparison.
#pragma once

#include "core/input/log_source.h"

#include <cstddef>
#include <memory>
#include <string>

namespace logdesk {

enum class GzipInflater {
    Isal,
    Zlib,
    Libdeflate,
};

struct GzipOptions {
    GzipInflater inflater = GzipInflater::Isal;
    // Compressed bytes read from the file at a time (streaming inflaters);
    // small values exercise headers and trailers split across reads.
    std::size_t inputBlockBytes = std::size_t{256} << 10;
};

// sizeHint() is the length the file's last member records: the exact length
// of a single-member file below 4 GiB, only the last member's (modulo 4 GiB)
// for a multi-member one, and never more than 1032 times the file's size
// (what deflate can expand it to). progress() counts compressed bytes
// consumed.
std::unique_ptr<LogSource> OpenGzipFile(const std::string& path, const GzipOptions& options = {});

} // namespace logdesk
