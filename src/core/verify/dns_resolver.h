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
// domains, no hosts file), over UDP with EDNS (a 1232-byte payload, so that
// answers rarely need TCP). At most maxInFlight queries are outstanding at
// once; the others wait in the order they were asked for. Asking again for a
// lookup that is waiting or outstanding joins it, so one query serves both.
// A truncated answer is asked again over TCP on a channel of its own, so a
// TCP connection that breaks or is refused ends only the lookups that needed
// it, each after its own retries; a connection error on UDP is retried too.
//
// Silence: when no server has answered anything for timeoutMs x attempts
// (giveUpMs) and a lookup has timed out meanwhile, the run gives up: every
// lookup still queued or outstanding, and any asked for until the run ends,
// ends as Abandoned at once, and gaveUp() says so.
//
// Cache: answers, "no such name" and "no such record" are kept for the
// resolver's life (DNS time-to-live values are not looked at: a resolver
// lives for one window or one report); timeouts and server failures are not
// kept, so a later lookup asks again.
#pragma once

#include "core/base/cancellation.h"
#include "core/base/result.h"

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
    Abandoned,    // not answered before the run gave up on a silent server
};

// Most PTR names of one answer that are kept; the rest are not looked at.
inline constexpr std::size_t kMaxReverseNames = 8;

struct ReverseLookup {
    DnsStatus status = DnsStatus::ServerFailed;
    // The PTR names that are host names (labels of ASCII letters, digits,
    // '-' and '_'), normalised (lower case, no trailing dot), in answer order
    // without repeats, at most kMaxReverseNames; empty unless Answered.
    std::vector<std::string> names;
    // PTR records of the answer whose name is no host name (a NUL, a blank,
    // a dot inside a label, a byte above 0x7f ...); each is read on its own,
    // so one of them hides none of the others. Answered also when every
    // name is one of these.
    std::size_t unusableNames = 0;
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
    // "host[:port][,host[:port]]...", IPv6 hosts in brackets with a port;
    // the resolver then asks only those (see CheckedDnsServers).
    std::string servers{};
    // Milliseconds without any answer after which a run gives up (see
    // Silence above); 0 or less: timeoutMs x attempts.
    int giveUpMs = 0;
};

// A servers setting checked and written as the resolver hands it to c-ares:
// every entry an IPv4 address or an IPv6 address (bare, or in brackets
// before a port), the port from 1 to 65535 (53 when none is given). An Error
// whose cause (GBK) names the entry for an empty list, an empty entry, a
// host that is no address or a bad port. Host names are refused: they would
// need the system's resolver.
Result<std::string> CheckedDnsServers(std::string_view servers);

class DnsResolver {
public:
    using ReverseDone = std::function<void(const ReverseLookup&)>;
    using ForwardDone = std::function<void(const ForwardLookup&)>;
    using ControlDone = std::function<void(DnsStatus)>;

    explicit DnsResolver(const ResolverSettings& settings = {});
    // Drops whatever is still queued or outstanding; no done is called.
    ~DnsResolver();
    DnsResolver(const DnsResolver&) = delete;
    DnsResolver& operator=(const DnsResolver&) = delete;

    // False when c-ares could not be set up (or the servers setting is not
    // understood); lookups then end as ServerFailed. error() says why: its
    // cause, in GBK, is the whole text (`what` and `path` stay empty).
    bool ok() const { return !error_; }
    // Only when !ok().
    const Error& error() const { return *error_; }

    // Queue a lookup; done is called from run() on its thread, also for an
    // answer that is already cached. A done may queue further lookups.
    void lookupReverse(const IpAddress& address, ReverseDone done);
    // host as a PTR answer gives it; family picks A (V4) or AAAA (V6).
    void lookupForward(std::string_view host, IpFamily family, ForwardDone done);
    // The control query: the NS records of in-addr.arpa, which every server
    // that answers reverse lookups for the public address space can give.
    // Answered when it holds at least one record.
    void lookupControl(ControlDone done);

    // Sends the queued lookups and delivers their results until nothing is
    // left: true. When cancel is raised first: the outstanding queries are
    // abandoned, the queued lookups dropped without their done, and false
    // comes back at once; the cache keeps what had arrived, and the resolver
    // can be run again. Each done runs inside cancel's guard, so none runs
    // once cancel() has returned.
    bool run(Cancellation* cancel = nullptr);

    // Queries handed to c-ares so far, retries included.
    std::uint64_t queriesSent() const { return queriesSent_; }
    // The last run gave up on a silent server.
    bool gaveUp() const { return gaveUp_; }
    // Queries outstanding right now; never above the setting.
    int inFlight() const { return inFlight_; }
    int maxInFlight() const { return maxInFlight_; }

private:
    struct Lookup;
    struct QueryTag;

    Lookup& entry(std::string key);
    void sendQueued();
    void deliverFinished(Cancellation* cancel, bool& stopped);
    void queue(Lookup& lookup, bool fresh);
    void finishNow(Lookup& lookup, DnsStatus status);
    void abandon();
    void giveUp();
    void waitForSockets();
    void answered(QueryTag& tag, int status, const unsigned char* answer, int length);
    static void OnAnswer(void* arg, int status, int timeouts, unsigned char* answer, int length);
    static void OnSocketState(void* data, int fd, int readable, int writable);

    // The channel c-ares calls back about, for its socket states.
    struct ChannelRef {
        DnsResolver* owner;
        int index;
    };
    struct Socket {
        int fd;
        short events;
        int channel;
    };
    static constexpr int kUdp = 0;
    static constexpr int kTcp = 1;

    // UDP first; TCP only for answers that came back truncated.
    std::array<ares_channeldata*, 2> channels_{};
    std::array<ChannelRef, 2> channelRefs_{};
    std::optional<Error> error_;
    int maxInFlight_ = 1;
    int attempts_ = 1;
    int giveUpMs_ = 1;
    int inFlight_ = 0;
    std::uint64_t queriesSent_ = 0;
    // Silence, in steady-clock milliseconds: when a server last answered
    // anything, and whether a lookup has timed out since.
    std::int64_t lastHeardMs_ = 0;
    bool timedOutSinceHeard_ = false;
    bool gaveUp_ = false;
    std::uint64_t nextSerial_ = 1;
    // Every lookup asked for, by kind and key; finished ones stay as the cache.
    std::unordered_map<std::string, std::unique_ptr<Lookup>> lookups_;
    std::deque<Lookup*> queued_;
    std::deque<Lookup*> finished_;
    // The sockets c-ares wants watched: fd, poll events and channel.
    std::vector<Socket> sockets_;
};

} // namespace logdesk
