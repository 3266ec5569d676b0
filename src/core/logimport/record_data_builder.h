// The one-thread import.
#pragma once

#include "chunk_store.h"
#include "field_catalogue.h"
#include "layout_set.h"
#include "line_splitter.h"
#include "log_importer.h"
#include "part_builder.h"
#include "record_consumer.h"
#include "user_agent_cache.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <tuple>
#include <utility>
#include <vector>

namespace logdesk {

// The one-thread import: lines in file order, headers taken as they come.
class RecordDataBuilder : public ChunkStore {
public:
    RecordDataBuilder(const HeaderLayout& previousHeader, const ImportOptions& options)
        : agents_(static_cast<bool>(options.makeConsumers), options.crawlers),
          layouts_(*data_, options.streamHeader ? &*options.streamHeader : nullptr),
          header_(previousHeader), maxRecords_(options.maxRecords),
          mostPending_(options.maxStreamedPending), splitter_(BestLineScanner()) {
        data_->parts_.emplace_back();
        if (options.makeConsumers) {
            consumers_ = options.makeConsumers();
            streaming_ = true;
        }
        rows_.emplace(*data_, data_->parts_.front(), agents_, streaming_ ? &consumers_ : nullptr);
        if (streaming_ && options.streamFirstHeader) {
            assumed_ = layouts_.layoutFor(*options.streamFirstHeader);
        }
    }

    // Takes the complete lines of chunk bytes [pos, filled) and moves pos past
    // them; at the end of the file the unterminated rest is a line too.
    void parse(std::uint32_t chunk, std::size_t& pos, std::size_t filled, bool eof);

    bool rejected() const { return rejected_; }
    bool full() const { return full_; }
    // A new input starts on a line of its own. After a rejected input the
    // header in force before its nameless header applies again.
    void beginInput() {
        if (inputs_++ > 0) {
            takeBackRejection();
        }
        startInput();
    }

    LogImport finish();

    // The splitter's handler.
    std::size_t fieldsFor(bool directive) const {
        if (directive || (!fileHasHeader_ && !assumed_)) {
            return 0;
        }
        return static_cast<std::size_t>(
            data_->layouts_[fileHasHeader_ ? layout_ : *assumed_].fieldCount);
    }
    void line(std::size_t begin, std::size_t end, bool directive, const std::uint32_t* fieldStarts,
              std::size_t blanks);
    bool stopped() const { return rejected_ || full_; }

private:
    void takeHeader(HeaderLayout header);
    void flushPending(std::uint32_t layout);

    UserAgentCache agents_;
    LayoutSet layouts_;
    std::vector<std::unique_ptr<RecordConsumer>> consumers_; // streaming only
    bool streaming_ = false;
    std::optional<PartBuilder> rows_;
    HeaderLayout header_; // the header in force
    bool fileHasHeader_ = false;
    std::uint32_t layout_ = 0;
    std::vector<PendingLine> pending_; // data lines before the file's first header
    std::uint64_t pendingBytes_ = 0;
    // Streaming: the layout lines before the first header are read with
    // instead of waiting (see ImportOptions::maxStreamedPending), and whether
    // the first header then turned out to be another one.
    std::optional<std::uint32_t> assumed_;
    bool assumedWrongly_ = false;
    std::optional<HeaderLayout> firstHeader_;
    bool rejected_ = false;
    bool full_ = false; // maxRecords reached
    std::uint32_t maxRecords_;
    std::uint64_t mostPending_;
    std::uint32_t chunk_ = 0;
    LineSplitter splitter_;
    std::pair<HeaderLayout, std::uint32_t> beforeRejection_; // header and layout
    unsigned inputs_ = 0;

    void startInput() { splitter_.reset(); }
    void takeBackRejection() {
        if (rejected_) {
            std::tie(header_, layout_) = beforeRejection_;
            rejected_ = false;
        }
    }
};

} // namespace logdesk
