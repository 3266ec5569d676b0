#include "list_sort.h"

#include "cancellable_sort.h"
#include "text/gbk_text.h"

#include <algorithm>
#include <cstdint>

namespace logdesk {

std::string_view SortKey(std::string_view cell) {
    return TrimBlanks(cell);
}

namespace {

// Runs key(r) for every row in pieces on the threads; false once cancelled.
template <typename Key>
bool ForRowsInPieces(std::uint32_t rows, unsigned threads, const std::atomic<bool>* cancel,
                     Key&& key) {
    constexpr std::uint32_t kPiece = 1u << 16;
    const std::size_t pieces = threads == 1 ? 1 : (std::size_t{rows} + kPiece - 1) / kPiece;
    std::atomic<bool> stopped{false};
    RunPieces(pieces, threads, [&](std::size_t piece, unsigned) {
        const auto first = threads == 1 ? 0u : static_cast<std::uint32_t>(piece * kPiece);
        const std::uint32_t last = threads == 1 ? rows : std::min(rows, first + kPiece);
        for (std::uint32_t r = first; r < last; ++r) {
            if (CancelRequestedAt(r - first, cancel)) {
                stopped = true;
                return;
            }
            key(r);
        }
    });
    return !stopped;
}

} // namespace

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
// place; going backwards, each key takes the place-th slot still free. Empty
// when cancelled.
std::vector<std::uint32_t> OrderFromPlaces(const std::vector<std::uint32_t>& places,
                                           const std::atomic<bool>* cancel) {
    const auto n = static_cast<std::uint32_t>(places.size());
    Fenwick free(n);
    for (std::uint32_t i = 0; i < n; ++i) {
        free.add(i, 1);
    }
    std::vector<std::uint32_t> order(n);
    for (std::uint32_t r = n; r-- > 0;) {
        if (CancelRequestedAt(r, cancel)) {
            return {};
        }
        const std::size_t slot = free.findKth(places[r] + 1);
        order[slot] = r;
        free.add(slot, -1);
    }
    return order;
}

// Places for keys given as ranks in a total order (equal keys equal ranks).
// Empty when cancelled.
std::vector<std::uint32_t> PlacesFromRanks(const std::vector<std::uint32_t>& ranks,
                                           std::size_t distinct, const std::atomic<bool>* cancel) {
    Fenwick seen(distinct);
    std::vector<std::uint32_t> places(ranks.size());
    for (std::uint32_t r = 0; r < ranks.size(); ++r) {
        if (CancelRequestedAt(r, cancel)) {
            return {};
        }
        const std::uint32_t less = seen.prefix(ranks[r]);
        const std::uint32_t notGreater = seen.prefix(ranks[r] + 1);
        places[r] = InsertionPlace(r, less, notGreater);
        seen.add(ranks[r], 1);
    }
    return places;
}

// The numbers inserted so far, with their rows, in the order the literal
// insertion keeps them: a B+ tree whose inner nodes count the entries below
// each child, so that reading the i-th number and inserting at place i both
// take O(log n). Leaves are at least half full and chained left to right;
// the first leaf stays the leftmost, as a split moves the upper half out.
class InsertionList {
public:
    explicit InsertionList(std::uint32_t capacity) {
        leaves_.reserve(2 * static_cast<std::size_t>(capacity) / kLeafCapacity + 1);
        leaves_.emplace_back();
    }

    std::uint32_t size() const { return count(root_, height_); }

    double at(std::uint32_t i) {
        // A bisection's later steps stay within one leaf: keep the last one.
        if (cachedLeaf_ != kNone && i - cachedBegin_ < leaves_[cachedLeaf_].size) {
            return leaves_[cachedLeaf_].value[i - cachedBegin_];
        }
        std::uint32_t node = root_;
        std::uint32_t begin = 0;
        for (unsigned h = height_; h > 0; --h) {
            const Inner& inner = inners_[node];
            const std::uint32_t c = childAt(inner, i - begin);
            begin += c == 0 ? 0 : inner.end[c - 1];
            node = inner.child[c];
        }
        cachedLeaf_ = node;
        cachedBegin_ = begin;
        return leaves_[node].value[i - begin];
    }

    void insert(std::uint32_t place, double value, std::uint32_t row) {
        cachedLeaf_ = kNone;
        const std::uint32_t split = insertInto(root_, height_, place, value, row);
        if (split != kNone) {
            Inner top;
            top.size = 2;
            top.child[0] = root_;
            top.child[1] = split;
            top.end[0] = count(root_, height_);
            top.end[1] = top.end[0] + count(split, height_);
            root_ = static_cast<std::uint32_t>(inners_.size());
            inners_.push_back(top);
            ++height_;
        }
    }

    std::vector<std::uint32_t> rows() const {
        std::vector<std::uint32_t> rows;
        rows.reserve(size());
        for (std::uint32_t leaf = 0; leaf != kNone; leaf = leaves_[leaf].next) {
            rows.insert(rows.end(), leaves_[leaf].row, leaves_[leaf].row + leaves_[leaf].size);
        }
        return rows;
    }

private:
    static constexpr std::uint32_t kNone = UINT32_MAX;
    static constexpr std::uint32_t kLeafCapacity = 128;
    static constexpr std::uint32_t kFanOut = 32;

    struct Leaf {
        std::uint32_t size = 0;
        std::uint32_t next = kNone;
        double value[kLeafCapacity];
        std::uint32_t row[kLeafCapacity];
    };
    struct Inner {
        std::uint32_t size = 0;
        std::uint32_t child[kFanOut];
        std::uint32_t end[kFanOut]; // entries in children 0..j together
    };

    std::uint32_t count(std::uint32_t node, unsigned height) const {
        return height == 0 ? leaves_[node].size : inners_[node].end[inners_[node].size - 1];
    }

    // The child holding entry i of the node; its last child for i == its
    // count, where an insertion appends.
    static std::uint32_t childAt(const Inner& inner, std::uint32_t i) {
        std::uint32_t c = 0;
        for (std::uint32_t j = 0; j + 1 < inner.size; ++j) {
            c += inner.end[j] <= i ? 1 : 0;
        }
        return c;
    }

    // Inserts below node; returns the node split off to its right, if any.
    // Nodes split as they fill up, so an insertion always finds room. The
    // node vectors may grow during the call: no reference is held across it.
    std::uint32_t insertInto(std::uint32_t node, unsigned height, std::uint32_t place, double value,
                             std::uint32_t row) {
        if (height == 0) {
            Leaf& leaf = leaves_[node];
            std::copy_backward(leaf.value + place, leaf.value + leaf.size,
                               leaf.value + leaf.size + 1);
            std::copy_backward(leaf.row + place, leaf.row + leaf.size, leaf.row + leaf.size + 1);
            leaf.value[place] = value;
            leaf.row[place] = row;
            if (++leaf.size < kLeafCapacity) {
                return kNone;
            }
            const auto fresh = static_cast<std::uint32_t>(leaves_.size());
            leaves_.emplace_back();
            Leaf& left = leaves_[node];
            Leaf& right = leaves_[fresh];
            constexpr std::uint32_t kHalf = kLeafCapacity / 2;
            std::copy(left.value + kHalf, left.value + kLeafCapacity, right.value);
            std::copy(left.row + kHalf, left.row + kLeafCapacity, right.row);
            right.size = kLeafCapacity - kHalf;
            left.size = kHalf;
            right.next = left.next;
            left.next = fresh;
            return fresh;
        }
        const std::uint32_t c = childAt(inners_[node], place);
        const std::uint32_t before = c == 0 ? 0 : inners_[node].end[c - 1];
        const std::uint32_t split =
            insertInto(inners_[node].child[c], height - 1, place - before, value, row);
        Inner& inner = inners_[node];
        for (std::uint32_t j = c; j < inner.size; ++j) {
            ++inner.end[j];
        }
        if (split == kNone) {
            return kNone;
        }
        std::copy_backward(inner.child + c + 1, inner.child + inner.size,
                           inner.child + inner.size + 1);
        std::copy_backward(inner.end + c + 1, inner.end + inner.size, inner.end + inner.size + 1);
        inner.child[c + 1] = split;
        inner.end[c + 1] = inner.end[c];
        inner.end[c] -= count(split, height - 1);
        if (++inner.size < kFanOut) {
            return kNone;
        }
        const auto fresh = static_cast<std::uint32_t>(inners_.size());
        inners_.emplace_back();
        Inner& left = inners_[node];
        Inner& right = inners_[fresh];
        constexpr std::uint32_t kHalf = kFanOut / 2;
        const std::uint32_t moved = left.end[kHalf - 1];
        for (std::uint32_t j = kHalf; j < kFanOut; ++j) {
            right.child[j - kHalf] = left.child[j];
            right.end[j - kHalf] = left.end[j] - moved;
        }
        right.size = kFanOut - kHalf;
        left.size = kHalf;
        return fresh;
    }

    std::vector<Leaf> leaves_;
    std::vector<Inner> inners_;
    std::uint32_t root_ = 0;
    unsigned height_ = 0; // inner levels above the leaves
    std::uint32_t cachedLeaf_ = kNone;
    std::uint32_t cachedBegin_ = 0;
};

// The literal insertion's order for numbers, each insertion place found by
// the same bisection over the list as it stands, read through the tree.
// Empty when cancelled.
std::vector<std::uint32_t> OrderByReplay(const std::vector<double>& values,
                                         const std::atomic<bool>* cancel) {
    const auto n = static_cast<std::uint32_t>(values.size());
    InsertionList list(n);
    for (std::uint32_t r = 0; r < n; ++r) {
        if (CancelRequestedAt(r, cancel)) {
            return {};
        }
        const double v = values[r];
        std::uint32_t place = 0;
        if (r == 0 || CompareNumbers(v, list.at(r - 1)) >= 0) {
            place = r; // not less than the last: after it
        } else if (CompareNumbers(v, list.at(0)) <= 0) {
            place = 0; // not greater than the first: before it
        } else {
            std::uint32_t lo = 1; // 1-based, as is hi
            std::uint32_t hi = r;
            while (lo < hi - 1) {
                const std::uint32_t mid = (lo + hi) / 2;
                const int c = CompareNumbers(v, list.at(mid - 1));
                if (c == 0) {
                    lo = mid; // met an equal key: right after it
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
        list.insert(place, v, r);
    }
    return list.rows();
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
                                     SortKind kind, bool ascending, const std::atomic<bool>* cancel,
                                     const Parallelism& parallel) {
    const unsigned threads = WorkThreads(parallel.threads);
    std::vector<std::uint32_t> ranks(rowCount);
    std::size_t distinct = 0;
    if (kind == SortKind::Text) {
        // Sorting (key, row) pairs keeps the keys next to each other in
        // memory; plain byte order serves unless some key holds a byte where
        // unit order differs from it.
        std::vector<std::pair<std::string_view, std::uint32_t>> keys(rowCount);
        std::atomic<bool> special{false};
        if (!ForRowsInPieces(rowCount, threads, cancel, [&](std::uint32_t r) {
                keys[r] = {SortKey(cellOf(r)), r};
                if (keys[r].first.find_first_of("\x7F\xFF") != std::string_view::npos) {
                    special.store(true, std::memory_order_relaxed);
                }
            })) {
            return {};
        }
        const bool plain = !special.load();
        auto compare = [plain](std::string_view a, std::string_view b) {
            return plain ? a.compare(b) : CompareSortText(a, b);
        };
        if (!SortInPiecesUnlessCancelled(
                keys.begin(), keys.end(),
                [&](const auto& a, const auto& b) { return compare(a.first, b.first) < 0; }, cancel,
                threads)) {
            return {};
        }
        for (std::uint32_t i = 0; i < rowCount; ++i) {
            if (CancelRequestedAt(i, cancel)) {
                return {};
            }
            if (i > 0 && compare(keys[i - 1].first, keys[i].first) != 0) {
                ++distinct;
            }
            ranks[keys[i].second] = static_cast<std::uint32_t>(distinct);
        }
    } else {
        std::vector<double> values(rowCount);
        if (!ForRowsInPieces(rowCount, threads, cancel, [&](std::uint32_t r) {
                values[r] = SortNumber(SortKey(cellOf(r)));
            })) {
            return {};
        }
        std::vector<double> sorted(values);
        if (!SortInPiecesUnlessCancelled(sorted.begin(), sorted.end(), std::less<>(), cancel,
                                         threads)) {
            return {};
        }
        sorted.erase(std::unique(sorted.begin(), sorted.end()), sorted.end());
        bool total = true;
        for (std::size_t i = 1; total && i < sorted.size(); ++i) {
            total = CompareNumbers(sorted[i], sorted[i - 1]) != 0;
        }
        if (!total) {
            // Equality within 1e-7 is then not transitive and the insertion's
            // order depends on which keys its bisection meets.
            return Finish(OrderByReplay(values, cancel), ascending);
        }
        for (std::uint32_t r = 0; r < rowCount; ++r) {
            if (CancelRequestedAt(r, cancel)) {
                return {};
            }
            ranks[r] = static_cast<std::uint32_t>(
                std::lower_bound(sorted.begin(), sorted.end(), values[r]) - sorted.begin());
        }
        distinct = sorted.size() == 0 ? 0 : sorted.size() - 1;
    }
    const std::vector<std::uint32_t> places = PlacesFromRanks(ranks, distinct + 1, cancel);
    if (places.size() != rowCount) {
        return {};
    }
    return Finish(OrderFromPlaces(places, cancel), ascending);
}

} // namespace logdesk
