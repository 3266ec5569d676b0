// Helpers for tests that compare statistics pages.
#pragma once

#include "core/stats/stats_table.h"

namespace logdesk::testing {

// Same rows, same first-seen order, same figures and colours.
inline bool SamePage(const StatsTable& a, const StatsTable& b) {
    return a.headers == b.headers && a.rows == b.rows && a.summaryRow == b.summaryRow &&
           a.clearColours == b.clearColours && a.redCells == b.redCells &&
           a.plainCells == b.plainCells;
}

} // namespace logdesk::testing
