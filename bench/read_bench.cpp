// Times getting a log's bytes into memory three ways and prints one line:
//   logdesk-read-bench LOGFILE fresh|pooled|mapped
// fresh: read() into a new big buffer (what a one-shot import does);
// pooled: the same into a buffer released once and handed out again by the
// pool (what a second import or a stream's next buffer gets); mapped: the
// file mapped and every page touched, as a parser reading it in place would.
// Each reads every 4 KiB page once, so the figure is the cost of the bytes
// arriving, not of a parse.
#include "core/base/platform.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

long MinorFaults() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_minflt;
}

unsigned TouchPages(const char* bytes, std::size_t size) {
    unsigned sum = 0;
    for (std::size_t i = 0; i < size; i += 4096) {
        sum += static_cast<unsigned char>(bytes[i]);
    }
    return sum;
}

bool ReadAll(int fd, char* to, std::size_t size) {
    for (std::size_t got = 0; got < size;) {
        const ssize_t n = ::pread(fd, to + got, std::min<std::size_t>(size - got, 8u << 20),
                                  static_cast<off_t>(got));
        if (n <= 0) {
            return false;
        }
        got += static_cast<std::size_t>(n);
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: logdesk-read-bench LOGFILE fresh|pooled|mapped\n");
        return 2;
    }
    const std::string how = argv[2];
    const int fd = ::open(argv[1], O_RDONLY | O_CLOEXEC);
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0 || st.st_size == 0) {
        std::perror(argv[1]);
        return 1;
    }
    const auto size = static_cast<std::size_t>(st.st_size);
    if (how == "pooled") {
        logdesk::BigBuffer warm = logdesk::BigBuffer::allocate(size);
        if (!warm) {
            return 1;
        }
        std::memset(warm.data(), 0, size);
    } // released to the pool
    const long faultsBefore = MinorFaults();
    const auto start = std::chrono::steady_clock::now();
    unsigned sum = 0;
    if (how == "fresh" || how == "pooled") {
        logdesk::BigBuffer buffer = logdesk::BigBuffer::allocate(size);
        if (!buffer || !ReadAll(fd, buffer.data(), size)) {
            return 1;
        }
        sum = TouchPages(buffer.data(), size);
    } else if (how == "mapped") {
        void* map = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
        if (map == MAP_FAILED) {
            return 1;
        }
        sum = TouchPages(static_cast<const char*>(map), size);
        ::munmap(map, size);
    } else {
        std::fprintf(stderr, "logdesk-read-bench: fresh, pooled or mapped\n");
        return 2;
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("how=%s seconds=%.4f mb_s=%.0f minor_faults=%ld check=%u\n", how.c_str(), seconds,
                static_cast<double>(size) / 1e6 / seconds, MinorFaults() - faultsBefore, sum % 10);
    ::close(fd);
    return 0;
}
