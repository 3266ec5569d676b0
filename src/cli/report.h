// logdesk-report: the program's tables, written headless for scripts and
// cron jobs.
#pragma once

#include "core/export/line_sink.h"

#include <string>
#include <vector>

namespace logdesk {

// Runs the report with the arguments after the program name. Table bytes go
// to `standardOutput` unless --output names a file; messages (UTF-8) are
// appended to `messages`; the input "-" reads the descriptor
// `standardInput`. Returns the exit code: 0 done; 1 when an input could not
// be read, was read only in part or was rejected (the table of the others
// is written all the same; nothing is written when no input could be read,
// or the one log named failed), the --locate database could not be opened,
// or the output could not be written or is one of the logs; 2 bad arguments, also a --sort column the table turns
// out not to have or a --spider crawler the logs turn out not to have.
// `settingsFolder` is where the published crawler ranges are kept unless
// --ranges-dir names another folder; empty: none (verification then uses no
// ranges, and --update-ranges needs --ranges-dir).
//
// Every page but records is counted while the logs are read, keeping no
// records, unless standard input is among the inputs and --stream was not
// given (a second pass, which headers that disagree need, cannot read it
// again). `reading`, for tests, can ask for the table instead and is told
// what the run did; the output is the same either way.
struct ReportReading {
    bool keepRecords = false; // in: read the logs into a table in any case
    bool streamed = false;    // out: the page was counted while reading
    int passes = 0;           // out: how often the inputs were read
};
int RunReport(const std::vector<std::string>& args, LineSink& standardOutput, std::string& messages,
              int standardInput = 0, const std::string& settingsFolder = {},
              ReportReading* reading = nullptr);

// The usage text, as printed after a bad argument: lines ending in '\n'.
const std::string& ReportUsage();

} // namespace logdesk
