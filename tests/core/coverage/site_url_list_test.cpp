#include "core/coverage/site_list.h"
#include "core/coverage/site_url_list.h"
#include "core/coverage/url_key.h"
#include "core/input/input_fixtures.h"

#include <cerrno>
#include <gtest/gtest.h>

namespace logdesk {
namespace {

using testing::GzipMember;
using testing::ScratchFolder;

std::string Sitemap(const std::vector<std::string>& urls) {
    std::string text = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                       "<urlset xmlns=\"http://www.sitemaps.org/schemas/sitemap/0.9\">\n";
    for (const std::string& url : urls) {
        text += "  <url><loc>" + url + "</loc></url>\n";
    }
    return text + "</urlset>\n";
}

std::string Index(const std::vector<std::string>& locs) {
    std::string text = "<sitemapindex xmlns=\"http://www.sitemaps.org/schemas/sitemap/0.9\">\n";
    for (const std::string& loc : locs) {
        text += "  <sitemap><loc>" + loc + "</loc><lastmod>2024-05-01</lastmod></sitemap>\n";
    }
    return text + "</sitemapindex>\n";
}

std::vector<std::pair<std::string, std::string>> UrlsAndKeys(const SiteUrlList& list) {
    std::vector<std::pair<std::string, std::string>> out;
    for (const SiteUrl& u : list.urls) {
        out.emplace_back(u.url, u.key);
    }
    return out;
}

class SiteUrlListTest : public ::testing::Test {
protected:
    Result<SiteUrlList> read(const std::vector<std::string>& names, SiteUrlOptions options = {}) {
        std::vector<std::string> paths;
        for (const std::string& name : names) {
            paths.push_back(folder_ / name);
        }
        return ReadSiteUrls(paths, options);
    }
    // The failure's path, which must be set, with the folder left out, and its reason.
    std::string failure(const Result<SiteUrlList>& read) {
        if (read) {
            ADD_FAILURE() << "read";
            return {};
        }
        std::string path = read.error().path;
        if (path.starts_with(folder_.path() + "/")) {
            path.erase(0, folder_.path().size() + 1);
        }
        return path + ": " + read.error().reason();
    }

    ScratchFolder folder_;
};

TEST_F(SiteUrlListTest, AnIndexAndListsOfEveryKindMakeOneListOfKeys) {
    folder_.write("maps/sitemap_index.xml",
                  Index({"https://www.x.com/sitemaps/posts-1.xml.gz",
                         "https://www.x.com/sitemaps/pages%20old.xml?v=2"}));
    folder_.write("maps/posts-1.xml.gz",
                  GzipMember(Sitemap({"https://www.x.com/p/1", "https://www.x.com/p/%E4%B8%AD"})));
    folder_.write("maps/pages old.xml",
                  Sitemap({"https://WWW.x.com:443/", "http://www.x.com/p/1#comments"}));
    folder_.write("extra.txt", "# pages the sitemap forgets\r\nhttps://www.x.com/forgotten\r\n");
    folder_.write("crawl.csv",
                  "\"Address\",\"Status Code\"\n\"https://www.x.com/crawled?a=1\",200\n");

    const Result<SiteUrlList> list =
        read({"maps/sitemap_index.xml", "extra.txt", "crawl.csv", "maps/posts-1.xml.gz"});
    ASSERT_TRUE(list) << list.error().line();
    EXPECT_EQ(list->host, "www.x.com");
    EXPECT_EQ(list->hosts, std::vector<std::string>{"www.x.com"});
    // The index's sitemaps at its place and in its order; the http form of a
    // page and a file named a second time add nothing.
    EXPECT_EQ(UrlsAndKeys(*list), (std::vector<std::pair<std::string, std::string>>{
                                      {"https://www.x.com/p/1", "/p/1"},
                                      {"https://www.x.com/p/%E4%B8%AD", "/p/\xE4\xB8\xAD"},
                                      {"https://WWW.x.com:443/", "/"},
                                      {"https://www.x.com/forgotten", "/forgotten"},
                                      {"https://www.x.com/crawled?a=1", "/crawled?a=1"}}));
    EXPECT_EQ(list->duplicateUrls, 1u);
    EXPECT_EQ(list->otherHostUrls, 0u);
    EXPECT_EQ(list->files,
              (std::vector<std::string>{
                  folder_ / "maps/sitemap_index.xml", folder_ / "maps/posts-1.xml.gz",
                  folder_ / "maps/pages old.xml", folder_ / "extra.txt", folder_ / "crawl.csv"}));
    // What a crawler fetched meets its entry.
    EXPECT_EQ(list->urls[1].key, LogUrlKey("/p/\xE4\xB8\xAD", "-"));
    EXPECT_EQ(list->urls[4].key, LogUrlKey("/crawled", "a=1"));
}

TEST_F(SiteUrlListTest, AnIndexNamesOnlySitemapsThatAreThere) {
    folder_.write("index.xml", Index({"https://x.com/a.xml", "https://x.com/gone.xml.gz"}));
    folder_.write("a.xml", Sitemap({"https://x.com/a"}));
    const Result<SiteUrlList> missing = read({"index.xml"});
    EXPECT_EQ(failure(missing), "gone.xml.gz: cannot read: listed in " + (folder_ / "index.xml") +
                                    " line 3: No such file or directory");
    EXPECT_EQ(missing.error().code, ENOENT);

    // The protocol forbids an index inside an index.
    folder_.write("outer.xml", Index({"https://x.com/index.xml"}));
    EXPECT_EQ(failure(read({"outer.xml"})),
              "index.xml: nested sitemap index: listed in " + (folder_ / "outer.xml") +
                  " line 2: a sitemap index lists another index, which the protocol does not "
                  "allow; name the inner index itself");

    // A <loc> that names a folder, or would leave the index's folder.
    for (const char* loc :
         {"https://x.com/maps/", "https://x.com/maps/..", "https://x.com/a%2Fb"}) {
        folder_.write("odd.xml", Index({loc}));
        EXPECT_EQ(failure(read({"odd.xml"})),
                  "odd.xml: not a sitemap file: line 2: the listed sitemap names no file: " +
                      std::string(loc));
    }

    // A listed file's own damage is named with where it was listed.
    folder_.write("broken.xml", "<urlset>\n<url><loc>https://x.com/</url>");
    folder_.write("lists-broken.xml", Index({"https://x.com/broken.xml"}));
    EXPECT_EQ(failure(read({"lists-broken.xml"})), "broken.xml: damaged sitemap: listed in " +
                                                       (folder_ / "lists-broken.xml") +
                                                       " line 2: line 2: mismatched tag");
}

TEST_F(SiteUrlListTest, SeveralHostsNeedTheCallerToNameOne) {
    folder_.write("s.xml", Sitemap({"https://x.com/a", "https://cdn.x.com/i.png", "https://x.com/b",
                                    "http://X.com:8080/c", "https://cdn.x.com/j.png"}));
    EXPECT_EQ(failure(read({"s.xml"})),
              "s.xml: several hosts: the list holds URLs of 3 hosts (x.com, cdn.x.com, "
              "x.com:8080); name the one whose log is read");

    SiteUrlOptions options;
    options.host = "X.COM";
    const Result<SiteUrlList> chosen = read({"s.xml"}, options);
    ASSERT_TRUE(chosen);
    EXPECT_EQ(chosen->host, "x.com");
    EXPECT_EQ(chosen->urls.size(), 2u);
    EXPECT_EQ(chosen->otherHostUrls, 3u);

    options.host = "www.x.com";
    EXPECT_EQ(failure(read({"s.xml"}, options)),
              "s.xml: host not listed: the list holds no URL of www.x.com; its hosts: x.com, "
              "cdn.x.com, x.com:8080");
}

TEST_F(SiteUrlListTest, EveryEntryMustBeAWebUrl) {
    folder_.write("s.xml", Sitemap({"https://x.com/a", "/relative/b"}));
    EXPECT_EQ(failure(read({"s.xml"})),
              "s.xml: not a URL: line 4: not an http:// or https:// URL: /relative/b");
    folder_.write("l.txt", "https://x.com/a\nftp://x.com/b\n");
    EXPECT_EQ(failure(read({"l.txt"})), "l.txt: not a URL: line 2: not an http:// or https:// URL: "
                                        "ftp://x.com/b");
}

TEST_F(SiteUrlListTest, AFileHoldsAtMostFiftyMegabytesOnceUnpacked) {
    // Exactly at the limit: one URL and a comment filling the rest.
    const std::string url = "https://x.com/a\n#";
    folder_.write("full.txt", url + std::string(kMaxSiteListBytes - url.size(), 'x'));
    const Result<SiteUrlList> full = read({"full.txt"});
    ASSERT_TRUE(full) << full.error().line();
    EXPECT_EQ(full->urls.size(), 1u);

    // A byte more, in a .gz a few kB small.
    std::string over = Sitemap({"https://x.com/a"});
    over += std::string(kMaxSiteListBytes + 1 - over.size(), ' ');
    folder_.write("big.xml.gz", GzipMember(over, 1));
    over = {};
    const Result<SiteUrlList> big = read({"big.xml.gz"});
    EXPECT_EQ(failure(big), "big.xml.gz: too large: more than 52,428,800 bytes once unpacked, "
                            "the sitemap protocol's limit for one file");
    EXPECT_EQ(big.error().code, EFBIG);

    // A .gz cut short is damaged, whatever its name.
    const std::string member = GzipMember(Sitemap({"https://x.com/a"}));
    folder_.write("cut.xml", member.substr(0, member.size() / 2));
    EXPECT_TRUE(failure(read({"cut.xml"})).starts_with("cut.xml: damaged .gz file: "))
        << failure(read({"cut.xml"}));
}

} // namespace
} // namespace logdesk
