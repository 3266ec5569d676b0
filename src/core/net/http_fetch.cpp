#include "http_fetch.h"

#include "core/text/gbk_text.h"
#include "url_parts.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <curl/curl.h>
#include <exception>
#include <initializer_list>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <utility>

namespace logdesk {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::string_view kAgent = "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)";
constexpr std::string_view kAcceptLine =
    "Accept: image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, "
    "application/x-shockwave-flash, application/vnd.ms-excel, application/vnd.ms-powerpoint, "
    "application/msword, */*\r\n";
constexpr auto kPumpInterval = std::chrono::milliseconds(10);
// Upper bound of one network wait in the worker; a stop request or the
// deadline cut it short anyway.
constexpr int kLongestPollMs = 1000;

constexpr std::string_view kDeadlinePassed = "deadline passed before the response was complete";
constexpr std::string_view kHeadCutShort = "connection closed before the end of the response head";
constexpr std::string_view kCancelled = "cancelled by the caller";
constexpr std::string_view kCurlUnusable = "curl could not be set up for the request";

// How the worker's exchange ended: the response, or why there is none.
struct FetchResult {
    bool ok = false;
    std::string error{};
    std::string headers{};
    Bytes body{};
};

// What the caller hands the worker and the worker hands back. The caller
// fills it before the worker starts; from then until the worker has been
// joined it is the worker's alone, so it needs no lock.
struct FetchBlock {
    FetchRequest request;
    // A copy of the caller's jar: the worker sends from it and adds the
    // cookies of every response to it. Absent when the caller keeps none.
    std::optional<CookieJar> cookies;
    // The header blocks that set cookies, each with the host of its
    // response, in the order they came, for the caller's own jar.
    std::vector<std::pair<std::string, std::string>> cookieBlocks;
    FetchResult result;
};

// What the waiting thread and one worker share besides the block: the
// deadline, the stop request (which wakes the worker's network wait at once)
// and the worker's end.
class FetchControl {
public:
    explicit FetchControl(Clock::time_point deadline) : deadline_(deadline) {}

    Clock::time_point deadline() const { return deadline_; }

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

std::string AsciiLower(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c + 32);
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

bool StartsWithIgnoreCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && AsciiLower(text.substr(0, prefix.size())) == prefix;
}

// The lines of a header block less those whose name is one of names (given
// in lower case with their colon).
std::string WithoutLines(std::string_view block, std::initializer_list<std::string_view> names) {
    std::string kept;
    for (const std::string_view line : SplitText(block, "\n")) {
        if (std::none_of(names.begin(), names.end(), [line](std::string_view name) {
                return StartsWithIgnoreCase(line, name);
            })) {
            kept.append(line);
            kept += '\n';
        }
    }
    return kept;
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

// The block as curl's header list, with the given cookies after it unless the
// block brings its own Cookie line.
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

struct UrlCleanup {
    void operator()(CURLU* url) const { curl_url_cleanup(url); }
};

// Where a URL leads, as curl reads it, in lower case with the scheme's port
// filled in; all empty when curl cannot read it.
struct Origin {
    std::string scheme;
    std::string host;
    std::string port;
    bool operator==(const Origin&) const = default;
};

Origin OriginOf(const std::string& url) {
    Origin origin;
    const std::unique_ptr<CURLU, UrlCleanup> handle(curl_url());
    if (!handle || curl_url_set(handle.get(), CURLUPART_URL, url.c_str(), 0) != CURLUE_OK) {
        return origin;
    }
    for (const auto& [part, text] :
         {std::pair{CURLUPART_SCHEME, &origin.scheme}, std::pair{CURLUPART_HOST, &origin.host},
          std::pair{CURLUPART_PORT, &origin.port}}) {
        char* value = nullptr;
        if (curl_url_get(handle.get(), part, &value, CURLU_DEFAULT_PORT) == CURLUE_OK &&
            value != nullptr) {
            *text = AsciiLower(value);
        }
        curl_free(value);
    }
    return origin;
}

// The URL of the first request, rebuilt from the parts the URL routines find.
// A URL that starts with "https://" (published lists, never the IP lookup's
// pages) is split as the same URL over http and asked for over TLS.
bool IsTls(const std::string& url) {
    return url.size() > 8 && EqualsIgnoreAsciiCase(url.substr(0, 8), "https://");
}

// The URL as the URL routines read it: an https URL as the same over http.
std::string PlainUrl(const std::string& url) {
    return IsTls(url) ? "http://" + url.substr(8) : url;
}

std::string FirstTarget(const std::string& url) {
    const bool tls = IsTls(url);
    const std::string plain = PlainUrl(url);
    const int port = UrlPort(plain);
    std::string target = (tls ? "https://" : "http://") + UrlHost(plain);
    if (port != 80 && port != 0) {
        target += ':' + DecimalText(port);
    }
    return target + EncodeRequestTarget(UrlPath(plain));
}

// What one request of the exchange collects; curl calls back on the worker
// thread. The body and the header bytes are each held to limit.
struct Hop {
    enum class Over { kNothing, kBody, kHeaders };

    CURL* easy = nullptr;
    std::size_t limit = kMaxBodyBytes;
    Bytes body{};
    std::string headers{};
    bool headersEnded = true;
    std::size_t headerBytes = 0;
    Over over = Over::kNothing;
    // Every header block of the hop that sets cookies.
    std::vector<std::string> cookieBlocks{};
};

// Room for count more bytes: the announced length at once when it is known
// and within the limit, else doubling, never beyond the limit.
void MakeRoom(Hop& hop, std::size_t count) {
    Bytes& body = hop.body;
    std::size_t wanted = body.size() + count;
    if (wanted <= body.capacity()) {
        return;
    }
    curl_off_t announced = -1;
    if (body.empty() &&
        curl_easy_getinfo(hop.easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &announced) == CURLE_OK &&
        announced > 0) {
        wanted = std::max<std::size_t>(
            wanted, std::min<std::uint64_t>(static_cast<std::uint64_t>(announced), hop.limit));
    } else {
        wanted = std::max(wanted, std::min(hop.limit, 2 * body.capacity()));
    }
    body.reserve(wanted);
}

std::size_t OnBody(char* data, std::size_t size, std::size_t count, void* user) {
    auto& hop = *static_cast<Hop*>(user);
    const std::size_t bytes = size * count;
    if (bytes > hop.limit - hop.body.size()) {
        hop.over = Hop::Over::kBody;
        return 0;
    }
    try {
        MakeRoom(hop, bytes);
        hop.body.insert(hop.body.end(), data, data + bytes);
        return bytes;
    } catch (...) {
        return 0;
    }
}

// Every response of the hop (interim 1xx, an authentication challenge, the
// final one) brings its own header block; only the last one is kept.
std::size_t OnHeader(char* data, std::size_t size, std::size_t count, void* user) {
    auto& hop = *static_cast<Hop*>(user);
    const std::size_t bytes = size * count;
    if (bytes > hop.limit - hop.headerBytes) {
        hop.over = Hop::Over::kHeaders;
        return 0;
    }
    hop.headerBytes += bytes;
    try {
        const std::string_view line(data, bytes);
        if (hop.headersEnded && line.starts_with("HTTP/")) {
            hop.headers.clear();
            hop.headersEnded = false;
        }
        hop.headers += line;
        if (line == "\r\n" || line == "\n") {
            hop.headersEnded = true;
            if (ContainsIgnoreCase(hop.headers, "Set-Cookie: ")) {
                hop.cookieBlocks.push_back(hop.headers);
            }
        }
        return bytes;
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

// The options every request of the exchange shares.
bool ConfigureExchange(CURL* easy, const FetchRequest& request, char* errorText) {
    const std::string agent(kAgent);
    bool ok = true;
    const auto set = [&](CURLoption option, auto value) {
        ok = ok && curl_easy_setopt(easy, option, value) == CURLE_OK;
    };
    set(CURLOPT_PATH_AS_IS, 1L);
    set(CURLOPT_PROTOCOLS_STR, "http,https");
    set(CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    set(CURLOPT_NOSIGNAL, 1L);
    set(CURLOPT_USERAGENT, agent.c_str());
    // An empty proxy explicitly means direct, whatever the environment says;
    // an empty no-proxy list sends every host through a given proxy.
    set(CURLOPT_PROXY, IsBlank(request.proxy) ? "" : request.proxy.c_str());
    set(CURLOPT_PROXYTYPE, static_cast<long>(CURLPROXY_HTTP));
    set(CURLOPT_NOPROXY, "");
    set(CURLOPT_HTTPAUTH, CURLAUTH_ANY);
    // A length announced above the cap fails before any of the body comes.
    set(CURLOPT_MAXFILESIZE_LARGE,
        static_cast<curl_off_t>(std::min<std::uint64_t>(
            request.maxBodyBytes,
            static_cast<std::uint64_t>(std::numeric_limits<curl_off_t>::max()))));
    set(CURLOPT_ERRORBUFFER, errorText);
    set(CURLOPT_WRITEFUNCTION, OnBody);
    set(CURLOPT_HEADERFUNCTION, OnHeader);
    return ok;
}

// The options of one request: its URL, verb, header list and, at the first
// request's origin only, the credentials.
bool ConfigureHop(CURL* easy, const std::string& url, const std::string& verb, bool post,
                  bool atHome, const FetchRequest& request, const curl_slist* headers, Hop& hop) {
    bool ok = true;
    const auto set = [&](CURLoption option, auto value) {
        ok = ok && curl_easy_setopt(easy, option, value) == CURLE_OK;
    };
    set(CURLOPT_URL, url.c_str());
    set(CURLOPT_HTTPHEADER, headers);
    set(CURLOPT_USERNAME,
        atHome && !IsBlank(request.userName) ? request.userName.c_str() : nullptr);
    set(CURLOPT_PASSWORD,
        atHome && !IsBlank(request.password) ? request.password.c_str() : nullptr);
    if (post) {
        set(CURLOPT_POST, 1L);
        set(CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request.postData.size()));
        set(CURLOPT_COPYPOSTFIELDS, request.postData.c_str());
    } else {
        set(CURLOPT_HTTPGET, 1L);
    }
    const bool custom = !verb.empty() && verb != "GET" && verb != "POST";
    set(CURLOPT_CUSTOMREQUEST, custom ? verb.c_str() : nullptr);
    set(CURLOPT_WRITEDATA, &hop);
    set(CURLOPT_HEADERDATA, &hop);
    return ok;
}

std::string Reason(CURLcode code, const Hop& hop, const char* errorText) {
    if (hop.over == Hop::Over::kBody || code == CURLE_FILESIZE_EXCEEDED) {
        return "response body over the limit of " +
               DecimalText(static_cast<std::int64_t>(hop.limit)) + " bytes";
    }
    if (hop.over == Hop::Over::kHeaders) {
        return "response headers over the limit of " +
               DecimalText(static_cast<std::int64_t>(hop.limit)) + " bytes";
    }
    return errorText[0] != '\0' ? errorText : curl_easy_strerror(code);
}

// Runs one request until curl reports its end, the deadline passes or a stop
// is requested. The empty text when it ended well and in time, else why not.
std::string Transfer(CURLM* multi, CURL* easy, const Hop& hop, const char* errorText,
                     const FetchControl& control) {
    if (curl_multi_add_handle(multi, easy) != CURLM_OK) {
        return std::string(kCurlUnusable);
    }
    std::string reason;
    for (;;) {
        if (control.stopped()) {
            reason = kCancelled;
            break;
        }
        if (Clock::now() >= control.deadline()) {
            reason = kDeadlinePassed;
            break;
        }
        int running = 0;
        const CURLMcode status = curl_multi_perform(multi, &running);
        if (status != CURLM_OK) {
            reason = curl_multi_strerror(status);
            break;
        }
        std::optional<CURLcode> result;
        int queued = 0;
        while (const CURLMsg* message = curl_multi_info_read(multi, &queued)) {
            if (message->msg == CURLMSG_DONE && message->easy_handle == easy) {
                result = message->data.result;
            }
        }
        if (result) {
            if (*result != CURLE_OK) {
                reason = Reason(*result, hop, errorText);
            } else if (!hop.headersEnded || hop.headers.empty()) {
                // curl takes a close in the middle of the head for the end of
                // a response without body.
                reason = kHeadCutShort;
            } else if (Clock::now() > control.deadline()) {
                reason = kDeadlinePassed;
            }
            break;
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(control.deadline() - Clock::now())
                .count();
        const int waitMs = static_cast<int>(std::clamp<long long>(left, 1, kLongestPollMs));
        curl_multi_poll(multi, nullptr, 0, waitMs, nullptr);
    }
    curl_multi_remove_handle(multi, easy);
    return reason;
}

bool FollowsLocation(long status) {
    return (status >= 300 && status <= 303) || status == 307 || status == 308;
}

// The worker: performs the exchange, request after request as the redirects
// lead, and leaves its outcome in the block.
void FetchWorker(FetchBlock& block, FetchControl& control) {
    const FetchRequest& request = block.request;
    FetchResult& result = block.result;
    std::string verb = request.verb;
    bool post = AsciiUpper(verb) == "POST";
    if (!post && !verb.empty() && AsciiUpper(verb) != "GET") {
        result.error = "the verb " + verb + " is neither GET nor POST";
        return;
    }
    char errorText[CURL_ERROR_SIZE] = {};
    const std::unique_ptr<CURL, EasyCleanup> easy(curl_easy_init());
    const std::unique_ptr<CURLM, MultiCleanup> multi(curl_multi_init());
    if (!easy || !multi || !ConfigureExchange(easy.get(), request, errorText)) {
        result.error = kCurlUnusable;
        return;
    }
    control.attach(multi.get());
    struct Detach {
        FetchControl& control;
        ~Detach() { control.detach(); }
    } detachAtExit{control};

    std::string url = FirstTarget(request.url);
    std::string host = UrlHost(PlainUrl(request.url));
    const Origin home = OriginOf(url);
    bool atHome = true;
    for (int redirects = 0;; ++redirects) {
        const std::string extraHeaders =
            atHome ? request.extraHeaders
                   : WithoutLines(request.extraHeaders, {"authorization:", "cookie:"});
        const HeaderList headers =
            CurlHeaders(HeaderBlock(extraHeaders, request.url, post && !request.postData.empty()),
                        block.cookies ? block.cookies->requestHeader(host) : "");
        Hop hop{.easy = easy.get(), .limit = request.maxBodyBytes};
        errorText[0] = '\0';
        if (!headers ||
            !ConfigureHop(easy.get(), url, verb, post, atHome, request, headers.get(), hop)) {
            result.error = kCurlUnusable;
            return;
        }
        std::string reason = Transfer(multi.get(), easy.get(), hop, errorText, control);
        if (block.cookies) {
            for (std::string& cookies : hop.cookieBlocks) {
                block.cookies->storeFromHeaders(host, cookies);
                block.cookieBlocks.emplace_back(host, std::move(cookies));
            }
        }
        if (!reason.empty()) {
            result.error = std::move(reason);
            return;
        }
        long status = 0;
        const char* location = nullptr;
        curl_easy_getinfo(easy.get(), CURLINFO_RESPONSE_CODE, &status);
        curl_easy_getinfo(easy.get(), CURLINFO_REDIRECT_URL, &location);
        if (!FollowsLocation(status) || location == nullptr) {
            result.ok = true;
            result.headers = std::move(hop.headers);
            result.body = std::move(hop.body);
            return;
        }
        if (redirects == kMaxRedirects) {
            result.error = "Maximum (" + DecimalText(kMaxRedirects) + ") redirects followed";
            return;
        }
        url = EncodeRequestTarget(location);
        const Origin next = OriginOf(url);
        host = next.host;
        atHome = !home.host.empty() && next == home;
        if (post && status >= 301 && status <= 303) {
            post = false;
            verb.clear();
        }
    }
}

bool CurlReady() {
    static const bool ready = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    return ready;
}

bool Cancelled(const FetchContext& context) {
    return context.cancel.cancelled();
}

FetchResult Failed(std::string_view reason) {
    FetchResult result;
    result.error = reason;
    return result;
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

namespace {

FetchResult Exchange(const FetchRequest& request, int timeoutSeconds, const FetchContext& context) {
    const auto deadline =
        Clock::now() + std::chrono::seconds(timeoutSeconds > 0 ? timeoutSeconds : 90);
    std::exception_ptr pumpError;
    FetchResult result;
    try {
        if (Cancelled(context)) {
            return Failed(kCancelled);
        }
        if (!CurlReady()) {
            return Failed(kCurlUnusable);
        }
        FetchBlock block;
        block.request = request;
        if (context.cookies != nullptr) {
            block.cookies = *context.cookies;
        }
        FetchControl control(deadline);

        bool finished = false;
        std::string_view reason = kDeadlinePassed;
        {
            std::thread worker([&block, &control] {
                try {
                    FetchWorker(block, control);
                } catch (...) {
                    block.result = FetchResult{};
                    block.result.error = "out of memory";
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
                if (finished || Clock::now() >= deadline) {
                    break;
                }
                if (Cancelled(context)) {
                    reason = kCancelled;
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
        if (!finished) {
            result = Failed(reason);
        } else {
            result = std::move(block.result);
            if (result.ok && context.cookies != nullptr) {
                for (const auto& [host, headers] : block.cookieBlocks) {
                    context.cookies->storeFromHeaders(host, headers);
                }
            }
        }
    } catch (const std::system_error&) {
        result = FetchResult{};
        result.error = "no thread";
    } catch (...) {
        result = FetchResult{};
        result.error = "out of memory";
    }
    if (pumpError) {
        std::rethrow_exception(pumpError);
    }
    return result;
}

} // namespace

Result<FetchResponse> HttpExchange(const FetchRequest& request, int timeoutSeconds,
                                   const FetchContext& context) {
    FetchResult result = Exchange(request, timeoutSeconds, context);
    if (!result.ok) {
        const int code = result.error == kDeadlinePassed ? ETIMEDOUT
                         : result.error == kCancelled    ? ECANCELED
                                                         : 0;
        return Error{"cannot fetch", {}, std::move(result.error), code};
    }
    return FetchResponse{std::move(result.headers), std::move(result.body)};
}

} // namespace logdesk
