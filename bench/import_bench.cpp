// Imports one log file into the record table, crawler tally finished, and
// prints one line of figures: seconds, bytes, rows, peak resident memory.
// scripts/bench runs it several times, each in a fresh process, so that the
// peak memory is that of one import.
#include "logimport/log_importer.h"

#include <chrono>
#include <cstdio>
#include <sys/resource.h>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: logdesk-import-bench LOGFILE\n");
        return 2;
    }
    const auto start = std::chrono::steady_clock::now();
    const logdesk::ImportResult result = logdesk::ImportLogFile(argv[1]);
    const auto stop = std::chrono::steady_clock::now();
    if (!result.ok()) {
        std::fprintf(stderr, "import failed: %s\n", result.reason.c_str());
        return 1;
    }
    struct rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    const double seconds = std::chrono::duration<double>(stop - start).count();
    std::printf("seconds=%.4f bytes=%llu rows=%u spiders=%d peak_kib=%ld\n", seconds,
                static_cast<unsigned long long>(result.bytesRead), result.table.rowCount(),
                result.tally.length(), usage.ru_maxrss);
    return 0;
}
