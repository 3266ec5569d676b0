#include "http_fetch.h"

#include "url_parts.h"
#include "util/gbk_text.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <curl/curl.h>
#include <exception>
#include <memory>
#include <mutex>
#include <span>
#include <thread>

namespace logdesk {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::string_view kRequestMarker = "Kavrint";
constexpr std::string_view kResultMarker = "Kavrint_OK";
constexpr std::string_view kAgent = "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)";
constexpr std::string_view kAcceptLine =
    "Accept: image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, "
    "application/x-shockwave-flash, application/vnd.ms-excel, application/vnd.ms-powerpoint, "
    "application/msword, */*\r\n";
constexpr auto kPumpInterval = std::chrono::milliseconds(10);
// Upper bound of one network wait in the worker; a stop request or the
// deadline cut it short anyway.
constexpr int kLongestPollMs = 1000;

// The request travels to the worker and the result back in one stream of
// length-prefixed values, read back in the order they were written. Reading
// past the end gives empty values. The block belongs to the worker from the
// thread's start until it has been joined, so it needs no lock.
class FetchBlock {
public:
    void write(std::string_view value) {
        const std::uint64_t size = value.size();
        char prefix[sizeof size];
        std::memcpy(prefix, &size, sizeof size);
        data_.append(prefix, sizeof size);
        data_.append(value);
    }
    void write(std::span<const std::uint8_t> value) {
        write(std::string_view(reinterpret_cast<const char*>(value.data()), value.size()));
    }
    std::string readText() {
        std::uint64_t size = 0;
        if (data_.size() - pos_ < sizeof size) {
            pos_ = data_.size();
            return {};
        }
        std::memcpy(&size, data_.data() + pos_, sizeof size);
        pos_ += sizeof size;
        const std::size_t length = std::min<std::uint64_t>(size, data_.size() - pos_);
        std::string value = data_.substr(pos_, length);
        pos_ += length;
        return value;
    }
    Bytes readBytes() {
        const std::string text = readText();
        return Bytes(text.begin(), text.end());
    }
    void rewind() { pos_ = 0; }
    void clear() {
        data_.clear();
        pos_ = 0;
    }

private:
    std::string data_;
    std::size_t pos_ = 0;
};

// What the waiting thread and one worker share besides the block: the
// deadline, the cookies to send, the stop request (which wakes the worker's
// network wait at once) and the worker's end.
class FetchControl {
public:
    FetchControl(Clock::time_point deadline, std::string cookieHeader)
        : deadline_(deadline), cookieHeader_(std::move(cookieHeader)) {}

    Clock::time_point deadline() const { return deadline_; }
    const std::string& cookieHeader() const { return cookieHeader_; }

    // Any thread.
    void stop() {
        stopped_ = true;
        const std::lock_guard lock(mutex_);
        if (multi_ != nullptr) {
            curl_multi_wakeup(multi_);
        }
    }
    bool stopped() const { return stopped_; }

    // The worker's multi handle, which stop() wakes; detached before it is
    // cleaned up.
    void attach(CURLM* multi) {
        const std::lock_guard lock(mutex_);
        multi_ = multi;
    }
    void detach() { attach(nullptr); }

    void markFinished() {
        const std::lock_guard lock(mutex_);
        finished_ = true;
        finishedChanged_.notify_all();
    }
    bool waitFinished(Clock::duration timeout) {
        std::unique_lock lock(mutex_);
        return finishedChanged_.wait_for(lock, timeout, [this] { return finished_; });
    }

private:
    const Clock::time_point deadline_;
    const std::string cookieHeader_;
    std::atomic<bool> stopped_{false};
    std::mutex mutex_;
    std::condition_variable finishedChanged_;
    CURLM* multi_ = nullptr;
    bool finished_ = false;
};

bool IsBlank(std::string_view text) {
    return TrimBlanks(text).empty();
}

std::string AsciiUpper(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 32);
        }
    }
    return out;
}

// Space, control bytes and bytes above 0x7F cannot stand in a request line;
// curl refuses some of them and rewrites others inconsistently, so they are
// all sent as %XX, which servers decode to the same bytes.
std::string EncodeRequestTarget(std::string_view path) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (const char c : path) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte <= 0x20 || byte >= 0x7F) {
            out += '%';
            out += kHex[byte >> 4];
            out += kHex[byte & 0x0F];
        } else {
            out += c;
        }
    }
    return out;
}

// The header block: the extra headers, then the built-in lines the block does
// not hold yet. Each test searches the whole block built so far, so even a
// line such as "X-Accept: " counts as an Accept line.
std::string HeaderBlock(const std::string& extraHeaders, const std::string& url,
                        bool postWithData) {
    std::string block = extraHeaders;
    if (!ContainsIgnoreCase(block, "Accept: ")) {
        block += kAcceptLine;
    }
    if (!ContainsIgnoreCase(block, "Referer: ")) {
        block += "Referer: " + url + "\r\n";
    }
    if (!ContainsIgnoreCase(block, "Accept-Language: ")) {
        block += "Accept-Language: zh-cn\r\n";
    }
    // Content-Length follows from curl, which writes it after these lines and
    // keeps it right when it sends the body again after an authentication
    // challenge.
    if (postWithData && !ContainsIgnoreCase(block, "Content-Type: ")) {
        block += "Content-Type: application/x-www-form-urlencoded\r\n";
    }
    return block;
}

struct SlistFree {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using HeaderList = std::unique_ptr<curl_slist, SlistFree>;

bool Append(HeaderList& list, const std::string& line) {
    curl_slist* grown = curl_slist_append(list.get(), line.c_str());
    if (grown == nullptr) {
        return false;
    }
    static_cast<void>(list.release());
    list.reset(grown);
    return true;
}

// The block as curl's header list. The stored cookies go after it unless the
// block brings its own; as a header of our own, curl keeps them from hosts a
// redirect leads to.
HeaderList CurlHeaders(const std::string& block, const std::string& cookieHeader) {
    HeaderList list;
    for (std::string_view line : SplitText(block, "\n")) {
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        if (!line.empty() && !Append(list, std::string(line))) {
            return nullptr;
        }
    }
    if (!cookieHeader.empty() && !ContainsIgnoreCase(block, "Cookie: ") &&
        !Append(list, "Cookie: " + cookieHeader)) {
        return nullptr;
    }
    // Names with nothing after the colon keep curl from adding its own Accept,
    // "Expect: 100-continue" and form Content-Type, which the block does not
    // have.
    for (const char* removal : {"Accept:", "Expect:", "Content-Type:"}) {
        if (!Append(list, removal)) {
            return nullptr;
        }
    }
    return list;
}

// What one transfer collects; curl calls back on the worker thread.
struct Exchange {
    Bytes body;
    std::string headers;
    bool headersEnded = true;
};

std::size_t OnBody(char* data, std::size_t size, std::size_t count, void* user) {
    try {
        auto& body = static_cast<Exchange*>(user)->body;
        body.insert(body.end(), data, data + size * count);
        return size * count;
    } catch (...) {
        return 0;
    }
}

// Every response of the exchange (interim 1xx, followed redirects, the final
// one) brings its own header block; only the last one is kept.
std::size_t OnHeader(char* data, std::size_t size, std::size_t count, void* user) {
    try {
        auto& exchange = *static_cast<Exchange*>(user);
        const std::string_view line(data, size * count);
        if (exchange.headersEnded && line.starts_with("HTTP/")) {
            exchange.headers.clear();
            exchange.headersEnded = false;
        }
        exchange.headers += line;
        if (line == "\r\n" || line == "\n") {
            exchange.headersEnded = true;
        }
        return size * count;
    } catch (...) {
        return 0;
    }
}

struct EasyCleanup {
    void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
struct MultiCleanup {
    void operator()(CURLM* multi) const { curl_multi_cleanup(multi); }
};

bool Configure(CURL* easy, const FetchRequest& request, bool post, const curl_slist* headers,
               Exchange& exchange) {
    const std::string host = UrlHost(request.url);
    const int port = UrlPort(request.url);
    std::string target = "http://" + host;
    if (port != 80 && port != 0) {
        target += ':' + DecimalText(port);
    }
    target += EncodeRequestTarget(UrlPath(request.url));
    const std::string agent(kAgent);

    bool ok = true;
    const auto set = [&](CURLoption option, auto value) {
        ok = ok && curl_easy_setopt(easy, option, value) == CURLE_OK;
    };
    set(CURLOPT_URL, target.c_str());
    set(CURLOPT_PATH_AS_IS, 1L);
    set(CURLOPT_PROTOCOLS_STR, "http,https");
    set(CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    set(CURLOPT_FOLLOWLOCATION, 1L);
    set(CURLOPT_MAXREDIRS, 10L);
    set(CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    set(CURLOPT_NOSIGNAL, 1L);
    set(CURLOPT_USERAGENT, agent.c_str());
    set(CURLOPT_HTTPHEADER, headers);
    // An empty proxy explicitly means direct, whatever the environment says;
    // an empty no-proxy list sends every host through a given proxy.
    set(CURLOPT_PROXY, IsBlank(request.proxy) ? "" : request.proxy.c_str());
    set(CURLOPT_PROXYTYPE, static_cast<long>(CURLPROXY_HTTP));
    set(CURLOPT_NOPROXY, "");
    if (!IsBlank(request.userName)) {
        set(CURLOPT_USERNAME, request.userName.c_str());
    }
    if (!IsBlank(request.password)) {
        set(CURLOPT_PASSWORD, request.password.c_str());
    }
    set(CURLOPT_HTTPAUTH, CURLAUTH_ANY);
    if (post) {
        set(CURLOPT_POST, 1L);
        set(CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request.postData.size()));
        set(CURLOPT_COPYPOSTFIELDS, request.postData.c_str());
    }
    if (!request.verb.empty() && request.verb != "GET" && request.verb != "POST") {
        set(CURLOPT_CUSTOMREQUEST, request.verb.c_str());
    }
    set(CURLOPT_WRITEFUNCTION, OnBody);
    set(CURLOPT_WRITEDATA, &exchange);
    set(CURLOPT_HEADERFUNCTION, OnHeader);
    set(CURLOPT_HEADERDATA, &exchange);
    return ok;
}

// Runs curl until the exchange is over, the deadline passes or a stop is
// requested. True only when the exchange ended by itself in time; a failed
// connection or a broken-off body also ends it, with what has arrived.
bool Transfer(CURL* easy, FetchControl& control) {
    const std::unique_ptr<CURLM, MultiCleanup> multi(curl_multi_init());
    if (!multi || curl_multi_add_handle(multi.get(), easy) != CURLM_OK) {
        return false;
    }
    control.attach(multi.get());
    bool ended = false;
    while (!control.stopped() && Clock::now() < control.deadline()) {
        int running = 0;
        if (curl_multi_perform(multi.get(), &running) != CURLM_OK || running == 0) {
            ended = true;
            break;
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(control.deadline() - Clock::now())
                .count();
        const int waitMs = static_cast<int>(std::clamp<long long>(left, 1, kLongestPollMs));
        curl_multi_poll(multi.get(), nullptr, 0, waitMs, nullptr);
    }
    control.detach();
    curl_multi_remove_handle(multi.get(), easy);
    return ended && !control.stopped() && Clock::now() <= control.deadline();
}

// The worker: reads the request out of the block, empties it, performs the
// exchange and writes the result. After an early end the block stays empty.
void FetchWorker(FetchBlock* block, FetchControl& control) {
    if (block == nullptr) {
        return;
    }
    block->rewind();
    if (block->readText() != kRequestMarker) {
        return;
    }
    FetchRequest request;
    for (std::string* text : {&request.url, &request.verb, &request.proxy, &request.userName,
                              &request.password, &request.extraHeaders, &request.postData}) {
        *text = block->readText();
    }
    block->clear();

    const std::string verb = AsciiUpper(request.verb);
    const bool post = verb == "POST";
    if (!post && !verb.empty() && verb != "GET") {
        return;
    }
    const HeaderList headers = CurlHeaders(
        HeaderBlock(request.extraHeaders, request.url, post && !request.postData.empty()),
        control.cookieHeader());
    Exchange exchange;
    const std::unique_ptr<CURL, EasyCleanup> easy(curl_easy_init());
    if (!headers || !easy || !Configure(easy.get(), request, post, headers.get(), exchange) ||
        !Transfer(easy.get(), control)) {
        return;
    }
    block->write(kResultMarker);
    block->write(exchange.headers);
    block->write(exchange.body);
}

bool CurlReady() {
    static const bool ready = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    return ready;
}

bool Cancelled(const FetchContext& context) {
    return context.cancel != nullptr && context.cancel->load();
}

} // namespace

void CookieJar::store(std::string_view host, std::string_view name, std::string_view data) {
    auto hostIt = hosts_.find(host);
    if (hostIt == hosts_.end()) {
        hostIt = hosts_.emplace(std::string(host), std::vector<Cookie>{}).first;
    }
    for (Cookie& cookie : hostIt->second) {
        if (cookie.name == name) {
            cookie.data = data;
            return;
        }
    }
    hostIt->second.push_back(Cookie{std::string(name), std::string(data)});
}

void CookieJar::storeFromHeaders(std::string_view host, std::string_view headerText) {
    constexpr std::string_view kSetCookie = "Set-Cookie: ";
    if (!ContainsIgnoreCase(headerText, kSetCookie)) {
        return;
    }
    for (std::string_view line : SplitText(headerText, "\n")) {
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        if (!ContainsIgnoreCase(line, kSetCookie)) {
            continue;
        }
        const std::string_view cookie = line.substr(kSetCookie.size());
        const TextPos equals = FindText(cookie, "=");
        if (equals == kNotFound) {
            store(host, "", cookie);
        } else {
            const auto nameLength = static_cast<std::size_t>(equals - 1);
            store(host, cookie.substr(0, nameLength), cookie.substr(nameLength + 1));
        }
    }
}

std::string CookieJar::data(std::string_view host, std::string_view name) const {
    const auto hostIt = hosts_.find(host);
    if (hostIt != hosts_.end()) {
        for (const Cookie& cookie : hostIt->second) {
            if (cookie.name == name) {
                return cookie.data;
            }
        }
    }
    return {};
}

std::string CookieJar::requestHeader(std::string_view host) const {
    std::string header;
    const auto hostIt = hosts_.find(host);
    if (hostIt == hosts_.end()) {
        return header;
    }
    for (const Cookie& cookie : hostIt->second) {
        const std::string_view data = cookie.data;
        const std::string_view value = TrimBlanks(data.substr(0, data.find(';')));
        if (!header.empty()) {
            header += "; ";
        }
        if (!cookie.name.empty()) {
            header += cookie.name + "=";
        }
        header += value;
    }
    return header;
}

Bytes HttpFetch(const FetchRequest& request, int timeoutSeconds, const FetchContext& context,
                std::string* responseHeaders) {
    const auto deadline =
        Clock::now() + std::chrono::seconds(timeoutSeconds > 0 ? timeoutSeconds : 90);
    std::exception_ptr pumpError;
    Bytes body;
    try {
        if (responseHeaders != nullptr) {
            responseHeaders->clear();
        }
        if (Cancelled(context) || !CurlReady()) {
            return {};
        }
        FetchBlock block;
        for (const std::string_view text :
             {kRequestMarker, std::string_view(request.url), std::string_view(request.verb),
              std::string_view(request.proxy), std::string_view(request.userName),
              std::string_view(request.password), std::string_view(request.extraHeaders),
              std::string_view(request.postData)}) {
            block.write(text);
        }
        const std::string host = UrlHost(request.url);
        FetchControl control(
            deadline, context.cookies != nullptr ? context.cookies->requestHeader(host) : "");

        bool finished = false;
        {
            std::thread worker([&block, &control] {
                try {
                    FetchWorker(&block, control);
                } catch (...) {
                    // Out of memory; the block holds no result.
                }
                control.markFinished();
            });
            struct StopAndJoin {
                FetchControl& control;
                std::thread& thread;
                ~StopAndJoin() {
                    control.stop();
                    thread.join();
                }
            } joinAtExit{control, worker};

            for (;;) {
                const auto left = std::max(deadline - Clock::now(), Clock::duration::zero());
                finished = control.waitFinished(std::min<Clock::duration>(kPumpInterval, left));
                if (finished || Clock::now() >= deadline || Cancelled(context)) {
                    break;
                }
                if (context.pump) {
                    try {
                        context.pump();
                    } catch (...) {
                        pumpError = std::current_exception();
                        break;
                    }
                }
            }
        }
        block.rewind();
        if (finished && block.readText() == kResultMarker) {
            std::string headers = block.readText();
            body = block.readBytes();
            if (context.cookies != nullptr) {
                context.cookies->storeFromHeaders(host, headers);
            }
            if (responseHeaders != nullptr) {
                *responseHeaders = std::move(headers);
            }
        }
    } catch (...) {
        body.clear();
    }
    if (pumpError) {
        std::rethrow_exception(pumpError);
    }
    return body;
}

} // namespace logdesk
