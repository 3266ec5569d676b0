// What the main window tells the user about the inputs of an import that
// could not be read, or only in part.
#pragma once

#include "core/input/import_inputs.h"

#include <QString>
#include <vector>

namespace logdesk {

// One message box's text: a heading, then one line per skipped input (its
// path, or archive:member, what happened and what of it was imported).
// `nothingImported`: no input could be read, so the table was left as it
// was. Empty when there is nothing to tell.
QString SkippedInputsText(const std::vector<SkippedInput>& skipped, bool nothingImported);

// What a drop or a dialog named held no log file at all.
QString NoLogFileText();

} // namespace logdesk
