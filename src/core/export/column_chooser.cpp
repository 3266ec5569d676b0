#include "column_chooser.h"

namespace logdesk {

std::vector<ExportColumn> FillChooser(const ExportColumnSettings& marks) {
    std::vector<ExportColumn> entries;
    int column = 0;
    for (const ExportColumnMark& mark : marks.marks) {
        entries.push_back({mark.caption, mark.checked, column++});
    }
    return entries;
}

} // namespace logdesk
