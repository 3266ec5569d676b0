#include "client_address.h"

#include "core/text/gbk_text.h"

#include <algorithm>
#include <arpa/inet.h>
#include <array>
#include <cstring>
#include <string>

namespace logdesk {
namespace {

// An address text without its port: "1.2.3.4:80" and "[2001:db8::1]:80"
// lose the port, a bare IPv6 address keeps its colons.
std::string_view WithoutPort(std::string_view text) {
    if (text.starts_with('[')) {
        const std::size_t close = text.find(']');
        return close == std::string_view::npos ? std::string_view() : text.substr(1, close - 1);
    }
    const std::size_t colon = text.find(':');
    if (colon != std::string_view::npos && text.find(':', colon + 1) == std::string_view::npos) {
        return text.substr(0, colon);
    }
    return text;
}

bool Public(std::string_view text) {
    if (text.empty() || text.size() > 45) {
        return false;
    }
    const std::string terminated(text);
    std::array<unsigned char, 16> b{};
    if (::inet_pton(AF_INET, terminated.c_str(), b.data()) == 1) {
        return !(b[0] == 0 || b[0] == 10 || b[0] == 127 || (b[0] == 100 && (b[1] & 0xC0) == 64) ||
                 (b[0] == 169 && b[1] == 254) || (b[0] == 172 && (b[1] & 0xF0) == 16) ||
                 (b[0] == 192 && b[1] == 168) || b[0] >= 224);
    }
    if (::inet_pton(AF_INET6, terminated.c_str(), b.data()) != 1) {
        return false;
    }
    constexpr std::array<unsigned char, 12> kMapped = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};
    if (std::memcmp(b.data(), kMapped.data(), kMapped.size()) == 0) {
        char v4[INET_ADDRSTRLEN] = {};
        ::inet_ntop(AF_INET, b.data() + 12, v4, sizeof v4);
        return Public(v4);
    }
    const bool unspecifiedOrLoopback =
        std::all_of(b.begin(), b.begin() + 15, [](unsigned char c) { return c == 0; }) &&
        b[15] <= 1;
    return !(unspecifiedOrLoopback || (b[0] & 0xFE) == 0xFC ||
             (b[0] == 0xFE && (b[1] & 0xC0) == 0x80) || b[0] == 0xFF);
}

} // namespace

std::int32_t FieldColumn(const HeaderLayout& header, std::string_view name) {
    if (name.empty()) {
        return 0;
    }
    for (std::size_t i = 0; i < header.fieldNames.size(); ++i) {
        std::string_view field = header.fieldNames[i];
        if (EqualsIgnoreAsciiCase(field, name)) {
            return static_cast<std::int32_t>(i + 1);
        }
        if (field.size() > 4 && field.ends_with(')') && field[2] == '(' &&
            EqualsIgnoreAsciiCase(field.substr(3, field.size() - 4), name)) {
            return static_cast<std::int32_t>(i + 1);
        }
    }
    return 0;
}

std::string_view ClientAddress(std::string_view forwarded, std::string_view direct) {
    std::size_t start = 0;
    while (start < forwarded.size()) {
        std::size_t end = forwarded.find(',', start);
        if (end == std::string_view::npos) {
            end = forwarded.size();
        }
        std::string_view item = forwarded.substr(start, end - start);
        while (!item.empty() && (item.front() == '+' || item.front() == ' ')) {
            item.remove_prefix(1);
        }
        while (!item.empty() && (item.back() == '+' || item.back() == ' ')) {
            item.remove_suffix(1);
        }
        const std::string_view address = WithoutPort(item);
        if (Public(address)) {
            return address;
        }
        start = end + 1;
    }
    return direct;
}

} // namespace logdesk
