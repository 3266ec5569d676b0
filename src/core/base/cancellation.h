// A stop signal between a worker and the thread that may stop it, with the
// promise a window needs: once cancel() has returned, no callback the signal
// guards is running or will start. The one source of the CancelTokens that
// long routines poll.
#pragma once

#include "core/base/cancel_token.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <thread>

namespace logdesk {

class Cancellation {
public:
    // Any thread. Waits for a guarded callback that is running on another
    // thread to end, so a guarded callback must never wait for the thread
    // that cancels (post to it instead). From inside a guarded callback it
    // only raises the signal.
    void cancel() {
        if (inside_.load() == std::this_thread::get_id()) {
            flag_->store(true);
            return;
        }
        const std::lock_guard lock(mutex_);
        flag_->store(true);
    }

    bool cancelled() const { return flag_->load(); }

    // What a worker polls; it turns cancelled when cancel() raises the signal.
    CancelToken token() const { return CancelToken(flag_); }

    // Runs callback unless the signal is raised, holding it so that cancel()
    // waits until callback has returned. Returns whether callback ran. A
    // guard inside a guarded callback only checks the signal.
    template <class Callback> bool guard(Callback&& callback) {
        if (inside_.load() == std::this_thread::get_id()) {
            if (flag_->load()) {
                return false;
            }
            callback();
            return true;
        }
        const std::lock_guard lock(mutex_);
        if (flag_->load()) {
            return false;
        }
        inside_.store(std::this_thread::get_id());
        const struct Leave {
            std::atomic<std::thread::id>& inside;
            ~Leave() { inside.store(std::thread::id()); }
        } leave{inside_};
        callback();
        return true;
    }

private:
    std::mutex mutex_;
    // Shared with the tokens, which may outlive this.
    const std::shared_ptr<std::atomic<bool>> flag_ = std::make_shared<std::atomic<bool>>(false);
    std::atomic<std::thread::id> inside_{};
};

} // namespace logdesk
