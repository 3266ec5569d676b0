// The help text shown by "操作帮助": 27 lines joined by CR LF.
#pragma once

#include <QString>

namespace logdesk {

QString HelpText();

} // namespace logdesk
