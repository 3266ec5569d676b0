#include "core/coverage/url_key.h"

#include <gtest/gtest.h>
#include <random>

namespace logdesk {
namespace {

struct Pairing {
    const char* siteUrl;
    const char* stem;
    const char* query;
    bool meet;
};

// A sitemap URL and a logged request meet exactly when their keys are equal.
TEST(UrlKeyTest, SitemapUrlsMeetTheRequestsForTheSamePage) {
    const Pairing pairings[] = {
        // The scheme, the host and a default port do not count; the path is
        // the whole key when the query is empty or "-".
        {"https://Example.com:443/a.html", "/a.html", "-", true},
        {"http://example.com:80/a.html?", "/a.html", "-", true},
        {"http://example.com", "/", "-", true},
        // A listed "?-" can only ever be logged as no query.
        {"https://example.com/a.html?-", "/a.html", "-", true},
        {"https://example.com/a.html?%2D", "/a.html", "%2d", true},
        {"https://example.com/a.html?%2D", "/a.html", "-", false},
        {"https://example.com/a.html#top", "/a.html", "-", true},
        // Percent escapes mean their bytes, in either hex case, raw or not.
        {"https://example.com/%E4%B8%AD%E6%96%87.html", "/\xE4\xB8\xAD\xE6\x96\x87.html", "-",
         true},
        {"https://example.com/%e4%b8%ad.html", "/%E4%B8%AD.html", "-", true},
        {"https://example.com/%7Euser/", "/~user/", "-", true},
        {"https://example.com/a?q=%e4%b8%ad", "/a", "q=\xE4\xB8\xAD", true},
        {"https://example.com/a?q=%41", "/a", "q=A", true},
        // IIS logs a space in the path as "+".
        {"https://example.com/my%20photo.jpg", "/my+photo.jpg", "-", true},
        {"https://example.com/my+photo.jpg", "/my+photo.jpg", "-", true},
        // Dot segments, spelt raw or escaped.
        {"https://example.com/a/./b/../c.html", "/a/c.html", "-", true},
        {"https://example.com/a/%2E%2E/c.html", "/c.html", "-", true},
        {"https://example.com/../c.html", "/c.html", "-", true},
        // An escaped "/" or "?" is data, not structure: a decoded stem that
        // holds a "?" meets the sitemap's %3F.
        {"https://example.com/a%2Fb", "/a/b", "-", false},
        {"https://example.com/a%2fb", "/a%2Fb", "-", true},
        {"https://example.com/a%3Fb", "/a?b", "-", true},
        {"https://example.com/a%3Fb", "/a", "b", false},
        // Delimiters of the query keep their meaning.
        {"https://example.com/s?a=1%262", "/s", "a=1&2", false},
        {"https://example.com/s?a=1%3D2", "/s", "a=1=2", false},
        {"https://example.com/s?q=a%2Bb", "/s", "q=a+b", false},
        {"https://example.com/s?q=a+b", "/s", "q=a+b", true},
        {"https://example.com/s?q=a%20b", "/s", "q=a%20b", true},
        // What is not folded: path case, a trailing "/", "//", the order of
        // the parameters, a "%" starting no escape against its own escape.
        {"https://example.com/About.html", "/about.html", "-", false},
        {"https://example.com/dir/", "/dir", "-", false},
        {"https://example.com//a", "/a", "-", false},
        {"https://example.com/s?a=1&b=2", "/s", "b=2&a=1", false},
        {"https://example.com/s?a=1&b=2", "/s", "a=1&b=2", true},
        {"https://example.com/100%", "/100%25", "-", true},
        {"https://example.com/a?b", "/a", "-", false},
    };
    for (const Pairing& p : pairings) {
        const auto site = SplitSiteUrl(p.siteUrl);
        ASSERT_TRUE(site) << p.siteUrl;
        EXPECT_EQ(site->key == LogUrlKey(p.stem, p.query), p.meet)
            << p.siteUrl << " key " << site->key << " against " << p.stem << " " << p.query
            << " key " << LogUrlKey(p.stem, p.query);
    }
}

TEST(UrlKeyTest, AKeyIsItsOwnKeyWhenLogged) {
    // What the coverage page shows for a URL never fetched is its key; read
    // back as a request it must still name the same page.
    for (const char* url : {"https://example.com/a%20b/%3F/%25x?q=%26&r=a+b%2B#f",
                            "https://example.com/a/../%2e/b?", "http://example.com/\x01%7F",
                            "https://example.com/a?%2D"}) {
        const auto site = SplitSiteUrl(url);
        ASSERT_TRUE(site) << url;
        const std::size_t mark = site->key.find('?');
        const std::string stem = site->key.substr(0, mark);
        const std::string query = mark == std::string::npos ? "-" : site->key.substr(mark + 1);
        EXPECT_EQ(LogUrlKey(stem, query), site->key) << url;
        EXPECT_EQ(site->key.find_first_of(std::string_view("\x01\x7F #", 4)), std::string::npos)
            << site->key;
    }
}

TEST(UrlKeyTest, HostsAreFoldedAndOnlyHttpUrlsHaveOne) {
    EXPECT_EQ(SplitSiteUrl("  HTTPS://User:pw@WWW.Example.COM:443/x \n")->host, "www.example.com");
    EXPECT_EQ(SplitSiteUrl("http://example.com:8080/x")->host, "example.com:8080");
    EXPECT_EQ(SplitSiteUrl("https://example.com:80/x")->host, "example.com:80");
    EXPECT_EQ(SplitSiteUrl("http://example.com:/x")->host, "example.com");
    EXPECT_EQ(SplitSiteUrl("http://[2001:DB8::1]:80/x")->host, "[2001:db8::1]");
    EXPECT_EQ(SplitSiteUrl("http://[2001:db8::1]/x")->host, "[2001:db8::1]");
    for (const char* notUrl : {"/a.html", "ftp://example.com/a", "https:///a", "http://",
                               "example.com/a", "http://example.com:8o/a", "mailto:a@b.c"}) {
        EXPECT_FALSE(SplitSiteUrl(notUrl)) << notUrl;
    }
}

// A logged path and query get the key the same URL gets from a sitemap,
// whichever way the key is made: the common plain paths are copied, the
// rest decoded.
TEST(UrlKeyTest, LoggedRequestsKeyAsTheSameUrlInAList) {
    const std::string alphabet = "/./..a%2e%2F%41+ -=&\x01\x7F\xB0\xA1";
    std::mt19937 rng(3);
    for (int round = 0; round < 20000; ++round) {
        std::string stem = "/";
        std::string query;
        for (std::size_t n = rng() % 12; n > 0; --n) {
            stem += alphabet[rng() % alphabet.size()];
        }
        for (std::size_t n = rng() % 6; n > 0; --n) {
            query += alphabet[rng() % alphabet.size()];
        }
        if (rng() % 4 == 0) {
            query = rng() % 2 == 0 ? "-" : "";
        }
        if (!query.empty() && query.back() == ' ') {
            continue; // a listed URL is trimmed of blanks; a logged cell never ends in one
        }
        const auto listed = SplitSiteUrl("http://h" + stem + "?" + query);
        ASSERT_TRUE(listed);
        std::string appended = "k";
        AppendLogUrlKey(appended, stem, query);
        EXPECT_EQ(LogUrlKey(stem, query), listed->key) << stem << " ? " << query;
        EXPECT_EQ(appended, "k" + listed->key);
    }
}

} // namespace
} // namespace logdesk
