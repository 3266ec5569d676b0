// What the last import left for every window: the table, the header it was
// read with and the crawler tally. Replaced whole when an import finishes.
#pragma once

#include "logimport/field_catalogue.h"
#include "logimport/record_table.h"
#include "logimport/spider_catalogue.h"

namespace logdesk {

struct ImportedLog {
    RecordTable table;
    HeaderLayout header;
    SpiderTally tally;
};

} // namespace logdesk
