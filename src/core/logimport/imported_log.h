// What the last import left for every window: the table, the header it was
// read with, the crawler tally and the files they came from. Replaced whole
// when an import finishes.
#pragma once

#include "field_catalogue.h"
#include "record_table.h"
#include "spider_catalogue.h"

#include <string>
#include <vector>

namespace logdesk {

struct ImportedLog {
    RecordTable table;
    HeaderLayout header;
    SpiderTally tally;
    // The log file as the import opened it (file system bytes), the first
    // of them when there were several; empty until a file was imported.
    std::string path = {};
    // Every file the import was named to read, `path` among them. Exports
    // refuse to write over any of them, or over `path`.
    std::vector<std::string> files = {};
};

} // namespace logdesk
