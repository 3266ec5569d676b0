#include "record_sort.h"

#include "cancellable_sort.h"
#include "list_sort.h"

namespace logdesk {

std::vector<RecordIndex> SortRecordsByText(const RecordTable& table, ColumnIndex column,
                                           const CancelToken& cancel, const Parallelism& parallel) {
    const std::vector<std::uint32_t> byRow = SortOrder(
        table.rowCount(), [&](std::uint32_t r) { return table.cell(RowIndex{r}, column); },
        SortKind::Text, true, cancel, parallel);
    if (byRow.size() != table.rowCount()) {
        return {};
    }
    std::vector<RecordIndex> order(byRow.size());
    for (std::uint32_t q = 0; q < byRow.size(); ++q) {
        if (CancelRequestedAt(q, cancel)) {
            return {};
        }
        order[q] = table.record(RowIndex{byRow[q]});
    }
    return order;
}

} // namespace logdesk
