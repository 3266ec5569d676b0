// The choice of columns for the record export: one entry per table column,
// in export order, with its check mark. Only the check marks are kept
// between openings, in the settings file.
#pragma once

#include "core/settings/config_file.h"

#include <string>
#include <vector>

namespace logdesk {

struct ExportColumn {
    std::string caption; // GBK; "序号" for the record number
    bool checked = false;
    int column = 0; // the table column it stands for
    bool operator==(const ExportColumn&) const = default;
};

// The record number entry, then one entry per field caption in header order
// (column i for caption i - 1), each checked as stored in section "字段属性"
// or, with `defaults`, as section "恢复默认" (never written) gives: the
// default marks.
std::vector<ExportColumn> FillChooser(ConfigFile& config, bool defaults,
                                      const std::vector<std::string>& fieldCaptions);

// Stores every entry's check mark in section "字段属性"; keys of captions not
// in the list stay as they are. A mark that cannot be stored does not stop
// the others; the first such failure is the answer.
Result<void> SaveChoice(ConfigFile& config, const std::vector<ExportColumn>& entries);

} // namespace logdesk
