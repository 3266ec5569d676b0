// The record export's column choice as the settings file keeps it: a check
// mark per column caption, the record number's under "序号" (keys and
// sections: settings::kExportChoice, settings::kExportDefaults).
#pragma once

#include "core/settings/config_file.h"

#include <string>
#include <vector>

namespace logdesk {

struct ExportColumnMark {
    std::string caption; // GBK; "序号" for the record number
    bool checked = false;
};

struct ExportColumnSettings {
    // In the order read, or in which write() stores them.
    std::vector<ExportColumnMark> marks;

    // The record number's mark, then one per field caption in the order
    // given: as the user left them or, with `defaults`, as the section that
    // is never written gives them. A mark the file lacks is the default: on
    // for the record number and for the captions IsDefaultExportColumn names.
    static ExportColumnSettings read(ConfigFile& config, bool defaults,
                                     const std::vector<std::string>& fieldCaptions);

    // Stores every mark, in order, as the user's choice; marks of captions
    // not in the list stay as they are. A mark that cannot be stored does not
    // stop the others; the first failure is the answer.
    Result<void> write(ConfigFile& config) const;
};

} // namespace logdesk
