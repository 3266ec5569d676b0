#include "toolkit/pausable_wait.h"

#include <QElapsedTimer>
#include <QTimer>
#include <gtest/gtest.h>

namespace logdesk {
namespace {

TEST(PausableWaitTest, WaitsTheTimeOrUntilStopped) {
    bool stop = false;
    QElapsedTimer clock;
    clock.start();
    PausableWait(0, stop);
    EXPECT_LT(clock.elapsed(), 50);

    clock.restart();
    PausableWait(150, stop);
    EXPECT_GE(clock.elapsed(), 150);

    // The handler that sets the flag runs during the wait.
    bool handled = false;
    QTimer::singleShot(30, [&] {
        stop = true;
        handled = true;
    });
    clock.restart();
    PausableWait(5000, stop);
    EXPECT_TRUE(handled);
    EXPECT_LT(clock.elapsed(), 2000);

    clock.restart();
    PausableWait(5000, stop); // begun with the flag set
    EXPECT_LT(clock.elapsed(), 50);
}

} // namespace
} // namespace logdesk
