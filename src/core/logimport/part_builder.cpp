#include "part_builder.h"

#include "line_scan.h"

namespace logdesk {

void PartBuilder::appendRow(std::uint32_t chunk, std::size_t begin, std::size_t end,
                            std::uint32_t layoutIndex, const std::uint32_t* fieldStarts,
                            std::size_t blanks) {
    const RecordData::Layout& layout = data_.layouts_[layoutIndex];
    const char* line = data_.chunks_[chunk].bytes.data() + begin;
    const auto length = static_cast<std::uint32_t>(end - begin);
    const auto fields = static_cast<std::size_t>(layout.fieldCount);

    // Boundary 0 is the line start; boundary i (i >= 1) the start of field i,
    // one byte after the blank that ended the one before. A line with fewer
    // fields gets one end marker after its last: the last field started runs
    // to the end of the line, unless it starts there (empty line, blank at
    // the end); the fields after it are not stored and read as empty.
    std::size_t count = 1 + blanks;
    std::uint32_t terminal = 0;
    const bool marked = count <= fields;
    if (marked) {
        const std::uint32_t last = blanks > 0 ? fieldStarts[blanks - 1] : 0;
        terminal = last == length ? length : length + 1;
        ++count;
    }
    auto boundaryAt = [&](std::size_t i) -> std::uint32_t {
        if (i == 0) {
            return 0;
        }
        return i <= blanks ? fieldStarts[i - 1] : terminal;
    };

    auto cellAt = [&](std::int32_t f) -> std::string_view {
        const auto i = static_cast<std::size_t>(f);
        if (f < 0 || i + 1 >= count) {
            return {};
        }
        const std::uint32_t b = boundaryAt(i);
        const std::uint32_t next = boundaryAt(i + 1);
        return next > b ? std::string_view(line + b, next - 1 - b) : std::string_view();
    };
    SpiderId spider = SpiderId::Unknown;
    if (layout.userAgentField >= 0) {
        spider = agents_.identify(cellAt(layout.userAgentField));
        if (visits_[static_cast<std::size_t>(spider)]++ == 0) {
            firstSeen_.push_back(spider);
        }
    }
    if (layoutRows_.size() <= layoutIndex) {
        layoutRows_.resize(std::size_t{layoutIndex} + 1, 0);
    }
    ++layoutRows_[layoutIndex];

    if (consumers_ != nullptr && consumers_->empty() && records_ == nullptr) {
        ++streamed_; // counted in the tally alone
        return;
    }
    if (consumers_ != nullptr || records_ != nullptr) {
        // The cells the pages read, as a table would give them: the crawler's
        // name in the user-agent field.
        PageRecord& record = batch_[batched_++];
        for (std::size_t i = 0; i < kPageFieldCount; ++i) {
            const std::int32_t f = layout.pageFields[i];
            record.*kPageRecordFields[i].cell = f >= 0 && f == layout.userAgentField
                                                    ? std::string_view(SpiderDisplayName(spider))
                                                    : cellAt(f);
        }
        record.spider = spider;
        record.loggedAgent = cellAt(layout.userAgentField);
        ++streamed_;
        if (batched_ == batch_.size()) {
            flushStream();
        }
        return;
    }

    RecordData::RowRef row{};
    row.lineStart = static_cast<std::uint32_t>(begin);
    row.layout = layoutIndex;
    if (length <= RecordData::kNarrowLine && count <= RecordData::kMostNarrowBoundaries) {
        const std::uint64_t first = part_.boundaries.size();
        part_.boundaries.append(fieldStarts, blanks);
        if (marked) {
            part_.boundaries.push_back(static_cast<std::uint16_t>(terminal));
        }
        row.boundaryLow = static_cast<std::uint32_t>(first);
        row.boundaryHigh = static_cast<std::uint16_t>(first >> 32);
        row.boundaries = static_cast<std::uint8_t>(count);
    } else {
        const std::uint64_t first = part_.wide.size();
        part_.wide.push_back(static_cast<std::uint32_t>(count));
        part_.wide.insert(part_.wide.end(), fieldStarts, fieldStarts + blanks);
        if (marked) {
            part_.wide.push_back(terminal);
        }
        row.boundaryLow = static_cast<std::uint32_t>(first);
        row.boundaryHigh = static_cast<std::uint16_t>(first >> 32);
        row.boundaries = RecordData::kWide;
    }
    row.spider = spider;
    const auto localRow = static_cast<std::uint32_t>(part_.rows.size());
    if (part_.chunks.empty() || part_.chunks.back().second != chunk) {
        part_.chunks.emplace_back(localRow, chunk);
    }
    part_.rows.push_back(row);
}

void PartBuilder::flushStream() {
    if (records_ != nullptr) {
        records_->insert(records_->end(), batch_.begin(), batch_.begin() + batched_);
        batched_ = 0;
    } else if (consumers_ != nullptr && batched_ > 0) {
        for (const std::unique_ptr<RecordConsumer>& consumer : *consumers_) {
            consumer->addBatch(batch_.data(), batched_);
        }
        batched_ = 0;
    }
}

void PartBuilder::appendPending(const std::vector<PendingLine>& lines, std::uint32_t layout) {
    const auto fields = static_cast<std::size_t>(data_.layouts_[layout].fieldCount);
    std::vector<std::uint32_t> starts(fields);
    const LineScanner scan = BestLineScanner();
    for (const PendingLine& line : lines) {
        const char* buf = data_.chunks_[line.chunk].bytes.data();
        const LineScan found = scan(buf + line.begin, buf + line.end, starts.data(), fields);
        appendRow(line.chunk, line.begin, line.end, layout, starts.data(), found.blanks);
    }
}

} // namespace logdesk
