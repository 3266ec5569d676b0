// Streaming a threaded import to consumers that do not split: their records
// in file order while later ranges are still being split.
#pragma once

#include "parallel_import.h"

#include <atomic>
#include <cstddef>
#include <vector>

namespace logdesk {

// Streaming to consumers that do not split: a range's records go to them as
// soon as it and every range before it are split, on whichever thread finds
// them ready, so that the counting overlaps the splitting of later ranges.
// One thread feeds at a time; a range finished meanwhile is taken by the
// feeder, which looks again after it lets go.
class ParallelImport::OrderedFeed {
public:
    OrderedFeed(ParallelImport& import, std::vector<Range>& ranges)
        : import_(import), ranges_(ranges), done_(ranges.size()) {}

    // Range i is split (on the calling thread).
    void finished(std::size_t i) {
        // Sequentially consistent throughout: a thread that finds the feeder
        // busy stored its range's flag before the feeder's last look.
        done_[i].store(true);
        while (!feeding_.exchange(true)) {
            std::size_t next = next_.load();
            try {
                while (next < ranges_.size() && done_[next].load()) {
                    import_.feedRecords(ranges_[next]);
                    next_.store(++next);
                }
            } catch (...) {
                feeding_.store(false);
                throw;
            }
            feeding_.store(false);
            // Look again for a range finished while this thread fed.
            if (next >= ranges_.size() || !done_[next].load()) {
                return;
            }
        }
    }

private:
    ParallelImport& import_;
    std::vector<Range>& ranges_;
    std::vector<std::atomic<bool>> done_;
    std::atomic<std::size_t> next_{0};
    std::atomic<bool> feeding_{false};
};

} // namespace logdesk
