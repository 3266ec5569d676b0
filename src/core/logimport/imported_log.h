// What the last import left for every window: the table, the header it was
// read with, the crawler tally and the file they came from. Replaced whole
// when an import finishes.
#pragma once

#include "field_catalogue.h"
#include "record_table.h"
#include "spider_catalogue.h"

#include <string>

namespace logdesk {

struct ImportedLog {
    RecordTable table;
    HeaderLayout header;
    SpiderTally tally;
    // The log file as the import opened it (file system bytes); empty until
    // a file was imported. Exports refuse to write over it.
    std::string path = {};
};

} // namespace logdesk
