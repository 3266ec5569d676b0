#include "core/input/read_ahead.h"

#include "core/base/platform.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

namespace logdesk {
namespace {

class ReadAheadSource final : public LogSource {
public:
    ReadAheadSource(std::unique_ptr<LogSource> inner, const ReadAheadOptions& options)
        : LogSource(inner->name(), inner->sizeHint()), inner_(std::move(inner)),
          blockBytes_(std::max<std::size_t>(options.blockBytes, 1)), progress_(inner_->progress()) {
        try {
            ring_.resize(std::max<std::size_t>(options.blocks, 1));
            memory_ = BigBuffer::allocate(ring_.size() * blockBytes_);
            if (!memory_) {
                throw std::bad_alloc();
            }
            for (std::size_t b = 0; b < ring_.size(); ++b) {
                ring_[b].bytes = memory_.data() + b * blockBytes_;
            }
            worker_ = std::thread([this] { work(); });
            threaded_ = true;
        } catch (const std::bad_alloc&) {
            ring_.clear();
            memory_.release();
        } catch (const std::system_error&) {
            ring_.clear();
            memory_.release();
        }
    }

    ~ReadAheadSource() override {
        if (threaded_) {
            {
                std::lock_guard lock(mutex_);
                stop_ = true;
            }
            changed_.notify_all();
            worker_.join();
        }
    }

    SourceProgress progress() const override { return threaded_ ? progress_ : inner_->progress(); }

protected:
    ssize_t readSome(char* buffer, std::size_t size) override {
        if (!threaded_) {
            const ssize_t got = inner_->read(buffer, size);
            if (got < 0) {
                adoptEnd(inner_->status());
            }
            return got;
        }
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return filled_ > 0 || innerEnded_; });
        if (filled_ == 0) {
            if (innerEnd_.complete()) {
                return 0;
            }
            adoptEnd(innerEnd_);
            return -1;
        }
        // The worker leaves filled blocks alone until they are handed back.
        Block& block = ring_[head_];
        lock.unlock();
        const std::size_t n = std::min(size, block.size - taken_);
        std::memcpy(buffer, block.bytes + taken_, n);
        taken_ += n;
        progress_ = block.progress;
        if (taken_ == block.size) {
            taken_ = 0;
            lock.lock();
            head_ = (head_ + 1) % ring_.size();
            --filled_;
            lock.unlock();
            changed_.notify_all();
        }
        return static_cast<ssize_t>(n);
    }

private:
    struct Block {
        char* bytes = nullptr; // in memory_
        std::size_t size = 0;
        SourceProgress progress;
    };

    void work() {
        for (;;) {
            std::size_t slot = 0;
            {
                std::unique_lock lock(mutex_);
                changed_.wait(lock, [&] { return stop_ || filled_ < ring_.size(); });
                if (stop_) {
                    return;
                }
                slot = (head_ + filled_) % ring_.size();
            }
            // The slot is the worker's until it is counted as filled.
            Block& block = ring_[slot];
            block.size = 0;
            bool ended = false;
            while (block.size < blockBytes_) {
                const ssize_t got =
                    inner_->read(block.bytes + block.size, blockBytes_ - block.size);
                if (got <= 0) {
                    ended = true;
                    break;
                }
                block.size += static_cast<std::size_t>(got);
            }
            block.progress = inner_->progress();
            {
                std::lock_guard lock(mutex_);
                if (block.size > 0) {
                    ++filled_;
                }
                if (ended) {
                    innerEnded_ = true;
                    innerEnd_ = inner_->status();
                }
            }
            changed_.notify_all();
            if (ended) {
                return;
            }
        }
    }

    std::unique_ptr<LogSource> inner_;
    const std::size_t blockBytes_;
    BigBuffer memory_;
    std::vector<Block> ring_;
    std::size_t head_ = 0;    // the block the reader takes from next
    std::size_t filled_ = 0;  // blocks filled from head_ on
    std::size_t taken_ = 0;   // bytes of the head block handed out (reader only)
    SourceProgress progress_; // reader only
    bool innerEnded_ = false;
    SourceStatus innerEnd_;
    bool stop_ = false;
    bool threaded_ = false;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::thread worker_;
};

} // namespace

std::unique_ptr<LogSource> ReadAhead(std::unique_ptr<LogSource> source,
                                     const ReadAheadOptions& options) {
    return std::make_unique<ReadAheadSource>(std::move(source), options);
}

} // namespace logdesk
