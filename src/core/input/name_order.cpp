#include "core/input/name_order.h"

#include <algorithm>

namespace logdesk {
namespace {

unsigned char Folded(char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte >= 'A' && byte <= 'Z' ? static_cast<unsigned char>(byte - 'A' + 'a') : byte;
}

// <0, 0, >0 as `a` comes before, with or after `b`, letters without case.
int CompareNoCase(std::string_view a, std::string_view b) {
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        const unsigned char x = Folded(a[i]);
        const unsigned char y = Folded(b[i]);
        if (x != y) {
            return x < y ? -1 : 1;
        }
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

} // namespace

std::string_view LastComponent(std::string_view path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

bool NameOrderLess(std::string_view a, std::string_view b) {
    const std::string_view nameA = LastComponent(a);
    const std::string_view nameB = LastComponent(b);
    if (const int c = CompareNoCase(nameA, nameB); c != 0) {
        return c < 0;
    }
    // std::string_view compares bytes as unsigned char.
    if (const int c = nameA.compare(nameB); c != 0) {
        return c < 0;
    }
    return a.compare(b) < 0;
}

bool EndsWithNoCase(std::string_view name, std::string_view suffix) {
    return name.size() >= suffix.size() &&
           CompareNoCase(name.substr(name.size() - suffix.size()), suffix) == 0;
}

} // namespace logdesk
