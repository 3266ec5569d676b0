#include "core/base/cancellation.h"

#include <gtest/gtest.h>
#include <memory>
#include <thread>

namespace logdesk {
namespace {

TEST(CancelTokenTest, TokensTurnWithTheirSourceAndOutliveIt) {
    const CancelToken never;
    EXPECT_FALSE(never.cancelled());
    EXPECT_FALSE(never.cancellable());

    auto stop = std::make_unique<Cancellation>();
    const CancelToken token = stop->token();
    const CancelToken copy = token;
    EXPECT_TRUE(token.cancellable());
    EXPECT_FALSE(copy.cancelled());
    stop->cancel();
    EXPECT_TRUE(token.cancelled());
    EXPECT_TRUE(copy.cancelled());
    EXPECT_TRUE(stop->token().cancelled()); // a token made after the cancel

    // A source replaced by a fresh one leaves its tokens as they were.
    stop = std::make_unique<Cancellation>();
    EXPECT_TRUE(copy.cancelled());
    EXPECT_FALSE(stop->token().cancelled());
    const CancelToken orphan = stop->token();
    stop.reset();
    EXPECT_FALSE(orphan.cancelled());
}

// A worker polling its token sees a cancel raised on another thread, and a
// guarded callback never runs after cancel() returned.
TEST(CancelTokenTest, AWorkerStopsOnACancelFromAnotherThread) {
    Cancellation stop;
    int calls = 0;
    std::thread worker([token = stop.token(), &stop, &calls] {
        while (!token.cancelled()) {
            stop.guard([&] { ++calls; });
        }
    });
    stop.cancel();
    const int seen = calls; // no guarded call runs after cancel() returned
    worker.join();
    EXPECT_EQ(calls, seen);
}

} // namespace
} // namespace logdesk
