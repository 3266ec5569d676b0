// Fetches against servers that misbehave: broken transfers must fail with a
// reason, bodies are capped, and the deadline holds whatever arrives.
#include "core/base/cancellation.h"
#include "core/net/http_fetch.h"
#include "core/net/page_text.h"
#include "support/local_http_server.h"

#include <gtest/gtest.h>

namespace logdesk {
namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;
using Connection = LocalHttpServer::Connection;

// The return of a fetch with a deadline of deadlineSeconds may come this much
// later on a loaded machine; the fetch itself aims at well under 100 ms.
constexpr milliseconds kLateness{400};

struct Timed {
    Result<FetchResponse> result;
    steady_clock::duration elapsed;
};

Timed TimedExchange(const FetchRequest& request, int deadlineSeconds = 5,
                    const FetchContext& context = {}) {
    const auto start = steady_clock::now();
    Result<FetchResponse> result = HttpExchange(request, deadlineSeconds, context);
    return {std::move(result), steady_clock::now() - start};
}

std::string Text(const Bytes& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

LocalHttpServer::Responder Raw(const std::string& answer) {
    return [answer](const std::string&) { return answer; };
}

void ExpectFailure(const Timed& fetch, std::string_view reasonPart, int code = 0) {
    ASSERT_FALSE(fetch.result);
    const Error& error = fetch.result.error();
    EXPECT_NE(error.cause.find(reasonPart), std::string::npos) << error.cause;
    EXPECT_EQ(error.code, code) << error.cause;
}

void ExpectHeldDeadline(const Timed& fetch, int deadlineSeconds) {
    ExpectFailure(fetch, "deadline", ETIMEDOUT);
    EXPECT_GE(fetch.elapsed, std::chrono::seconds(deadlineSeconds));
    EXPECT_LT(fetch.elapsed, std::chrono::seconds(deadlineSeconds) + kLateness);
}

TEST(HttpFetchHostileTest, BrokenTransfersFailWithCurlsReason) {
    const std::string chunked = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
    LocalHttpServer shortChunk(1, Raw(chunked + "100000\r\n0123456789"));
    ExpectFailure(TimedExchange({.url = shortChunk.url("/")}), "transfer closed");

    LocalHttpServer badChunk(1, Raw(chunked + "zz\r\nhello\r\n0\r\n\r\n"));
    ExpectFailure(TimedExchange({.url = badChunk.url("/")}), "chunk");

    LocalHttpServer shortBody(1, Raw("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nabc"));
    ExpectFailure(TimedExchange({.url = shortBody.url("/")}), "transfer closed");

    LocalHttpServer unendedHead(1, Raw("HTTP/1.1 200 OK\r\nX-Half: 1\r\n"));
    ExpectFailure(TimedExchange({.url = unendedHead.url("/")}), "response head");

    // Nothing listens on a port of a server that has gone.
    int port = 0;
    {
        LocalHttpServer gone(0, Raw(""));
        port = gone.port();
    }
    ExpectFailure(TimedExchange({.url = "http://127.0.0.1:" + std::to_string(port) + "/"}),
                  "onnect");

    // No page text either.
    LocalHttpServer page(1, Raw(chunked + "100000\r\n<head><title>cut"));
    const Result<std::string> text = FetchPageText({.url = page.url("/")});
    ASSERT_FALSE(text);
    EXPECT_NE(text.error().cause.find("transfer closed"), std::string::npos);
}

TEST(HttpFetchHostileTest, RedirectLoopStopsAfterTenRedirects) {
    LocalHttpServer loop(
        20, [](const std::string&) { return Reply("302 Found", "Location: /again\r\n", ""); });
    ExpectFailure(TimedExchange({.url = loop.url("/")}), "redirects");
    EXPECT_EQ(loop.requests().size(), 11u);
}

TEST(HttpFetchHostileTest, BodiesAndHeadsLargerThanTheCapFail) {
    const std::string body(1000, 'b');
    LocalHttpServer sized(2, [&body](const std::string&) { return Reply("200 OK", "", body); });
    const Timed fits = TimedExchange({.url = sized.url("/"), .maxBodyBytes = 1000});
    ASSERT_TRUE(fits.result) << fits.result.error().cause;
    EXPECT_EQ(Text(fits.result->body), body);
    ExpectFailure(TimedExchange({.url = sized.url("/"), .maxBodyBytes = 999}), "999 bytes");

    // Chunks with no length announced are counted as they come.
    LocalHttpServer chunks(1, [](const std::string&, Connection& out) {
        if (out.send("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n")) {
            for (int i = 0; i < 5 && out.send("100\r\n" + std::string(256, 'c') + "\r\n"); ++i) {
            }
            out.send("0\r\n\r\n");
        }
    });
    ExpectFailure(TimedExchange({.url = chunks.url("/"), .maxBodyBytes = 1000}), "1000 bytes");

    // Header lines without end fill the same allowance.
    LocalHttpServer heads(1, [](const std::string&, Connection& out) {
        for (bool sent = out.send("HTTP/1.1 200 OK\r\n"); sent; sent = out.send("X-More: 1\r\n")) {
        }
    });
    const Timed head = TimedExchange({.url = heads.url("/"), .maxBodyBytes = 1000}, 1);
    ExpectFailure(head, "1000 bytes");
    EXPECT_LT(head.elapsed, milliseconds(900));
}

TEST(HttpFetchHostileTest, EndlessBodyStopsAtTheDefaultCap) {
    LocalHttpServer endless(1, [](const std::string&, Connection& out) {
        const std::string chunk = "8000\r\n" + std::string(0x8000, 'e') + "\r\n";
        for (bool sent = out.send("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"); sent;
             sent = out.send(chunk)) {
        }
    });
    const Timed fetch = TimedExchange({.url = endless.url("/")}, 2);
    ExpectFailure(fetch, std::to_string(kMaxBodyBytes) + " bytes");
    EXPECT_LT(fetch.elapsed, std::chrono::seconds(2));
}

TEST(HttpFetchHostileTest, DeadlineHoldsWhateverTheServerSends) {
    LocalHttpServer trickledHead(1, [](const std::string&, Connection& out) {
        const std::string line = "X-Slow: 1\r\n";
        for (std::size_t at = 0, sent = out.send("HTTP/1.1 200 OK\r\n"); sent;
             sent = out.send(line.substr(at, 1)), at = (at + 1) % line.size()) {
            std::this_thread::sleep_for(milliseconds(5));
        }
    });
    ExpectHeldDeadline(TimedExchange({.url = trickledHead.url("/")}, 1), 1);

    LocalHttpServer trickledBody(1, [](const std::string&, Connection& out) {
        for (bool sent = out.send("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"); sent;
             sent = out.send("1\r\nx\r\n")) {
            std::this_thread::sleep_for(milliseconds(5));
        }
    });
    ExpectHeldDeadline(TimedExchange({.url = trickledBody.url("/")}, 1), 1);

    LocalHttpServer silent(1, Raw(""));
    ExpectHeldDeadline(TimedExchange({.url = silent.url("/")}, 1), 1);

    const StalledListener stalled;
    ASSERT_NE(stalled.port(), 0);
    ExpectHeldDeadline(TimedExchange({.url = stalled.url("/")}, 1), 1);
}

TEST(HttpFetchHostileTest, CancelAndOtherVerbsFailWithTheirReason) {
    LocalHttpServer silent(1, Raw(""));
    Cancellation cancel;
    int pumps = 0;
    const Timed fetch = TimedExchange({.url = silent.url("/")}, 5,
                                      {.pump =
                                           [&] {
                                               if (++pumps == 3) {
                                                   cancel.cancel();
                                               }
                                           },
                                       .cancel = cancel.token()});
    ExpectFailure(fetch, "cancel", ECANCELED);
    EXPECT_LT(fetch.elapsed, milliseconds(1000));
    ExpectFailure(TimedExchange({.url = silent.url("/"), .verb = "PUT"}), "PUT");
}

TEST(HttpFetchHostileTest, AFailedFetchLeavesTheJarAsItWas) {
    LocalHttpServer server(2, [](const std::string& request) {
        return request.starts_with("GET /start ")
                   ? Reply("302 Found", "Set-Cookie: step=1\r\nLocation: /cut\r\n", "")
                   : std::string(
                         "HTTP/1.1 200 OK\r\nSet-Cookie: last=1\r\nContent-Length: 9\r\n\r\nab");
    });
    CookieJar jar;
    jar.store("127.0.0.1", "sid", "old");
    ExpectFailure(TimedExchange({.url = server.url("/start")}, 5, {.cookies = &jar}),
                  "transfer closed");
    EXPECT_EQ(jar.requestHeader("127.0.0.1"), "sid=old");
}

} // namespace
} // namespace logdesk
