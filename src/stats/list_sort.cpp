#include "list_sort.h"

#include "util/gbk_text.h"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace logdesk {

std::string_view SortKey(std::string_view cell) {
    return TrimBlanks(cell);
}

namespace {

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// The leading decimal number of text, read as strtod reads that part alone.
double LeadingDecimal(std::string_view text) {
    std::size_t i = 0;
    // The blanks atof skips in the "C" locale.
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) {
        ++i;
    }
    const std::size_t begin = i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        ++i;
    }
    std::size_t digits = 0;
    for (; i < text.size() && IsDigit(text[i]); ++i) {
        ++digits;
    }
    if (i < text.size() && text[i] == '.') {
        for (++i; i < text.size() && IsDigit(text[i]); ++i) {
            ++digits;
        }
    }
    if (digits == 0) {
        return 0.0;
    }
    std::size_t end = i;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        std::size_t j = i + 1;
        if (j < text.size() && (text[j] == '+' || text[j] == '-')) {
            ++j;
        }
        if (j < text.size() && IsDigit(text[j])) {
            while (j < text.size() && IsDigit(text[j])) {
                ++j;
            }
            end = j;
        }
    }
    // Only decimal notation is left for AtoF to see, which reads it
    // independently of the locale and overflows to an infinity.
    return AtoF(text.substr(begin, end - begin));
}

} // namespace

double SortNumber(std::string_view key) {
    // Full-width forms: 0xA3 0xA1..0xFE are the ASCII characters 0x21..0x7E,
    // 0xA1 0xA1 is the full-width blank.
    bool fullWidth = false;
    for (std::size_t i = 0; i < key.size(); i += CharLength(key, i)) {
        if (CharLength(key, i) == 2 && (key[i] == '\xA3' || key[i] == '\xA1')) {
            fullWidth = true;
            break;
        }
    }
    if (!fullWidth) {
        return LeadingDecimal(key);
    }
    std::string half;
    half.reserve(key.size());
    for (std::size_t i = 0; i < key.size();) {
        const std::size_t len = CharLength(key, i);
        const auto trail = static_cast<unsigned char>(len == 2 ? key[i + 1] : 0);
        if (len == 2 && key[i] == '\xA3' && trail >= 0xA1 && trail <= 0xFE) {
            half.push_back(static_cast<char>(trail - 0x80));
        } else if (len == 2 && key[i] == '\xA1' && trail == 0xA1) {
            half.push_back(' ');
        } else {
            half.append(key.substr(i, len));
        }
        i += len;
    }
    return LeadingDecimal(half);
}

int CompareSortText(std::string_view a, std::string_view b) {
    // Byte order and unit order differ only where a lone lead byte before
    // 0x7F or 0xFF meets a double-byte character with the same lead.
    auto plain = [](std::string_view s) {
        return s.find('\x7F') == std::string_view::npos && s.find('\xFF') == std::string_view::npos;
    };
    if (plain(a) && plain(b)) {
        const int c = a.compare(b);
        return c < 0 ? -1 : (c > 0 ? 1 : 0);
    }
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < a.size() && j < b.size()) {
        const std::string_view ua = a.substr(i, CharLength(a, i));
        const std::string_view ub = b.substr(j, CharLength(b, j));
        if (const int c = ua.compare(ub); c != 0) {
            return c < 0 ? -1 : 1;
        }
        i += ua.size();
        j += ub.size();
    }
    if (i < a.size()) {
        return 1;
    }
    return j < b.size() ? -1 : 0;
}

namespace {

constexpr double kEpsilon = 1e-7;

int CompareNumbers(double v, double k) {
    const double d = v - k;
    if (d < -kEpsilon) {
        return -1;
    }
    // Two infinities of one sign differ by NaN, which counts as equal: an
    // infinity then equals itself and nothing else, as a total order needs.
    return d > kEpsilon ? 1 : 0;
}

// The place (0-based) where a new key goes among n keys sorted so far, given
// that `less` of them are smaller and `notGreater` not greater than it, for
// keys in a total order.
std::uint32_t InsertionPlace(std::uint32_t n, std::uint32_t less, std::uint32_t notGreater) {
    if (n == 0 || notGreater == n) {
        return n; // not less than the last: after it
    }
    if (less == 0) {
        return 0; // not greater than the first: before it
    }
    std::uint32_t lo = 1;
    std::uint32_t hi = n;
    while (lo < hi - 1) {
        const std::uint32_t mid = (lo + hi) / 2;
        if (mid > less && mid <= notGreater) {
            lo = mid; // met an equal key
            break;
        }
        if (mid > notGreater) {
            hi = mid;
        } else {
            lo = mid;
        }
    }
    return lo; // 1-based lo + 1, as a 0-based place
}

class Fenwick {
public:
    explicit Fenwick(std::size_t n) : tree_(n + 1, 0) {}
    void add(std::size_t i, int delta) { // 0-based
        for (++i; i < tree_.size(); i += i & (~i + 1)) {
            tree_[i] += delta;
        }
    }
    std::uint32_t prefix(std::size_t count) const { // sum of the first `count` entries
        std::int64_t sum = 0;
        for (std::size_t i = count; i > 0; i -= i & (~i + 1)) {
            sum += tree_[i];
        }
        return static_cast<std::uint32_t>(sum);
    }
    // 0-based index of the k-th (1-based) entry that is 1, all entries 0 or 1.
    std::size_t findKth(std::uint32_t k) const {
        std::size_t pos = 0;
        std::size_t step = 1;
        while (step * 2 < tree_.size()) {
            step *= 2;
        }
        for (; step > 0; step /= 2) {
            if (pos + step < tree_.size() && tree_[pos + step] < static_cast<std::int64_t>(k)) {
                pos += step;
                k -= static_cast<std::uint32_t>(tree_[pos]);
            }
        }
        return pos;
    }

private:
    std::vector<std::int64_t> tree_;
};

// Final order from the insertion places: the last key inserted keeps its
// place; going backwards, each key takes the place-th slot still free.
std::vector<std::uint32_t> OrderFromPlaces(const std::vector<std::uint32_t>& places) {
    const auto n = static_cast<std::uint32_t>(places.size());
    Fenwick free(n);
    for (std::uint32_t i = 0; i < n; ++i) {
        free.add(i, 1);
    }
    std::vector<std::uint32_t> order(n);
    for (std::uint32_t r = n; r-- > 0;) {
        const std::size_t slot = free.findKth(places[r] + 1);
        order[slot] = r;
        free.add(slot, -1);
    }
    return order;
}

// Places for keys given as ranks in a total order (equal keys equal ranks).
std::vector<std::uint32_t> PlacesFromRanks(const std::vector<std::uint32_t>& ranks,
                                           std::size_t distinct) {
    Fenwick seen(distinct);
    std::vector<std::uint32_t> places(ranks.size());
    for (std::uint32_t r = 0; r < ranks.size(); ++r) {
        const std::uint32_t less = seen.prefix(ranks[r]);
        const std::uint32_t notGreater = seen.prefix(ranks[r] + 1);
        places[r] = InsertionPlace(r, less, notGreater);
        seen.add(ranks[r], 1);
    }
    return places;
}

std::vector<std::uint32_t> Finish(std::vector<std::uint32_t> order, bool ascending) {
    if (!ascending) {
        std::reverse(order.begin(), order.end());
    }
    return order;
}

} // namespace

std::vector<std::uint32_t> SortOrderByInsertion(const std::vector<std::string>& keys, SortKind kind,
                                                bool ascending) {
    std::vector<std::uint32_t> rows;
    std::vector<double> numbers;
    std::vector<std::string_view> texts;
    auto compare = [&](std::uint32_t r, std::size_t at) {
        if (kind == SortKind::Number) {
            return CompareNumbers(SortNumber(keys[r]), numbers[at]);
        }
        return CompareSortText(keys[r], texts[at]);
    };
    for (std::uint32_t r = 0; r < keys.size(); ++r) {
        const std::size_t n = rows.size();
        std::size_t place = 0; // 0-based
        if (n == 0 || compare(r, n - 1) >= 0) {
            place = n;
        } else if (compare(r, 0) <= 0) {
            place = 0;
        } else {
            std::size_t lo = 1;
            std::size_t hi = n;
            while (lo < hi - 1) {
                const std::size_t mid = (lo + hi) / 2;
                const int c = compare(r, mid - 1);
                if (c == 0) {
                    lo = mid;
                    break;
                }
                if (c < 0) {
                    hi = mid;
                } else {
                    lo = mid;
                }
            }
            place = lo;
        }
        rows.insert(rows.begin() + static_cast<std::ptrdiff_t>(place), r);
        if (kind == SortKind::Number) {
            numbers.insert(numbers.begin() + static_cast<std::ptrdiff_t>(place),
                           SortNumber(keys[r]));
        } else {
            texts.insert(texts.begin() + static_cast<std::ptrdiff_t>(place), keys[r]);
        }
    }
    return Finish(std::move(rows), ascending);
}

std::vector<std::uint32_t> SortOrder(std::uint32_t rowCount,
                                     const std::function<std::string_view(std::uint32_t)>& cellOf,
                                     SortKind kind, bool ascending) {
    std::vector<std::uint32_t> ranks(rowCount);
    std::size_t distinct = 0;
    if (kind == SortKind::Text) {
        // Sorting (key, row) pairs keeps the keys next to each other in
        // memory; plain byte order serves unless some key holds a byte where
        // unit order differs from it.
        std::vector<std::pair<std::string_view, std::uint32_t>> keys(rowCount);
        bool plain = true;
        for (std::uint32_t r = 0; r < rowCount; ++r) {
            keys[r] = {SortKey(cellOf(r)), r};
            plain = plain && keys[r].first.find_first_of("\x7F\xFF") == std::string_view::npos;
        }
        auto compare = [plain](std::string_view a, std::string_view b) {
            return plain ? a.compare(b) : CompareSortText(a, b);
        };
        std::sort(keys.begin(), keys.end(),
                  [&](const auto& a, const auto& b) { return compare(a.first, b.first) < 0; });
        for (std::uint32_t i = 0; i < rowCount; ++i) {
            if (i > 0 && compare(keys[i - 1].first, keys[i].first) != 0) {
                ++distinct;
            }
            ranks[keys[i].second] = static_cast<std::uint32_t>(distinct);
        }
    } else {
        std::vector<double> values(rowCount);
        for (std::uint32_t r = 0; r < rowCount; ++r) {
            values[r] = SortNumber(SortKey(cellOf(r)));
        }
        std::vector<double> sorted(values);
        std::sort(sorted.begin(), sorted.end());
        sorted.erase(std::unique(sorted.begin(), sorted.end()), sorted.end());
        bool total = true;
        for (std::size_t i = 1; total && i < sorted.size(); ++i) {
            total = CompareNumbers(sorted[i], sorted[i - 1]) != 0;
        }
        if (!total) {
            // Equality within 1e-7 is then not transitive; insert literally.
            std::vector<std::string> keys(rowCount);
            for (std::uint32_t r = 0; r < rowCount; ++r) {
                keys[r] = std::string(SortKey(cellOf(r)));
            }
            return SortOrderByInsertion(keys, kind, ascending);
        }
        for (std::uint32_t r = 0; r < rowCount; ++r) {
            ranks[r] = static_cast<std::uint32_t>(
                std::lower_bound(sorted.begin(), sorted.end(), values[r]) - sorted.begin());
        }
        distinct = sorted.size() == 0 ? 0 : sorted.size() - 1;
    }
    return Finish(OrderFromPlaces(PlacesFromRanks(ranks, distinct + 1)), ascending);
}

} // namespace logdesk
