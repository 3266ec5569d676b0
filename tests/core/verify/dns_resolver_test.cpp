#include "core/verify/dns_resolver.h"
#include "support/local_dns_server.h"

#include <atomic>
#include <gtest/gtest.h>
#include <thread>

namespace logdesk {
namespace {

using Names = std::vector<std::string>;
using std::chrono::milliseconds;
using std::chrono::steady_clock;

IpAddress Ip(const std::string& text) {
    const std::optional<IpAddress> address = IpAddress::Parse(text);
    EXPECT_TRUE(address) << text;
    return address.value_or(IpAddress{});
}

ResolverSettings Settings(const LocalDnsServer& server, int timeoutMs = 1000, int attempts = 1) {
    return {.timeoutMs = timeoutMs, .attempts = attempts, .servers = server.servers()};
}

TEST(IpAddressTest, ParsesBothFamiliesAndWritesCanonicalText) {
    EXPECT_EQ(Ip("66.249.66.1").text(), "66.249.66.1");
    EXPECT_EQ(Ip("66.249.66.1").family, IpFamily::V4);
    EXPECT_EQ(Ip("2001:DB8:0:0:0:0:0:1").text(), "2001:db8::1");
    EXPECT_EQ(Ip("2001:db8::1").family, IpFamily::V6);
    // A v4 client on a dual-stack socket is the v4 address.
    EXPECT_EQ(Ip("::ffff:1.2.3.4"), Ip("1.2.3.4"));
    for (const char* bad : {"", "1.2.3", "1.2.3.4.5", "256.1.1.1", " 1.2.3.4", "fe80::1%eth0",
                            "example.com", "1.2.3.4\"/><x", "::ffff:1.2.3.4.5"}) {
        EXPECT_FALSE(IpAddress::Parse(bad)) << bad;
    }
    for (const char* text :
         {"1.2.3.4", "220.181.108.89", "2001:db8::1", "2404:6800:4005:80a::200e"}) {
        EXPECT_EQ(Ip(text).reverseName(), LocalDnsServer::ReverseName(text)) << text;
    }
}

TEST(DnsResolverTest, AnswersAbsentNamesAndFailuresComeBackAsTheyAre) {
    LocalDnsServer server;
    server.addPtr("1.2.3.4", "Other.Example.");
    server.addPtr("1.2.3.4", "crawl-1-2-3-4.googlebot.com");
    server.addPtr("1.2.3.4", "other.example");
    server.addAddress("crawl-1-2-3-4.googlebot.com", "1.2.3.4");
    server.addAddress("crawl-1-2-3-4.googlebot.com", "1.2.3.5");
    server.addAddress("crawl-1-2-3-4.googlebot.com", "2001:db8::4");
    server.addEmptyName(LocalDnsServer::ReverseName("1.2.3.6"));
    server.failName(LocalDnsServer::ReverseName("1.2.3.7"));
    DnsResolver resolver(Settings(server));
    ASSERT_TRUE(resolver.ok()) << resolver.error().reason();

    std::vector<ReverseLookup> reverse(4);
    int index = 0;
    for (const char* ip : {"1.2.3.4", "1.2.3.5", "1.2.3.6", "1.2.3.7"}) {
        resolver.lookupReverse(Ip(ip), [&reverse, i = index++](const ReverseLookup& result) {
            reverse[static_cast<std::size_t>(i)] = result;
        });
    }
    ForwardLookup v4;
    ForwardLookup v6;
    resolver.lookupForward("CRAWL-1-2-3-4.googlebot.com.", IpFamily::V4,
                           [&v4](const ForwardLookup& result) { v4 = result; });
    resolver.lookupForward("crawl-1-2-3-4.googlebot.com", IpFamily::V6,
                           [&v6](const ForwardLookup& result) { v6 = result; });
    EXPECT_TRUE(resolver.run());

    EXPECT_EQ(reverse[0].status, DnsStatus::Answered);
    EXPECT_EQ(reverse[0].names, (Names{"other.example", "crawl-1-2-3-4.googlebot.com"}));
    EXPECT_EQ(reverse[1].status, DnsStatus::NoSuchName);
    EXPECT_EQ(reverse[2].status, DnsStatus::NoRecords);
    EXPECT_EQ(reverse[3].status, DnsStatus::ServerFailed);
    EXPECT_TRUE(reverse[1].names.empty());
    EXPECT_EQ(v4.status, DnsStatus::Answered);
    EXPECT_EQ(v4.addresses, (std::vector<IpAddress>{Ip("1.2.3.4"), Ip("1.2.3.5")}));
    EXPECT_EQ(v6.addresses, (std::vector<IpAddress>{Ip("2001:db8::4")}));
    EXPECT_EQ(resolver.inFlight(), 0);
}

TEST(DnsResolverTest, JoinsRepeatsKeepsAnswersAndAsksAgainAfterAFailure) {
    LocalDnsServer server;
    server.addCrawler("10.0.0.1", "a.example");
    server.failName(LocalDnsServer::ReverseName("10.0.0.2"));
    DnsResolver resolver(Settings(server));
    int calls = 0;
    auto count = [&calls](const ReverseLookup&) { ++calls; };
    resolver.lookupReverse(Ip("10.0.0.1"), count);
    resolver.lookupReverse(Ip("10.0.0.1"), count);
    resolver.lookupReverse(Ip("10.0.0.2"), count);
    EXPECT_TRUE(resolver.run());
    EXPECT_EQ(calls, 3);
    EXPECT_EQ(server.questions(), 2);

    // The answer is kept, the failure is not; nxdomain would be kept too.
    resolver.lookupReverse(Ip("10.0.0.1"), [&](const ReverseLookup& result) {
        ++calls;
        EXPECT_EQ(result.names, Names{"a.example"});
        // Asked from inside a done, answered from the cache in the same run.
        resolver.lookupReverse(Ip("10.0.0.1"), count);
    });
    resolver.lookupReverse(Ip("10.0.0.2"), count);
    EXPECT_TRUE(resolver.run());
    EXPECT_EQ(calls, 6);
    EXPECT_EQ(server.questionsFor(LocalDnsServer::ReverseName("10.0.0.1")), 1);
    EXPECT_EQ(server.questionsFor(LocalDnsServer::ReverseName("10.0.0.2")), 2);
}

TEST(DnsResolverTest, NeverHasMoreQueriesOutstandingThanTheSetting) {
    LocalDnsServer server;
    std::vector<IpAddress> addresses;
    for (int i = 1; i <= 40; ++i) {
        const std::string ip = "10.1.0." + std::to_string(i);
        server.addCrawler(ip, "h" + std::to_string(i) + ".example");
        server.delayName(LocalDnsServer::ReverseName(ip), 60);
        addresses.push_back(Ip(ip));
    }
    ResolverSettings settings = Settings(server);
    settings.maxInFlight = 8;
    DnsResolver resolver(settings);
    int answered = 0;
    int mostSeen = 0;
    for (const IpAddress& address : addresses) {
        resolver.lookupReverse(address, [&](const ReverseLookup& result) {
            answered += result.status == DnsStatus::Answered ? 1 : 0;
            mostSeen = std::max(mostSeen, resolver.inFlight());
        });
    }
    EXPECT_TRUE(resolver.run());
    EXPECT_EQ(answered, 40);
    EXPECT_EQ(server.questions(), 40);
    // All eight slots were used at once, and never a ninth.
    EXPECT_EQ(server.mostUnanswered(), 8);
    EXPECT_LE(mostSeen, 8);
}

TEST(DnsResolverTest, SilentServerTimesOutAfterEveryAttempt) {
    LocalDnsServer server;
    server.setSilent(true);
    DnsResolver resolver(Settings(server, 300, 2));
    std::vector<DnsStatus> statuses;
    for (const char* ip : {"10.2.0.1", "10.2.0.2"}) {
        resolver.lookupReverse(Ip(ip), [&statuses](const ReverseLookup& result) {
            statuses.push_back(result.status);
        });
    }
    const auto start = steady_clock::now();
    EXPECT_TRUE(resolver.run());
    const auto elapsed = steady_clock::now() - start;
    // The first to time out after its attempts makes the run give up on the
    // silent server; the other ends then too, timed out or abandoned.
    ASSERT_EQ(statuses.size(), 2u);
    EXPECT_EQ(statuses[0], DnsStatus::TimedOut);
    EXPECT_TRUE(statuses[1] == DnsStatus::TimedOut || statuses[1] == DnsStatus::Abandoned);
    EXPECT_TRUE(resolver.gaveUp());
    EXPECT_EQ(server.questions(), 4);
    EXPECT_GE(elapsed, milliseconds(550));
    // Two attempts of 300 ms; the margin is for a loaded machine.
    EXPECT_LT(elapsed, milliseconds(600 + 1500));
}

TEST(DnsResolverTest, CancelStopsAtOnceAndNoDoneRunsAfterIt) {
    LocalDnsServer server;
    server.randomDelays(1, 40, 7);
    for (int i = 1; i <= 200; ++i) {
        const std::string ip = "10.3." + std::to_string(i / 100) + "." + std::to_string(i % 100);
        server.addCrawler(ip, "c" + std::to_string(i) + ".example");
    }
    ResolverSettings settings = Settings(server, 5000);
    settings.maxInFlight = 16;
    DnsResolver resolver(settings);
    Cancellation cancel;
    std::atomic<int> delivered{0};
    std::atomic<bool> cancelReturned{false};
    std::atomic<int> late{0};
    for (int i = 1; i <= 200; ++i) {
        const std::string ip = "10.3." + std::to_string(i / 100) + "." + std::to_string(i % 100);
        resolver.lookupReverse(Ip(ip), [&](const ReverseLookup&) {
            late += cancelReturned ? 1 : 0;
            ++delivered;
            // Long enough for the cancel to arrive while a done is running.
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        });
    }
    steady_clock::time_point cancelledAt;
    std::thread canceller([&] {
        const auto giveUp = steady_clock::now() + std::chrono::seconds(5);
        while (delivered < 20 && steady_clock::now() < giveUp) {
            std::this_thread::sleep_for(milliseconds(1));
        }
        cancel.cancel();
        cancelledAt = steady_clock::now();
        cancelReturned = true;
    });
    EXPECT_FALSE(resolver.run(&cancel));
    const auto returnedAt = steady_clock::now();
    canceller.join();
    EXPECT_EQ(late, 0);
    EXPECT_LT(delivered, 200);
    EXPECT_LT(returnedAt - cancelledAt, milliseconds(500));
    EXPECT_EQ(resolver.inFlight(), 0);

    // What had arrived stays cached; the rest is asked for again.
    const int before = server.questions();
    int again = 0;
    for (int i = 1; i <= 200; ++i) {
        const std::string ip = "10.3." + std::to_string(i / 100) + "." + std::to_string(i % 100);
        resolver.lookupReverse(Ip(ip), [&again](const ReverseLookup& result) {
            again += result.status == DnsStatus::Answered ? 1 : 0;
        });
    }
    EXPECT_TRUE(resolver.run());
    EXPECT_EQ(again, 200);
    EXPECT_LE(server.questions() - before, 200 - delivered);
}

TEST(DnsResolverTest, ServerListsAreAddressesWithPortsOrRefused) {
    const Result<std::string> mixed = CheckedDnsServers(" 127.0.0.1:5353, [::1]:53,::1,10.0.0.1");
    ASSERT_TRUE(mixed);
    EXPECT_EQ(*mixed, "127.0.0.1:5353,[::1]:53,[::1]:53,10.0.0.1:53");
    for (const char* bad :
         {"", " ", "127.0.0.1:0", "127.0.0.1:65536", "127.0.0.1:99999",
          "127.0.0.1:", "127.0.0.1:5x", "[::1]:", "[::1]x", ",", "127.0.0.1,", "127.0.0.1,,::1",
          "dns.example", "dns.example:53", "256.0.0.1", "[127.0.0.1:53"}) {
        EXPECT_FALSE(CheckedDnsServers(bad)) << bad;
    }
    EXPECT_TRUE(CheckedDnsServers("[::1]"));
}

TEST(DnsResolverTest, UnusableServerSettingFailsEveryLookup) {
    DnsResolver resolver({.servers = "not a server list"});
    EXPECT_FALSE(resolver.ok());
    EXPECT_FALSE(resolver.error().reason().empty());
    DnsStatus status = DnsStatus::Answered;
    resolver.lookupReverse(Ip("1.2.3.4"),
                           [&status](const ReverseLookup& result) { status = result.status; });
    EXPECT_TRUE(resolver.run());
    EXPECT_EQ(status, DnsStatus::ServerFailed);
}

} // namespace
} // namespace logdesk
