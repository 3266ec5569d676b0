// Polling the cancel token of the long statistics routines.
#pragma once

#include "core/base/cancel_token.h"
#include "core/logimport/parallel_work.h"

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace logdesk {

// True once the token was cancelled (CancelToken::cancelled, kept for the
// callers that poll between rows).
inline bool CancelRequested(const CancelToken& cancel) {
    return cancel.cancelled();
}

// Rows a loop handles between two polls: a few milliseconds of work.
inline constexpr std::uint32_t kRowsPerCancelPoll = 4096;

// True at every kRowsPerCancelPoll-th row when cancellation was requested.
inline bool CancelRequestedAt(std::uint32_t row, const CancelToken& cancel) {
    return row % kRowsPerCancelPoll == 0 && CancelRequested(cancel);
}

// std::sort of [first, last) that gives up as soon as the token is cancelled,
// polled at every comparison; false then, with the range in some order of
// its elements. A sort of a million keys is the longest single step of a
// page build or a column sort, too long to wait for after a cancel.
template <typename Iterator, typename Less>
bool SortUnlessCancelled(Iterator first, Iterator last, Less less, const CancelToken& cancel) {
    if (!cancel.cancellable()) {
        std::sort(first, last, less);
        return true;
    }
    // Leaves std::sort through its comparator; std::sort is exception-
    // neutral, and nothing escapes this function.
    struct Stopped {};
    try {
        std::sort(first, last, [&](const auto& a, const auto& b) {
            if (cancel.cancelled()) {
                throw Stopped{};
            }
            return less(a, b);
        });
    } catch (const Stopped&) {
        return false;
    }
    return true;
}

// The same on up to `threads` threads: pieces sorted side by side, then
// merged. The order is a sorted order of the elements, as std::sort gives;
// which of equal elements comes first may differ (callers use the order of
// distinct keys only).
template <typename Iterator, typename Less>
bool SortInPiecesUnlessCancelled(Iterator first, Iterator last, Less less,
                                 const CancelToken& cancel, unsigned threads) {
    const auto count = static_cast<std::size_t>(last - first);
    constexpr std::size_t kSmallest = 1u << 15; // below this, one thread is faster
    const std::size_t pieces = std::min<std::size_t>(threads, count / kSmallest);
    if (pieces <= 1) {
        return SortUnlessCancelled(first, last, less, cancel);
    }
    std::vector<Iterator> bounds;
    for (std::size_t p = 0; p <= pieces; ++p) {
        bounds.push_back(first + static_cast<std::ptrdiff_t>(count * p / pieces));
    }
    std::atomic<bool> stopped{false};
    RunPieces(pieces, static_cast<unsigned>(pieces), [&](std::size_t p, unsigned) {
        if (!SortUnlessCancelled(bounds[p], bounds[p + 1], less, cancel)) {
            stopped = true;
        }
    });
    if (stopped) {
        return false;
    }
    // Pairwise merges, each round on the threads again.
    for (std::size_t width = 1; width < pieces; width *= 2) {
        std::vector<std::size_t> starts;
        for (std::size_t p = 0; p + width < pieces; p += 2 * width) {
            starts.push_back(p);
        }
        RunPieces(starts.size(), threads, [&](std::size_t i, unsigned) {
            const std::size_t p = starts[i];
            std::inplace_merge(bounds[p], bounds[p + width],
                               bounds[std::min(p + 2 * width, pieces)], less);
        });
        if (CancelRequested(cancel)) {
            return false;
        }
    }
    return true;
}

} // namespace logdesk
