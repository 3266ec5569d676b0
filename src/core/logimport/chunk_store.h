// The buffers an import reads its log into.
#pragma once

#include "core/base/platform.h"
#include "line_scan.h"
#include "record_table.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>

namespace logdesk {

// Smallest buffer an import reads into, and the least room worth giving back
// when a buffer is trimmed.
inline constexpr std::size_t kMinChunk = std::size_t{64} << 10;

// The buffers an import reads the log into, and which of them rows point into.
class ChunkStore {
public:
    ChunkStore() : data_(std::make_shared<RecordData>()) {}

    // A new buffer for the file's bytes; returns its index.
    std::uint32_t addChunk(std::size_t capacity) {
        BigBuffer bytes = BigBuffer::allocate(capacity + kScanSlack);
        if (!bytes) {
            throw std::bad_alloc();
        }
        data_->chunks_.push_back({std::move(bytes), capacity});
        return static_cast<std::uint32_t>(data_->chunks_.size() - 1);
    }
    // Gives a buffer a new capacity, keeping its bytes up to the smaller of
    // the two; large buffers are remapped instead of copied. Offsets into it
    // stay valid, pointers do not.
    void resizeChunk(std::uint32_t chunk, std::size_t capacity) {
        RecordData::Chunk& c = data_->chunks_[chunk];
        if (!c.bytes.resize(capacity + kScanSlack)) {
            throw std::bad_alloc();
        }
        c.capacity = capacity;
    }
    char* chunkBytes(std::uint32_t chunk) { return data_->chunks_[chunk].bytes.data(); }
    std::size_t chunkCapacity(std::uint32_t chunk) const { return data_->chunks_[chunk].capacity; }
    // Whether a row, or a line waiting for the file's first header, points
    // into the buffer; one that holds none can be reused or resized.
    bool chunkReferenced(std::uint32_t chunk) const {
        return highestReferenced_ >= static_cast<std::int64_t>(chunk);
    }
    // Releases what the last buffer holds beyond `filled` once reading ended.
    void trimChunk(std::uint32_t chunk, std::size_t filled) {
        if (!chunkReferenced(chunk)) {
            // No row reads it (a streaming import's buffer): back to the
            // pool whole, for the next import to fill without faults.
            data_->chunks_[chunk].bytes.release();
            data_->chunks_[chunk].capacity = 0;
            return;
        }
        if (chunkCapacity(chunk) - filled >= kMinChunk) {
            resizeChunk(chunk, std::max<std::size_t>(filled, 1));
        }
    }

protected:
    void reference(std::uint32_t chunk) {
        highestReferenced_ = std::max<std::int64_t>(highestReferenced_, chunk);
    }

    std::shared_ptr<RecordData> data_;

private:
    std::int64_t highestReferenced_ = -1;
};

} // namespace logdesk
