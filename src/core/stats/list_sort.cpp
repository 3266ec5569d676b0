#include "list_sort.h"

#include "core/base/platform.h"
#include "core/base/text_hash.h"
#include "cancellable_sort.h"
#include "core/text/gbk_text.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <optional>

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

// Vectors of megabytes: from the big-buffer pool, so that a repeated sort
// finds its pages in place and a first one faults per 2 MiB, not per 4 KiB.
template <typename T> using BigVector = std::vector<T, BigBufferAllocator<T>>;

// The bounds of piece p of `pieces` equal pieces of [0, rows).
std::uint32_t PieceBound(std::uint32_t rows, std::size_t pieces, std::size_t p) {
    return static_cast<std::uint32_t>(std::uint64_t{rows} * p / pieces);
}

// Runs visit(r) for the rows of piece p in order, polling `cancel` as every
// sort does; false once it found it set.
template <typename Visit>
bool VisitPieceRows(std::uint32_t rows, std::size_t pieces, std::size_t p,
                    const CancelToken& cancel, Visit&& visit) {
    const std::uint32_t first = PieceBound(rows, pieces, p);
    const std::uint32_t last = PieceBound(rows, pieces, p + 1);
    for (std::uint32_t r = first; r < last; ++r) {
        if (CancelRequestedAt(r - first, cancel)) {
            return false;
        }
        visit(r);
    }
    return true;
}

// The pieces a pass over every row is cut into: one per thread for lists
// long enough to be worth it.
std::size_t RowPieces(std::uint32_t rows, unsigned threads) {
    constexpr std::uint32_t kSmallest = 1u << 15;
    return std::max<std::size_t>(1, std::min<std::size_t>(threads, rows / kSmallest));
}

// The distinct keys met so far, each with a number in order of first
// appearance; an open-addressing table over them. The keys' bytes are
// copied side by side, so that the keys met again and again stay in a few
// cache lines and pages instead of one of each per key across the log.
class KeyDictionary {
public:
    KeyDictionary() : slots_(1024, kFree) {}

    std::uint32_t idOf(std::string_view key, std::uint64_t hash) {
        const auto tag = static_cast<std::uint32_t>(hash >> 32);
        const std::size_t mask = slots_.size() - 1;
        for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
            const std::uint64_t slot = slots_[i];
            if (slot == kFree) {
                const auto id = static_cast<std::uint32_t>(entries_.size());
                entries_.push_back({bytes_.size(), key.size(), hash});
                bytes_.insert(bytes_.end(), key.begin(), key.end());
                slots_[i] = (std::uint64_t{tag} << 32) | id;
                if (2 * entries_.size() > slots_.size()) {
                    grow();
                }
                return id;
            }
            const auto id = static_cast<std::uint32_t>(slot);
            if (static_cast<std::uint32_t>(slot >> 32) == tag && keyOf(id) == key) {
                return id;
            }
        }
    }

    std::uint32_t size() const { return static_cast<std::uint32_t>(entries_.size()); }
    // Valid until the next idOf.
    std::string_view keyOf(std::uint32_t id) const {
        return {bytes_.data() + entries_[id].offset, entries_[id].length};
    }
    std::uint64_t hashOf(std::uint32_t id) const { return entries_[id].hash; }

private:
    static constexpr std::uint64_t kFree = UINT64_MAX; // ids stay below 2^32 - 1

    struct Entry {
        std::size_t offset; // into bytes_
        std::size_t length;
        std::uint64_t hash;
    };

    void grow() {
        BigVector<std::uint64_t> old(slots_.size() * 2, kFree);
        old.swap(slots_);
        const std::size_t mask = slots_.size() - 1;
        for (std::uint32_t id = 0; id < entries_.size(); ++id) {
            std::size_t i = entries_[id].hash & mask;
            while (slots_[i] != kFree) {
                i = (i + 1) & mask;
            }
            slots_[i] = ((entries_[id].hash >> 32) << 32) | id;
        }
    }

    BigVector<std::uint64_t> slots_;
    BigVector<Entry> entries_;
    BigVector<char> bytes_;
};

// The first eight bytes of a key as a number that orders as the bytes do,
// missing bytes as zeros: a smaller prefix means a smaller key in byte order.
std::uint64_t BytePrefix(std::string_view key) {
    std::uint64_t prefix = 0;
    const std::size_t n = std::min<std::size_t>(8, key.size());
    for (std::size_t i = 0; i < n; ++i) {
        prefix |= std::uint64_t{static_cast<unsigned char>(key[i])} << (56 - 8 * i);
    }
    return prefix;
}

// Dense ranks of the text keys of every row (equal keys, which are keys of
// equal bytes, equal ranks; rank order the text order) into `rank`; the
// number of distinct keys, or nothing when cancelled. Each piece of rows
// gathers its distinct keys on its own thread; only those are then sorted.
std::optional<std::uint32_t> RankTexts(std::uint32_t rows,
                                       const std::function<std::string_view(std::uint32_t)>& cellOf,
                                       unsigned threads, const CancelToken& cancel,
                                       BigVector<std::uint32_t>& rank) {
    const std::size_t pieces = RowPieces(rows, threads);
    std::vector<KeyDictionary> local(pieces);
    std::atomic<bool> stopped{false};
    RunPieces(pieces, threads, [&](std::size_t p, unsigned) {
        if (!VisitPieceRows(rows, pieces, p, cancel, [&](std::uint32_t r) {
                const std::string_view key = SortKey(cellOf(r));
                rank[r] = local[p].idOf(key, HashShortText(key)); // the piece's own id for now
            })) {
            stopped = true;
        }
    });
    if (stopped) {
        return std::nullopt;
    }
    KeyDictionary all;
    std::vector<std::vector<std::uint32_t>> toAll(pieces);
    for (std::size_t p = 0; p < pieces; ++p) {
        toAll[p].resize(local[p].size());
        for (std::uint32_t id = 0; id < local[p].size(); ++id) {
            if (CancelRequestedAt(id, cancel)) {
                return std::nullopt;
            }
            toAll[p][id] = all.idOf(local[p].keyOf(id), local[p].hashOf(id));
        }
    }
    std::vector<std::string_view> keys(all.size());
    for (std::uint32_t id = 0; id < keys.size(); ++id) {
        keys[id] = all.keyOf(id);
    }
    // Plain byte order serves unless some key holds a byte where unit order
    // differs from it; keys of equal bytes are equal either way.
    bool plain = true;
    for (const std::string_view key : keys) {
        plain = plain && key.find_first_of("\x7F\xFF") == std::string_view::npos;
    }
    struct Distinct {
        std::uint64_t prefix; // 0 for all when not plain
        std::uint32_t id;
    };
    std::vector<Distinct> sorted(keys.size());
    for (std::uint32_t id = 0; id < keys.size(); ++id) {
        sorted[id] = {plain ? BytePrefix(keys[id]) : 0, id};
    }
    auto less = [&](const Distinct& a, const Distinct& b) {
        if (a.prefix != b.prefix) {
            return a.prefix < b.prefix;
        }
        return plain ? keys[a.id].compare(keys[b.id]) < 0
                     : CompareSortText(keys[a.id], keys[b.id]) < 0;
    };
    // No two keys are equal, so the order is the same on any threads.
    if (!SortInPiecesUnlessCancelled(sorted.begin(), sorted.end(), less, cancel, threads)) {
        return std::nullopt;
    }
    std::vector<std::uint32_t> rankOfId(keys.size());
    for (std::uint32_t q = 0; q < sorted.size(); ++q) {
        rankOfId[sorted[q].id] = q;
    }
    for (std::size_t p = 0; p < pieces; ++p) {
        for (std::uint32_t& id : toAll[p]) {
            id = rankOfId[id];
        }
    }
    RunPieces(pieces, threads, [&](std::size_t p, unsigned) {
        const std::uint32_t last = PieceBound(rows, pieces, p + 1);
        for (std::uint32_t r = PieceBound(rows, pieces, p); r < last; ++r) {
            rank[r] = toAll[p][rank[r]];
        }
    });
    return static_cast<std::uint32_t>(keys.size());
}

// A number's bits as an unsigned integer that orders as the numbers do
// (no NaN; -0 made +0 beforehand).
std::uint64_t OrderedBits(double value) {
    std::uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return (bits >> 63) != 0 ? ~bits : bits | (std::uint64_t{1} << 63);
}

// Dense ranks of the numbers of every row into `rank` (equal numbers, by
// ==, equal ranks) and the distinct numbers ascending into `distinct`;
// false when cancelled. A radix sort of (bits, row) pairs, eight bits a
// pass, skipping passes where every number has the same byte.
bool RankNumbers(std::uint32_t rows, const std::function<std::string_view(std::uint32_t)>& cellOf,
                 unsigned threads, const CancelToken& cancel, BigVector<std::uint32_t>& rank,
                 std::vector<double>& distinct) {
    struct Item {
        std::uint64_t key;
        std::uint32_t row;
    };
    BigVector<Item> items(rows);
    BigVector<Item> spare(rows);
    const std::size_t pieces = RowPieces(rows, threads);
    std::vector<std::array<std::array<std::uint32_t, 256>, 8>> counts(pieces);
    std::atomic<bool> stopped{false};
    RunPieces(pieces, threads, [&](std::size_t p, unsigned) {
        auto& count = counts[p];
        for (auto& digit : count) {
            digit.fill(0);
        }
        if (!VisitPieceRows(rows, pieces, p, cancel, [&](std::uint32_t r) {
                const double value = SortNumber(SortKey(cellOf(r)));
                const std::uint64_t key = OrderedBits(value == 0.0 ? 0.0 : value);
                items[r] = {key, r};
                for (unsigned d = 0; d < 8; ++d) {
                    ++count[d][(key >> (8 * d)) & 0xFF];
                }
            })) {
            stopped = true;
        }
    });
    if (stopped) {
        return false;
    }
    for (unsigned d = 0; d < 8; ++d) {
        std::array<std::uint32_t, 256> start{};
        std::uint32_t total = 0;
        bool oneByte = false;
        for (unsigned b = 0; b < 256; ++b) {
            std::uint32_t n = 0;
            for (std::size_t p = 0; p < pieces; ++p) {
                n += counts[p][d][b];
            }
            oneByte = oneByte || n == rows;
            start[b] = total;
            total += n;
        }
        if (oneByte) {
            continue;
        }
        for (std::uint32_t i = 0; i < rows; ++i) {
            if (CancelRequestedAt(i, cancel)) {
                return false;
            }
            const Item item = items[i];
            spare[start[(item.key >> (8 * d)) & 0xFF]++] = item;
        }
        items.swap(spare);
    }
    distinct.clear();
    for (std::uint32_t i = 0; i < rows; ++i) {
        if (CancelRequestedAt(i, cancel)) {
            return false;
        }
        if (i == 0 || items[i].key != items[i - 1].key) {
            std::uint64_t bits = items[i].key;
            bits = (bits >> 63) != 0 ? bits & ~(std::uint64_t{1} << 63) : ~bits;
            double value;
            std::memcpy(&value, &bits, sizeof value);
            distinct.push_back(value);
        }
        rank[items[i].row] = static_cast<std::uint32_t>(distinct.size() - 1);
    }
    return true;
}

// std::popcount without the POPCNT instruction, which the build does not
// assume, is a library call; this is a few instructions inline.
std::uint64_t BitCount(std::uint64_t x) {
    x -= (x >> 1) & 0x5555555555555555ull;
    x = (x & 0x3333333333333333ull) + ((x >> 2) & 0x3333333333333333ull);
    x = (x + (x >> 4)) & 0x0F0F0F0F0F0F0F0Full;
    return (x * 0x0101010101010101ull) >> 56;
}

// How many of a set of rows lie before a row, the set growing one row at a
// time: a bit per row, and a Fenwick tree over the 64-bit words, small
// enough to stay in the cache.
class RowCounter {
public:
    explicit RowCounter(std::uint32_t rows) : bits_(rows / 64 + 1, 0), tree_(bits_.size() + 1, 0) {}

    void add(std::uint32_t row) {
        const std::size_t word = row / 64;
        bits_[word] |= std::uint64_t{1} << (row % 64);
        for (std::size_t i = word + 1; i < tree_.size(); i += i & (~i + 1)) {
            ++tree_[i];
        }
    }

    std::uint32_t before(std::uint32_t row) const {
        const std::size_t word = row / 64;
        auto count = static_cast<std::uint32_t>(
            BitCount(bits_[word] & ((std::uint64_t{1} << (row % 64)) - 1)));
        for (std::size_t i = word; i > 0; i -= i & (~i + 1)) {
            count += tree_[i];
        }
        return count;
    }

private:
    BigVector<std::uint64_t> bits_;
    std::vector<std::uint32_t> tree_;
};

// Slots 0..n-1, all free at first, taken one by one: the k-th free slot
// found in O(log n).
class FreeSlots {
public:
    void reset(std::uint32_t n) {
        tree_.assign(std::size_t{n} + 1, 0);
        for (std::size_t i = 1; i <= n; ++i) {
            tree_[i] = static_cast<std::uint32_t>(i & (~i + 1)); // all ones
        }
        top_ = 1;
        while (top_ * 2 <= n) {
            top_ *= 2;
        }
    }

    // Takes the k-th (0-based) free slot and returns it.
    std::uint32_t take(std::uint32_t k) {
        std::size_t pos = 0;
        ++k;
        for (std::size_t step = top_; step > 0; step /= 2) {
            if (pos + step < tree_.size() && tree_[pos + step] < k) {
                pos += step;
                k -= tree_[pos];
            }
        }
        for (std::size_t i = pos + 1; i < tree_.size(); i += i & (~i + 1)) {
            --tree_[i];
        }
        return static_cast<std::uint32_t>(pos);
    }

private:
    std::vector<std::uint32_t> tree_;
    std::size_t top_ = 1;
};

// The insertion's order for keys given as dense ranks in a total order.
// Rows of one rank end up together, the ranks ascending; where a row goes
// among the rows of its rank follows from how many smaller keys came before
// it (the place the bisection finds, less that count). So the rows are
// taken rank by rank, the earlier rows of smaller ranks counted, and each
// rank's rows then inserted at those places among themselves. Empty when
// cancelled.
std::vector<std::uint32_t> OrderFromRanks(const BigVector<std::uint32_t>& rank,
                                          std::uint32_t distinct, const CancelToken& cancel) {
    const auto rows = static_cast<std::uint32_t>(rank.size());
    std::vector<std::uint32_t> start(std::size_t{distinct} + 1, 0);
    for (const std::uint32_t k : rank) {
        ++start[k + 1];
    }
    for (std::uint32_t k = 0; k < distinct; ++k) {
        start[k + 1] += start[k];
    }
    // The rows by rank, in row order within a rank.
    BigVector<std::uint32_t> byRank(rows);
    {
        std::vector<std::uint32_t> next(start.begin(), start.end() - 1);
        for (std::uint32_t r = 0; r < rows; ++r) {
            byRank[next[rank[r]]++] = r;
        }
    }
    // place[i]: where byRank[i] went among the rows of its rank before it.
    BigVector<std::uint32_t> place(rows);
    RowCounter smaller(rows);
    std::uint32_t polled = 0;
    for (std::uint32_t k = 0; k < distinct; ++k) {
        const std::uint32_t first = start[k];
        const std::uint32_t last = start[k + 1];
        if ((polled += last - first) >= kRowsPerCancelPoll) {
            polled = 0;
            if (CancelRequested(cancel)) {
                return {};
            }
        }
        place[first] = 0;
        for (std::uint32_t i = first + 1; i < last; ++i) {
            if (i % kRowsPerCancelPoll == 0 && CancelRequested(cancel)) {
                return {};
            }
            const std::uint32_t r = byRank[i];
            const std::uint32_t less = smaller.before(r);
            place[i] = InsertionPlace(r, less, less + (i - first)) - less;
        }
        for (std::uint32_t i = first; i < last; ++i) {
            smaller.add(byRank[i]);
        }
    }
    std::vector<std::uint32_t> order(rows);
    FreeSlots free;
    std::vector<std::uint32_t> small;
    for (std::uint32_t k = 0; k < distinct; ++k) {
        const std::uint32_t first = start[k];
        const std::uint32_t m = start[k + 1] - first;
        if ((polled += m) >= kRowsPerCancelPoll) {
            polled = 0;
            if (CancelRequested(cancel)) {
                return {};
            }
        }
        constexpr std::uint32_t kLiteral = 64; // inserting literally is faster up to here
        if (m <= kLiteral) {
            small.clear();
            for (std::uint32_t i = first; i < first + m; ++i) {
                small.insert(small.begin() + place[i], byRank[i]);
            }
            std::copy(small.begin(), small.end(), order.begin() + first);
            continue;
        }
        // The last row keeps its place; going backwards, each row takes the
        // place-th slot still free.
        free.reset(m);
        for (std::uint32_t i = first + m; i-- > first;) {
            if (i % kRowsPerCancelPoll == 0 && CancelRequested(cancel)) {
                return {};
            }
            order[first + free.take(place[i])] = byRank[i];
        }
    }
    return order;
}

// The numbers inserted so far, as ranks among the distinct numbers, with
// their rows, in the order the literal insertion keeps them: a B+ tree whose
// inner nodes count the entries below each child, so that reading the i-th
// number and inserting at place i both take O(log n). Inner nodes also hold
// the smallest and largest rank below each child, which often answers a
// comparison with the i-th number without going down to its leaf: the
// bisection's first steps then stay in the few top nodes. Leaves are at
// least half full and chained left to right; the first leaf stays the
// leftmost, as a split moves the upper half out.
class InsertionList {
public:
    explicit InsertionList(std::uint32_t capacity) {
        leaves_.reserve(2 * static_cast<std::size_t>(capacity) / kLeafCapacity + 1);
        leaves_.emplace_back();
    }

    // CompareNumbers(v, i-th number) for a number v whose equals are the
    // ranks [low, high].
    int compareAt(std::uint32_t i, std::uint32_t low, std::uint32_t high) {
        auto compare = [&](std::uint32_t rank) { return rank < low ? 1 : (rank > high ? -1 : 0); };
        // A bisection's later steps stay within one leaf: keep the last one.
        if (cachedLeaf_ != kNone && i - cachedBegin_ < leaves_[cachedLeaf_].size) {
            return compare(leaves_[cachedLeaf_].rank[i - cachedBegin_]);
        }
        // Its steps close in on one place, so the way down starts from the
        // lowest node of the last way down that holds entry i.
        unsigned h = pathFrom_;
        while (h < height_ && i - path_[h].begin >= path_[h].count) {
            ++h;
        }
        std::uint32_t node = h == height_ ? root_ : path_[h].node;
        std::uint32_t begin = h == height_ ? 0 : path_[h].begin;
        for (; h > 0; --h) {
            const Inner& inner = inners_[node];
            path_[h] = {node, begin, inner.end[inner.size - 1]};
            pathFrom_ = h;
            const std::uint32_t c = childAt(inner, i - begin);
            if (inner.highest[c] < low) {
                return 1;
            }
            if (inner.lowest[c] > high) {
                return -1;
            }
            begin += c == 0 ? 0 : inner.end[c - 1];
            node = inner.child[c];
        }
        cachedLeaf_ = node;
        cachedBegin_ = begin;
        return compare(leaves_[node].rank[i - begin]);
    }

    void insert(std::uint32_t place, std::uint32_t rank, std::uint32_t row) {
        cachedLeaf_ = kNone;
        pathFrom_ = height_;
        const std::uint32_t split = insertInto(root_, height_, place, rank, row);
        if (split != kNone) {
            Inner top;
            top.size = 2;
            top.child[0] = root_;
            top.child[1] = split;
            top.end[0] = count(root_, height_);
            top.end[1] = top.end[0] + count(split, height_);
            setRange(top, 0, height_);
            setRange(top, 1, height_);
            root_ = static_cast<std::uint32_t>(inners_.size());
            inners_.push_back(top);
            ++height_;
            pathFrom_ = height_;
        }
    }

    std::vector<std::uint32_t> rows() const {
        std::vector<std::uint32_t> rows;
        rows.reserve(count(root_, height_));
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
        std::uint32_t rank[kLeafCapacity];
        std::uint32_t row[kLeafCapacity];
    };
    struct Inner {
        Inner() { std::fill(end, end + kFanOut, kNone); }
        std::uint32_t size = 0;
        std::uint32_t child[kFanOut];
        std::uint32_t end[kFanOut]; // entries in children 0..j together; kNone past size
        std::uint32_t lowest[kFanOut];
        std::uint32_t highest[kFanOut];
    };

    std::uint32_t count(std::uint32_t node, unsigned height) const {
        return height == 0 ? leaves_[node].size : inners_[node].end[inners_[node].size - 1];
    }

    // Sets the rank range of child c of `inner` (its children at `height`)
    // from the child's own entries.
    void setRange(Inner& inner, std::uint32_t c, unsigned height) const {
        std::uint32_t lowest = UINT32_MAX;
        std::uint32_t highest = 0;
        const std::uint32_t node = inner.child[c];
        if (height == 0) {
            const Leaf& leaf = leaves_[node];
            for (std::uint32_t j = 0; j < leaf.size; ++j) {
                lowest = std::min(lowest, leaf.rank[j]);
                highest = std::max(highest, leaf.rank[j]);
            }
        } else {
            const Inner& below = inners_[node];
            for (std::uint32_t j = 0; j < below.size; ++j) {
                lowest = std::min(lowest, below.lowest[j]);
                highest = std::max(highest, below.highest[j]);
            }
        }
        inner.lowest[c] = lowest;
        inner.highest[c] = highest;
    }

    // The child holding entry i of the node; its last child for i == its
    // count, where an insertion appends.
    // The unused ends are kNone, so that a loop over all of them, which
    // the compiler turns into a few vector instructions, counts right.
    static std::uint32_t childAt(const Inner& inner, std::uint32_t i) {
        std::uint32_t c = 0;
        for (std::uint32_t j = 0; j < kFanOut; ++j) {
            c += inner.end[j] <= i ? 1 : 0;
        }
        return std::min(c, inner.size - 1);
    }

    // Inserts below node; returns the node split off to its right, if any.
    // Nodes split as they fill up, so an insertion always finds room. The
    // node vectors may grow during the call: no reference is held across it.
    std::uint32_t insertInto(std::uint32_t node, unsigned height, std::uint32_t place,
                             std::uint32_t rank, std::uint32_t row) {
        if (height == 0) {
            Leaf& leaf = leaves_[node];
            std::copy_backward(leaf.rank + place, leaf.rank + leaf.size, leaf.rank + leaf.size + 1);
            std::copy_backward(leaf.row + place, leaf.row + leaf.size, leaf.row + leaf.size + 1);
            leaf.rank[place] = rank;
            leaf.row[place] = row;
            if (++leaf.size < kLeafCapacity) {
                return kNone;
            }
            const auto fresh = static_cast<std::uint32_t>(leaves_.size());
            leaves_.emplace_back();
            Leaf& left = leaves_[node];
            Leaf& right = leaves_[fresh];
            constexpr std::uint32_t kHalf = kLeafCapacity / 2;
            std::copy(left.rank + kHalf, left.rank + kLeafCapacity, right.rank);
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
            insertInto(inners_[node].child[c], height - 1, place - before, rank, row);
        Inner& inner = inners_[node];
        for (std::uint32_t j = c; j < inner.size; ++j) {
            ++inner.end[j];
        }
        if (split == kNone) {
            inner.lowest[c] = std::min(inner.lowest[c], rank);
            inner.highest[c] = std::max(inner.highest[c], rank);
            return kNone;
        }
        std::copy_backward(inner.child + c + 1, inner.child + inner.size,
                           inner.child + inner.size + 1);
        std::copy_backward(inner.end + c + 1, inner.end + inner.size, inner.end + inner.size + 1);
        std::copy_backward(inner.lowest + c + 1, inner.lowest + inner.size,
                           inner.lowest + inner.size + 1);
        std::copy_backward(inner.highest + c + 1, inner.highest + inner.size,
                           inner.highest + inner.size + 1);
        inner.child[c + 1] = split;
        inner.end[c + 1] = inner.end[c];
        inner.end[c] -= count(split, height - 1);
        setRange(inner, c, height - 1);
        setRange(inner, c + 1, height - 1);
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
            right.lowest[j - kHalf] = left.lowest[j];
            right.highest[j - kHalf] = left.highest[j];
        }
        std::fill(left.end + kHalf, left.end + kFanOut, kNone);
        right.size = kFanOut - kHalf;
        left.size = kHalf;
        return fresh;
    }

    BigVector<Leaf> leaves_;
    std::vector<Inner> inners_;
    std::uint32_t root_ = 0;
    unsigned height_ = 0; // inner levels above the leaves
    std::uint32_t cachedLeaf_ = kNone;
    std::uint32_t cachedBegin_ = 0;
    // The inner nodes of the last way down by height, with the entries they
    // hold; those at heights pathFrom_ .. height_ - 1 are current (the root's
    // is never read from here).
    struct PathStep {
        std::uint32_t node;
        std::uint32_t begin; // entries before the node's first
        std::uint32_t count;
    };
    static constexpr unsigned kMaxHeight = 16; // 16^16 entries and more
    PathStep path_[kMaxHeight + 1] = {};
    unsigned pathFrom_ = 0;
};

// The ranks equal to a number's rank: [low, high].
struct EqualRanks {
    std::uint32_t low;
    std::uint32_t high;
};

// The literal insertion's order for numbers given as ranks, with the ranks
// equal to each row's: each insertion place found by the same bisection
// over the list as it stands, read through the tree. Empty when cancelled.
std::vector<std::uint32_t> OrderByReplay(const BigVector<std::uint32_t>& rank,
                                         const BigVector<EqualRanks>& equals,
                                         const CancelToken& cancel) {
    const auto n = static_cast<std::uint32_t>(rank.size());
    InsertionList list(n);
    for (std::uint32_t r = 0; r < n; ++r) {
        if (CancelRequestedAt(r, cancel)) {
            return {};
        }
        const std::uint32_t lo = equals[r].low;
        const std::uint32_t hi = equals[r].high;
        std::uint32_t place = 0;
        if (r == 0 || list.compareAt(r - 1, lo, hi) >= 0) {
            place = r; // not less than the last: after it
        } else if (list.compareAt(0, lo, hi) <= 0) {
            place = 0; // not greater than the first: before it
        } else {
            std::uint32_t left = 1; // 1-based, as is right
            std::uint32_t right = r;
            while (left < right - 1) {
                const std::uint32_t mid = (left + right) / 2;
                const int c = list.compareAt(mid - 1, lo, hi);
                if (c == 0) {
                    left = mid; // met an equal key: right after it
                    break;
                }
                if (c < 0) {
                    right = mid;
                } else {
                    left = mid;
                }
            }
            place = left;
        }
        list.insert(place, rank[r], r);
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
                                     SortKind kind, bool ascending, const CancelToken& cancel,
                                     const Parallelism& parallel) {
    const unsigned threads = WorkThreads(parallel.threads);
    BigVector<std::uint32_t> rank(rowCount);
    if (kind == SortKind::Text) {
        const std::optional<std::uint32_t> distinct =
            RankTexts(rowCount, cellOf, threads, cancel, rank);
        if (!distinct) {
            return {};
        }
        return Finish(OrderFromRanks(rank, *distinct, cancel), ascending);
    }
    std::vector<double> distinct;
    if (!RankNumbers(rowCount, cellOf, threads, cancel, rank, distinct)) {
        return {};
    }
    // The ranks [low[k], high[k]] hold the numbers equal to rank k: within
    // 1e-7 is a contiguous run, as a difference grows with either side.
    const auto count = static_cast<std::uint32_t>(distinct.size());
    std::vector<std::uint32_t> low(count);
    std::vector<std::uint32_t> high(count);
    bool total = true;
    for (std::uint32_t k = 0, lo = 0, hi = 0; k < count; ++k) {
        while (CompareNumbers(distinct[k], distinct[lo]) > 0) {
            ++lo;
        }
        hi = std::max(hi, k);
        while (hi + 1 < count && CompareNumbers(distinct[k], distinct[hi + 1]) == 0) {
            ++hi;
        }
        low[k] = lo;
        high[k] = hi;
        total = total && lo == k && hi == k;
    }
    if (!total) {
        // Equality within 1e-7 is then not transitive and the insertion's
        // order depends on which keys its bisection meets.
        // Per row, read in row order: looked up by rank in the replay, two
        // cache misses a row would stall every step.
        BigVector<EqualRanks> equals(rowCount);
        for (std::uint32_t r = 0; r < rowCount; ++r) {
            equals[r] = {low[rank[r]], high[rank[r]]};
        }
        return Finish(OrderByReplay(rank, equals, cancel), ascending);
    }
    return Finish(OrderFromRanks(rank, count, cancel), ascending);
}

} // namespace logdesk
