// Reads a log through its log source (a .gz file, or any other kind
// LogInputs reads) and prints one line of figures: seconds, bytes of log
// text, MB/s of log text, peak resident memory.
//
//   logdesk-inflate-bench FILE [--inflater isal|zlib|libdeflate] [--read-ahead] [--import]
//
// Without --import the text is read in 8 MiB reads (the importer's step) and
// dropped. With --import a second thread reads the source into a pipe and
// this one imports from the pipe, so inflating overlaps with parsing as a
// read-ahead would make it; the figure is MB/s of log text imported. The
// same with a plain log gives what the pipe itself costs.
// scripts/bench runs it several times, each in a fresh process.
#include "core/input/log_inputs.h"
#include "core/logimport/log_importer.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

double Since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

long PeakKib() {
    struct rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

bool WriteAll(int fd, const char* bytes, std::size_t size) {
    while (size > 0) {
        const ssize_t put = ::write(fd, bytes, size);
        if (put < 0 && errno == EINTR) {
            continue;
        }
        if (put <= 0) {
            return false;
        }
        bytes += put;
        size -= static_cast<std::size_t>(put);
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: logdesk-inflate-bench FILE [--inflater isal|zlib|libdeflate]"
                             " [--read-ahead] [--import]\n");
        return 2;
    }
    logdesk::LogInputsOptions options;
    bool import = false;
    std::string inflater = "isal";
    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--inflater" && i + 1 < argc) {
            inflater = argv[++i];
        } else if (arg == "--read-ahead") {
            options.readAhead = true;
        } else if (arg == "--import") {
            import = true;
        } else {
            std::fprintf(stderr, "unknown argument %s\n", argv[i]);
            return 2;
        }
    }
    if (inflater == "zlib") {
        options.gzip.inflater = logdesk::GzipInflater::Zlib;
    } else if (inflater == "libdeflate") {
        options.gzip.inflater = logdesk::GzipInflater::Libdeflate;
    } else if (inflater != "isal") {
        std::fprintf(stderr, "unknown inflater %s\n", inflater.c_str());
        return 2;
    }

    const auto start = std::chrono::steady_clock::now();
    logdesk::LogInputs inputs({argv[1]}, options);
    std::unique_ptr<logdesk::LogSource> source = inputs.next();
    if (source == nullptr) {
        std::fprintf(stderr, "%s: %s\n", argv[1],
                     inputs.problems().empty() ? "nothing to read"
                                               : inputs.problems()[0].error.cause.c_str());
        return 1;
    }
    if (!import) {
        std::vector<char> buffer(std::size_t{8} << 20);
        while (source->read(buffer.data(), buffer.size()) > 0) {
        }
        const double seconds = Since(start);
        if (!source->status().complete()) {
            std::fprintf(stderr, "%s\n", source->describeFailure().c_str());
            return 1;
        }
        std::printf("seconds=%.4f bytes=%llu mb_s=%.0f peak_kib=%ld\n", seconds,
                    static_cast<unsigned long long>(source->delivered()),
                    static_cast<double>(source->delivered()) / 1e6 / seconds, PeakKib());
        return 0;
    }

    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
        std::perror("pipe");
        return 1;
    }
    ::fcntl(pipeFds[1], F_SETPIPE_SZ, 1 << 20);
    std::thread writer([&] {
        std::vector<char> buffer(std::size_t{1} << 20);
        for (;;) {
            const ssize_t got = source->read(buffer.data(), buffer.size());
            if (got <= 0 || !WriteAll(pipeFds[1], buffer.data(), static_cast<std::size_t>(got))) {
                break;
            }
        }
        ::close(pipeFds[1]);
    });
    const logdesk::Result<logdesk::LogImport> imported =
        logdesk::ImportLogFile("/dev/fd/" + std::to_string(pipeFds[0]));
    writer.join();
    ::close(pipeFds[0]);
    const double seconds = Since(start);
    if (!source->status().complete() || !imported) {
        std::fprintf(stderr, "%s %s\n", source->describeFailure().c_str(),
                     imported ? "" : imported.error().line().c_str());
        return 1;
    }
    const logdesk::LogImport& result = *imported;
    std::printf("seconds=%.4f bytes=%llu rows=%u mb_s=%.0f peak_kib=%ld\n", seconds,
                static_cast<unsigned long long>(result.bytesRead), result.table.rowCount(),
                static_cast<double>(result.bytesRead) / 1e6 / seconds, PeakKib());
    return 0;
}
