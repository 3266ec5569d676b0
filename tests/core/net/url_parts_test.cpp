#include "core/net/url_parts.h"

#include <gtest/gtest.h>

namespace logdesk {
namespace {

TEST(UrlPartsTest, SplitsHostPortAndPath) {
    const std::string url = "http://SRV01:8080/a/b?x=1";
    EXPECT_EQ(UrlHost(url), "srv01");
    EXPECT_EQ(UrlHost(url, true), "srv01:8080");
    EXPECT_EQ(UrlPath(url), "/a/b?x=1");
    EXPECT_EQ(UrlPort(url), 8080);

    EXPECT_EQ(UrlHost("Example.COM/x/y"), "example.com");
    EXPECT_EQ(UrlPath("Example.COM/x/y"), "/x/y");
    EXPECT_EQ(UrlPort("Example.COM/x/y"), 80);
    EXPECT_EQ(UrlHost("see http://b.cn/q"), "b.cn");
}

TEST(UrlPartsTest, KeepsTheOddCasesOfItsSearches) {
    // "ht" is found first inside "http://", so the path starts at its "/".
    EXPECT_EQ(UrlPath("http://ht/x"), "//ht/x");
    EXPECT_EQ(UrlPath("http://host"), "/");
    EXPECT_EQ(UrlPath(""), "/");
    EXPECT_EQ(UrlHost("http://"), "");
    EXPECT_EQ(UrlPort("http://host:/x"), 0);
    EXPECT_EQ(UrlPort("http://host:x/"), 0);
    EXPECT_EQ(UrlPort("http://host: 81.9/"), 81);
}

TEST(UrlPartsTest, LowerCaseSparesDoubleByteCharacters) {
    // 0x81 0x41 is one character whose second byte looks like 'A'.
    EXPECT_EQ(UrlHost("http://\x81\x41Q.cn/"), "\x81\x41q.cn");
    EXPECT_EQ(UrlPath("http://\x81\x41Q.cn/p"), "/p");
}

} // namespace
} // namespace logdesk
