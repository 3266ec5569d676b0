// Helpers for tests that compare statistics pages.
#pragma once

#include "core/stats/stats_table.h"

namespace logdesk::testing {

// Same rows, same first-seen order, same figures and colours.
inline bool SamePage(const StatsTable& a, const StatsTable& b) {
    return a.headers == b.headers && a.rows == b.rows && a.summaryRow == b.summaryRow &&
           a.clearMarks == b.clearMarks && a.summaryCells == b.summaryCells &&
           a.plainCells == b.plainCells;
}

} // namespace logdesk::testing
