// An append-only vector stored in fixed-size blocks: growing it never copies
// what is already there, so a table of tens of millions of entries grows
// without the transient doubling of std::vector.
#pragma once

#include <algorithm>
#include <cstddef>
#include <memory>
#include <vector>

namespace logdesk {

//
// The first block starts small and doubles (copying what little it holds)
// until it has a whole block's size: a table of thousands of tiny parts (one
// per small input or range of lines) then costs memory in their size, not a
// block each.
template <typename T, unsigned BlockBits = 20> class SegmentedVector {
public:
    static constexpr std::size_t kBlockSize = std::size_t{1} << BlockBits;

    void push_back(const T& value) {
        if (size_ == capacity_) {
            grow();
        }
        blocks_[size_ >> BlockBits][size_ & (kBlockSize - 1)] = value;
        ++size_;
    }

    // Appends n values converted from `from`, block by block.
    template <typename U> void append(const U* from, std::size_t n) {
        while (n > 0) {
            if (size_ == capacity_) {
                grow();
            }
            const std::size_t offset = size_ & (kBlockSize - 1);
            const std::size_t take = std::min(n, capacity_ - size_);
            T* to = blocks_.back().get() + offset;
            for (std::size_t i = 0; i < take; ++i) {
                to[i] = static_cast<T>(from[i]);
            }
            size_ += take;
            from += take;
            n -= take;
        }
    }

    const T& operator[](std::size_t i) const {
        return blocks_[i >> BlockBits][i & (kBlockSize - 1)];
    }
    T& operator[](std::size_t i) { return blocks_[i >> BlockBits][i & (kBlockSize - 1)]; }
    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    std::size_t capacityBytes() const { return capacity_ * sizeof(T); }

private:
    static constexpr std::size_t kFirstCapacity = std::min<std::size_t>(64, kBlockSize);

    void grow() {
        if (capacity_ >= kBlockSize) {
            blocks_.push_back(std::make_unique_for_overwrite<T[]>(kBlockSize));
            capacity_ += kBlockSize;
            return;
        }
        const std::size_t bigger = capacity_ == 0 ? kFirstCapacity : capacity_ * 2;
        auto block = std::make_unique_for_overwrite<T[]>(bigger);
        std::copy(blocks_.empty() ? nullptr : blocks_[0].get(),
                  blocks_.empty() ? nullptr : blocks_[0].get() + size_, block.get());
        if (blocks_.empty()) {
            blocks_.push_back(std::move(block));
        } else {
            blocks_[0] = std::move(block);
        }
        capacity_ = bigger;
    }

    std::vector<std::unique_ptr<T[]>> blocks_;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0; // values the blocks hold room for
};

} // namespace logdesk
