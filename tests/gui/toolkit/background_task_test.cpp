#include "gui/toolkit/background_task.h"

#include <QCoreApplication>
#include <QProgressBar>
#include <QTest>
#include <QThread>
#include <atomic>
#include <gtest/gtest.h>
#include <memory>
#include <thread>

namespace logdesk {
namespace {

// Waits (processing events) until `done` holds or 10 seconds passed.
bool WaitFor(const std::function<bool()>& done) {
    return QTest::qWaitFor(done, 10000);
}

TEST(BackgroundTaskTest, RunsOnAWorkerAndDeliversOnTheGuiThread) {
    QObject owner;
    BackgroundTask task(owner);
    std::vector<int> shown;
    task.onProgress([&](int permille) {
        EXPECT_EQ(QThread::currentThread(), owner.thread());
        shown.push_back(permille);
    });
    QThread* deliveredOn = nullptr;
    bool workerWasAnother = false;
    int result = 0;
    ASSERT_TRUE(task.start(
        [gui = QThread::currentThread(), &workerWasAnother](const TaskControl& control) {
            workerWasAnother = QThread::currentThread() != gui;
            for (int i = 0; i <= 100; ++i) {
                control.progress(i, 100);
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
            return 42;
        },
        [&](int value) {
            deliveredOn = QThread::currentThread();
            result = value;
        }));
    EXPECT_TRUE(task.running());
    ASSERT_TRUE(WaitFor([&] { return !task.running(); }));
    EXPECT_TRUE(workerWasAnother);
    EXPECT_EQ(deliveredOn, owner.thread());
    EXPECT_EQ(result, 42);
    // Throttled: far fewer than the 101 calls, rising, ending complete.
    ASSERT_FALSE(shown.empty());
    EXPECT_LT(shown.size(), 60u);
    EXPECT_TRUE(std::is_sorted(shown.begin(), shown.end()));
    EXPECT_EQ(shown.back(), 1000);

    // A progress bar gets the same values; a void work its done().
    QProgressBar bar;
    bar.setRange(0, 1000);
    task.showProgressOn(&bar);
    task.onProgress({});
    bool voidDone = false;
    ASSERT_TRUE(task.start([](const TaskControl& control) { control.progress(3, 4); },
                           [&] { voidDone = true; }));
    ASSERT_TRUE(WaitFor([&] { return voidDone; }));
    EXPECT_EQ(bar.value(), 750);
}

TEST(BackgroundTaskTest, RefusesOrSupersedesAndDropsCancelledResults) {
    QObject owner;
    BackgroundTask task(owner);
    std::vector<int> delivered;
    auto untilCancelled = [](int value) {
        return [value](const TaskControl& control) {
            while (!control.cancelled()) {
                std::this_thread::yield();
            }
            return value;
        };
    };
    auto record = [&](int value) { delivered.push_back(value); };
    ASSERT_TRUE(task.start(untilCancelled(1), record));
    EXPECT_FALSE(task.start(untilCancelled(2), record)); // refused by default
    // The superseded one is cancelled and joined before the new one starts.
    ASSERT_TRUE(task.start([](const TaskControl&) { return 3; }, record,
                           BackgroundTask::Overlap::Supersede));
    ASSERT_TRUE(WaitFor([&] { return !task.running(); }));
    QCoreApplication::processEvents();
    EXPECT_EQ(delivered, std::vector<int>{3});

    // A cancel drops the result; the task is free again once the worker ended.
    ASSERT_TRUE(task.start(untilCancelled(4), record));
    task.cancel();
    EXPECT_TRUE(task.running());
    ASSERT_TRUE(WaitFor([&] { return !task.running(); }));
    task.cancelAndWait(); // nothing left to wait for
    EXPECT_EQ(delivered, std::vector<int>{3});
}

TEST(BackgroundTaskTest, NothingReachesADeletedOwner) {
    auto owner = std::make_unique<QObject>();
    auto task = std::make_unique<BackgroundTask>(*owner);
    std::atomic<bool> release{false};
    std::atomic<bool> ended{false};
    bool delivered = false;
    int progressShown = 0;
    task->onProgress([&](int) { ++progressShown; });
    ASSERT_TRUE(task->start(
        [&](const TaskControl& control) {
            while (!release) {
                std::this_thread::yield();
            }
            control.progress(1, 1);
            ended = true;
            return 0;
        },
        [&](int) { delivered = true; }));
    owner.reset(); // the task outlives its owner
    release = true;
    ASSERT_TRUE(WaitFor([&] { return ended.load(); }));
    QTest::qWait(50);
    EXPECT_FALSE(delivered);
    EXPECT_EQ(progressShown, 0);
    task.reset(); // joins the worker that ended
}

TEST(BackgroundTaskTest, DestroyingTheTaskCancelsAndJoinsItsWorker) {
    std::atomic<bool> started{false};
    std::atomic<bool> sawCancel{false};
    std::atomic<bool> ended{false};
    bool delivered = false;
    {
        QObject owner;
        BackgroundTask task(owner);
        ASSERT_TRUE(task.start(
            [&](const TaskControl& control) {
                started = true;
                while (!control.cancelled()) {
                    std::this_thread::yield();
                }
                sawCancel = true;
                // Work after the cancel still ends before the task is gone.
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
                ended = true;
                return 0;
            },
            [&](int) { delivered = true; }));
        while (!started) {
            std::this_thread::yield();
        }
    }
    EXPECT_TRUE(sawCancel);
    EXPECT_TRUE(ended);
    QCoreApplication::processEvents();
    EXPECT_FALSE(delivered);
}

} // namespace
} // namespace logdesk
