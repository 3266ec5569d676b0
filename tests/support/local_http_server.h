// An HTTP server on 127.0.0.1 for the fetch tests. Its thread takes one
// request per connection, in turn, and hands the connection to a streamer,
// which writes whatever it likes (whole replies, bytes one at a time, an
// endless body) and returns; then the connection is closed. A plain responder
// returns the whole answer at once; its empty answer holds the connection
// until the client drops it. The server stops after maxConnections
// connections, after ten seconds, or when destroyed; a streamer's sends fail
// from then on, so it ends too.
#pragma once

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <poll.h>
#include <string>
#include <string_view>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace logdesk {

class LocalHttpServer {
public:
    using Responder = std::function<std::string(const std::string& request)>;

    // One accepted connection as a streamer sees it.
    class Connection {
    public:
        // Sends all of data; false once the client has gone or the server is
        // stopping.
        bool send(std::string_view data) {
            while (!data.empty()) {
                if (!server_.ready(fd_, POLLOUT)) {
                    return false;
                }
                const ssize_t sent = ::send(fd_, data.data(), data.size(), MSG_NOSIGNAL);
                if (sent <= 0) {
                    return false;
                }
                data.remove_prefix(static_cast<std::size_t>(sent));
            }
            return true;
        }
        // Waits, as long as the server runs, until the client closes.
        void holdUntilClosed() {
            char sink[256];
            while (server_.ready(fd_, POLLIN) && ::recv(fd_, sink, sizeof sink, 0) > 0) {
            }
        }

    private:
        friend class LocalHttpServer;
        Connection(const LocalHttpServer& server, int fd) : server_(server), fd_(fd) {}
        const LocalHttpServer& server_;
        const int fd_;
    };
    using Streamer = std::function<void(const std::string& request, Connection& connection)>;

    LocalHttpServer(int maxConnections, Streamer streamer) : streamer_(std::move(streamer)) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        auto* generic = reinterpret_cast<sockaddr*>(&address);
        if (::bind(listener_, generic, length) == 0 && ::listen(listener_, 8) == 0 &&
            ::getsockname(listener_, generic, &length) == 0) {
            port_ = ntohs(address.sin_port);
        }
        thread_ = std::thread([this, maxConnections] {
            for (int served = 0; served < maxConnections && ready(listener_, POLLIN); ++served) {
                const int fd = ::accept(listener_, nullptr, nullptr);
                if (fd < 0) {
                    return;
                }
                serve(fd);
            }
        });
    }
    LocalHttpServer(int maxConnections, Responder responder)
        : LocalHttpServer(maxConnections, [responder = std::move(responder)](
                                              const std::string& request, Connection& connection) {
              const std::string answer = responder(request);
              if (answer.empty()) {
                  connection.holdUntilClosed();
              } else {
                  connection.send(answer);
              }
          }) {}
    ~LocalHttpServer() {
        stop_ = true;
        thread_.join();
        ::close(listener_);
    }

    int port() const { return port_; }
    std::string url(const std::string& path) const {
        return "http://127.0.0.1:" + std::to_string(port_) + path;
    }
    std::vector<std::string> requests() const {
        const std::lock_guard lock(mutex_);
        return requests_;
    }

private:
    // Polls in short steps so that a stop or the end of life is noticed.
    bool ready(int fd, short events) const {
        pollfd entry{fd, events, 0};
        while (!stop_ && std::chrono::steady_clock::now() < endOfLife_) {
            if (::poll(&entry, 1, 20) != 0) {
                return true;
            }
        }
        return false;
    }
    // Reads the head and as many body bytes as its Content-Length names.
    std::string receive(int fd) const {
        std::string request;
        std::size_t wanted = std::string::npos;
        char buffer[4096];
        while (request.size() < wanted && ready(fd, POLLIN)) {
            const ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
            if (got <= 0) {
                break;
            }
            request.append(buffer, static_cast<std::size_t>(got));
            const std::size_t headEnd = request.find("\r\n\r\n");
            const std::size_t length = request.find("Content-Length: ");
            if (headEnd != std::string::npos) {
                wanted =
                    headEnd + 4 + (length < headEnd ? std::stoul(request.substr(length + 16)) : 0);
            }
        }
        return request;
    }
    void serve(int fd) {
        const std::string request = receive(fd);
        {
            const std::lock_guard lock(mutex_);
            requests_.push_back(request);
        }
        Connection connection(*this, fd);
        streamer_(request, connection);
        ::close(fd);
    }

    const Streamer streamer_;
    const std::chrono::steady_clock::time_point endOfLife_ =
        std::chrono::steady_clock::now() + std::chrono::seconds(10);
    const int listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
    int port_ = 0;
    std::atomic<bool> stop_{false};
    mutable std::mutex mutex_;
    std::vector<std::string> requests_;
    std::thread thread_;
};

// A port on 127.0.0.1 whose listener never accepts and whose queue of pending
// connections is already full, so the kernel leaves further connection
// attempts unanswered: a connect that hangs without any name lookup.
class StalledListener {
public:
    StalledListener() {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        auto* generic = reinterpret_cast<sockaddr*>(&address);
        if (::bind(listener_, generic, length) == 0 && ::listen(listener_, 0) == 0 &&
            ::getsockname(listener_, generic, &length) == 0 &&
            ::connect(filler_, generic, length) == 0) {
            port_ = ntohs(address.sin_port);
        }
    }
    ~StalledListener() {
        ::close(filler_);
        ::close(listener_);
    }
    StalledListener(const StalledListener&) = delete;
    StalledListener& operator=(const StalledListener&) = delete;

    // 0 when the port could not be set up.
    int port() const { return port_; }
    std::string url(const std::string& path) const {
        return "http://127.0.0.1:" + std::to_string(port_) + path;
    }

private:
    const int listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
    const int filler_ = ::socket(AF_INET, SOCK_STREAM, 0);
    int port_ = 0;
};

// A complete response that closes its connection.
inline std::string Reply(const std::string& status, const std::string& headers,
                         const std::string& body) {
    return "HTTP/1.1 " + status + "\r\n" + headers +
           "Content-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" +
           body;
}

// The lines of a request's head, request line first, without their CR LF.
inline std::vector<std::string> HeadLines(const std::string& request) {
    std::vector<std::string> lines;
    for (std::size_t at = 0, end; (end = request.find("\r\n", at)) != std::string::npos && end > at;
         at = end + 2) {
        lines.push_back(request.substr(at, end - at));
    }
    return lines;
}

} // namespace logdesk
