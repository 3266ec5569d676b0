#include "dns_resolver.h"

#include "core/verify/crawler_rules.h"
#include "core/text/gbk_codec.h"
#include "core/text/gbk_text.h"

#include <algorithm>
#include <ares.h>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <mutex>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>

namespace logdesk {
namespace {

constexpr int kClassIn = 1;
constexpr int kTypeA = 1;
constexpr int kTypeNs = 2;
constexpr int kTypeCname = 5;
constexpr int kTypePtr = 12;
constexpr int kTypeAaaa = 28;
constexpr int kPollStepMs = 10;
// The EDNS payload DNS Flag Day 2020 settled on: fits an unfragmented packet
// on every usual path.
constexpr int kEdnsPayload = 1232;
// Retries of a lookup whose query ended with a connection error (refused,
// reset, closed), beyond its attempts: such an error is about a socket that
// several queries shared, not about this query's answer.
constexpr int kConnectionRetries = 3;
constexpr std::string_view kControlZone = "in-addr.arpa";

// ares_library_init must run once before the first channel and is not safe to
// run from two threads at once. Resolvers are made on whatever worker needs
// one, so the first of them runs it; the flag has constant initialisation and
// is the only program-wide state here.
std::once_flag gAresLibraryOnce;

void InitAresLibrary() {
    std::call_once(gAresLibraryOnce, [] { ares_library_init(ARES_LIB_INIT_ALL); });
}

std::int64_t NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
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

// Whether a status says that a server answered at all.
bool Heard(int aresStatus) {
    switch (aresStatus) {
    case ARES_SUCCESS:
    case ARES_ENODATA:
    case ARES_ENOTFOUND:
    case ARES_ESERVFAIL:
    case ARES_EREFUSED:
    case ARES_EFORMERR:
    case ARES_ENOTIMP:
    case ARES_EBADRESP:
        return true;
    default:
        return false;
    }
}

bool Transient(DnsStatus status) {
    return status == DnsStatus::TimedOut || status == DnsStatus::ServerFailed ||
           status == DnsStatus::Abandoned;
}

// A DNS message read field by field; every read checks the bounds.
class Message {
public:
    Message(const unsigned char* bytes, int length)
        : bytes_(bytes), length_(length < 0 ? 0 : static_cast<std::size_t>(length)) {}

    std::size_t size() const { return length_; }
    bool u16(std::size_t at, unsigned& value) const {
        if (at + 2 > length_) {
            return false;
        }
        value = static_cast<unsigned>(bytes_[at]) << 8 | bytes_[at + 1];
        return true;
    }
    // The labels of the name at `at`, following compression pointers; `at`
    // moves past the name where it stands. False for a malformed name.
    bool name(std::size_t& at, std::vector<std::string>& labels) const {
        labels.clear();
        std::size_t pos = at;
        bool jumped = false;
        std::size_t total = 0;
        for (int hops = 0; hops < 128; ++hops) {
            if (pos >= length_) {
                return false;
            }
            const unsigned length = bytes_[pos];
            if (length == 0) {
                if (!jumped) {
                    at = pos + 1;
                }
                return true;
            }
            if ((length & 0xC0) == 0xC0) {
                if (pos + 1 >= length_) {
                    return false;
                }
                if (!jumped) {
                    at = pos + 2;
                    jumped = true;
                }
                pos = (length & 0x3F) << 8 | bytes_[pos + 1];
                continue;
            }
            if ((length & 0xC0) != 0 || pos + 1 + length > length_) {
                return false;
            }
            total += length + 1;
            if (total > 255) {
                return false;
            }
            labels.emplace_back(reinterpret_cast<const char*>(bytes_ + pos + 1), length);
            pos += 1 + length;
            if (!jumped) {
                at = pos;
            }
        }
        return false;
    }

private:
    const unsigned char* bytes_;
    std::size_t length_;
};

// Labels as a host name (lower case, dots between them); empty when a label
// holds anything but ASCII letters, digits, '-' and '_', or there is none.
std::string HostName(const std::vector<std::string>& labels) {
    std::string host;
    for (const std::string& label : labels) {
        for (const char c : label) {
            const bool fits = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                              (c >= '0' && c <= '9') || c == '-' || c == '_';
            if (!fits) {
                return {};
            }
        }
        if (!host.empty()) {
            host += '.';
        }
        host += label;
    }
    return AsciiLower(host);
}

// The labels joined for comparing owner names; their bytes as they are.
std::string OwnerKey(const std::vector<std::string>& labels) {
    std::string key;
    for (const std::string& label : labels) {
        key += AsciiLower(label);
        key += '\0';
    }
    return key;
}

std::vector<std::string> LabelsOf(std::string_view name) {
    std::vector<std::string> labels;
    std::size_t start = 0;
    while (start < name.size()) {
        std::size_t end = name.find('.', start);
        if (end == std::string_view::npos) {
            end = name.size();
        }
        labels.emplace_back(name.substr(start, end - start));
        start = end + 1;
    }
    return labels;
}

// The PTR records of an answer to `question`, record by record: a CNAME
// chain from the question (classless reverse delegation) is followed, and a
// name that is no host name is counted, not taken, so it hides no other. A
// message that breaks off keeps what came before the break.
ReverseLookup ParseReverse(const unsigned char* answer, int length, std::string_view question) {
    ReverseLookup result;
    const Message message(answer, length);
    unsigned questions = 0;
    unsigned answers = 0;
    if (!message.u16(4, questions) || !message.u16(6, answers)) {
        return result;
    }
    std::size_t at = 12;
    std::vector<std::string> labels;
    for (unsigned q = 0; q < questions; ++q) {
        if (!message.name(at, labels)) {
            return result;
        }
        at += 4;
    }
    std::vector<std::string> owners = {OwnerKey(LabelsOf(question))};
    bool anyPtr = false;
    for (unsigned a = 0; a < answers; ++a) {
        unsigned type = 0;
        unsigned cls = 0;
        unsigned dataLength = 0;
        if (!message.name(at, labels) || !message.u16(at, type) || !message.u16(at + 2, cls) ||
            !message.u16(at + 8, dataLength) || at + 10 + dataLength > message.size()) {
            break;
        }
        const bool owned =
            std::find(owners.begin(), owners.end(), OwnerKey(labels)) != owners.end();
        std::size_t data = at + 10;
        at = data + dataLength;
        if (!owned || cls != kClassIn || (type != kTypePtr && type != kTypeCname)) {
            continue;
        }
        std::vector<std::string> target;
        const bool read = message.name(data, target);
        if (type == kTypeCname) {
            if (read) {
                owners.push_back(OwnerKey(target));
            }
            continue;
        }
        anyPtr = true;
        const std::string host = read ? HostName(target) : std::string();
        if (host.empty()) {
            ++result.unusableNames;
        } else if (std::find(result.names.begin(), result.names.end(), host) ==
                       result.names.end() &&
                   result.names.size() < kMaxReverseNames) {
            result.names.push_back(host);
        }
    }
    result.status = anyPtr ? DnsStatus::Answered : DnsStatus::NoRecords;
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

// Answered when the answer section holds a record.
DnsStatus ParseControl(const unsigned char* answer, int length) {
    unsigned answers = 0;
    if (!Message(answer, length).u16(6, answers)) {
        return DnsStatus::ServerFailed;
    }
    return answers > 0 ? DnsStatus::Answered : DnsStatus::NoRecords;
}

bool Truncated(const unsigned char* answer, int length) {
    return answer != nullptr && length > 2 && (answer[2] & 0x02) != 0;
}

Error ServersError(std::string_view entry, const char* why) {
    return Error{
        "", "", Gbk("DNS服务器设置无效：") + std::string(entry) + Gbk("（") + Gbk(why) + Gbk("）")};
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

Result<std::string> CheckedDnsServers(std::string_view servers) {
    if (TrimBlanks(servers).empty()) {
        return ServersError(servers, "没有给出服务器");
    }
    std::string checked;
    std::size_t start = 0;
    while (start <= servers.size()) {
        std::size_t end = servers.find(',', start);
        if (end == std::string_view::npos) {
            end = servers.size();
        }
        const std::string_view entry = TrimBlanks(servers.substr(start, end - start));
        start = end + 1;
        if (entry.empty()) {
            return ServersError(servers, "有空的一项");
        }
        std::string_view host = entry;
        std::string_view port;
        if (entry.front() == '[') {
            const std::size_t close = entry.find(']');
            if (close == std::string_view::npos ||
                (close + 1 < entry.size() && entry[close + 1] != ':')) {
                return ServersError(entry, "不是IP地址");
            }
            host = entry.substr(1, close - 1);
            if (close + 1 < entry.size()) {
                port = entry.substr(close + 2);
                if (port.empty()) {
                    return ServersError(entry, "端口须在1到65535之间");
                }
            }
        } else if (std::count(entry.begin(), entry.end(), ':') == 1) {
            host = entry.substr(0, entry.find(':'));
            port = entry.substr(entry.find(':') + 1);
            if (port.empty()) {
                return ServersError(entry, "端口须在1到65535之间");
            }
        }
        const std::optional<IpAddress> address = IpAddress::Parse(host);
        if (!address) {
            return ServersError(entry, "不是IP地址");
        }
        long number = 53;
        if (!port.empty()) {
            if (port.size() > 5 || port.find_first_not_of("0123456789") != std::string_view::npos) {
                return ServersError(entry, "端口须在1到65535之间");
            }
            number = std::stol(std::string(port));
            if (number < 1 || number > 65535) {
                return ServersError(entry, "端口须在1到65535之间");
            }
        }
        if (!checked.empty()) {
            checked += ',';
        }
        checked += address->family == IpFamily::V4 ? address->text() : "[" + address->text() + "]";
        checked += ':' + std::to_string(number);
        if (end == servers.size()) {
            break;
        }
    }
    return checked;
}

struct DnsResolver::Lookup {
    enum class State : std::uint8_t { Queued, Sent, Finished };
    enum class Kind : std::uint8_t { Reverse, Forward, Control };

    std::string key;
    Kind kind = Kind::Reverse;
    std::string name; // the name the query asks for
    IpFamily family = IpFamily::V4;
    State state = State::Queued;
    bool awaitingDelivery = false;
    bool tcp = false; // its answer came back truncated over UDP
    int attempt = 0;
    int connectionRetries = 0;
    std::uint64_t serial = 0; // of the query outstanding
    DnsStatus status = DnsStatus::ServerFailed;
    std::vector<std::string> names;
    std::size_t unusableNames = 0;
    std::vector<IpAddress> addresses;
    std::vector<ReverseDone> reverseWaiters;
    std::vector<ForwardDone> forwardWaiters;
    std::vector<ControlDone> controlWaiters;
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
    const int timeoutMs = std::max(1, settings.timeoutMs);
    giveUpMs_ = settings.giveUpMs > 0 ? settings.giveUpMs : timeoutMs * attempts_;
    std::string servers;
    if (!settings.servers.empty()) {
        Result<std::string> checked = CheckedDnsServers(settings.servers);
        if (!checked) {
            error_ = Error{{}, {}, checked.error().cause, checked.error().code};
            return;
        }
        servers = std::move(*checked);
    }
    for (int index : {kUdp, kTcp}) {
        channelRefs_[static_cast<std::size_t>(index)] = {this, index};
        ares_options options{};
        // One try per ares_query: attempts are counted here, so each waits
        // the same timeout instead of c-ares doubling it.
        options.timeout = timeoutMs;
        options.tries = 1;
        // UDP keeps a truncated answer for this resolver to send over TCP on
        // the other channel; c-ares would switch the shared connection.
        // SERVFAIL and REFUSED come back as such (NOCHECKRESP): c-ares would
        // report them as a refused connection, which is retried here.
        options.flags = ARES_FLAG_NOCHECKRESP |
                        (index == kUdp ? (ARES_FLAG_EDNS | ARES_FLAG_IGNTC) : ARES_FLAG_USEVC);
        options.ednspsz = kEdnsPayload;
        options.sock_state_cb = &DnsResolver::OnSocketState;
        options.sock_state_cb_data = &channelRefs_[static_cast<std::size_t>(index)];
        const int mask = ARES_OPT_TIMEOUTMS | ARES_OPT_TRIES | ARES_OPT_SOCK_STATE_CB |
                         ARES_OPT_FLAGS | (index == kUdp ? ARES_OPT_EDNSPSZ : 0);
        ares_channeldata*& channel = channels_[static_cast<std::size_t>(index)];
        const int status = ares_init_options(&channel, &options, mask);
        if (status != ARES_SUCCESS) {
            channel = nullptr;
            error_ = Error{{}, {}, Gbk("无法启动DNS解析：") + ares_strerror(status), 0};
            break;
        }
        if (!servers.empty() &&
            ares_set_servers_ports_csv(channel, servers.c_str()) != ARES_SUCCESS) {
            error_ = Error{{}, {}, Gbk("DNS服务器设置无效：") + settings.servers, 0};
            break;
        }
    }
    if (error_) {
        for (ares_channeldata*& channel : channels_) {
            if (channel != nullptr) {
                ares_destroy(channel);
                channel = nullptr;
            }
        }
    }
}

DnsResolver::~DnsResolver() {
    for (ares_channeldata* channel : channels_) {
        if (channel != nullptr) {
            // Ends every outstanding query with ARES_EDESTRUCTION; OnAnswer
            // only frees its tag then.
            ares_destroy(channel);
        }
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

void DnsResolver::queue(Lookup& lookup, bool fresh) {
    if (fresh) {
        if (gaveUp_) {
            finishNow(lookup, DnsStatus::Abandoned);
        } else {
            queued_.push_back(&lookup);
        }
    } else if (lookup.state == Lookup::State::Finished && !lookup.awaitingDelivery) {
        lookup.awaitingDelivery = true;
        finished_.push_back(&lookup);
    }
}

void DnsResolver::finishNow(Lookup& lookup, DnsStatus status) {
    lookup.status = status;
    lookup.state = Lookup::State::Finished;
    if (!lookup.awaitingDelivery) {
        lookup.awaitingDelivery = true;
        finished_.push_back(&lookup);
    }
}

void DnsResolver::lookupReverse(const IpAddress& address, ReverseDone done) {
    std::string key = "r";
    key += address.family == IpFamily::V4 ? '4' : '6';
    key.append(reinterpret_cast<const char*>(address.bytes.data()), address.size());
    Lookup& lookup = entry(std::move(key));
    const bool fresh = lookup.name.empty();
    if (fresh) {
        lookup.kind = Lookup::Kind::Reverse;
        lookup.family = address.family;
        lookup.name = address.reverseName();
    }
    lookup.reverseWaiters.push_back(std::move(done));
    queue(lookup, fresh);
}

void DnsResolver::lookupForward(std::string_view host, IpFamily family, ForwardDone done) {
    std::string name = NormaliseHostName(host);
    std::string key = family == IpFamily::V4 ? "f4" : "f6";
    key += name;
    Lookup& lookup = entry(std::move(key));
    const bool fresh = lookup.name.empty();
    if (fresh) {
        lookup.kind = Lookup::Kind::Forward;
        lookup.family = family;
        // An empty name still needs a query name that marks the entry as set
        // up; the root never holds a crawler's address.
        lookup.name = name.empty() ? "." : std::move(name);
    }
    lookup.forwardWaiters.push_back(std::move(done));
    queue(lookup, fresh);
}

void DnsResolver::lookupControl(ControlDone done) {
    Lookup& lookup = entry("c");
    const bool fresh = lookup.name.empty();
    if (fresh) {
        lookup.kind = Lookup::Kind::Control;
        lookup.name = kControlZone;
    }
    lookup.controlWaiters.push_back(std::move(done));
    queue(lookup, fresh);
}

void DnsResolver::sendQueued() {
    while (inFlight_ < maxInFlight_ && !queued_.empty()) {
        Lookup& lookup = *queued_.front();
        queued_.pop_front();
        ares_channeldata* channel = channels_[lookup.tcp ? kTcp : kUdp];
        if (channel == nullptr) {
            lookup.awaitingDelivery = false;
            finishNow(lookup, DnsStatus::ServerFailed);
            continue;
        }
        lookup.state = Lookup::State::Sent;
        ++lookup.attempt;
        lookup.serial = nextSerial_++;
        const int type = lookup.kind == Lookup::Kind::Reverse   ? kTypePtr
                         : lookup.kind == Lookup::Kind::Control ? kTypeNs
                         : lookup.family == IpFamily::V4        ? kTypeA
                                                                : kTypeAaaa;
        ++inFlight_;
        ++queriesSent_;
        // c-ares may answer at once (from inside ares_query), which OnAnswer
        // handles like any later answer.
        ares_query(channel, lookup.name.c_str(), kClassIn, type, &DnsResolver::OnAnswer,
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
    if (Heard(status)) {
        lastHeardMs_ = NowMs();
        timedOutSinceHeard_ = false;
    }
    const auto it = lookups_.find(tag.key);
    if (it == lookups_.end() || it->second->serial != tag.serial ||
        it->second->state != Lookup::State::Sent) {
        return;
    }
    Lookup& lookup = *it->second;
    if (!lookup.tcp && Truncated(answer, length)) {
        // Asked again over TCP, as a new attempt that keeps the ones left.
        lookup.tcp = true;
        --lookup.attempt;
        lookup.state = Lookup::State::Queued;
        queued_.push_front(&lookup);
        return;
    }
    if (status == ARES_ECONNREFUSED && lookup.connectionRetries < kConnectionRetries) {
        ++lookup.connectionRetries;
        --lookup.attempt;
        lookup.state = Lookup::State::Queued;
        queued_.push_back(&lookup);
        return;
    }
    DnsStatus result = StatusOf(status);
    if (result == DnsStatus::TimedOut && lookup.attempt < attempts_) {
        lookup.state = Lookup::State::Queued;
        queued_.push_front(&lookup);
        return;
    }
    if (result == DnsStatus::TimedOut) {
        timedOutSinceHeard_ = true;
    }
    if (result == DnsStatus::Answered) {
        switch (lookup.kind) {
        case Lookup::Kind::Reverse: {
            ReverseLookup parsed = ParseReverse(answer, length, lookup.name);
            result = parsed.status;
            lookup.names = std::move(parsed.names);
            lookup.unusableNames = parsed.unusableNames;
            break;
        }
        case Lookup::Kind::Forward: {
            ForwardLookup parsed = ParseForward(answer, length, lookup.family);
            result = parsed.status;
            lookup.addresses = std::move(parsed.addresses);
            break;
        }
        case Lookup::Kind::Control:
            result = ParseControl(answer, length);
            break;
        }
    }
    finishNow(lookup, result);
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
        std::vector<ControlDone> controlWaiters = std::move(lookup->controlWaiters);
        lookup->reverseWaiters.clear();
        lookup->forwardWaiters.clear();
        lookup->controlWaiters.clear();
        const ReverseLookup reverse{.status = lookup->status,
                                    .names = lookup->names,
                                    .unusableNames = lookup->unusableNames};
        const ForwardLookup forward{.status = lookup->status, .addresses = lookup->addresses};
        const DnsStatus control = lookup->status;
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
        for (ControlDone& done : controlWaiters) {
            call(done, control);
            if (stopped) {
                return;
            }
        }
    }
}

void DnsResolver::abandon() {
    for (ares_channeldata* channel : channels_) {
        if (channel != nullptr) {
            // Every outstanding query ends here with ARES_ECANCELLED.
            ares_cancel(channel);
        }
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
        lookup.controlWaiters.clear();
        ++it;
    }
}

void DnsResolver::giveUp() {
    gaveUp_ = true;
    for (ares_channeldata* channel : channels_) {
        if (channel != nullptr) {
            ares_cancel(channel);
        }
    }
    queued_.clear();
    for (auto& [key, lookup] : lookups_) {
        if (lookup->state != Lookup::State::Finished) {
            finishNow(*lookup, DnsStatus::Abandoned);
        }
    }
}

void DnsResolver::waitForSockets() {
    timeval longest{0, kPollStepMs * 1000};
    timeval next[2]{};
    const timeval* wait = &longest;
    for (int index : {kUdp, kTcp}) {
        wait = ares_timeout(channels_[static_cast<std::size_t>(index)], const_cast<timeval*>(wait),
                            &next[index]);
    }
    const int waitMs = static_cast<int>(wait->tv_sec * 1000 + (wait->tv_usec + 999) / 1000);
    std::vector<pollfd> watched;
    std::vector<int> owners;
    watched.reserve(sockets_.size());
    for (const Socket& socket : sockets_) {
        watched.push_back({socket.fd, socket.events, 0});
        owners.push_back(socket.channel);
    }
    const int ready = ::poll(watched.data(), watched.size(), waitMs);
    if (ready <= 0) {
        // Time for c-ares to retry or give up on what has gone unanswered.
        for (ares_channeldata* channel : channels_) {
            ares_process_fd(channel, ARES_SOCKET_BAD, ARES_SOCKET_BAD);
        }
        return;
    }
    for (std::size_t i = 0; i < watched.size(); ++i) {
        const pollfd& item = watched[i];
        if (item.revents == 0) {
            continue;
        }
        const bool readable = (item.revents & (POLLIN | POLLERR | POLLHUP)) != 0;
        const bool writable = (item.revents & POLLOUT) != 0;
        ares_process_fd(channels_[static_cast<std::size_t>(owners[i])],
                        readable ? item.fd : ARES_SOCKET_BAD, writable ? item.fd : ARES_SOCKET_BAD);
    }
}

void DnsResolver::OnSocketState(void* data, int fd, int readable, int writable) {
    const auto* ref = static_cast<const ChannelRef*>(data);
    auto& sockets = ref->owner->sockets_;
    const auto it = std::find_if(sockets.begin(), sockets.end(),
                                 [fd](const Socket& item) { return item.fd == fd; });
    const short events =
        static_cast<short>((readable != 0 ? POLLIN : 0) | (writable != 0 ? POLLOUT : 0));
    if (events == 0) {
        if (it != sockets.end()) {
            sockets.erase(it);
        }
    } else if (it != sockets.end()) {
        it->events = events;
        it->channel = ref->index;
    } else {
        sockets.push_back({fd, events, ref->index});
    }
}

bool DnsResolver::run(Cancellation* cancel) {
    bool stopped = false;
    gaveUp_ = false;
    timedOutSinceHeard_ = false;
    lastHeardMs_ = NowMs();
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
        if (timedOutSinceHeard_ && !gaveUp_ && NowMs() - lastHeardMs_ >= giveUpMs_) {
            giveUp();
        }
    }
}

} // namespace logdesk
