#include "record_data_builder.h"

#include "core/text/gbk_text.h"

#include <string_view>

namespace logdesk {

// Defined here, beside line(), so that the splitting loop calls the handler
// directly.
void RecordDataBuilder::parse(std::uint32_t chunk, std::size_t& pos, std::size_t filled,
                              bool eof) {
    chunk_ = chunk;
    splitter_.split(chunkBytes(chunk), pos, filled, eof, *this);
    // The buffer may move or be reused after this: no streamed record
    // may still point into it.
    rows_->flushStream();
}

void RecordDataBuilder::line(std::size_t begin, std::size_t end, bool directive,
                             const std::uint32_t* fieldStarts, std::size_t blanks) {
    const char* buf = chunkBytes(chunk_);
    if (directive) {
        const std::string_view text(buf + begin, end - begin);
        if (FindText(text, kFieldsDirective) != kNotFound) {
            takeHeader(MapHeader(text));
        }
        return;
    }
    if (rows_->rows() + pending_.size() >= maxRecords_) {
        full_ = true;
        return;
    }
    if (!fileHasHeader_ && !assumed_) {
        if (streaming_ && pendingBytes_ > mostPending_) {
            assumed_ = layouts_.layoutFor(header_);
            flushPending(*assumed_);
            // The splitter found no blanks for this line: read it as the
            // waiting ones were.
            pending_.push_back(
                {chunk_, static_cast<std::uint32_t>(begin), static_cast<std::uint32_t>(end)});
            flushPending(*assumed_);
            return;
        }
        reference(chunk_);
        pending_.push_back(
            {chunk_, static_cast<std::uint32_t>(begin), static_cast<std::uint32_t>(end)});
        pendingBytes_ += end - begin + 1;
        return;
    }
    if (!streaming_) {
        reference(chunk_); // streamed rows are gone once the batch is handed over
    }
    rows_->appendRow(chunk_, begin, end, fileHasHeader_ ? layout_ : *assumed_, fieldStarts, blanks);
}

void RecordDataBuilder::takeHeader(HeaderLayout header) {
    if (header.fieldCount() == 0) {
        beforeRejection_ = {header_, layout_};
    }
    header_ = std::move(header);
    layout_ = layouts_.layoutFor(header_);
    if (!fileHasHeader_) {
        fileHasHeader_ = true;
        firstHeader_ = header_;
        assumedWrongly_ = assumed_ && *assumed_ != layout_;
        flushPending(layout_);
    }
    if (header_.fieldCount() == 0) {
        rejected_ = true;
    }
}

void RecordDataBuilder::flushPending(std::uint32_t layout) {
    rows_->appendPending(pending_, layout);
    rows_->flushStream();
    pending_.clear();
    pending_.shrink_to_fit();
    pendingBytes_ = 0;
}

LogImport RecordDataBuilder::finish() {
    if (inputs_ > 1) {
        takeBackRejection();
    }
    LogImport result;
    result.rejected = rejected_;
    result.agentIdentifications = agents_.identifications();
    if (!fileHasHeader_ && !pending_.empty()) {
        flushPending(layouts_.layoutFor(header_));
    }
    std::optional<std::uint32_t> last;
    if (layouts_.size() > 0) {
        last = fileHasHeader_ ? layout_ : layouts_.layoutFor(header_);
    }
    rows_->flushStream();
    LayoutSet::finishTable(*data_, layouts_, last, rows_->layoutRows(), rows_->visits(),
                           rows_->firstSeen(), result);
    if (streaming_) {
        result.streamedRecords = rows_->streamed();
        result.streamExact =
            !assumedWrongly_ && (!last || layouts_.streamedExactly(*last, rows_->layoutRows()));
        result.firstHeader = firstHeader_;
    }
    result.header = header_;
    rows_.reset();
    result.consumers = std::move(consumers_);
    result.table = RecordTable(std::move(data_));
    return result;
}

} // namespace logdesk
