// logdesk-report: the program's tables, written headless for scripts and
// cron jobs.
#pragma once

#include "export/line_sink.h"

#include <string>
#include <vector>

namespace logdesk {

// Runs the report with the arguments after the program name. Table bytes go
// to `standardOutput` unless --output names a file; messages (UTF-8) are
// appended to `messages`. Returns the exit code: 0 done; 1 the log could not
// be read or was rejected, or the output could not be written or is the log
// itself; 2 bad arguments, also a --sort column the table turns out not to
// have or a --spider crawler the log turns out not to have.
int RunReport(const std::vector<std::string>& args, LineSink& standardOutput,
              std::string& messages);

extern const char* const kReportUsage;

} // namespace logdesk
