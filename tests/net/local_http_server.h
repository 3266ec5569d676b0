// An HTTP server on 127.0.0.1 for the fetch tests. Its thread takes one
// request per connection, answers with what the responder returns and closes
// the connection; an empty answer holds the connection until the client drops
// it. It stops after maxConnections connections, after ten seconds, or when
// destroyed.
#pragma once

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace logdesk {

class LocalHttpServer {
public:
    using Responder = std::function<std::string(const std::string& request)>;

    LocalHttpServer(int maxConnections, Responder responder) : responder_(std::move(responder)) {
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
            for (int served = 0; served < maxConnections && readable(listener_); ++served) {
                const int fd = ::accept(listener_, nullptr, nullptr);
                if (fd < 0) {
                    return;
                }
                serve(fd);
            }
        });
    }
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
    bool readable(int fd) const {
        pollfd entry{fd, POLLIN, 0};
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
        while (request.size() < wanted && readable(fd)) {
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
        const std::string answer = responder_(request);
        char sink[256];
        if (!answer.empty()) {
            ::send(fd, answer.data(), answer.size(), MSG_NOSIGNAL);
        } else {
            while (readable(fd) && ::recv(fd, sink, sizeof sink, 0) > 0) {
            }
        }
        ::close(fd);
    }

    const Responder responder_;
    const std::chrono::steady_clock::time_point endOfLife_ =
        std::chrono::steady_clock::now() + std::chrono::seconds(10);
    const int listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
    int port_ = 0;
    std::atomic<bool> stop_{false};
    mutable std::mutex mutex_;
    std::vector<std::string> requests_;
    std::thread thread_;
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
