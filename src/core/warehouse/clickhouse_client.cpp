#include "core/warehouse/clickhouse_client.h"

#include "core/net/http_fetch.h"
#include "core/text/gbk_text.h"

#include <algorithm>
#include <cerrno>
#include <thread>

namespace logdesk {

namespace {

// Answers (query results) may be large; inserts answer with nothing.
constexpr std::size_t kMaxAnswerBytes = std::size_t{1} << 30;

std::string PercentEncoded(std::string_view text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size() * 3);
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if ((byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') ||
            (byte >= '0' && byte <= '9') || c == '-' || c == '_' || c == '.' || c == '~') {
            out += c;
        } else {
            out += '%';
            out += kHex[byte >> 4];
            out += kHex[byte & 15];
        }
    }
    return out;
}

// The status number of a raw header block's status line; 0 when there is none.
int StatusOf(std::string_view headers) {
    const std::size_t blank = headers.find(' ');
    if (!headers.starts_with("HTTP/") || blank == std::string_view::npos) {
        return 0;
    }
    int status = 0;
    for (std::size_t i = blank + 1; i < headers.size() && i < blank + 4; ++i) {
        if (headers[i] < '0' || headers[i] > '9') {
            return 0;
        }
        status = status * 10 + (headers[i] - '0');
    }
    return status;
}

// The answer's text for a message: at most a few KB, without its last line end.
std::string AnswerText(std::string_view body) {
    constexpr std::size_t kMostBytes = 4096;
    std::string text(body.substr(0, kMostBytes));
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) {
        text.pop_back();
    }
    return text;
}

// ClickHouse answers a failed statement with "Code: N, e.displayText() = ...".
bool IsServerException(std::string_view body) {
    return body.find("Code: ") != std::string_view::npos &&
           body.find("Exception") != std::string_view::npos;
}

} // namespace

Result<ServerUrl> ParseServerUrl(std::string_view text) {
    const auto bad = [&](std::string why) {
        return Error{"bad server URL", {}, std::move(why), EINVAL};
    };
    std::size_t schemeEnd = 0;
    if (StartsWithIgnoreAsciiCase(text, "http://")) {
        schemeEnd = 7;
    } else if (StartsWithIgnoreAsciiCase(text, "https://")) {
        schemeEnd = 8;
    } else {
        return bad("it must start with http:// or https://");
    }
    const std::size_t hostEnd = std::min(text.find_first_of("/?#", schemeEnd), text.size());
    std::string_view authority = text.substr(schemeEnd, hostEnd - schemeEnd);
    ServerUrl parsed;
    if (const std::size_t at = authority.rfind('@'); at != std::string_view::npos) {
        const std::string_view userInfo = authority.substr(0, at);
        if (userInfo.find(':') != std::string_view::npos) {
            return bad("it holds a password; give the password in LOGDESK_CLICKHOUSE_PASSWORD or "
                       "the settings file instead");
        }
        parsed.user = PercentDecoded(userInfo);
        authority.remove_prefix(at + 1);
    }
    if (authority.empty() || authority.front() == ':') {
        return bad("it names no host");
    }
    parsed.url = std::string(text.substr(0, schemeEnd)) + std::string(authority) +
                 std::string(text.substr(hostEnd));
    if (hostEnd == text.size()) {
        parsed.url += '/';
    }
    return parsed;
}

std::string SqlText(std::string_view text) {
    std::string out = "'";
    for (const char c : text) {
        if (c == '\\' || c == '\'') {
            out += '\\';
        }
        out += c;
    }
    return out + "'";
}

bool IsTransient(const Error& error) {
    return error.code == EIO || error.code == ETIMEDOUT || error.code == EAGAIN;
}

ClickHouseClient::ClickHouseClient(ClickHouseServer server,
                                   std::function<void(std::chrono::milliseconds)> pause)
    : server_(std::move(server)), pause_(std::move(pause)) {}

std::chrono::milliseconds ClickHouseClient::pauseBefore(int attempt) const {
    std::chrono::milliseconds wait = server_.retry.firstPause;
    for (int i = 1; i < attempt && wait < server_.retry.longestPause; ++i) {
        wait *= 2;
    }
    return std::min(wait, server_.retry.longestPause);
}

void ClickHouseClient::pauseFor(std::chrono::milliseconds wait) const {
    if (pause_) {
        pause_(wait);
    } else {
        std::this_thread::sleep_for(wait);
    }
}

Result<std::string> ClickHouseClient::query(std::string_view statement) {
    for (int attempt = 1;; ++attempt) {
        Result<std::string> answer = exchange(statement, {});
        if (answer || !IsTransient(answer.error()) || attempt >= server_.retry.attempts) {
            return answer;
        }
        pauseFor(pauseBefore(attempt));
    }
}

Result<void> ClickHouseClient::insertOnce(std::string_view statement, std::string_view data) {
    Result<std::string> answer = exchange(statement, data);
    if (!answer) {
        return answer.error();
    }
    return {};
}

Result<std::string> ClickHouseClient::exchange(std::string_view statement, std::string_view data) {
    FetchRequest request;
    request.verb = "POST";
    const bool withData = !data.empty();
    request.url = server_.url;
    if (withData) {
        request.url += server_.url.find('?') == std::string::npos ? '?' : '&';
        request.url += "query=" + PercentEncoded(statement);
        request.postData.assign(data);
    } else {
        request.postData.assign(statement);
    }
    request.maxBodyBytes = kMaxAnswerBytes;
    request.extraHeaders = "Content-Type: application/octet-stream\r\n";
    // A key without a user names the user "" on older servers.
    if (!server_.user.empty() || !server_.password.empty()) {
        const std::string user = server_.user.empty() ? "default" : server_.user;
        request.extraHeaders += "X-ClickHouse-User: " + user + "\r\n";
    }
    if (!server_.password.empty()) {
        request.extraHeaders += "X-ClickHouse-Key: " + server_.password + "\r\n";
    }
    // Never the statement's URL: it may be long, and says nothing the
    // user needs in a message.
    const std::string where = server_.url;
    // What a message may hold of a text, which never shows the password.
    const auto shown = [this](std::string text) {
        const std::string& secret = server_.password;
        if (secret.size() >= 3) {
            for (std::size_t at = text.find(secret); at != std::string::npos;
                 at = text.find(secret, at)) {
                text.replace(at, secret.size(), "***");
            }
        }
        return text;
    };
    Result<FetchResponse> response = HttpExchange(request, server_.timeoutSeconds);
    if (!response) {
        const Error& failed = response.error();
        const bool cutByLimit = failed.cause.find("over the limit") != std::string::npos;
        const int code = failed.code == ETIMEDOUT   ? ETIMEDOUT
                         : failed.code == ECANCELED ? ECANCELED
                         : cutByLimit               ? EFBIG
                                                    : EIO;
        return Error{"cannot reach ClickHouse", where, shown(failed.cause), code};
    }
    const int status = StatusOf(response->headers);
    const std::string_view body(reinterpret_cast<const char*>(response->body.data()),
                                response->body.size());
    if (status == 200) {
        return std::string(body);
    }
    const bool exception = IsServerException(body);
    std::string text = AnswerText(body);
    if (text.empty()) {
        text = "HTTP status " + std::to_string(status);
    }
    // A 5xx with an exception of the server's is the statement's failure;
    // without one it is a proxy or a server not ready, worth another try.
    const int code = status >= 500 && !exception ? EAGAIN : 0;
    return Error{"ClickHouse", where, shown(std::move(text)), code};
}

} // namespace logdesk
