// The importer's byte scan: where a data line's fields start and where the
// line stops. The bytes it looks for (blank, LF, NUL, 0x1A) are all below
// 0x40, so none of them is ever the trail byte of a GBK character and a
// byte-wise search finds exactly the places the text rules find.
//
// The scan is vectorised where the CPU allows it (AVX2 when the processor has
// it, chosen once at run time; SSE2 on every x86-64; plain loops elsewhere).
// Every path gives the same results.
#pragma once

#include <cstddef>
#include <cstdint>

namespace logdesk {

// Bytes a scan may read past the end it is given; buffers it scans keep this
// many bytes of slack after their last byte.
inline constexpr std::size_t kScanSlack = 64;

struct LineScan {
    // The first LF, NUL or 0x1A at or after the start, or the end given.
    const char* stop;
    // Blanks found before `stop`, at most the limit asked for.
    std::size_t blanks;
};

enum class ScanKind { Portable, Sse2, Avx2 };

// Scans [begin, end) for the stop byte, writing the offset (from `begin`)
// of the byte after each of the first `maxBlanks` blanks before it into
// `fieldStarts`. Reads up to kScanSlack bytes past `end`, never using them.
using LineScanner = LineScan (*)(const char* begin, const char* end, std::uint32_t* fieldStarts,
                                 std::size_t maxBlanks);

// The fastest scanner this processor runs; the same for the whole run.
LineScanner BestLineScanner();
// A given kind, for tests and benchmarks; Portable where the kind is not
// available on this processor.
LineScanner LineScannerOf(ScanKind kind);
ScanKind BestScanKind();

} // namespace logdesk
