#include "core/base/cancellation.h"
#include "core/net/http_fetch.h"
#include "support/local_http_server.h"

#include <future>
#include <gtest/gtest.h>

namespace logdesk {
namespace {

using Strings = std::vector<std::string>;
using std::chrono::steady_clock;

const std::string kAccept =
    "Accept: image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, application/x-shockwave-flash, "
    "application/vnd.ms-excel, application/vnd.ms-powerpoint, application/msword, */*";

std::string Fetch(const FetchRequest& request, const FetchContext& context = {},
                  std::string* headers = nullptr, int timeoutSeconds = 5) {
    const Result<FetchResponse> fetched = HttpExchange(request, timeoutSeconds, context);
    if (headers != nullptr) {
        *headers = fetched ? fetched->headers : std::string();
    }
    return fetched ? std::string(fetched->body.begin(), fetched->body.end()) : std::string();
}

// The header lines of a request after Host and User-Agent.
Strings AddedLines(const std::string& request) {
    const Strings lines = HeadLines(request);
    return lines.size() < 3 ? Strings{} : Strings(lines.begin() + 3, lines.end());
}

LocalHttpServer::Responder Answer(const std::string& body) {
    return [body](const std::string&) { return Reply("200 OK", "", body); };
}

TEST(HttpFetchTest, GetSendsTheFixedHeadersAndReturnsAnyStatusBody) {
    LocalHttpServer server(
        1, [](const std::string&) { return Reply("404 Not Found", "X-Note: 1\r\n", "gone"); });
    const std::string url = server.url("/a/b?x=1");
    std::string headers;
    EXPECT_EQ(Fetch({.url = url}, {}, &headers), "gone");
    EXPECT_TRUE(headers.starts_with("HTTP/1.1 404 Not Found\r\nX-Note: 1\r\n")) << headers;
    EXPECT_TRUE(headers.ends_with("\r\n\r\n"));
    ASSERT_EQ(server.requests().size(), 1u);
    EXPECT_EQ(HeadLines(server.requests()[0]),
              (Strings{"GET /a/b?x=1 HTTP/1.1", "Host: 127.0.0.1:" + std::to_string(server.port()),
                       "User-Agent: Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)", kAccept,
                       "Referer: " + url, "Accept-Language: zh-cn"}));
}

TEST(HttpFetchTest, ExtraHeadersComeFirstAndReplaceBuiltInLines) {
    LocalHttpServer server(1, Answer("ok"));
    EXPECT_EQ(Fetch({.url = server.url("/p"),
                     .verb = "get",
                     .extraHeaders = "X-Token: 7\r\naccept: text/html\r\nREFERER: http://x/\r\n"}),
              "ok");
    ASSERT_EQ(server.requests().size(), 1u);
    EXPECT_EQ(HeadLines(server.requests()[0]).front(), "get /p HTTP/1.1");
    EXPECT_EQ(AddedLines(server.requests()[0]),
              (Strings{"X-Token: 7", "accept: text/html", "REFERER: http://x/",
                       "Accept-Language: zh-cn"}));
}

TEST(HttpFetchTest, PostDataBringsItsTypeAndLengthOtherVerbsSendNothing) {
    // Room for five requests, so that sent verbs would be counted.
    LocalHttpServer server(5, Answer("ok"));
    const std::string url = server.url("/form");
    EXPECT_EQ(Fetch({.url = url, .verb = "Post", .postData = "a=1&b=2"}), "ok");
    Fetch({.url = url,
           .verb = "POST",
           .extraHeaders = "Content-Type: text/plain\r\n",
           .postData = "x"});
    Fetch({.url = url, .verb = "POST"});
    EXPECT_EQ(Fetch({.url = url, .verb = "PUT"}), "");
    EXPECT_EQ(Fetch({.url = url, .verb = "delete"}), "");

    const Strings requests = server.requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(AddedLines(requests[0]),
              (Strings{kAccept, "Referer: " + url, "Accept-Language: zh-cn",
                       "Content-Type: application/x-www-form-urlencoded", "Content-Length: 7"}));
    EXPECT_TRUE(requests[0].ends_with("\r\n\r\na=1&b=2"));
    EXPECT_EQ(AddedLines(requests[1]).front(), "Content-Type: text/plain");
    EXPECT_EQ(AddedLines(requests[1]).size(), 5u);
    // Empty data goes without a content type.
    for (const std::string& line : AddedLines(requests[2])) {
        EXPECT_FALSE(line.starts_with("Content-Type")) << line;
    }
}

TEST(HttpFetchTest, ProxyTakesTheWholeUrlAndBlankMeansDirect) {
    LocalHttpServer server(2, Answer("ok"));
    const std::string proxy = "127.0.0.1:" + std::to_string(server.port());
    EXPECT_EQ(Fetch({.url = "http://127.0.0.1:1/p", .proxy = proxy}), "ok");
    EXPECT_EQ(Fetch({.url = server.url("/d"), .proxy = " \xA1\xA1"}), "ok");
    ASSERT_EQ(server.requests().size(), 2u);
    EXPECT_EQ(HeadLines(server.requests()[0]).front(), "GET http://127.0.0.1:1/p HTTP/1.1");
    EXPECT_EQ(HeadLines(server.requests()[1]).front(), "GET /d HTTP/1.1");
}

TEST(HttpFetchTest, CredentialsAnswerTheServersChallenge) {
    LocalHttpServer server(3, [](const std::string& request) {
        return request.find("\r\nAuthorization: Basic YW5uOnNlY3JldA==\r\n") != std::string::npos
                   ? Reply("200 OK", "", "in")
                   : Reply("401 Unauthorized", "WWW-Authenticate: Basic realm=\"r\"\r\n", "out");
    });
    EXPECT_EQ(Fetch({.url = server.url("/"), .userName = "ann", .password = "secret"}), "in");
    EXPECT_EQ(Fetch({.url = server.url("/"), .userName = "  ", .password = "secret"}), "out");
}

TEST(HttpFetchTest, CookiesOfAnyHeaderLengthGoBackToTheHost) {
    const std::string pad = "X-Pad: " + std::string(2000, 'x') + "\r\n";
    LocalHttpServer first(1, [&pad](const std::string&) {
        return Reply("200 OK", "Set-Cookie: sid=abc; path=/\r\n" + pad + "set-cookie: lang=zh\r\n",
                     "ok");
    });
    LocalHttpServer second(1, Answer("ok"));
    CookieJar jar;
    EXPECT_EQ(Fetch({.url = first.url("/")}, {.cookies = &jar}), "ok");
    EXPECT_EQ(jar.data("127.0.0.1", "sid"), "abc; path=/");
    // Another port of the same host gets them too.
    EXPECT_EQ(Fetch({.url = second.url("/")}, {.cookies = &jar}), "ok");
    ASSERT_EQ(second.requests().size(), 1u);
    EXPECT_EQ(AddedLines(second.requests()[0]).back(), "Cookie: sid=abc; lang=zh");
}

TEST(HttpFetchTest, FollowsRedirectsAndKeepsTheLastHeaders) {
    LocalHttpServer server(2, [](const std::string& request) {
        return request.starts_with("GET /final ") ? Reply("200 OK", "X-Last: 1\r\n", "done")
                                                  : Reply("302 Found", "Location: /final\r\n", "");
    });
    std::string headers;
    EXPECT_EQ(Fetch({.url = server.url("/start")}, {}, &headers), "done");
    EXPECT_TRUE(headers.starts_with("HTTP/1.1 200 OK\r\nX-Last: 1\r\n")) << headers;
}

TEST(HttpFetchTest, CookiesSetByRedirectsGoOnAndStayInTheJar) {
    LocalHttpServer server(3, [](const std::string& request) {
        if (request.starts_with("GET /start ")) {
            return Reply("302 Found", "Set-Cookie: step=1; path=/\r\nLocation: /next\r\n", "");
        }
        if (request.starts_with("GET /next ")) {
            return Reply("302 Found", "Set-Cookie: sid=new\r\nLocation: /final\r\n", "");
        }
        return Reply("200 OK", "", "done");
    });
    CookieJar jar;
    jar.store("127.0.0.1", "sid", "old");
    EXPECT_EQ(Fetch({.url = server.url("/start")}, {.cookies = &jar}), "done");
    const Strings requests = server.requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(AddedLines(requests[0]).back(), "Cookie: sid=old");
    EXPECT_EQ(AddedLines(requests[1]).back(), "Cookie: sid=old; step=1");
    EXPECT_EQ(AddedLines(requests[2]).back(), "Cookie: sid=new; step=1");
    EXPECT_EQ(jar.data("127.0.0.1", "step"), "1; path=/");
    EXPECT_EQ(jar.data("127.0.0.1", "sid"), "new");
}

TEST(HttpFetchTest, RedirectsSwitchPostToGetAsBrowsersDo) {
    LocalHttpServer server(4, [](const std::string& request) {
        if (request.starts_with("POST /see ")) {
            return Reply("303 See Other", "Location: /done\r\n", "");
        }
        if (request.starts_with("POST /keep ")) {
            return Reply("307 Temporary Redirect", "Location: /done\r\n", "");
        }
        return Reply("200 OK", "", "done");
    });
    EXPECT_EQ(Fetch({.url = server.url("/see"), .verb = "POST", .postData = "a=1"}), "done");
    EXPECT_EQ(Fetch({.url = server.url("/keep"), .verb = "POST", .postData = "a=1"}), "done");
    const Strings requests = server.requests();
    ASSERT_EQ(requests.size(), 4u);
    EXPECT_EQ(HeadLines(requests[1]).front(), "GET /done HTTP/1.1");
    EXPECT_TRUE(requests[1].ends_with("\r\n\r\n"));
    for (const std::string& line : AddedLines(requests[1])) {
        EXPECT_FALSE(line.starts_with("Content-")) << line;
    }
    EXPECT_EQ(HeadLines(requests[3]).front(), "POST /done HTTP/1.1");
    EXPECT_TRUE(requests[3].ends_with("\r\n\r\na=1"));
}

TEST(HttpFetchTest, ARedirectElsewhereCarriesNoCredentials) {
    LocalHttpServer other(2, [](const std::string& request) {
        return request.find("Authorization: ") != std::string::npos
                   ? Reply("200 OK", "", "leaked")
                   : Reply("401 Unauthorized", "WWW-Authenticate: Basic realm=\"r\"\r\n", "out");
    });
    LocalHttpServer server(2, [&other](const std::string&) {
        return Reply("302 Found", "Location: " + other.url("/there") + "\r\n", "");
    });
    CookieJar jar;
    jar.store("127.0.0.1", "sid", "j");
    // The caller's own Cookie line stands in for the jar's only where it was
    // meant to go.
    const FetchRequest request{.url = server.url("/here"),
                               .userName = "ann",
                               .password = "secret",
                               .extraHeaders = "Authorization: Basic eDp5\r\nCookie: mine=1\r\n"};
    EXPECT_EQ(Fetch(request, {.cookies = &jar}), "out");
    ASSERT_EQ(server.requests().size(), 1u);
    EXPECT_EQ(AddedLines(server.requests()[0]).front(), "Authorization: Basic eDp5");
    ASSERT_EQ(other.requests().size(), 1u);
    EXPECT_EQ(HeadLines(other.requests()[0]).front(), "GET /there HTTP/1.1");
    const Strings lines = AddedLines(other.requests()[0]);
    EXPECT_EQ(lines, (Strings{kAccept, "Referer: " + request.url, "Accept-Language: zh-cn",
                              "Cookie: sid=j"}));
}

TEST(HttpFetchTest, DeadlineCountsFromTheStartWhateverThePumpDoes) {
    LocalHttpServer silent(1, [](const std::string&) { return std::string(); });
    int pumps = 0;
    std::string headers = "stale";
    const auto start = steady_clock::now();
    EXPECT_EQ(Fetch({.url = silent.url("/")}, {.pump = [&pumps] { ++pumps; }}, &headers, 1), "");
    EXPECT_GE(steady_clock::now() - start, std::chrono::seconds(1));
    EXPECT_LT(steady_clock::now() - start, std::chrono::seconds(3));
    EXPECT_GE(pumps, 20);
    EXPECT_EQ(headers, "");
}

TEST(HttpFetchTest, CancelFlagEndsTheFetch) {
    LocalHttpServer silent(1, [](const std::string&) { return std::string(); });
    Cancellation cancel;
    int pumps = 0;
    const auto start = steady_clock::now();
    EXPECT_EQ(Fetch({.url = silent.url("/")},
                    {.pump =
                         [&] {
                             if (++pumps == 3) {
                                 cancel.cancel();
                             }
                         },
                     .cancel = cancel.token()},
                    nullptr, 0),
              "");
    EXPECT_LT(steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_EQ(pumps, 3);
    // Set before the start, it keeps the request from being sent.
    LocalHttpServer unused(1, Answer("ok"));
    EXPECT_EQ(Fetch({.url = unused.url("/")}, {.cancel = cancel.token()}), "");
    EXPECT_TRUE(unused.requests().empty());
}

TEST(HttpFetchTest, AFetchInsideThePumpRunsToTheEndOfBoth) {
    std::promise<void> innerDone;
    LocalHttpServer outer(1, [seen = innerDone.get_future().share()](const std::string&) {
        seen.wait_for(std::chrono::seconds(5));
        return Reply("200 OK", "", "outer");
    });
    LocalHttpServer inner(1, Answer("inner"));
    std::string innerBody;
    bool innerStarted = false;
    const auto pump = [&] {
        if (!innerStarted) {
            innerStarted = true;
            innerBody = Fetch({.url = inner.url("/")});
            innerDone.set_value();
        }
    };
    EXPECT_EQ(Fetch({.url = outer.url("/")}, {.pump = pump}), "outer");
    EXPECT_EQ(innerBody, "inner");
}

} // namespace
} // namespace logdesk
