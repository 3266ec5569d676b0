#include "background_task.h"

#include <QMetaObject>
#include <QObject>
#include <QProgressBar>
#include <algorithm>
#include <system_error>

namespace logdesk {

namespace task_detail {

void Channel::post(std::function<void()> call) {
    // Held while posting, so that the context cannot be deleted halfway
    // through: its deletion clears `context` under the same lock first.
    const std::lock_guard lock(mutex);
    if (context != nullptr) {
        QMetaObject::invokeMethod(context, std::move(call), Qt::QueuedConnection);
    }
}

} // namespace task_detail

void TaskControl::progress(std::uint64_t done, std::uint64_t total) const {
    task_detail::Run& run = *run_;
    if (!run.showProgress) {
        return;
    }
    const int permille =
        total == 0 ? 1000 : static_cast<int>(std::min<std::uint64_t>(done * 1000 / total, 1000));
    if (permille == run.postedPermille) {
        return;
    }
    const auto now = std::chrono::steady_clock::now();
    if (permille < 1000 && now - run.postedAt < std::chrono::milliseconds(20)) {
        return;
    }
    run.postedPermille = permille;
    run.postedAt = now;
    // The run is kept alive by the call; it shows nothing once cancelled.
    run.channel->post([run = run_, permille] {
        if (!run->stop.cancelled()) {
            run->showProgress(permille);
        }
    });
}

BackgroundTask::BackgroundTask(QObject& owner)
    : channel_(std::make_shared<task_detail::Channel>()) {
    auto* context = new QObject(&owner);
    channel_->context = context;
    QObject::connect(context, &QObject::destroyed, [channel = channel_] {
        const std::lock_guard lock(channel->mutex);
        channel->context = nullptr;
    });
}

BackgroundTask::~BackgroundTask() {
    cancelAndWait();
    QObject* context = nullptr;
    {
        const std::lock_guard lock(channel_->mutex);
        std::swap(context, channel_->context);
    }
    // Still there when the owner lives on; deleting it drops what is queued.
    delete context;
}

void BackgroundTask::showProgressOn(QProgressBar* bar) {
    bar_ = bar;
}

void BackgroundTask::onProgress(std::function<void(int permille)> handler) {
    progressHandler_ = std::move(handler);
}

bool BackgroundTask::launch(Body body, Overlap overlap) {
    if (running()) {
        if (overlap == Overlap::Refuse) {
            return false;
        }
        cancelAndWait();
    }
    auto run = std::make_shared<task_detail::Run>();
    run->channel = channel_;
    if (bar_ || progressHandler_) {
        run->showProgress = [bar = bar_, handler = progressHandler_](int permille) {
            if (bar) {
                bar->setValue(permille);
            }
            if (handler) {
                handler(permille);
            }
        };
    }
    try {
        worker_ = std::thread([this, run, body = std::move(body)]() mutable {
            const TaskControl control(run);
            std::function<void()> deliver = body(control);
            // The last thing the worker does; `this` is only used on the GUI
            // thread, where the call runs only while the context and
            // therefore this task live.
            run->channel->post([this, run, deliver = std::move(deliver)] { finish(run, deliver); });
        });
    } catch (const std::system_error&) {
        return false; // no thread to be had: as if refused
    }
    current_ = run;
    return true;
}

void BackgroundTask::finish(const std::shared_ptr<task_detail::Run>& run,
                            const std::function<void()>& deliver) {
    if (run != current_) {
        return; // cancelled and joined already, or superseded
    }
    worker_.join(); // it posted this as its last step
    current_.reset();
    if (!run->stop.cancelled()) {
        deliver();
    }
}

void BackgroundTask::cancel() {
    if (current_) {
        current_->stop.cancel();
    }
}

void BackgroundTask::cancelAndWait() {
    if (!current_) {
        return;
    }
    current_->stop.cancel();
    worker_.join();
    current_.reset();
}

} // namespace logdesk
