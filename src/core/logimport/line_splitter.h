// Cutting an import's buffers into lines, shared by the one-thread and the
// threaded import.
#pragma once

#include "line_scan.h"

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace logdesk {

inline constexpr std::string_view kFieldsDirective = "#Fields:";

inline bool IsRunByte(char c) {
    return c == '\0' || c == '\x1A';
}

// Calls the handler for each complete line of bytes [pos, filled) of a
// buffer and moves pos past them; with `eof` the unterminated rest is a line
// too. Lines end at LF, one CR before it dropped; a run of NUL or 0x1A ends a
// line too, and the run with one LF or CR LF after it is that one line end.
// The handler gives the field count to find blanks for (0 for a line it only
// needs the end of) and takes each line:
//   std::size_t fieldsFor(bool directive);
//   void line(std::size_t begin, std::size_t end, bool directive,
//             const std::uint32_t* fieldStarts, std::size_t blanks);
//   bool stopped();
class LineSplitter {
public:
    explicit LineSplitter(LineScanner scan) : scan_(scan) {}

    template <typename Handler>
    void split(const char* buf, std::size_t& pos, std::size_t filled, bool eof, Handler& handler);
    // Forgets a NUL run that ended the last line: the next bytes start a line.
    void reset() { afterRun_ = false; }

private:
    LineScanner scan_;
    bool afterRun_ = false; // a NUL/0x1A run just ended a line
    std::vector<std::uint32_t> starts_;
};

template <typename Handler>
void LineSplitter::split(const char* buf, std::size_t& pos, std::size_t filled, bool eof,
                         Handler& handler) {
    while (pos < filled && !handler.stopped()) {
        if (afterRun_) {
            if (buf[pos] == '\r' && pos + 1 == filled && !eof) {
                return; // need the next byte to know whether this is CR LF
            }
            if (buf[pos] == '\n') {
                pos += 1;
            } else if (buf[pos] == '\r' && pos + 1 < filled && buf[pos + 1] == '\n') {
                pos += 2;
            }
            afterRun_ = false;
            continue;
        }
        const bool directive = buf[pos] == '#';
        const std::size_t fields = handler.fieldsFor(directive);
        if (starts_.size() < fields) {
            starts_.resize(fields);
        }
        const LineScan found = scan_(buf + pos, buf + filled, starts_.data(), fields);
        const auto stop = static_cast<std::size_t>(found.stop - buf);
        if (stop == filled) {
            if (eof) {
                handler.line(pos, filled, directive, starts_.data(), found.blanks);
                pos = filled;
            }
            return;
        }
        if (buf[stop] == '\n') {
            const std::size_t end = stop > pos && buf[stop - 1] == '\r' ? stop - 1 : stop;
            handler.line(pos, end, directive, starts_.data(), found.blanks);
            pos = stop + 1;
            continue;
        }
        if (stop > pos) {
            handler.line(pos, stop, directive, starts_.data(), found.blanks);
        }
        std::size_t next = stop;
        while (next < filled && IsRunByte(buf[next])) {
            ++next;
        }
        pos = next;
        afterRun_ = true;
    }
}

} // namespace logdesk
