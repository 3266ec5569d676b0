// Long work of a window on a worker thread: the work reads a snapshot the
// window handed it, may report progress and polls a cancel token; its result
// comes back on the GUI thread, to a window that still exists.
#pragma once

#include "core/base/cancellation.h"

#include <QPointer>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <type_traits>

class QObject;
class QProgressBar;

namespace logdesk {

namespace task_detail {

// The way from a worker back to the GUI thread: the task's context object,
// or none once the task or the context's owner is gone.
struct Channel {
    std::mutex mutex;
    QObject* context = nullptr;

    // Queues `call` to run on the context's thread; dropped when there is no
    // context any more, and with the context's queue when it is deleted.
    void post(std::function<void()> call);
};

// One start() of a task, shared by the task and its worker.
struct Run {
    Cancellation stop; // guards nothing: the work polls its token
    std::shared_ptr<Channel> channel;
    std::function<void(int permille)> showProgress; // GUI thread; may be empty
    // Worker side only: what was last posted, and when.
    int postedPermille = -1;
    std::chrono::steady_clock::time_point postedAt{};
};

} // namespace task_detail

// What the work sees of its task. Used on the worker thread only.
class TaskControl {
public:
    // For the core's long routines, which poll it every few thousand rows.
    CancelToken cancelToken() const { return run_->stop.token(); }
    bool cancelled() const { return run_->stop.cancelled(); }
    // `done` of `total` units (0 of 0 counts as complete). Reaches the GUI
    // thread at most every 20 ms and only when the value in thousandths
    // changed; the last one, complete, always goes.
    void progress(std::uint64_t done, std::uint64_t total) const;

private:
    friend class BackgroundTask;
    explicit TaskControl(std::shared_ptr<task_detail::Run> run) : run_(std::move(run)) {}
    std::shared_ptr<task_detail::Run> run_;
};

// Runs one piece of work at a time for its owner. The owner keeps the task
// as a member, so that the task is destroyed, and its worker cancelled and
// joined, before the rest of the owner goes. GUI thread only.
class BackgroundTask {
public:
    // What start() does while a task still runs.
    enum class Overlap {
        Refuse,    // the running one goes on; start() returns false
        Supersede, // the running one is cancelled and joined, its result dropped
    };

    // Results are delivered through a context object owned by `owner`: once
    // the owner is deleted nothing is delivered, even if the task outlives it.
    explicit BackgroundTask(QObject& owner);
    // Cancels the work and joins the worker; nothing is delivered afterwards.
    ~BackgroundTask();
    BackgroundTask(const BackgroundTask&) = delete;
    BackgroundTask& operator=(const BackgroundTask&) = delete;

    // Where progress goes: a 0..1000 bar, or a handler given the value in
    // thousandths. Set before start(); applies to later starts.
    void showProgressOn(QProgressBar* bar);
    void onProgress(std::function<void(int permille)> handler);

    // Runs `work(const TaskControl&)` on a worker thread, then `done(result)`
    // on the GUI thread unless the task was cancelled or superseded
    // meanwhile. `work` must only read what it captured (a snapshot): the
    // window may change anything else while it runs. Both are copied into
    // the worker and the delivery, so they must be copyable. A work
    // returning void gets `done()`. False when refused, or when no thread
    // could be had.
    template <typename Work, typename Done>
    bool start(Work work, Done done, Overlap overlap = Overlap::Refuse);

    // True from start() until the worker has ended and its result was
    // delivered or dropped.
    bool running() const { return current_ != nullptr; }
    // Asks the worker to stop and drops its result; running() turns false
    // once the worker's end reached the GUI thread. Returns at once.
    void cancel();
    // Cancels and waits for the worker to end; the core polls its token every
    // few thousand rows, so this takes a few milliseconds.
    void cancelAndWait();

private:
    using Body = std::function<std::function<void()>(const TaskControl&)>;
    bool launch(Body body, Overlap overlap);
    void finish(const std::shared_ptr<task_detail::Run>& run, const std::function<void()>& deliver);

    std::shared_ptr<task_detail::Channel> channel_;
    std::shared_ptr<task_detail::Run> current_;
    std::thread worker_;
    QPointer<QProgressBar> bar_;
    std::function<void(int permille)> progressHandler_;
};

template <typename Work, typename Done>
bool BackgroundTask::start(Work work, Done done, Overlap overlap) {
    using Result = std::invoke_result_t<Work&, const TaskControl&>;
    return launch(
        [work = std::move(work),
         done = std::move(done)](const TaskControl& control) mutable -> std::function<void()> {
            if constexpr (std::is_void_v<Result>) {
                work(control);
                return [done]() mutable { done(); };
            } else {
                auto result = std::make_shared<Result>(work(control));
                return [done, result]() mutable { done(std::move(*result)); };
            }
        },
        overlap);
}

} // namespace logdesk
