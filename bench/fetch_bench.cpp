// Figures of the HTTP fetch against a server on 127.0.0.1, one line each:
//   logdesk-fetch-bench body MIB [CAP_MIB]
//     fetches a body of MIB MiB (its length announced) with the body cap at
//     CAP_MIB MiB (the default cap when omitted): outcome, seconds and the
//     peak resident memory of the process, so run it once per figure;
//   logdesk-fetch-bench deadline RUNS
//     RUNS fetches with a one-second deadline from each kind of server that
//     never completes (head sent a byte at a time, endless slow body, silence,
//     a connect nobody answers): how long after the deadline the call came
//     back, median and worst, in milliseconds.
#include "core/net/http_fetch.h"
#include "support/local_http_server.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/resource.h>
#include <vector>

namespace {

using logdesk::LocalHttpServer;
using Connection = LocalHttpServer::Connection;
using std::chrono::milliseconds;
using std::chrono::steady_clock;

long PeakKib() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

int Body(std::size_t mib, std::size_t capMib) {
    const std::size_t size = mib << 20;
    LocalHttpServer server(1, [size](const std::string&, Connection& out) {
        const std::string block(std::size_t{1} << 16, 'b');
        bool sent = out.send("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(size) +
                             "\r\nConnection: close\r\n\r\n");
        for (std::size_t at = 0; sent && at < size; at += block.size()) {
            sent = out.send(std::string_view(block).substr(0, std::min(block.size(), size - at)));
        }
    });
    logdesk::FetchRequest request{.url = server.url("/big")};
    if (capMib > 0) {
        request.maxBodyBytes = capMib << 20;
    }
    const auto start = steady_clock::now();
    const logdesk::Result<logdesk::FetchResponse> result = logdesk::HttpExchange(request, 60);
    const double seconds = std::chrono::duration<double>(steady_clock::now() - start).count();
    std::printf("body_mib=%zu cap_bytes=%zu ok=%d body_bytes=%zu seconds=%.3f peak_kib=%ld "
                "reason=\"%s\"\n",
                mib, request.maxBodyBytes, result ? 1 : 0, result ? result->body.size() : 0,
                seconds, PeakKib(), result ? "" : result.error().cause.c_str());
    return 0;
}

// How long after its one-second deadline one fetch of url came back.
double LateMs(const std::string& url) {
    const auto start = steady_clock::now();
    const logdesk::Result<logdesk::FetchResponse> result = logdesk::HttpExchange({.url = url}, 1);
    const double late =
        std::chrono::duration<double, std::milli>(steady_clock::now() - start).count() - 1000.0;
    if (result) {
        std::fprintf(stderr, "unexpected success from %s\n", url.c_str());
    }
    return late;
}

void Report(const char* kind, std::vector<double> late) {
    std::sort(late.begin(), late.end());
    std::printf("kind=%s runs=%zu late_ms_median=%.1f late_ms_max=%.1f\n", kind, late.size(),
                late[late.size() / 2], late.back());
}

int Deadline(int runs) {
    std::vector<double> head;
    std::vector<double> body;
    std::vector<double> silent;
    std::vector<double> connect;
    for (int run = 0; run < runs; ++run) {
        {
            LocalHttpServer server(1, [](const std::string&, Connection& out) {
                const std::string line = "X-Slow: 1\r\n";
                for (std::size_t at = 0, sent = out.send("HTTP/1.1 200 OK\r\n"); sent;
                     sent = out.send(line.substr(at, 1)), at = (at + 1) % line.size()) {
                    std::this_thread::sleep_for(milliseconds(5));
                }
            });
            head.push_back(LateMs(server.url("/")));
        }
        {
            LocalHttpServer server(1, [](const std::string&, Connection& out) {
                for (bool sent = out.send("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n");
                     sent; sent = out.send("1\r\nx\r\n")) {
                    std::this_thread::sleep_for(milliseconds(5));
                }
            });
            body.push_back(LateMs(server.url("/")));
        }
        {
            LocalHttpServer server(1, [](const std::string&) { return std::string(); });
            silent.push_back(LateMs(server.url("/")));
        }
        {
            const logdesk::StalledListener stalled;
            connect.push_back(LateMs(stalled.url("/")));
        }
    }
    Report("head_byte_by_byte", head);
    Report("endless_slow_body", body);
    Report("silent_server", silent);
    Report("unanswered_connect", connect);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc >= 3 && argc <= 4 && std::strcmp(argv[1], "body") == 0) {
        return Body(std::strtoul(argv[2], nullptr, 10),
                    argc == 4 ? std::strtoul(argv[3], nullptr, 10) : 0);
    }
    if (argc == 3 && std::strcmp(argv[1], "deadline") == 0) {
        return Deadline(std::max(1, std::atoi(argv[2])));
    }
    std::fprintf(stderr, "usage: logdesk-fetch-bench body MIB [CAP_MIB] | deadline RUNS\n");
    return 2;
}
