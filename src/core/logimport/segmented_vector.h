// An append-only vector stored in fixed-size blocks: growing it never copies
// what is already there, so a table of tens of millions of entries grows
// without the transient doubling of std::vector.
//
// The first block starts small and doubles (copying what little it holds)
// until it has a whole block's size: a table of thousands of tiny parts (one
// per small input or range of lines) then costs memory in their size, not a
// block each.
#pragma once

#include "core/base/platform.h"

#include <algorithm>
#include <cstddef>
#include <memory>
#include <mutex>
#include <new>
#include <type_traits>
#include <vector>

namespace logdesk {

// Blocks for the SegmentedVectors of one table, cut from big buffers
// (base/platform.h) so that filling them costs a fault per huge page rather
// than per small one; the arena must outlive every vector that uses it, and
// frees the blocks all at once. Thread-safe.
class BlockArena {
public:
    // `bytes` of storage aligned for any entry; throws std::bad_alloc.
    void* allocate(std::size_t bytes) {
        bytes = (bytes + kAlign - 1) & ~(kAlign - 1);
        const std::lock_guard lock(mutex_);
        if (slabs_.empty() || slabs_.back().size() - used_ < bytes) {
            BigBuffer slab = BigBuffer::allocate(std::max(bytes, kSlabBytes));
            if (!slab) {
                throw std::bad_alloc();
            }
            slabs_.push_back(std::move(slab));
            used_ = 0;
        }
        void* at = slabs_.back().data() + used_;
        used_ += bytes;
        return at;
    }

private:
    static constexpr std::size_t kAlign = 64;
    static constexpr std::size_t kSlabBytes = std::size_t{16} << 20;
    std::mutex mutex_;
    std::vector<BigBuffer> slabs_;
    std::size_t used_ = 0; // of the last slab
};

template <typename T, unsigned BlockBits = 20> class SegmentedVector {
public:
    static constexpr std::size_t kBlockSize = std::size_t{1} << BlockBits;

    // Blocks after the first come from `arena` (null: the heap): a table of
    // many small parts must not take a huge page for each.
    void useArena(BlockArena* arena) { arena_ = arena; }

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
    static_assert(std::is_trivially_destructible_v<T>);
    static constexpr std::size_t kFirstCapacity = std::min<std::size_t>(64, kBlockSize);

    // Frees a block of the heap; an arena's blocks go with the arena.
    struct FreeBlock {
        bool ownsBlock = true;
        void operator()(T* block) const {
            if (ownsBlock) {
                delete[] block;
            }
        }
    };
    using Block = std::unique_ptr<T[], FreeBlock>;

    Block newBlock(std::size_t values) {
        if (arena_ != nullptr && capacity_ >= kBlockSize) {
            return Block(static_cast<T*>(arena_->allocate(kBlockSize * sizeof(T))),
                         FreeBlock{false});
        }
        return Block(new T[values], FreeBlock{true});
    }

    void grow() {
        if (capacity_ >= kBlockSize) {
            blocks_.push_back(newBlock(kBlockSize));
            capacity_ += kBlockSize;
            return;
        }
        const std::size_t bigger = capacity_ == 0 ? kFirstCapacity : capacity_ * 2;
        Block block = newBlock(bigger);
        if (!blocks_.empty()) {
            std::copy(blocks_[0].get(), blocks_[0].get() + size_, block.get());
            blocks_[0] = std::move(block);
        } else {
            blocks_.push_back(std::move(block));
        }
        capacity_ = bigger;
    }

    std::vector<Block> blocks_;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0; // values the blocks hold room for
    BlockArena* arena_ = nullptr;
};

} // namespace logdesk
