// Times one column sort of generated keys and prints one line of figures.
// The keys are the numbers k * 0.6e-7 for k = 0 .. N-1 (every one within
// 1e-7 of its neighbours, so the numbers do not order totally), one in ten
// repeated, in an order shuffled with a fixed seed.
//   logdesk-sort-bench [--keys N]       (default 1,000,000)
#include "core/stats/list_sort.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    std::size_t count = 1000000;
    if (argc == 3 && std::strcmp(argv[1], "--keys") == 0) {
        count = std::strtoul(argv[2], nullptr, 10);
    } else if (argc != 1) {
        std::fprintf(stderr, "usage: logdesk-sort-bench [--keys N]\n");
        return 2;
    }
    std::vector<std::string> keys;
    keys.reserve(count);
    char text[32];
    for (std::size_t k = 0; keys.size() < count; ++k) {
        std::snprintf(text, sizeof text, "%.12g", static_cast<double>(k) * 0.6e-7);
        keys.emplace_back(text);
        if (k % 10 == 0 && keys.size() < count) {
            keys.emplace_back(text);
        }
    }
    std::mt19937_64 random(1);
    std::shuffle(keys.begin(), keys.end(), random);

    const auto start = std::chrono::steady_clock::now();
    const std::vector<std::uint32_t> order = logdesk::SortOrder(
        static_cast<std::uint32_t>(keys.size()),
        [&](std::uint32_t r) -> std::string_view { return keys[r]; }, logdesk::SortKind::Number);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("sort_seconds=%.4f keys=%zu first=%u\n", seconds, order.size(),
                order.empty() ? 0U : order.front());
    return 0;
}
