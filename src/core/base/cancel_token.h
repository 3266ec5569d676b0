// The stop signal a long routine polls: raised by the Cancellation that made
// it (cancellation.h), on any thread.
#pragma once

#include <atomic>
#include <memory>
#include <utility>

namespace logdesk {

// Small and copyable; copies share the signal and may outlive the
// Cancellation that made it (they then keep the state it was left in). A
// default token is never cancelled. Any thread.
class CancelToken {
public:
    CancelToken() = default;

    // Relaxed: the signal carries no data, and a poll that misses the turn
    // catches it next time. What must not run after a cancel is held back by
    // Cancellation::guard, not by this.
    bool cancelled() const { return flag_ != nullptr && flag_->load(std::memory_order_relaxed); }
    // False for a default token, which lets a routine skip its polls.
    bool cancellable() const { return flag_ != nullptr; }

private:
    friend class Cancellation;
    explicit CancelToken(std::shared_ptr<const std::atomic<bool>> flag) : flag_(std::move(flag)) {}

    std::shared_ptr<const std::atomic<bool>> flag_;
};

} // namespace logdesk
