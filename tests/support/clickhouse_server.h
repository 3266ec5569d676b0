// A ClickHouse server of the test's own: Debian's clickhouse-server started on
// 127.0.0.1 with a configuration written into a temporary folder (free ports
// chosen at start, its data in the folder), waited for with a bounded
// timeout, killed (SIGKILL) and started again on the same ports and data when
// a test asks, and stopped and removed when destroyed. Tests skip when the
// package is absent (Available()).
#pragma once

#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <fcntl.h>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace logdesk::testing {

class ClickHouseTestServer {
public:
    static constexpr const char* kBinary = "/usr/sbin/clickhouse-server";

    static bool Available() { return ::access(kBinary, X_OK) == 0; }
    // CI sets LOGDESK_REQUIRE_CLICKHOUSE=1: there a missing server fails the
    // tests that need one instead of skipping them.
    static bool Required() {
        const char* required = std::getenv("LOGDESK_REQUIRE_CLICKHOUSE");
        return required != nullptr && std::string(required) == "1";
    }

    // `password` empty: the default user needs none.
    explicit ClickHouseTestServer(std::string password = {}) : password_(std::move(password)) {
        char pattern[] = "/tmp/logdesk-clickhouse-XXXXXX";
        const char* made = ::mkdtemp(pattern);
        dir_ = made != nullptr ? made : "";
        httpPort_ = FreePort();
        tcpPort_ = FreePort();
        writeConfig();
    }
    ~ClickHouseTestServer() {
        stop();
        std::error_code ignored;
        if (!dir_.empty()) {
            std::filesystem::remove_all(dir_, ignored);
        }
    }
    ClickHouseTestServer(const ClickHouseTestServer&) = delete;
    ClickHouseTestServer& operator=(const ClickHouseTestServer&) = delete;

    // Starts the server and waits (at most `wait`) until it answers /ping.
    bool start(std::chrono::seconds wait = std::chrono::seconds(60)) {
        if (pid_ > 0) {
            return true;
        }
        const std::string config = "--config-file=" + dir_ + "/config.xml";
        const pid_t child = ::fork();
        if (child == 0) {
            const int null = ::open("/dev/null", O_WRONLY);
            if (null >= 0) {
                ::dup2(null, 1);
                ::dup2(null, 2);
            }
            ::execl(kBinary, kBinary, config.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        pid_ = child;
        const auto deadline = std::chrono::steady_clock::now() + wait;
        while (std::chrono::steady_clock::now() < deadline) {
            if (answersPing()) {
                return true;
            }
            int status = 0;
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        return false;
    }

    // Kills the server at once (SIGKILL), as a crash would, and reaps it.
    void kill() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
            pid_ = -1;
        }
    }

    // Asks the server to stop (SIGTERM), then kills it after ten seconds.
    void stop() {
        if (pid_ <= 0) {
            return;
        }
        ::kill(pid_, SIGTERM);
        for (int i = 0; i < 100; ++i) {
            if (::waitpid(pid_, nullptr, WNOHANG) == pid_) {
                pid_ = -1;
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        kill();
    }

    std::string url() const { return "http://127.0.0.1:" + std::to_string(httpPort_) + "/"; }
    const std::string& password() const { return password_; }
    const std::string& dir() const { return dir_; }
    bool running() const { return pid_ > 0; }

private:
    static int FreePort() {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = 0;
        socklen_t length = sizeof address;
        int port = 0;
        if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
            ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
            port = ntohs(address.sin_port);
        }
        ::close(fd);
        return port;
    }

    bool answersPing() const {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(static_cast<std::uint16_t>(httpPort_));
        bool ok = false;
        if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
            const std::string request = "GET /ping HTTP/1.0\r\n\r\n";
            if (::send(fd, request.data(), request.size(), MSG_NOSIGNAL) ==
                static_cast<ssize_t>(request.size())) {
                std::string answer;
                char buffer[512];
                ssize_t got = 0;
                while ((got = ::recv(fd, buffer, sizeof buffer, 0)) > 0) {
                    answer.append(buffer, static_cast<std::size_t>(got));
                }
                ok = answer.find("Ok.") != std::string::npos;
            }
        }
        ::close(fd);
        return ok;
    }

    void writeConfig() const {
        std::ofstream config(dir_ + "/config.xml");
        config << "<yandex><logger><level>warning</level><log>" << dir_
               << "/server.log</log><errorlog>" << dir_
               << "/error.log</errorlog><console>0</console></logger>"
               << "<http_port>" << httpPort_ << "</http_port><tcp_port>" << tcpPort_
               << "</tcp_port><listen_host>127.0.0.1</listen_host>"
               << "<path>" << dir_ << "/data/</path><tmp_path>" << dir_ << "/tmp/</tmp_path>"
               << "<users_config>" << dir_ << "/users.xml</users_config>"
               << "<default_profile>default</default_profile>"
               << "<default_database>default</default_database>"
               << "<mark_cache_size>536870912</mark_cache_size>"
               << "<uncompressed_cache_size>536870912</uncompressed_cache_size></yandex>\n";
        std::ofstream users(dir_ + "/users.xml");
        users << "<yandex><profiles><default><max_memory_usage>10000000000</max_memory_usage>"
              << "</default></profiles><users><default><password>" << password_
              << "</password><networks><ip>127.0.0.1</ip><ip>::1</ip></networks>"
              << "<profile>default</profile><quota>default</quota></default></users>"
              << "<quotas><default><interval><duration>3600</duration><queries>0</queries>"
              << "<errors>0</errors><result_rows>0</result_rows><read_rows>0</read_rows>"
              << "<execution_time>0</execution_time></interval></default></quotas></yandex>\n";
    }

    std::string password_;
    std::string dir_;
    int httpPort_ = 0;
    int tcpPort_ = 0;
    pid_t pid_ = -1;
};

} // namespace logdesk::testing
