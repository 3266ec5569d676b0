// The record list's header click: the rows ordered by the text of one
// column, ascending, as SortOrder orders text.
#pragma once

#include "core/base/cancel_token.h"
#include "core/logimport/parallel_work.h"
#include "core/logimport/record_table.h"

#include <vector>

namespace logdesk {

// The row order the sort gives, as RecordTable::setRowOrder takes it:
// result[q] is the record that goes to row q, read from the table's current
// order. A column the table lacks reads as empty cells. Empty for a table
// without rows, and once `cancel` was cancelled (the sort stops within a few
// thousand rows).
std::vector<RecordIndex> SortRecordsByText(const RecordTable& table, ColumnIndex column,
                                           const CancelToken& cancel = {},
                                           const Parallelism& parallel = {});

} // namespace logdesk
