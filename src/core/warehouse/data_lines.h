// Where each record of a log's text starts, found beside the import as its
// bytes go past: the line numbers the records table stores, and the byte
// offsets that tell whether a file grew past what was loaded from it.
//
// Lines are cut as the importer cuts them (core/logimport/line_splitter.h):
// at LF, and at a run of NUL or 0x1A bytes, which with one LF or CR LF after
// it is that one line end (a run at the start of a line gives no line). A
// line whose first byte is '#' is a directive; every other line, an empty
// one included, is a record. A line's number counts the LFs before it, plus 1.
#pragma once

#include "core/base/text_hash.h"

#include <cstdint>
#include <string_view>
#include <vector>

namespace logdesk {

class DataLines {
public:
    // Takes the next bytes of the text.
    void feed(std::string_view bytes);
    // The text has ended; an unfinished line is a record too.
    void finish();

    // Per record, in order: its line number and the offset of its first byte.
    const std::vector<std::uint32_t>& lines() const { return lines_; }
    const std::vector<std::uint64_t>& starts() const { return starts_; }
    // Whether the last record ran to the end of the text without a line end.
    bool lastUnfinished() const { return lastUnfinished_; }
    std::uint64_t bytes() const { return offset_; }

private:
    enum class State : std::uint8_t { LineStart, InLine, Run, RunCr };
    void beginLine(std::uint64_t at, char first);

    State state_ = State::LineStart;
    bool directive_ = false;
    std::uint64_t offset_ = 0;
    std::uint64_t lineFeeds_ = 0;
    std::uint64_t crAt_ = 0; // RunCr: where the CR after a run stands
    bool lastUnfinished_ = false;
    std::vector<std::uint32_t> lines_;
    std::vector<std::uint64_t> starts_;
};

// FNV-1a, 64 bits, over bytes fed in pieces: what the ledger knows a file's
// first bytes by.
class HeadHash {
public:
    void feed(std::string_view bytes) {
        for (const char c : bytes) {
            value_ = (value_ ^ static_cast<unsigned char>(c)) * 0x100000001B3ull;
        }
    }
    std::uint64_t value() const { return value_; }

private:
    std::uint64_t value_ = 0xCBF29CE484222325ull;
};

} // namespace logdesk
