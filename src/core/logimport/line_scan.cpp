#include "line_scan.h"

#include <array>

#if defined(__x86_64__) || defined(_M_X64)
#include <immintrin.h>
#define LOGDESK_SCAN_X86 1
#endif

namespace logdesk {

namespace {

// 1 for the bytes that stop a line, 2 for the blank.
constexpr std::array<std::uint8_t, 256> kClass = [] {
    std::array<std::uint8_t, 256> c{};
    c['\n'] = 1;
    c['\0'] = 1;
    c[0x1A] = 1;
    c[' '] = 2;
    return c;
}();

LineScan ScanPortable(const char* begin, const char* end, std::uint32_t* fieldStarts,
                      std::size_t maxBlanks) {
    std::size_t blanks = 0;
    for (const char* p = begin; p < end; ++p) {
        const std::uint8_t c = kClass[static_cast<unsigned char>(*p)];
        if (c == 1) {
            return {p, blanks};
        }
        if (c == 2 && blanks < maxBlanks) {
            fieldStarts[blanks++] = static_cast<std::uint32_t>(p - begin + 1);
        }
    }
    return {end, blanks};
}

#if LOGDESK_SCAN_X86

// Takes the blanks of one block (bit i = byte p + i) up to the first stop
// byte; returns true when the block holds a stop byte.
inline bool TakeBlock(const char* begin, const char* p, std::uint64_t blankMask,
                      std::uint64_t stopMask, std::uint32_t* fieldStarts, std::size_t maxBlanks,
                      std::size_t& blanks) {
    if (stopMask != 0) {
        blankMask &= (stopMask & (0 - stopMask)) - 1;
    }
    const auto base = static_cast<std::uint32_t>(p - begin + 1);
    while (blankMask != 0 && blanks < maxBlanks) {
        fieldStarts[blanks++] = base + static_cast<std::uint32_t>(__builtin_ctzll(blankMask));
        blankMask &= blankMask - 1;
    }
    return stopMask != 0;
}

inline std::uint64_t ValidBits(std::size_t available, std::size_t width) {
    return available >= width ? ~std::uint64_t{0} >> (64 - width)
                              : (std::uint64_t{1} << available) - 1;
}

LineScan ScanSse2(const char* begin, const char* end, std::uint32_t* fieldStarts,
                  std::size_t maxBlanks) {
    const __m128i blank = _mm_set1_epi8(' ');
    const __m128i lf = _mm_set1_epi8('\n');
    const __m128i zero = _mm_setzero_si128();
    const __m128i sub = _mm_set1_epi8(0x1A);
    std::size_t blanks = 0;
    for (const char* p = begin; p < end; p += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        const __m128i stops = _mm_or_si128(
            _mm_or_si128(_mm_cmpeq_epi8(v, lf), _mm_cmpeq_epi8(v, zero)), _mm_cmpeq_epi8(v, sub));
        const std::uint64_t valid = ValidBits(static_cast<std::size_t>(end - p), 16);
        const std::uint64_t stopMask = static_cast<std::uint32_t>(_mm_movemask_epi8(stops)) & valid;
        const std::uint64_t blankMask =
            static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, blank))) & valid;
        if (TakeBlock(begin, p, blankMask, stopMask, fieldStarts, maxBlanks, blanks)) {
            return {p + __builtin_ctzll(stopMask), blanks};
        }
    }
    return {end, blanks};
}

// Stop and blank bits of the 32 bytes at `at`.
__attribute__((target("avx2"))) inline void Masks32(const char* at, std::uint64_t& stopMask,
                                                    std::uint64_t& blankMask) {
    const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at));
    const __m256i stops =
        _mm256_or_si256(_mm256_or_si256(_mm256_cmpeq_epi8(v, _mm256_set1_epi8('\n')),
                                        _mm256_cmpeq_epi8(v, _mm256_setzero_si256())),
                        _mm256_cmpeq_epi8(v, _mm256_set1_epi8(0x1A)));
    stopMask = static_cast<std::uint32_t>(_mm256_movemask_epi8(stops));
    blankMask = static_cast<std::uint32_t>(
        _mm256_movemask_epi8(_mm256_cmpeq_epi8(v, _mm256_set1_epi8(' '))));
}

__attribute__((target("avx2"))) LineScan
ScanAvx2(const char* begin, const char* end, std::uint32_t* fieldStarts, std::size_t maxBlanks) {
    std::size_t blanks = 0;
    for (const char* p = begin; p < end; p += 64) {
        std::uint64_t stopLow, blankLow, stopHigh, blankHigh;
        Masks32(p, stopLow, blankLow);
        Masks32(p + 32, stopHigh, blankHigh);
        const std::uint64_t valid = ValidBits(static_cast<std::size_t>(end - p), 64);
        const std::uint64_t stopMask = (stopLow | stopHigh << 32) & valid;
        const std::uint64_t blankMask = (blankLow | blankHigh << 32) & valid;
        if (TakeBlock(begin, p, blankMask, stopMask, fieldStarts, maxBlanks, blanks)) {
            return {p + __builtin_ctzll(stopMask), blanks};
        }
    }
    return {end, blanks};
}

bool HasAvx2() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2");
}

#endif

} // namespace

ScanKind BestScanKind() {
#if LOGDESK_SCAN_X86
    static const ScanKind best = HasAvx2() ? ScanKind::Avx2 : ScanKind::Sse2;
    return best;
#else
    return ScanKind::Portable;
#endif
}

LineScanner LineScannerOf(ScanKind kind) {
#if LOGDESK_SCAN_X86
    switch (kind) {
    case ScanKind::Avx2:
        return BestScanKind() == ScanKind::Avx2 ? ScanAvx2 : ScanSse2;
    case ScanKind::Sse2:
        return ScanSse2;
    case ScanKind::Portable:
        break;
    }
#else
    (void)kind;
#endif
    return ScanPortable;
}

LineScanner BestLineScanner() {
    return LineScannerOf(BestScanKind());
}

} // namespace logdesk
