// An append-only vector stored in fixed-size blocks: growing it never copies
// what is already there, so a table of tens of millions of entries grows
// without the transient doubling of std::vector.
#pragma once

#include <algorithm>
#include <cstddef>
#include <memory>
#include <vector>

namespace logdesk {

template <typename T, unsigned BlockBits = 20> class SegmentedVector {
public:
    static constexpr std::size_t kBlockSize = std::size_t{1} << BlockBits;

    void push_back(const T& value) {
        if (size_ == blocks_.size() * kBlockSize) {
            blocks_.push_back(std::make_unique_for_overwrite<T[]>(kBlockSize));
        }
        blocks_[size_ >> BlockBits][size_ & (kBlockSize - 1)] = value;
        ++size_;
    }

    // Appends n values converted from `from`, block by block.
    template <typename U> void append(const U* from, std::size_t n) {
        while (n > 0) {
            if (size_ == blocks_.size() * kBlockSize) {
                blocks_.push_back(std::make_unique_for_overwrite<T[]>(kBlockSize));
            }
            const std::size_t offset = size_ & (kBlockSize - 1);
            const std::size_t take = std::min(n, kBlockSize - offset);
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
    std::size_t capacityBytes() const { return blocks_.size() * kBlockSize * sizeof(T); }

private:
    std::vector<std::unique_ptr<T[]>> blocks_;
    std::size_t size_ = 0;
};

} // namespace logdesk
