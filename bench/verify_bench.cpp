// Figures of crawler verification against a DNS server on 127.0.0.1, one line:
//   logdesk-verify-bench [IPS [SEED [answering|silent|nxdomain]]]
// verifies IPS distinct crawler addresses (20000 by default) whose every
// question the server answers after a delay drawn from 1-50 ms (seeded by
// SEED, 1 by default), with the resolver's default settings. Nine in ten
// addresses are real crawlers (a PTR and a forward lookup each); of the rest
// half have a PTR name outside the domain, half none. `silent` makes the
// server answer nothing, `nxdomain` answer NXDOMAIN to everything. Prints the
// wall time, the verdict counts, the addresses the block rules would list,
// the run's resolver problem, the queries sent, the resident memory before
// the run and the peak. The server runs in a child process, so the peak is
// the verifier's own (with the claims and the program's baseline).
#include "core/verify/crawler_verifier.h"
#include "core/verify/verification_report.h"
#include "support/local_dns_server.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

using logdesk::CrawlerClaim;
using logdesk::SpiderId;

long PeakKib() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

long ResidentKib() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.starts_with("VmRSS:")) {
            return std::atol(line.c_str() + 6);
        }
    }
    return 0;
}

std::string Ip(int i) {
    return "10." + std::to_string((i >> 16) & 255) + "." + std::to_string((i >> 8) & 255) + "." +
           std::to_string(i & 255);
}

std::string Host(int i) {
    std::string dashed = Ip(i);
    for (char& c : dashed) {
        c = c == '.' ? '-' : c;
    }
    return i % 2 == 0 ? "baiduspider-" + dashed + ".crawl.baidu.com"
                      : "crawl-" + dashed + ".googlebot.com";
}

// Serves the table until the parent closes its end of the pipe.
[[noreturn]] void Serve(int ips, unsigned seed, const std::string& mode, int portOut,
                        int parentGone) {
    logdesk::LocalDnsServer server;
    server.randomDelays(1, 50, seed);
    server.setSilent(mode == "silent");
    server.setNxdomainForEverything(mode == "nxdomain");
    for (int i = 1; i <= ips; ++i) {
        if (i % 10 == 0) {
            server.addPtr(Ip(i), "host-" + std::to_string(i) + ".scraper.example");
        } else if (i % 10 != 5) {
            server.addCrawler(Ip(i), Host(i));
        }
    }
    const int port = server.port();
    if (::write(portOut, &port, sizeof port) != sizeof port) {
        std::_Exit(1);
    }
    char byte = 0;
    while (::read(parentGone, &byte, 1) > 0) {
    }
    std::_Exit(0);
}

} // namespace

int main(int argc, char** argv) {
    const int ips = argc > 1 ? std::atoi(argv[1]) : 20000;
    const unsigned seed = argc > 2 ? static_cast<unsigned>(std::atoi(argv[2])) : 1;
    const std::string mode = argc > 3 ? argv[3] : "answering";
    int portPipe[2];
    int lifePipe[2];
    if (ips <= 0 || ips >= (1 << 24) ||
        (mode != "answering" && mode != "silent" && mode != "nxdomain") || ::pipe(portPipe) != 0 ||
        ::pipe(lifePipe) != 0) {
        std::fprintf(stderr,
                     "usage: logdesk-verify-bench [IPS [SEED [answering|silent|nxdomain]]]\n");
        return 2;
    }
    // The child is forked before this process has any thread.
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(lifePipe[1]);
        Serve(ips, seed, mode, portPipe[1], lifePipe[0]);
    }
    ::close(lifePipe[0]);
    int port = 0;
    if (child < 0 || ::read(portPipe[0], &port, sizeof port) != sizeof port || port == 0) {
        std::fprintf(stderr, "the DNS server did not start\n");
        return 1;
    }

    std::vector<CrawlerClaim> claims;
    claims.reserve(static_cast<std::size_t>(ips));
    for (int i = 1; i <= ips; ++i) {
        claims.push_back({Ip(i), i % 2 == 0 ? SpiderId::Baidu : SpiderId::Google, {}, i % 7 + 1});
    }
    const long beforeKib = ResidentKib();
    const auto start = std::chrono::steady_clock::now();
    logdesk::CrawlerVerifier verifier({.servers = "127.0.0.1:" + std::to_string(port)});
    const logdesk::VerifyRun run = verifier.verify(claims);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const long peakKib = PeakKib();

    int counts[3] = {};
    for (const logdesk::CrawlerVerdict& verdict : run.verdicts) {
        ++counts[static_cast<int>(verdict.verdict)];
    }
    const std::size_t listed = logdesk::AddressesToBlock(claims, run.verdicts).size();
    std::printf("mode=%s ips=%d seconds=%.3f genuine=%d fake=%d unverifiable=%d listed=%zu "
                "problem=%d queries=%llu max_in_flight=%d before_kib=%ld peak_kib=%ld\n",
                mode.c_str(), ips, seconds, counts[0], counts[1], counts[2], listed,
                static_cast<int>(run.problem),
                static_cast<unsigned long long>(verifier.resolver().queriesSent()),
                verifier.resolver().maxInFlight(), beforeKib, peakKib);
    ::close(lifePipe[1]);
    ::waitpid(child, nullptr, 0);
    return run.completed ? 0 : 1;
}
