// Statements sent to a ClickHouse server over its HTTP interface, through
// the program's libcurl exchange (core/net/http_fetch.h).
//
// Every statement is one POST: the statement as the body, or, for an
// INSERT with data, the statement in the `query` parameter of the URL and
// the data as the body. The user and the password travel in the
// X-ClickHouse-User and X-ClickHouse-Key headers, never in the URL, and no
// message or Error ever holds the password.
//
// A failure says what ClickHouse said: the cause of the Error is the
// server's own text ("Code: 193, e.displayText() = DB::Exception: Wrong
// password for user default ..."), its path the server's URL. Only transient
// failures are tried again, with growing pauses between attempts: the
// connection refused, reset or cut, the deadline passed, or a 5xx answer
// that carries no exception of the server's (a proxy's 502, a server still
// starting). An answer with an exception (a syntax error, a bad value, a
// full disk, a wrong password) is final at once.
#pragma once

#include "core/base/result.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace logdesk {

// How often and how patiently a transient failure is tried again: the
// first pause is firstPause, each later one twice the one before, none
// longer than longestPause.
struct RetryPolicy {
    int attempts = 6;
    std::chrono::milliseconds firstPause{500};
    std::chrono::milliseconds longestPause{8000};
};

// The server and who speaks to it.
struct ClickHouseServer {
    // "http://host:port/" or with a path and query of its own
    // ("http://host:8123/?database=logs"); never with credentials.
    std::string url;
    std::string user;     // empty: the server's default user
    std::string password; // empty: none
    // The deadline of one exchange.
    int timeoutSeconds = 600;
    RetryPolicy retry;
};

// The parts of a server URL as the user gives it: "http://[USER@]HOST[:PORT][/...]".
struct ServerUrl {
    std::string url;  // without the user part
    std::string user; // the user part, percent-decoded; empty when none
};
// Fails, in words for the user, for a URL that is neither http:// nor
// https://, has no host, or carries a password ("USER:PASSWORD@"): a
// password on the command line would be seen by every other user of the
// machine.
Result<ServerUrl> ParseServerUrl(std::string_view text);

// A statement's literal for a text: quoted, with backslash and quote escaped.
std::string SqlText(std::string_view text);

// Whether a failure is one RetryPolicy tries again.
bool IsTransient(const Error& error);

class ClickHouseClient {
public:
    // `pause` waits between attempts (tests pass one that waits less).
    explicit ClickHouseClient(ClickHouseServer server,
                              std::function<void(std::chrono::milliseconds)> pause = {});

    // Runs a statement and gives the body of the answer (the rows of a
    // SELECT in the format it names). Transient failures are tried again,
    // so only statements that may run twice belong here (SELECT, CREATE ...
    // IF NOT EXISTS, and inserts whose doubles do no harm).
    Result<std::string> query(std::string_view statement);

    // One attempt of `INSERT INTO ... FORMAT ...` with `data` as its body:
    // a failure may have left the rows in the table or not, which only the
    // caller can find out; it is not tried again here.
    Result<void> insertOnce(std::string_view statement, std::string_view data);

    const ClickHouseServer& server() const { return server_; }
    // The pause before attempt `attempt` (from 1, the first retry).
    std::chrono::milliseconds pauseBefore(int attempt) const;
    void pauseFor(std::chrono::milliseconds wait) const;

private:
    Result<std::string> exchange(std::string_view statement, std::string_view data);

    ClickHouseServer server_;
    std::function<void(std::chrono::milliseconds)> pause_;
};

} // namespace logdesk
