// One HTTP exchange (GET or POST over libcurl) run on a worker thread of its
// own while the calling thread keeps its event loop going, with a deadline.
//
// What goes on the wire, given a request:
// - the verb as given ("GET" when empty), HTTP/1.1, the path and query of
//   UrlPath (bytes that cannot stand in a request line percent-encoded),
//   sent to the host and port of UrlHost / UrlPort; only plain http is asked
//   for, redirects (also to https) are followed;
// - the agent "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)", then the
//   header block: the extra headers unchanged, followed by a built-in Accept,
//   a Referer with the whole URL and "Accept-Language: zh-cn", each only when
//   the block does not already hold such a line (any letter case); for POST
//   data also a form Content-Type (unless given) and its Content-Length; the
//   host's stored cookies unless the block brings a Cookie line;
// - nothing at all for a verb other than GET or POST (any letter case).
// Nothing is cached, so every fetch asks the server.
//
// Redirects (300 to 303, 307 and 308 with a Location) are followed, at most
// kMaxRedirects of them, each as a request of its own: it carries the
// cookies the jar and the responses so far hold for its host (so a cookie set
// by a redirect goes on to the next request); a POST becomes a GET without
// data after 301, 302 and 303 and stays a POST after 307 and 308; the
// credentials and the block's Authorization and Cookie lines go only to the
// scheme, host and port of the first request.
#pragma once

#include "core/base/cancel_token.h"
#include "core/base/result.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace logdesk {

using Bytes = std::vector<std::uint8_t>;

// Cookies servers set, kept per host (as UrlHost gives it: lower case,
// without port, so every port of a host shares them) for the later requests
// of one run. Owned by the caller of HttpFetch and used only on its thread.
// Cookies are never expired or scoped by path or domain.
class CookieJar {
public:
    // data is what follows "name=" on a Set-Cookie line, attributes included
    // ("abc; path=/"); it replaces a cookie of the same name for that host.
    void store(std::string_view host, std::string_view name, std::string_view data);

    // Stores the cookie of every line of a raw response header block that
    // holds "Set-Cookie: " in any letter case: the line less its first 12
    // bytes is name, "=", data (no "=": an empty name and the whole rest as
    // data). Lines end at LF, a CR before it dropped.
    void storeFromHeaders(std::string_view host, std::string_view headerText);

    // The data stored for host and name; empty when there is none.
    std::string data(std::string_view host, std::string_view name) const;

    // The value of a Cookie request header for host, "a=1; b=2", attributes
    // left out; empty when nothing is stored for it.
    std::string requestHeader(std::string_view host) const;

private:
    struct Cookie {
        std::string name;
        std::string data;
    };
    std::map<std::string, std::vector<Cookie>, std::less<>> hosts_;
};

// The largest response body a fetch accepts, in bytes; a larger one fails it.
// Pages the program reads are far smaller, so the cap only stops a server
// that sends without end.
inline constexpr std::size_t kMaxBodyBytes = std::size_t{8} << 20;
inline constexpr int kMaxRedirects = 10;

// The request, all texts GBK. Blank (only ASCII or full-width spaces) proxy,
// user name and password count as absent.
struct FetchRequest {
    // "http://" host [":" port] path and query, split by UrlHost, UrlPath and
    // UrlPort.
    std::string url{};
    // Empty, or GET or POST in any letter case; sent as given.
    std::string verb{};
    // host:port of an HTTP proxy; blank: direct, whatever the environment says.
    std::string proxy{};
    // Server credentials, given when the server asks for them.
    std::string userName{};
    std::string password{};
    // Header lines, each ending in CR LF.
    std::string extraHeaders{};
    std::string postData{};
    // The body cap in bytes. The header blocks of one response (interim and
    // authentication rounds included) are held to the same number of bytes.
    std::size_t maxBodyBytes = kMaxBodyBytes;
};

// The calling side's part in a fetch.
struct FetchContext {
    // Called on the waiting thread about every 10 ms while the worker runs
    // (the GUI passes its event processing). It may start further fetches; the
    // outer one carries on after it returns. Time spent in it counts against
    // the deadline.
    std::function<void()> pump{};
    // Once cancelled the fetch gives up as at its deadline; checked before
    // the start and every 10 ms. Not for stopping a run of lookups between
    // fetches: a fetch that is stopped fails.
    CancelToken cancel{};
    // Cookies to send, and to store those of the response in; none when null.
    CookieJar* cookies = nullptr;
};

// What a fetch brought back: the final response, which arrived whole and in
// time, whatever its HTTP status (error statuses bring their bodies like any
// other).
struct FetchResponse {
    // The raw header block (status line and header lines, each ending in
    // CR LF, then an empty line).
    std::string headers{};
    Bytes body{};
};

// Performs the request. The deadline is timeoutSeconds from the start of the
// call (90 when 0 or less) and holds whatever the server does: at the
// deadline or a cancel the worker is told to stop, which cuts short any wait
// of curl's at once, and is joined before the call returns, so a result that
// comes later is dropped. The cookies of the responses (redirects included)
// go into the context's jar only when the fetch succeeds. The body is moved,
// not copied, from the transfer to the result.
//
// A failure's cause is curl's error text for a failed or broken-off transfer
// (connection refused, a body or chunk cut short, a malformed chunk, a head
// that never ends), or says that the deadline passed (code ETIMEDOUT), that
// the caller cancelled (ECANCELED), that the body cap or the redirect limit
// was reached, or that the verb is neither GET nor POST. Never throws
// itself; an exception from pump leaves the call after the worker has been
// stopped and joined.
Result<FetchResponse> HttpExchange(const FetchRequest& request, int timeoutSeconds = 0,
                                   const FetchContext& context = {});

} // namespace logdesk
