// An append-only vector stored in fixed-size blocks: growing it never copies
// what is already there, so a table of tens of millions of entries grows
// without the transient doubling of std::vector.
#pragma once

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
