// Imports one log file into the record table, crawler tally finished, and
// prints one line of figures: seconds, bytes, rows, peak resident memory.
// With --sort COLUMN KIND it then times one sort of that column (KIND text
// or number); with --export FILE the record export with the default
// columns. scripts/bench runs it several times, each in a fresh process, so
// that the peak memory is that of one import. Every line also gives the
// step's own user and system seconds and minor page faults (getrusage).
#include "core/export/csv_format.h"
#include "core/export/line_sink.h"
#include "core/logimport/log_importer.h"
#include "core/stats/list_sort.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <vector>

namespace {

double Since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double Seconds(const timeval& t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
}

// The process's CPU time and faults since the last call (the first: since
// it started).
std::string KernelShare() {
    static struct rusage last {};
    struct rusage now {};
    getrusage(RUSAGE_SELF, &now);
    char text[128];
    std::snprintf(text, sizeof text, "user=%.4f sys=%.4f faults=%ld",
                  Seconds(now.ru_utime) - Seconds(last.ru_utime),
                  Seconds(now.ru_stime) - Seconds(last.ru_stime), now.ru_minflt - last.ru_minflt);
    last = now;
    return text;
}

} // namespace

int main(int argc, char** argv) {
    // --threads N first, then the rest as before.
    logdesk::ImportOptions options;
    std::vector<char*> args(argv, argv + argc);
    if (args.size() >= 4 && std::strcmp(args[2], "--threads") == 0) {
        options.threads = static_cast<unsigned>(std::atoi(args[3]));
        args.erase(args.begin() + 2, args.begin() + 4);
    }
    argc = static_cast<int>(args.size());
    argv = args.data();
    if (argc != 2 && argc != 4 && argc != 5) {
        std::fprintf(stderr, "usage: logdesk-import-bench LOGFILE [--threads N] [--sort COLUMN "
                             "text|number | --export FILE]\n");
        return 2;
    }
    const auto start = std::chrono::steady_clock::now();
    logdesk::Result<logdesk::LogImport> imported = logdesk::ImportLogFile(argv[1], {}, options);
    const double seconds = Since(start);
    const std::string importShare = KernelShare();
    if (!imported || imported->rejected) {
        std::fprintf(stderr, "import failed: %s\n",
                     imported ? "not an IIS log" : imported.error().line().c_str());
        return 1;
    }
    const logdesk::LogImport& result = *imported;
    if (argc == 5 && std::strcmp(argv[2], "--sort") == 0) {
        const logdesk::ColumnIndex column{std::atoi(argv[3])};
        const auto kind = std::strcmp(argv[4], "number") == 0 ? logdesk::SortKind::Number
                                                              : logdesk::SortKind::Text;
        const logdesk::RecordTable& table = result.table;
        const auto sortStart = std::chrono::steady_clock::now();
        const std::vector<std::uint32_t> order = logdesk::SortOrder(
            table.rowCount(),
            [&](std::uint32_t r) { return table.cell(logdesk::RowIndex{r}, column); }, kind, true,
            {}, {options.threads, 0});
        const double sortSeconds = Since(sortStart);
        std::printf("sort_seconds=%.4f rows=%zu %s\n", sortSeconds, order.size(),
                    KernelShare().c_str());
        return 0;
    }
    if (argc == 4 && std::strcmp(argv[2], "--export") == 0) {
        const auto exportStart = std::chrono::steady_clock::now();
        const bool ok = logdesk::ExportToFile(argv[3], [&](logdesk::LineSink& sink) {
                            return logdesk::WriteRecordTable(
                                result.table, logdesk::DefaultExportColumns(result.table), true,
                                sink, {}, {options.threads, 0});
                        }).ok();
        const double exportSeconds = Since(exportStart);
        struct stat info {};
        ::stat(argv[3], &info);
        std::printf("export_seconds=%.4f bytes=%lld ok=%d %s\n", exportSeconds,
                    static_cast<long long>(info.st_size), ok ? 1 : 0, KernelShare().c_str());
        return ok ? 0 : 1;
    }
    struct rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("seconds=%.4f bytes=%llu rows=%u spiders=%d peak_kib=%ld %s\n", seconds,
                static_cast<unsigned long long>(result.bytesRead), result.table.rowCount(),
                result.tally.length(), usage.ru_maxrss, importShare.c_str());
    return 0;
}
