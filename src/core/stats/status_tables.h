// The built-in descriptions of HTTP status codes and Win32 error codes, and
// their lookup for the status page.
//
// Each table is a constant GBK text of lines "code|description", every line
// (the last included) ending in CR LF, codes ascending. The tables are built
// on first use and read-only afterwards, so lookups are safe from any thread.
#pragma once

#include <string>
#include <string_view>
#include <unordered_map>

namespace logdesk {

class StatusCodeTable {
public:
    // `text` is GBK lines "code|description" separated by CR LF. A line
    // without "|" describes nothing; of several lines with one code the
    // first counts.
    explicit StatusCodeTable(std::string text);
    // The lookup points into the text it owns.
    StatusCodeTable(const StatusCodeTable&) = delete;
    StatusCodeTable& operator=(const StatusCodeTable&) = delete;

    const std::string& text() const { return text_; }

    // The description of a code compared byte for byte ("200", not " 200"
    // or "0200"); "不明状态" for a code without a line, with an empty
    // description, or empty itself.
    std::string_view describe(std::string_view code) const;

private:
    std::string text_;
    std::unordered_map<std::string_view, std::string_view> descriptions_;
};

const StatusCodeTable& HttpStatusTable();
const StatusCodeTable& Win32StatusTable();

// "不明状态".
const std::string& UnknownStatusText();

// A status key is the sc-status cell, "|", the sc-win32-status cell. Its
// description is the HTTP description of the text before the key's first
// "|" and the Win32 description of the text after it, joined by "|"
// ("200|0" gives "访问正常(OK)|完成"). A key without "|" is all HTTP code
// with an empty Win32 code.
std::string DescribeStatusKey(std::string_view key);

} // namespace logdesk
