#include "input_loop.h"

#include "chunk_store.h"
#include "parallel_import.h"
#include "record_data_builder.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>
#include <string>
#include <type_traits>

namespace logdesk {

namespace {

constexpr std::size_t kReadStep = std::size_t{8} << 20;
// Largest buffer for input of unknown size (a pipe, a device), and for a
// streaming import, which reads into a second one beside the splitting.
constexpr std::uint64_t kStreamChunk = std::uint64_t{16} << 20;

// Reads inputs through a builder (one-thread or threaded).
template <typename Builder> class InputLoop final : public InputState {
public:
    InputLoop(const HeaderLayout& previousHeader, const ImportOptions& options, unsigned threads)
        : builder_(MakeBuilder(previousHeader, options, threads)), options_(options),
          // A streamed log needs no buffer larger than a batch of lines.
          maxChunk_(std::clamp<std::size_t>(
              options.makeConsumers ? std::min<std::size_t>(options.maxChunkBytes, kStreamChunk)
                                    : options.maxChunkBytes,
              16, std::size_t{1} << 31)),
          minChunk_(std::min(kMinChunk, maxChunk_)),
          maxLine_(std::min(options.maxLineBytes, ImportOptions::kMaxLineBytes)),
          readBeside_(std::is_same_v<Builder, ParallelImport>) {}

    Result<InputRead> read(const LogImporter::Reader& read, std::uint64_t total,
                           bool reportProgress) override;
    LogImport finish() override {
        if (started_) {
            builder_.trimChunk(chunk_, filled_);
        }
        if (spare_) {
            builder_.trimChunk(*spare_, 0);
        }
        LogImport result = builder_.finish();
        result.bytesRead = bytesRead_;
        return result;
    }

private:
    static Builder MakeBuilder(const HeaderLayout& previousHeader, const ImportOptions& options,
                               unsigned threads) {
        if constexpr (std::is_same_v<Builder, ParallelImport>) {
            return Builder(previousHeader, options, threads);
        } else {
            (void)threads;
            return Builder(previousHeader, options);
        }
    }

    // What was read beside the splitting of the last batch: `got` bytes in
    // place at filled_, and how the reading that stopped there ended.
    struct ReadBeside {
        std::size_t got = 0;
        bool ended = false; // a read gave 0 bytes
        std::optional<Error> failure;
    };
    // Reads up to `want` bytes to `to`, read by read, until the input ends.
    static ReadBeside ReadUpTo(const LogImporter::Reader& read, char* to, std::size_t want);
    // The threaded import parses as builder_.parse() does, reading the next
    // bytes meanwhile where that can go beside the batch: into the buffer
    // after the bytes read (an import that keeps its rows), or after the
    // carried-over line into a second buffer that takes the first's place
    // (a streaming one). Nothing, when no batch is due or it cannot.
    std::optional<ReadBeside> parseReadingAhead(const LogImporter::Reader& read);

    Builder builder_;
    const ImportOptions& options_;
    const std::size_t maxChunk_;
    const std::size_t minChunk_;
    const std::size_t maxLine_;
    // Reading beside the splitting: the reader then runs on a worker thread
    // while this one splits, one read at a time as before.
    const bool readBeside_;
    bool started_ = false;
    std::uint32_t chunk_ = 0;
    std::size_t filled_ = 0;
    std::size_t pos_ = 0;
    std::optional<std::uint32_t> spare_; // streaming: the buffer read into beside a batch
    std::uint64_t bytesRead_ = 0;        // of every input
};

template <typename Builder>
typename InputLoop<Builder>::ReadBeside
InputLoop<Builder>::ReadUpTo(const LogImporter::Reader& read, char* to, std::size_t want) {
    ReadBeside outcome;
    while (outcome.got < want) {
        const Result<std::size_t> block =
            read(to + outcome.got, std::min(want - outcome.got, kReadStep));
        if (!block) {
            outcome.failure = block.error();
            break;
        }
        if (*block == 0) {
            outcome.ended = true;
            break;
        }
        outcome.got += *block;
    }
    return outcome;
}

template <typename Builder>
auto InputLoop<Builder>::parseReadingAhead(const LogImporter::Reader& read)
    -> std::optional<ReadBeside> {
    if constexpr (!std::is_same_v<Builder, ParallelImport>) {
        (void)read;
        return std::nullopt;
    } else {
        if (!builder_.batchDue(chunk_, pos_, filled_)) {
            builder_.parse(chunk_, pos_, filled_, false);
            return std::nullopt;
        }
        const bool streaming = static_cast<bool>(options_.makeConsumers);
        const std::size_t capacity = builder_.chunkCapacity(chunk_);
        if (streaming && !spare_) {
            spare_ = builder_.addChunk(capacity);
        }
        std::optional<ReadBeside> beside;
        bool swapped = false;
        const std::uint32_t spare = spare_.value_or(chunk_);
        const bool spareFree = streaming && !builder_.chunkReferenced(spare) &&
                               builder_.chunkCapacity(spare) == capacity;
        const typename ParallelImport::Alongside readNext = [&](std::size_t cut) {
            const std::size_t carried = filled_ - cut;
            if (spareFree && carried * 2 <= capacity) {
                // The splitting reads only the first buffer.
                char* to = builder_.chunkBytes(spare);
                std::memcpy(to, builder_.chunkBytes(chunk_) + cut, carried);
                beside = ReadUpTo(read, to + carried, capacity - carried);
                swapped = true;
            } else if (!streaming && carried >= kScanSlack && filled_ < capacity) {
                // The scans read up to kScanSlack bytes past the batch, all
                // of them read already; the new bytes go after them.
                beside = ReadUpTo(read, builder_.chunkBytes(chunk_) + filled_,
                                  std::min(capacity - filled_, builder_.batchBytes()));
            }
        };
        builder_.parse(chunk_, pos_, filled_, false, &readNext);
        if (swapped) {
            spare_ = chunk_;
            chunk_ = spare;
            filled_ -= pos_;
            pos_ = 0;
        }
        return beside;
    }
}

template <typename Builder>
Result<InputRead> InputLoop<Builder>::read(const LogImporter::Reader& read, std::uint64_t total,
                                           bool reportProgress) {
    std::uint64_t inputRead = 0;
    auto chunkSizeFor = [&](std::uint64_t remaining, std::size_t carried) {
        // Room for the whole rest of the input where its size is known; for
        // a stream, buffers grow with what was read so far. A line longer
        // than a buffer gets one twice its size, up to what offsets can
        // address.
        const std::uint64_t wanted =
            total > 0 ? remaining + carried + minChunk_
                      : std::clamp<std::uint64_t>(inputRead / 4, minChunk_, kStreamChunk) + carried;
        const auto size = static_cast<std::size_t>(std::min<std::uint64_t>(wanted, maxChunk_));
        return std::min(std::max({size, minChunk_, carried * 2}), maxLine_ + 1);
    };
    if (!started_) {
        chunk_ = builder_.addChunk(chunkSizeFor(total, 0));
        started_ = true;
    }
    builder_.beginInput();
    InputRead outcome;
    std::uint64_t reported = 0;
    std::optional<ReadBeside> ahead;
    for (;;) {
        if (options_.cancel.cancelled()) {
            return Failed(ECANCELED);
        }
        std::size_t got = 0;
        if (ahead) {
            // Read beside the last batch: first its bytes, then how it ended.
            got = ahead->got;
            ahead->got = 0;
            if (got == 0) {
                outcome.failure = std::move(ahead->failure);
            }
            if (got == 0 || (!ahead->ended && !ahead->failure)) {
                ahead.reset();
            }
        } else {
            if (filled_ == builder_.chunkCapacity(chunk_)) {
                const std::size_t carried = filled_ - pos_;
                if (carried >= maxLine_) {
                    return Failed(EFBIG, "a line at byte " + std::to_string(inputRead - carried) +
                                             " is longer than " + std::to_string(maxLine_) +
                                             " bytes");
                }
                const std::uint64_t remaining = total > inputRead ? total - inputRead : 0;
                const std::size_t capacity = chunkSizeFor(remaining, carried);
                if (!builder_.chunkReferenced(chunk_)) {
                    // No row points into this buffer (a long line, a NUL run):
                    // reuse it for the unfinished line instead of keeping it.
                    std::memmove(builder_.chunkBytes(chunk_), builder_.chunkBytes(chunk_) + pos_,
                                 carried);
                    if (capacity > builder_.chunkCapacity(chunk_)) {
                        builder_.resizeChunk(chunk_, capacity);
                    }
                } else {
                    // Carry the unfinished line over into a fresh buffer; the old
                    // one stays, since earlier rows point into it.
                    const std::uint32_t next = builder_.addChunk(capacity);
                    std::memcpy(builder_.chunkBytes(next), builder_.chunkBytes(chunk_) + pos_,
                                carried);
                    chunk_ = next;
                }
                filled_ = carried;
                pos_ = 0;
            }
            const std::size_t want =
                std::min({builder_.chunkCapacity(chunk_) - filled_, kReadStep, maxChunk_});
            const Result<std::size_t> block = read(builder_.chunkBytes(chunk_) + filled_, want);
            if (!block) {
                // What came before stays: the input ends here.
                outcome.failure = block.error();
            } else {
                got = *block;
            }
        }
        if (got == 0) {
            builder_.parse(chunk_, pos_, filled_, true);
            break;
        }
        filled_ += got;
        inputRead += got;
        bytesRead_ += got;
        if (readBeside_) {
            ahead = parseReadingAhead(read);
        } else {
            builder_.parse(chunk_, pos_, filled_, false);
        }
        if (builder_.rejected() || builder_.full()) {
            // The rest of a rejected input is not read; its unread lines
            // are dropped from the buffer, and so is what was read beside.
            pos_ = filled_;
            break;
        }
        if (reportProgress && options_.progress && inputRead - reported >= kReadStep) {
            reported = inputRead;
            options_.progress(inputRead, std::max(total, inputRead));
        }
    }
    if (builder_.full()) {
        return Failed(EFBIG,
                      "the log has more than " + std::to_string(options_.maxRecords) + " records");
    }
    outcome.bytes = inputRead;
    outcome.rejected = builder_.rejected();
    if (reportProgress && options_.progress) {
        options_.progress(inputRead, std::max(total, inputRead));
    }
    return outcome;
}

} // namespace

std::unique_ptr<InputState> MakeInputState(const HeaderLayout& previousHeader,
                                           const ImportOptions& options, unsigned threads) {
    if (threads == 1) {
        return std::make_unique<InputLoop<RecordDataBuilder>>(previousHeader, options, threads);
    }
    return std::make_unique<InputLoop<ParallelImport>>(previousHeader, options, threads);
}

} // namespace logdesk
