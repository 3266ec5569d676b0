// Polling the cancel flag of the long statistics routines.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstdint>

namespace logdesk {

// True once the flag (when there is one) turned true. Relaxed: the flag
// carries no data, and a poll that misses the turn catches it next time.
inline bool CancelRequested(const std::atomic<bool>* cancel) {
    return cancel != nullptr && cancel->load(std::memory_order_relaxed);
}

// Rows a loop handles between two polls: a few milliseconds of work.
inline constexpr std::uint32_t kRowsPerCancelPoll = 4096;

// True at every kRowsPerCancelPoll-th row when cancellation was requested.
inline bool CancelRequestedAt(std::uint32_t row, const std::atomic<bool>* cancel) {
    return row % kRowsPerCancelPoll == 0 && CancelRequested(cancel);
}

// std::sort of [first, last) that gives up as soon as the flag turns true,
// polled at every comparison; false then, with the range in some order of
// its elements. A sort of a million keys is the longest single step of a
// page build or a column sort, too long to wait for after a cancel.
template <typename Iterator, typename Less>
bool SortUnlessCancelled(Iterator first, Iterator last, Less less,
                         const std::atomic<bool>* cancel) {
    if (cancel == nullptr) {
        std::sort(first, last, less);
        return true;
    }
    // Leaves std::sort through its comparator; std::sort is exception-
    // neutral, and nothing escapes this function.
    struct Stopped {};
    try {
        std::sort(first, last, [&](const auto& a, const auto& b) {
            if (cancel->load(std::memory_order_relaxed)) {
                throw Stopped{};
            }
            return less(a, b);
        });
    } catch (const Stopped&) {
        return false;
    }
    return true;
}

} // namespace logdesk
