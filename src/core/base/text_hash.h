// A hash for the short texts the program looks up by the million (user
// agents, URLs, IPs, status keys): eight bytes a step, good enough spread
// for open addressing, not for anything an attacker could exploit beyond
// slowing a look-up down.
#pragma once

#include <cstdint>
#include <cstring>
#include <string_view>

namespace logdesk {

inline std::uint64_t HashShortText(std::string_view s) {
    std::uint64_t h = 0x9E3779B97F4A7C15ull ^ s.size();
    std::size_t i = 0;
    for (; i + 8 <= s.size(); i += 8) {
        std::uint64_t w;
        std::memcpy(&w, s.data() + i, 8);
        h = (h ^ w) * 0xFF51AFD7ED558CCDull;
        h ^= h >> 32;
    }
    std::uint64_t tail = 0;
    if (i < s.size()) {
        std::memcpy(&tail, s.data() + i, s.size() - i);
    }
    h = (h ^ tail) * 0xC4CEB9FE1A85EC53ull;
    return h ^ (h >> 29);
}

} // namespace logdesk
