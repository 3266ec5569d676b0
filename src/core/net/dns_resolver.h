// Reverse (PTR) and forward (A / AAAA) DNS lookups over c-ares, many at once.
//
// Threads: a DnsResolver has no thread of its own. It is driven by run() on
// the thread that calls it, which must be a worker, never the GUI thread:
// run() waits for the network. Lookups are queued and run() is called on one
// thread at a time; between runs the resolver may move to another thread. Its
// sockets are non-blocking; run() waits in poll() at most 10 ms at a time, so
// it notices a raised Cancellation within about that.
//
// Queries: every lookup is a single DNS query, sent as it is (no search
// domains, no hosts file). At most maxInFlight queries are outstanding at
// once; the others wait in the order they were asked for. Asking again for a
// lookup that is waiting or outstanding joins it, so one query serves both.
//
// Cache: answers, "no such name" and "no such record" are kept for the
// resolver's life (DNS time-to-live values are not looked at: a resolver
// lives for one window or one report); timeouts and server failures are not
// kept, so a later lookup asks again.
#pragma once

#include "net/cancellation.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

struct ares_channeldata;

namespace logdesk {

enum class IpFamily : std::uint8_t { V4, V6 };

// An IPv4 or IPv6 address, bytes in network order.
struct IpAddress {
    IpFamily family = IpFamily::V4;
    std::array<std::uint8_t, 16> bytes{}; // IPv4 uses the first 4

    // Dotted IPv4 or IPv6 text as inet_pton reads it (no blanks, no zone
    // suffix); an IPv4-mapped IPv6 address (::ffff:a.b.c.d) becomes the IPv4
    // address it stands for. Nothing for anything else.
    static std::optional<IpAddress> Parse(std::string_view text);

    std::size_t size() const { return family == IpFamily::V4 ? 4 : 16; }
    // The canonical text: dotted quad, or RFC 5952 IPv6 (lower case, the
    // longest run of zero groups as "::").
    std::string text() const;
    // The PTR name: "4.3.2.1.in-addr.arpa", or 32 nibbles and "ip6.arpa".
    std::string reverseName() const;

    bool operator==(const IpAddress& other) const {
        return family == other.family && bytes == other.bytes;
    }
};

enum class DnsStatus : std::uint8_t {
    Answered,     // records of the type asked for came back
    NoSuchName,   // NXDOMAIN (or a name that cannot be asked for)
    NoRecords,    // the name exists but holds no record of that type (NODATA)
    TimedOut,     // no answer from any server within the attempts
    ServerFailed, // SERVFAIL, REFUSED, a malformed answer, no reachable server
};

struct ReverseLookup {
    DnsStatus status = DnsStatus::ServerFailed;
    // The PTR names, normalised (lower case, no trailing dot), in answer
    // order without repeats; empty unless Answered.
    std::vector<std::string> names;
};

struct ForwardLookup {
    DnsStatus status = DnsStatus::ServerFailed;
    // The A or AAAA addresses (CNAME chains followed); empty unless Answered.
    std::vector<IpAddress> addresses;
};

struct ResolverSettings {
    // Queries outstanding at once; values below 1 count as 1.
    int maxInFlight = 128;
    // How long one attempt waits for each name server, in milliseconds (the
    // servers are asked in turn); values below 1 count as 1.
    int timeoutMs = 2000;
    // Attempts of one lookup before it counts as timed out; at least 1.
    int attempts = 2;
    // Empty: the system's name servers (/etc/resolv.conf). Otherwise
    // "host[:port][,host[:port]]...", IPv6 hosts in brackets with a port.
    std::string servers{};
};

class DnsResolver {
public:
    using ReverseDone = std::function<void(const ReverseLookup&)>;
    using ForwardDone = std::function<void(const ForwardLookup&)>;

    explicit DnsResolver(const ResolverSettings& settings = {});
    // Drops whatever is still queued or outstanding; no done is called.
    ~DnsResolver();
    DnsResolver(const DnsResolver&) = delete;
    DnsResolver& operator=(const DnsResolver&) = delete;

    // False when c-ares could not be set up (or the servers setting is not
    // understood); lookups then end as ServerFailed. error() says why (GBK).
    bool ok() const { return error_.empty(); }
    const std::string& error() const { return error_; }

    // Queue a lookup; done is called from run() on its thread, also for an
    // answer that is already cached. A done may queue further lookups.
    void lookupReverse(const IpAddress& address, ReverseDone done);
    // host as a PTR answer gives it; family picks A (V4) or AAAA (V6).
    void lookupForward(std::string_view host, IpFamily family, ForwardDone done);

    // Sends the queued lookups and delivers their results until nothing is
    // left: true. When cancel is raised first: the outstanding queries are
    // abandoned, the queued lookups dropped without their done, and false
    // comes back at once; the cache keeps what had arrived, and the resolver
    // can be run again. Each done runs inside cancel's guard, so none runs
    // once cancel() has returned.
    bool run(Cancellation* cancel = nullptr);

    // Queries handed to c-ares so far, retries included.
    std::uint64_t queriesSent() const { return queriesSent_; }
    // Queries outstanding right now; never above the setting.
    int inFlight() const { return inFlight_; }
    int maxInFlight() const { return maxInFlight_; }

private:
    struct Lookup;
    struct QueryTag;

    Lookup& entry(std::string key);
    void sendQueued();
    void deliverFinished(Cancellation* cancel, bool& stopped);
    void abandon();
    void waitForSockets();
    void answered(QueryTag& tag, int status, const unsigned char* answer, int length);
    static void OnAnswer(void* arg, int status, int timeouts, unsigned char* answer, int length);
    static void OnSocketState(void* data, int fd, int readable, int writable);

    ares_channeldata* channel_ = nullptr;
    std::string error_;
    int maxInFlight_ = 1;
    int attempts_ = 1;
    int inFlight_ = 0;
    std::uint64_t queriesSent_ = 0;
    std::uint64_t nextSerial_ = 1;
    // Every lookup asked for, by kind and key; finished ones stay as the cache.
    std::unordered_map<std::string, std::unique_ptr<Lookup>> lookups_;
    std::deque<Lookup*> queued_;
    std::deque<Lookup*> finished_;
    // The sockets c-ares wants watched: fd and poll events.
    std::vector<std::pair<int, short>> sockets_;
};

} // namespace logdesk
