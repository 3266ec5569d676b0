#include "core/warehouse/data_lines.h"

namespace logdesk {

namespace {

bool IsRunByte(char c) {
    return c == '\0' || c == '\x1A';
}

} // namespace

void DataLines::beginLine(std::uint64_t at, char first) {
    directive_ = first == '#';
    if (!directive_) {
        lines_.push_back(static_cast<std::uint32_t>(lineFeeds_ + 1));
        starts_.push_back(at);
    }
    state_ = State::InLine;
}

void DataLines::feed(std::string_view bytes) {
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const char c = bytes[i];
        const std::uint64_t at = offset_ + i;
        switch (state_) {
        case State::RunCr:
            if (c == '\n') {
                state_ = State::LineStart; // the run's CR LF
                break;
            }
            // A lone CR after a run starts the next line.
            state_ = State::LineStart;
            beginLine(crAt_, '\r');
            [[fallthrough]];
        case State::InLine:
            if (c == '\n') {
                state_ = State::LineStart;
            } else if (IsRunByte(c)) {
                state_ = State::Run;
            }
            break;
        case State::Run:
            if (c == '\n') {
                state_ = State::LineStart;
            } else if (c == '\r') {
                state_ = State::RunCr;
                crAt_ = at;
            } else if (!IsRunByte(c)) {
                beginLine(at, c);
            }
            break;
        case State::LineStart:
            if (IsRunByte(c)) {
                state_ = State::Run; // no line of its own
            } else if (c == '\n') {
                beginLine(at, c); // an empty line
                state_ = State::LineStart;
            } else {
                beginLine(at, c);
            }
            break;
        }
        if (c == '\n') {
            ++lineFeeds_;
        }
    }
    offset_ += bytes.size();
}

void DataLines::finish() {
    if (state_ == State::RunCr) {
        beginLine(crAt_, '\r');
    }
    lastUnfinished_ = state_ == State::InLine && !directive_;
}

} // namespace logdesk
