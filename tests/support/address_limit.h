// Runs a piece of a test in a child process whose address space is what the
// test process holds now plus a headroom: a way to see that work fits in
// memory of its own size, and that running out is a failure, not a crash.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace logdesk::testing {

// The child's exit status: what `work` returned, 99 when the limit could
// not be set, or 128 + the signal that ended it.
inline int ExitStatusUnderAddressLimit(std::uint64_t headroomBytes,
                                       const std::function<int()>& work) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        std::FILE* statm = std::fopen("/proc/self/statm", "r");
        unsigned long pages = 0;
        if (statm == nullptr || std::fscanf(statm, "%lu", &pages) != 1) {
            ::_exit(99);
        }
        const rlim_t limit = pages * static_cast<rlim_t>(::sysconf(_SC_PAGESIZE)) + headroomBytes;
        const rlimit lowered{limit, limit};
        if (::setrlimit(RLIMIT_AS, &lowered) != 0) {
            ::_exit(99);
        }
        ::_exit(work());
    }
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid) {
        return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

} // namespace logdesk::testing
