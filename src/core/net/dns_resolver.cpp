#include "dns_resolver.h"

#include "net/crawler_rules.h"
#include "text/gbk_codec.h"

#include <algorithm>
#include <ares.h>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>

namespace logdesk {
namespace {

constexpr int kClassIn = 1;
constexpr int kTypeA = 1;
constexpr int kTypePtr = 12;
constexpr int kTypeAaaa = 28;
constexpr int kPollStepMs = 10;

// ares_library_init must run once before the first channel and is not safe to
// run from two threads at once. Resolvers are made on whatever worker needs
// one, so the first of them runs it; the flag has constant initialisation and
// is the only program-wide state here.
std::once_flag gAresLibraryOnce;

void InitAresLibrary() {
    std::call_once(gAresLibraryOnce, [] { ares_library_init(ARES_LIB_INIT_ALL); });
}

int AddressFamily(IpFamily family) {
    return family == IpFamily::V4 ? AF_INET : AF_INET6;
}

DnsStatus StatusOf(int aresStatus) {
    switch (aresStatus) {
    case ARES_SUCCESS:
        return DnsStatus::Answered;
    case ARES_ENODATA:
        return DnsStatus::NoRecords;
    case ARES_ENOTFOUND:
    case ARES_EBADNAME:
        return DnsStatus::NoSuchName;
    case ARES_ETIMEOUT:
        return DnsStatus::TimedOut;
    default:
        return DnsStatus::ServerFailed;
    }
}

bool Transient(DnsStatus status) {
    return status == DnsStatus::TimedOut || status == DnsStatus::ServerFailed;
}

ReverseLookup ParseReverse(const unsigned char* answer, int length, const IpAddress& address) {
    ReverseLookup result;
    hostent* host = nullptr;
    const int status =
        ares_parse_ptr_reply(answer, length, address.bytes.data(), static_cast<int>(address.size()),
                             AddressFamily(address.family), &host);
    if (status != ARES_SUCCESS) {
        result.status = status == ARES_ENODATA ? DnsStatus::NoRecords : DnsStatus::ServerFailed;
        return result;
    }
    // c-ares lists every PTR name among the aliases and repeats the last as
    // the host name.
    auto add = [&result](const char* name) {
        std::string normal = NormaliseHostName(name);
        if (!normal.empty() &&
            std::find(result.names.begin(), result.names.end(), normal) == result.names.end()) {
            result.names.push_back(std::move(normal));
        }
    };
    for (char** alias = host->h_aliases; alias != nullptr && *alias != nullptr; ++alias) {
        add(*alias);
    }
    if (host->h_name != nullptr) {
        add(host->h_name);
    }
    ares_free_hostent(host);
    result.status = result.names.empty() ? DnsStatus::NoRecords : DnsStatus::Answered;
    return result;
}

ForwardLookup ParseForward(const unsigned char* answer, int length, IpFamily family) {
    ForwardLookup result;
    hostent* host = nullptr;
    const int status = family == IpFamily::V4
                           ? ares_parse_a_reply(answer, length, &host, nullptr, nullptr)
                           : ares_parse_aaaa_reply(answer, length, &host, nullptr, nullptr);
    if (status != ARES_SUCCESS) {
        result.status = status == ARES_ENODATA ? DnsStatus::NoRecords : DnsStatus::ServerFailed;
        return result;
    }
    const std::size_t size = family == IpFamily::V4 ? 4 : 16;
    if (host->h_length == static_cast<int>(size)) {
        for (char** item = host->h_addr_list; item != nullptr && *item != nullptr; ++item) {
            IpAddress address{.family = family};
            std::memcpy(address.bytes.data(), *item, size);
            result.addresses.push_back(address);
        }
    }
    ares_free_hostent(host);
    result.status = result.addresses.empty() ? DnsStatus::NoRecords : DnsStatus::Answered;
    return result;
}

} // namespace

std::optional<IpAddress> IpAddress::Parse(std::string_view text) {
    // inet_pton wants a terminated string; no address text is this long.
    if (text.empty() || text.size() > INET6_ADDRSTRLEN) {
        return std::nullopt;
    }
    const std::string terminated(text);
    IpAddress address;
    if (::inet_pton(AF_INET, terminated.c_str(), address.bytes.data()) == 1) {
        return address;
    }
    if (::inet_pton(AF_INET6, terminated.c_str(), address.bytes.data()) != 1) {
        return std::nullopt;
    }
    constexpr std::array<std::uint8_t, 12> kMappedPrefix = {0, 0, 0, 0, 0,    0,
                                                            0, 0, 0, 0, 0xff, 0xff};
    if (std::equal(kMappedPrefix.begin(), kMappedPrefix.end(), address.bytes.begin())) {
        std::copy(address.bytes.begin() + 12, address.bytes.end(), address.bytes.begin());
        std::fill(address.bytes.begin() + 4, address.bytes.end(), 0);
        return address;
    }
    address.family = IpFamily::V6;
    return address;
}

std::string IpAddress::text() const {
    char buffer[INET6_ADDRSTRLEN] = {};
    ::inet_ntop(AddressFamily(family), bytes.data(), buffer, sizeof buffer);
    return buffer;
}

std::string IpAddress::reverseName() const {
    std::string name;
    if (family == IpFamily::V4) {
        for (int i = 3; i >= 0; --i) {
            name += std::to_string(bytes[static_cast<std::size_t>(i)]);
            name += '.';
        }
        return name + "in-addr.arpa";
    }
    constexpr std::string_view kHex = "0123456789abcdef";
    for (int i = 15; i >= 0; --i) {
        const std::uint8_t byte = bytes[static_cast<std::size_t>(i)];
        name += kHex[byte & 0x0f];
        name += '.';
        name += kHex[byte >> 4];
        name += '.';
    }
    return name + "ip6.arpa";
}

struct DnsResolver::Lookup {
    enum class State : std::uint8_t { Queued, Sent, Finished };

    std::string key;
    bool reverse = true;
    std::string name; // the name the query asks for
    IpFamily family = IpFamily::V4;
    IpAddress address{}; // reverse lookups only
    State state = State::Queued;
    bool awaitingDelivery = false;
    int attempt = 0;
    std::uint64_t serial = 0; // of the query outstanding
    DnsStatus status = DnsStatus::ServerFailed;
    std::vector<std::string> names;
    std::vector<IpAddress> addresses;
    std::vector<ReverseDone> reverseWaiters;
    std::vector<ForwardDone> forwardWaiters;
};

// What c-ares hands back to OnAnswer: a lookup is found again by key and
// serial, so an answer for a lookup that was dropped meanwhile finds nothing.
struct DnsResolver::QueryTag {
    DnsResolver* owner;
    std::string key;
    std::uint64_t serial;
};

DnsResolver::DnsResolver(const ResolverSettings& settings)
    : maxInFlight_(std::max(1, settings.maxInFlight)), attempts_(std::max(1, settings.attempts)) {
    InitAresLibrary();
    ares_options options{};
    // One try per ares_query: attempts are counted here, so each waits the
    // same timeout instead of c-ares doubling it.
    options.timeout = std::max(1, settings.timeoutMs);
    options.tries = 1;
    options.sock_state_cb = &DnsResolver::OnSocketState;
    options.sock_state_cb_data = this;
    const int mask = ARES_OPT_TIMEOUTMS | ARES_OPT_TRIES | ARES_OPT_SOCK_STATE_CB;
    const int status = ares_init_options(&channel_, &options, mask);
    if (status != ARES_SUCCESS) {
        channel_ = nullptr;
        error_ = Gbk("无法启动DNS解析：") + ares_strerror(status);
        return;
    }
    if (!settings.servers.empty() &&
        ares_set_servers_ports_csv(channel_, settings.servers.c_str()) != ARES_SUCCESS) {
        error_ = Gbk("DNS服务器设置无效：") + settings.servers;
        ares_destroy(channel_);
        channel_ = nullptr;
    }
}

DnsResolver::~DnsResolver() {
    if (channel_ != nullptr) {
        // Ends every outstanding query with ARES_EDESTRUCTION; OnAnswer only
        // frees its tag then.
        ares_destroy(channel_);
    }
}

DnsResolver::Lookup& DnsResolver::entry(std::string key) {
    auto [it, added] = lookups_.try_emplace(std::move(key));
    if (added) {
        it->second = std::make_unique<Lookup>();
        it->second->key = it->first;
    }
    return *it->second;
}

void DnsResolver::lookupReverse(const IpAddress& address, ReverseDone done) {
    std::string key = "r";
    key += address.family == IpFamily::V4 ? '4' : '6';
    key.append(reinterpret_cast<const char*>(address.bytes.data()), address.size());
    Lookup& lookup = entry(std::move(key));
    const bool fresh = lookup.name.empty();
    if (fresh) {
        lookup.reverse = true;
        lookup.family = address.family;
        lookup.address = address;
        lookup.name = address.reverseName();
    }
    lookup.reverseWaiters.push_back(std::move(done));
    if (fresh) {
        queued_.push_back(&lookup);
    } else if (lookup.state == Lookup::State::Finished && !lookup.awaitingDelivery) {
        lookup.awaitingDelivery = true;
        finished_.push_back(&lookup);
    }
}

void DnsResolver::lookupForward(std::string_view host, IpFamily family, ForwardDone done) {
    std::string name = NormaliseHostName(host);
    std::string key = family == IpFamily::V4 ? "f4" : "f6";
    key += name;
    Lookup& lookup = entry(std::move(key));
    const bool fresh = lookup.name.empty();
    if (fresh) {
        lookup.reverse = false;
        lookup.family = family;
        // An empty name still needs a query name that marks the entry as set
        // up; the root never holds a crawler's address.
        lookup.name = name.empty() ? "." : std::move(name);
    }
    lookup.forwardWaiters.push_back(std::move(done));
    if (fresh) {
        queued_.push_back(&lookup);
    } else if (lookup.state == Lookup::State::Finished && !lookup.awaitingDelivery) {
        lookup.awaitingDelivery = true;
        finished_.push_back(&lookup);
    }
}

void DnsResolver::sendQueued() {
    while (inFlight_ < maxInFlight_ && !queued_.empty()) {
        Lookup& lookup = *queued_.front();
        queued_.pop_front();
        if (channel_ == nullptr) {
            lookup.status = DnsStatus::ServerFailed;
            lookup.state = Lookup::State::Finished;
            lookup.awaitingDelivery = true;
            finished_.push_back(&lookup);
            continue;
        }
        lookup.state = Lookup::State::Sent;
        ++lookup.attempt;
        lookup.serial = nextSerial_++;
        const int type =
            lookup.reverse ? kTypePtr : (lookup.family == IpFamily::V4 ? kTypeA : kTypeAaaa);
        ++inFlight_;
        ++queriesSent_;
        // c-ares may answer at once (from inside ares_query), which OnAnswer
        // handles like any later answer.
        ares_query(channel_, lookup.name.c_str(), kClassIn, type, &DnsResolver::OnAnswer,
                   new QueryTag{this, lookup.key, lookup.serial});
    }
}

void DnsResolver::OnAnswer(void* arg, int status, int /*timeouts*/, unsigned char* answer,
                           int length) {
    const std::unique_ptr<QueryTag> tag(static_cast<QueryTag*>(arg));
    --tag->owner->inFlight_;
    if (status == ARES_ECANCELLED || status == ARES_EDESTRUCTION) {
        return;
    }
    tag->owner->answered(*tag, status, answer, length);
}

void DnsResolver::answered(QueryTag& tag, int status, const unsigned char* answer, int length) {
    const auto it = lookups_.find(tag.key);
    if (it == lookups_.end() || it->second->serial != tag.serial ||
        it->second->state != Lookup::State::Sent) {
        return;
    }
    Lookup& lookup = *it->second;
    DnsStatus result = StatusOf(status);
    if (result == DnsStatus::TimedOut && lookup.attempt < attempts_) {
        lookup.state = Lookup::State::Queued;
        queued_.push_front(&lookup);
        return;
    }
    if (result == DnsStatus::Answered) {
        if (lookup.reverse) {
            ReverseLookup parsed = ParseReverse(answer, length, lookup.address);
            result = parsed.status;
            lookup.names = std::move(parsed.names);
        } else {
            ForwardLookup parsed = ParseForward(answer, length, lookup.family);
            result = parsed.status;
            lookup.addresses = std::move(parsed.addresses);
        }
    }
    lookup.status = result;
    lookup.state = Lookup::State::Finished;
    lookup.awaitingDelivery = true;
    finished_.push_back(&lookup);
}

void DnsResolver::deliverFinished(Cancellation* cancel, bool& stopped) {
    while (!finished_.empty()) {
        Lookup* lookup = finished_.front();
        finished_.pop_front();
        lookup->awaitingDelivery = false;
        // Taken out first: a done may ask for the same lookup again, which
        // then waits for the next round (or, when this result is not kept,
        // for a query of its own).
        std::vector<ReverseDone> reverseWaiters = std::move(lookup->reverseWaiters);
        std::vector<ForwardDone> forwardWaiters = std::move(lookup->forwardWaiters);
        lookup->reverseWaiters.clear();
        lookup->forwardWaiters.clear();
        ReverseLookup reverse{.status = lookup->status, .names = lookup->names};
        ForwardLookup forward{.status = lookup->status, .addresses = lookup->addresses};
        if (Transient(lookup->status)) {
            const std::string key = lookup->key;
            lookups_.erase(key);
        }
        auto call = [cancel, &stopped](auto& done, const auto& result) {
            if (cancel == nullptr) {
                done(result);
            } else if (!cancel->guard([&] { done(result); })) {
                stopped = true;
            }
        };
        for (ReverseDone& done : reverseWaiters) {
            call(done, reverse);
            if (stopped) {
                return;
            }
        }
        for (ForwardDone& done : forwardWaiters) {
            call(done, forward);
            if (stopped) {
                return;
            }
        }
    }
}

void DnsResolver::abandon() {
    if (channel_ != nullptr) {
        // Every outstanding query ends here with ARES_ECANCELLED.
        ares_cancel(channel_);
    }
    queued_.clear();
    finished_.clear();
    for (auto it = lookups_.begin(); it != lookups_.end();) {
        Lookup& lookup = *it->second;
        if (lookup.state != Lookup::State::Finished || Transient(lookup.status)) {
            it = lookups_.erase(it);
            continue;
        }
        lookup.awaitingDelivery = false;
        lookup.reverseWaiters.clear();
        lookup.forwardWaiters.clear();
        ++it;
    }
}

void DnsResolver::waitForSockets() {
    timeval longest{0, kPollStepMs * 1000};
    timeval next{};
    const timeval* wait = ares_timeout(channel_, &longest, &next);
    const int waitMs = static_cast<int>(wait->tv_sec * 1000 + (wait->tv_usec + 999) / 1000);
    std::vector<pollfd> watched;
    watched.reserve(sockets_.size());
    for (const auto& [fd, events] : sockets_) {
        watched.push_back({fd, events, 0});
    }
    const int ready = ::poll(watched.data(), watched.size(), waitMs);
    if (ready <= 0) {
        // Time for c-ares to retry or give up on what has gone unanswered.
        ares_process_fd(channel_, ARES_SOCKET_BAD, ARES_SOCKET_BAD);
        return;
    }
    for (const pollfd& item : watched) {
        if (item.revents == 0) {
            continue;
        }
        const bool readable = (item.revents & (POLLIN | POLLERR | POLLHUP)) != 0;
        const bool writable = (item.revents & POLLOUT) != 0;
        ares_process_fd(channel_, readable ? item.fd : ARES_SOCKET_BAD,
                        writable ? item.fd : ARES_SOCKET_BAD);
    }
}

void DnsResolver::OnSocketState(void* data, int fd, int readable, int writable) {
    auto& sockets = static_cast<DnsResolver*>(data)->sockets_;
    const auto it = std::find_if(sockets.begin(), sockets.end(),
                                 [fd](const auto& item) { return item.first == fd; });
    const short events =
        static_cast<short>((readable != 0 ? POLLIN : 0) | (writable != 0 ? POLLOUT : 0));
    if (events == 0) {
        if (it != sockets.end()) {
            sockets.erase(it);
        }
    } else if (it != sockets.end()) {
        it->second = events;
    } else {
        sockets.emplace_back(fd, events);
    }
}

bool DnsResolver::run(Cancellation* cancel) {
    bool stopped = false;
    while (true) {
        if (cancel != nullptr && cancel->cancelled()) {
            abandon();
            return false;
        }
        deliverFinished(cancel, stopped);
        if (stopped) {
            abandon();
            return false;
        }
        sendQueued();
        if (!finished_.empty()) {
            continue;
        }
        if (inFlight_ == 0 && queued_.empty()) {
            return true;
        }
        waitForSockets();
    }
}

} // namespace logdesk
