// The choice of columns for the record export: one entry per table column,
// in export order, with its check mark. Only the check marks are kept
// between openings, as ExportColumnSettings.
#pragma once

#include "export_column_settings.h"

#include <string>
#include <vector>

namespace logdesk {

struct ExportColumn {
    std::string caption; // GBK; "序号" for the record number
    bool checked = false;
    int column = 0; // the table column it stands for
    bool operator==(const ExportColumn&) const = default;
};

// The chooser's entries for marks read by ExportColumnSettings::read: the
// record number entry (column 0), then one entry per field caption in the
// order read, column i for caption i - 1.
std::vector<ExportColumn> FillChooser(const ExportColumnSettings& marks);

} // namespace logdesk
