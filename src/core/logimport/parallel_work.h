// Work shared out over threads: pieces numbered 0..count-1 taken in turn by
// each thread, the calling thread among them. What a piece writes must be
// its own; the caller joins the pieces' results in piece order afterwards.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace logdesk {

// How a piece of work is shared out: threads (0: one per hardware thread;
// 1: in one pass on the calling thread) and, for tests, the size of a piece
// (0: the work's own choice).
struct Parallelism {
    unsigned threads = 0;
    std::size_t pieceSize = 0;
};

// Threads to use when asked for `wanted` (0: one per hardware thread).
inline unsigned WorkThreads(unsigned wanted) {
    return wanted > 0 ? wanted : std::max(1u, std::thread::hardware_concurrency());
}

// Runs work(piece, thread) for every piece on up to `threads` threads and
// returns when all are done. An exception in a piece stops the handing out
// of further pieces and is rethrown here once every thread has stopped.
template <typename Work> void RunPieces(std::size_t count, unsigned threads, Work&& work) {
    if (count == 0) {
        return;
    }
    std::atomic<std::size_t> next{0};
    std::exception_ptr failure;
    std::mutex failureLock;
    auto worker = [&](unsigned index) {
        try {
            for (std::size_t i; (i = next.fetch_add(1)) < count;) {
                work(i, index);
            }
        } catch (...) {
            const std::lock_guard lock(failureLock);
            if (!failure) {
                failure = std::current_exception();
            }
            next = count;
        }
    };
    const auto helpers =
        static_cast<unsigned>(std::min<std::size_t>(std::max(threads, 1u), count)) - 1;
    std::vector<std::thread> pool;
    pool.reserve(helpers);
    try {
        for (unsigned t = 0; t < helpers; ++t) {
            pool.emplace_back(worker, t + 1);
        }
    } catch (const std::system_error&) {
        // No more threads to be had: the ones started share the work.
    }
    worker(0);
    for (std::thread& t : pool) {
        t.join();
    }
    if (failure) {
        std::rethrow_exception(failure);
    }
}

} // namespace logdesk
