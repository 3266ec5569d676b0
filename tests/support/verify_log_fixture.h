// One log and one set of DNS answers for the tests of the verification's
// table and block rules, so that logdesk-report and the window 蜘蛛真伪 are
// held to the same golden files (tests/data/report_verify.csv,
// verify_block_rules.config, verify_block_list.txt).
//
// Visitors that pass, that pretend (a look-alike domain, another domain, no
// PTR record at all), one whose reverse zone never answers in time, a
// crawler without a published check, and ordinary traffic, which is no claim.
#pragma once

#include "local_dns_server.h"

namespace logdesk::testing {

inline constexpr const char* kVerifyLog = "#Fields: date time c-ip cs(User-Agent)\r\n"
                                          "2013-05-01 00:00:01 1.1.1.1 Baiduspider/2.0\r\n"
                                          "2013-05-01 00:00:02 220.181.108.89 Baiduspider/2.0\r\n"
                                          "2013-05-01 00:00:03 1.1.1.2 Googlebot/2.1\r\n"
                                          "2013-05-01 00:00:04 1.1.1.1 Baiduspider/2.0\r\n"
                                          "2013-05-01 00:00:05 2001:db8::7 Baiduspider/2.0\r\n"
                                          "2013-05-01 00:00:06 220.181.108.89 Baiduspider/2.0\r\n"
                                          "2013-05-01 00:00:07 66.249.66.1 Googlebot/2.1\r\n"
                                          "2013-05-01 00:00:08 1.1.1.9 Baiduspider/2.0\r\n"
                                          "2013-05-01 00:00:09 10.0.0.5 Sosospider\r\n"
                                          "2013-05-01 00:00:10 10.0.0.6 Mozilla/5.0\r\n"
                                          "2013-05-01 00:00:11 1.1.1.2 Googlebot/2.1\r\n"
                                          "2013-05-01 00:00:12 1.1.1.1 Baiduspider/2.0\r\n"
                                          "2013-05-01 00:00:13 220.181.108.89 Baiduspider/2.0\r\n"
                                          "2013-05-01 00:00:14 1.1.1.1 Baiduspider/2.0\r\n";

inline void ServeVerifyAnswers(LocalDnsServer& server) {
    server.addCrawler("220.181.108.89", "baiduspider-220-181-108-89.crawl.baidu.com");
    server.addCrawler("66.249.66.1", "crawl-66-249-66-1.googlebot.com");
    server.addCrawler("1.1.1.1", "crawl.baidu.com.evil.example");
    server.addCrawler("1.1.1.2", "spider.fakebaidu.com");
    server.delayName(LocalDnsServer::ReverseName("1.1.1.9"), 60000);
}

} // namespace logdesk::testing
