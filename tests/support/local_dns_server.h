// A DNS server on 127.0.0.1 (UDP and TCP on one ephemeral port) for the
// resolver tests and benchmark. It answers PTR, A, AAAA and NS questions from
// a table, of class IN, one question a message:
// - a name with records of the type asked for: NOERROR with those records;
// - a name in the table with records of other types only: NOERROR, no
//   answer (NODATA);
// - any other name: NXDOMAIN; a name marked failing: SERVFAIL; every name in
//   NXDOMAIN-for-everything mode.
// Like a working recursive server it holds the NS records of in-addr.arpa,
// the resolver's control query. Over UDP an answer longer than 512 bytes, or
// than the EDNS payload the query offers, goes out truncated (TC, no
// records); TCP answers whole, or is refused or closed at once as set.
// A UDP answer goes out after the name's delay, or after a random delay when
// a range is set, or at once; in silent mode nothing is ever answered. The
// server counts the questions it got and the most it held unanswered at one
// time. Its thread stops when the server is destroyed.
//
// The reverse names are built here on their own, not by the code under test.
#pragma once

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <queue>
#include <random>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace logdesk {

class LocalDnsServer {
public:
    static constexpr std::uint16_t kTypeA = 1;
    static constexpr std::uint16_t kTypeNs = 2;
    static constexpr std::uint16_t kTypePtr = 12;
    static constexpr std::uint16_t kTypeAaaa = 28;
    static constexpr std::uint16_t kTypeOpt = 41;

    // What a TCP connection gets.
    enum class Tcp { Serve, Refuse, Close };

    LocalDnsServer() {
        // A UDP port whose TCP twin is free too.
        for (int tries = 0; tries < 50 && port_ == 0; ++tries) {
            socket_ = ::socket(AF_INET, SOCK_DGRAM, 0);
            tcp_ = ::socket(AF_INET, SOCK_STREAM, 0);
            sockaddr_in address{};
            address.sin_family = AF_INET;
            address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            socklen_t length = sizeof address;
            auto* generic = reinterpret_cast<sockaddr*>(&address);
            if (::bind(socket_, generic, length) == 0 &&
                ::getsockname(socket_, generic, &length) == 0 &&
                ::bind(tcp_, generic, length) == 0) {
                port_ = ntohs(address.sin_port);
                break;
            }
            ::close(socket_);
            ::close(tcp_);
            socket_ = tcp_ = -1;
        }
        if (tcp_ >= 0) {
            ::listen(tcp_, 16);
        }
        add("in-addr.arpa", kTypeNs, EncodeName("a.in-addr-servers.arpa"));
        thread_ = std::thread([this] { serve(); });
    }
    ~LocalDnsServer() {
        stop_ = true;
        thread_.join();
        ::close(socket_);
        if (tcp_ >= 0) {
            ::close(tcp_);
        }
        if (refused_ >= 0) {
            ::close(refused_);
        }
    }
    LocalDnsServer(const LocalDnsServer&) = delete;
    LocalDnsServer& operator=(const LocalDnsServer&) = delete;

    int port() const { return port_; }
    // The resolver's servers setting for this server.
    std::string servers() const { return "127.0.0.1:" + std::to_string(port_); }

    // "4.3.2.1.in-addr.arpa" or the ip6.arpa nibble name of an address text;
    // empty for text that is no address.
    static std::string ReverseName(const std::string& ip) {
        std::uint8_t bytes[16] = {};
        std::string name;
        if (::inet_pton(AF_INET, ip.c_str(), bytes) == 1) {
            for (int i = 3; i >= 0; --i) {
                name += std::to_string(bytes[i]) + ".";
            }
            return name + "in-addr.arpa";
        }
        if (::inet_pton(AF_INET6, ip.c_str(), bytes) == 1) {
            const char* hex = "0123456789abcdef";
            for (int i = 15; i >= 0; --i) {
                name += {hex[bytes[i] & 15], '.', hex[bytes[i] >> 4], '.'};
            }
            return name + "ip6.arpa";
        }
        return name;
    }

    // The PTR record host for the address ip (text).
    void addPtr(const std::string& ip, const std::string& host) {
        add(ReverseName(ip), kTypePtr, EncodeName(host));
    }
    // A PTR record whose name is these labels, byte for byte (NULs, blanks,
    // dots and bytes above 0x7f included).
    void addPtrLabels(const std::string& ip, const std::vector<std::string>& labels) {
        std::string wire;
        for (const std::string& label : labels) {
            wire += static_cast<char>(label.size());
            wire += label;
        }
        add(ReverseName(ip), kTypePtr, wire + '\0');
    }
    // An A or AAAA record, by the family of the address text.
    void addAddress(const std::string& host, const std::string& ip) {
        std::uint8_t bytes[16] = {};
        if (::inet_pton(AF_INET, ip.c_str(), bytes) == 1) {
            add(host, kTypeA, std::string(reinterpret_cast<char*>(bytes), 4));
        } else if (::inet_pton(AF_INET6, ip.c_str(), bytes) == 1) {
            add(host, kTypeAaaa, std::string(reinterpret_cast<char*>(bytes), 16));
        }
    }
    // A PTR record and the matching forward record: a crawler that passes.
    void addCrawler(const std::string& ip, const std::string& host) {
        addPtr(ip, host);
        addAddress(host, ip);
    }
    // Makes the name exist without records (NODATA for every type).
    void addEmptyName(const std::string& name) {
        const std::lock_guard lock(mutex_);
        names_[Lower(name)];
    }
    void failName(const std::string& name) {
        const std::lock_guard lock(mutex_);
        failing_.push_back(Lower(name));
    }
    void delayName(const std::string& name, int milliseconds) {
        const std::lock_guard lock(mutex_);
        delays_[Lower(name)] = milliseconds;
    }
    // Every answer after a delay drawn from [lowMs, highMs], seeded.
    void randomDelays(int lowMs, int highMs, unsigned seed) {
        const std::lock_guard lock(mutex_);
        randomLow_ = lowMs;
        randomHigh_ = highMs;
        random_.seed(seed);
    }
    void setSilent(bool silent) { silent_ = silent; }
    // NXDOMAIN to every question, the control zone's included.
    void setNxdomainForEverything(bool on) { nxdomainAll_ = on; }
    // Answers as a server without EDNS: no OPT record back, truncation at 512.
    void setIgnoreEdns(bool on) { ignoreEdns_ = on; }
    void setTcp(Tcp mode) {
        tcpMode_ = mode;
        if (mode == Tcp::Refuse && tcp_ >= 0) {
            // A bound socket that does not listen answers a connect with RST.
            const int fresh = ::socket(AF_INET, SOCK_STREAM, 0);
            sockaddr_in address{};
            address.sin_family = AF_INET;
            address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            address.sin_port = htons(static_cast<std::uint16_t>(port_));
            const int old = tcp_.exchange(-1);
            ::close(old);
            if (::bind(fresh, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
                refused_ = fresh;
            } else {
                ::close(fresh);
            }
        }
    }
    // Questions that came over TCP.
    int tcpQuestions() const { return tcpQuestions_; }

    int questions() const { return questions_; }
    int questionsFor(const std::string& name) const {
        const std::lock_guard lock(mutex_);
        const auto it = perName_.find(Lower(name));
        return it == perName_.end() ? 0 : it->second;
    }
    int mostUnanswered() const { return mostUnanswered_; }

private:
    using Clock = std::chrono::steady_clock;
    struct Reply {
        Clock::time_point due;
        std::string bytes;
        sockaddr_in to;
        bool operator>(const Reply& other) const { return due > other.due; }
    };

    static std::string Lower(std::string name) {
        if (!name.empty() && name.back() == '.') {
            name.pop_back();
        }
        std::transform(name.begin(), name.end(), name.begin(),
                       [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; });
        return name;
    }
    static std::string EncodeName(const std::string& name) {
        std::string wire;
        std::size_t start = 0;
        const std::string plain = Lower(name);
        while (start < plain.size()) {
            std::size_t end = plain.find('.', start);
            if (end == std::string::npos) {
                end = plain.size();
            }
            wire += static_cast<char>(end - start);
            wire += plain.substr(start, end - start);
            start = end + 1;
        }
        return wire + '\0';
    }
    static void Put16(std::string& out, unsigned value) {
        out += static_cast<char>((value >> 8) & 0xff);
        out += static_cast<char>(value & 0xff);
    }
    void add(const std::string& name, std::uint16_t type, std::string data) {
        const std::lock_guard lock(mutex_);
        names_[Lower(name)].push_back({type, std::move(data)});
    }

    // The reply to one message, or nothing for what is no single question.
    bool answer(const std::string& query, std::string& reply, std::string& name, int& delayMs,
                bool udp = true) {
        if (query.size() < 12 || query[4] != 0 || query[5] != 1) {
            return false;
        }
        std::size_t at = 12;
        while (at < query.size() && query[at] != 0) {
            const auto length = static_cast<unsigned char>(query[at]);
            if (length > 63 || at + 1 + length >= query.size()) {
                return false;
            }
            if (!name.empty()) {
                name += '.';
            }
            name.append(query, at + 1, length);
            at += 1 + length;
        }
        if (at + 5 > query.size()) {
            return false;
        }
        const auto byte = [&query](std::size_t i) { return static_cast<unsigned char>(query[i]); };
        const unsigned type = byte(at + 1) << 8 | byte(at + 2);
        const std::size_t questionEnd = at + 5;
        name = Lower(name);
        // An OPT record right after the question (how resolvers send it)
        // offers a larger UDP payload.
        std::size_t payload = 512;
        bool edns = false;
        if (!ignoreEdns_ && (byte(10) << 8 | byte(11)) == 1 && questionEnd + 11 <= query.size() &&
            byte(questionEnd) == 0 &&
            (byte(questionEnd + 1) << 8 | byte(questionEnd + 2)) == kTypeOpt) {
            edns = true;
            payload =
                std::max<std::size_t>(512, byte(questionEnd + 3) << 8 | byte(questionEnd + 4));
        }

        const std::lock_guard lock(mutex_);
        ++perName_[name];
        unsigned rcode = 0;
        std::vector<const std::string*> records;
        const auto found = names_.find(name);
        if (nxdomainAll_) {
            rcode = 3;
        } else if (std::find(failing_.begin(), failing_.end(), name) != failing_.end()) {
            rcode = 2;
        } else if (found == names_.end()) {
            rcode = 3;
        } else {
            for (const Record& record : found->second) {
                if (record.type == type) {
                    records.push_back(&record.data);
                }
            }
        }
        reply.assign(query, 0, 2);
        reply += static_cast<char>(0x80 | (byte(2) & 0x01)); // QR, RD echoed
        reply += static_cast<char>(0x80 | rcode);            // RA
        Put16(reply, 1);
        Put16(reply, static_cast<unsigned>(records.size()));
        Put16(reply, 0);
        Put16(reply, 0);
        reply.append(query, 12, questionEnd - 12);
        for (const std::string* data : records) {
            Put16(reply, 0xc00c); // the question's name
            Put16(reply, type);
            Put16(reply, 1);
            Put16(reply, 0);
            Put16(reply, 300);
            Put16(reply, static_cast<unsigned>(data->size()));
            reply += *data;
        }
        if (edns) {
            reply[11] = 1; // ARCOUNT
            reply += std::string("\0\0\x29\x04\xd0\0\0\0\0\0\0", 11);
        }
        if (udp && reply.size() > payload) {
            // Truncated: the header and the question only.
            reply.resize(questionEnd);
            reply[2] = static_cast<char>(reply[2] | 0x02);
            reply[6] = reply[7] = reply[8] = reply[9] = reply[10] = reply[11] = 0;
        }
        const auto delay = delays_.find(name);
        if (delay != delays_.end()) {
            delayMs = delay->second;
        } else if (randomHigh_ > 0) {
            delayMs = std::uniform_int_distribution<int>(randomLow_, randomHigh_)(random_);
        }
        return true;
    }

    void serve() {
        std::priority_queue<Reply, std::vector<Reply>, std::greater<>> waiting;
        char buffer[1500];
        while (!stop_) {
            int waitMs = 20;
            if (!waiting.empty()) {
                const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                    waiting.top().due - Clock::now());
                waitMs = static_cast<int>(std::clamp<long long>(left.count(), 0, 20));
            }
            pollfd entries[2] = {{socket_, POLLIN, 0}, {tcp_, POLLIN, 0}};
            const int listening = tcp_ >= 0 ? 2 : 1;
            if (::poll(entries, static_cast<nfds_t>(listening), waitMs) > 0 && listening == 2 &&
                (entries[1].revents & POLLIN) != 0) {
                serveTcp();
            }
            if ((entries[0].revents & POLLIN) != 0) {
                sockaddr_in from{};
                socklen_t fromLength = sizeof from;
                const ssize_t got = ::recvfrom(socket_, buffer, sizeof buffer, 0,
                                               reinterpret_cast<sockaddr*>(&from), &fromLength);
                std::string reply;
                std::string name;
                int delayMs = 0;
                if (got > 0 && answer(std::string(buffer, static_cast<std::size_t>(got)), reply,
                                      name, delayMs)) {
                    ++questions_;
                    ++unanswered_;
                    mostUnanswered_ = std::max(mostUnanswered_.load(), unanswered_);
                    if (!silent_) {
                        waiting.push({Clock::now() + std::chrono::milliseconds(delayMs),
                                      std::move(reply), from});
                    }
                }
            }
            while (!waiting.empty() && waiting.top().due <= Clock::now()) {
                const Reply& reply = waiting.top();
                ::sendto(socket_, reply.bytes.data(), reply.bytes.size(), 0,
                         reinterpret_cast<const sockaddr*>(&reply.to), sizeof reply.to);
                --unanswered_;
                waiting.pop();
            }
        }
    }

    // One connection: its questions in turn until the client closes it (or
    // it goes quiet for a second), each answered whole.
    void serveTcp() {
        const int connection = ::accept(tcp_, nullptr, nullptr);
        if (connection < 0) {
            return;
        }
        auto readAll = [connection](char* into, std::size_t size) {
            std::size_t got = 0;
            while (got < size) {
                pollfd entry{connection, POLLIN, 0};
                if (::poll(&entry, 1, 1000) <= 0) {
                    return false;
                }
                const ssize_t n = ::read(connection, into + got, size - got);
                if (n <= 0) {
                    return false;
                }
                got += static_cast<std::size_t>(n);
            }
            return true;
        };
        while (tcpMode_ == Tcp::Serve && !silent_ && !stop_) {
            unsigned char prefix[2];
            if (!readAll(reinterpret_cast<char*>(prefix), 2)) {
                break;
            }
            std::string query(static_cast<std::size_t>(prefix[0] << 8 | prefix[1]), '\0');
            if (!readAll(query.data(), query.size())) {
                break;
            }
            std::string reply;
            std::string name;
            int delayMs = 0;
            if (!answer(query, reply, name, delayMs, false)) {
                break;
            }
            ++tcpQuestions_;
            ++questions_;
            std::string framed;
            Put16(framed, static_cast<unsigned>(reply.size()));
            framed += reply;
            if (::write(connection, framed.data(), framed.size()) !=
                static_cast<ssize_t>(framed.size())) {
                break;
            }
        }
        ::close(connection);
    }

    struct Record {
        std::uint16_t type;
        std::string data;
    };

    int socket_ = -1;
    std::atomic<int> tcp_{-1};
    int refused_ = -1;
    std::atomic<Tcp> tcpMode_{Tcp::Serve};
    std::atomic<bool> nxdomainAll_{false};
    std::atomic<bool> ignoreEdns_{false};
    std::atomic<int> tcpQuestions_{0};
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<bool> silent_{false};
    std::atomic<int> questions_{0};
    std::atomic<int> mostUnanswered_{0};
    int unanswered_ = 0; // the server thread's own
    mutable std::mutex mutex_;
    std::map<std::string, std::vector<Record>> names_;
    std::vector<std::string> failing_;
    std::map<std::string, int> delays_;
    std::map<std::string, int> perName_;
    int randomLow_ = 0;
    int randomHigh_ = 0;
    std::mt19937 random_;
    std::thread thread_;
};

} // namespace logdesk
