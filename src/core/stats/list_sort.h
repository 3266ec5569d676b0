// Sorting a list by one column, as a header click does.
//
// The order is the one an insertion of every row, in current order, into a
// growing sorted list gives, where each new key's place is found by
// bisection: a key not less than the last goes after it, one not greater than
// the first goes before it, and one equal to a key the bisection meets goes
// right after that key. Equal keys therefore do not keep their order (keys 5,
// 7, 5 in rows A, B, C sort as C, A, B). Descending is that order reversed.
//
// When the keys order totally the order is computed in O(R log R) without
// moving any row: rows of equal keys end up side by side, in key order, and
// where a row goes among its equals follows from how many keys before it
// are smaller. Only the distinct keys are sorted. Numbers that do not order
// totally (distinct values within 1e-7 of each other, where "equal" is not
// transitive) have the bisection replayed over a counted tree instead, in
// O(R log^2 R) at worst.
#pragma once

#include "core/base/cancel_token.h"
#include "core/logimport/parallel_work.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace logdesk {

enum class SortKind {
    Number = 0, // the key's leading decimal number; within 1e-7 counts as equal
    Text = 1,   // GBK bytes in order, a double-byte character as one unit
};

// The key of a cell: blanks (ASCII and full-width) trimmed at both ends.
std::string_view SortKey(std::string_view cell);

// The number a key sorts by: its leading decimal number as atof reads one
// (leading blanks skipped, a sign, digits with an optional point, an exponent
// only when digits follow it), 0 when it starts with none. Hexadecimal,
// "inf" and "nan" texts read as their leading decimal number ("0x1A" as 0,
// "-inf" as 0), so the result is never NaN; an overflow such as "1e999"
// gives an infinity, which equals itself and exceeds every finite number.
// Full-width characters are turned half-width first, so "１０时" reads as 10.
// The process locale plays no part.
double SortNumber(std::string_view key);

// Text order of two keys; <0, 0, >0.
int CompareSortText(std::string_view a, std::string_view b);

// result[q] is the current row that goes to row q. `cellOf(r)` gives the
// cell of row r in the sorted column; it is read once per row, from the
// threads `parallel` gives (so it must be safe to call from several at
// once), and the views must stay valid during the call. The order is the
// same on any number of threads. Once `cancel` is cancelled the sort stops
// within a few thousand rows (or comparisons) and returns the empty order.
std::vector<std::uint32_t> SortOrder(std::uint32_t rowCount,
                                     const std::function<std::string_view(std::uint32_t)>& cellOf,
                                     SortKind kind, bool ascending = true,
                                     const CancelToken& cancel = {},
                                     const Parallelism& parallel = {});

// The same by literally inserting into an array; O(R^2). The reference both
// ways of SortOrder are checked against; not for lists of real size.
std::vector<std::uint32_t> SortOrderByInsertion(const std::vector<std::string>& keys, SortKind kind,
                                                bool ascending = true);

} // namespace logdesk
