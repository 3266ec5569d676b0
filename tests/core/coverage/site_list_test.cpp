#include "core/coverage/site_list.h"

#include <gtest/gtest.h>

namespace logdesk {
namespace {

std::vector<std::pair<std::string, std::uint64_t>> Urls(const SiteList& list) {
    std::vector<std::pair<std::string, std::uint64_t>> urls;
    for (const ListedUrl& u : list.urls) {
        urls.emplace_back(u.url, u.line);
    }
    return urls;
}

Result<SiteList> Parse(std::string_view bytes, const std::string& name = "site.xml",
                       std::string_view column = {}) {
    return ParseSiteList(bytes, name, column);
}

using Expected = std::vector<std::pair<std::string, std::uint64_t>>;

// The cause of a failure, which must name the file in its path.
std::string Failure(const Result<SiteList>& parsed, const std::string& name = "site.xml") {
    if (parsed) {
        ADD_FAILURE() << "parsed";
        return {};
    }
    EXPECT_EQ(parsed.error().path, name);
    return parsed.error().what + ": " + parsed.error().cause;
}

TEST(SiteListTest, ReadsEachKindByItsContent) {
    const std::string sitemap =
        "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
        "<urlset xmlns=\"http://www.sitemaps.org/schemas/sitemap/0.9\"\n"
        "  xmlns:image=\"http://www.google.com/schemas/sitemap-image/1.1\">\n"
        "<url><loc>\n  https://x.com/a?b=1&amp;c=2 \n</loc>\n"
        "  <lastmod>2024-01-01</lastmod>\n"
        "  <image:image><image:loc>https://x.com/i.png</image:loc></image:image>\n"
        "</url>\n"
        "<url><loc><![CDATA[https://x.com/&#x41;]]></loc></url>\n"
        "<url><loc>https://x.com/&#x41;</loc></url>\n"
        "</urlset>\n";
    Result<SiteList> parsed = Parse(sitemap, "site.xml");
    ASSERT_TRUE(parsed) << parsed.error().line();
    EXPECT_EQ(parsed->kind, SiteListKind::Sitemap);
    EXPECT_EQ(Urls(*parsed), (Expected{{"https://x.com/a?b=1&c=2", 4},
                                       {"https://x.com/&#x41;", 10},
                                       {"https://x.com/A", 11}}));

    parsed = Parse("<sm:sitemapindex xmlns:sm=\"http://www.sitemaps.org/schemas/sitemap/0.9\">"
                   "<sm:sitemap><sm:loc>https://x.com/s1.xml.gz</sm:loc></sm:sitemap>"
                   "</sm:sitemapindex>",
                   "index.xml");
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->kind, SiteListKind::SitemapIndex);
    EXPECT_EQ(Urls(*parsed), (Expected{{"https://x.com/s1.xml.gz", 1}}));

    // Named .xml, but a plain list: comments and blank lines skipped, CR LF.
    parsed = Parse("# exported today\r\n\r\nhttps://x.com/a\r\n  HTTP://x.com/b \r\n"
                   "# not a URL\r\n\r\nhttps://x.com/c",
                   "list.xml");
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->kind, SiteListKind::PlainList);
    EXPECT_EQ(Urls(*parsed),
              (Expected{{"https://x.com/a", 3}, {"HTTP://x.com/b", 4}, {"https://x.com/c", 7}}));

    // A crawler's CSV export: the URL column found by its header, quoted
    // fields holding the delimiter and line breaks, rows without a URL left out.
    const std::string csv = "\xEF\xBB\xBF\"Address\",\"Content Type\",\"Title 1\"\r\n"
                            "\"https://x.com/\",\"text/html\",\"Home, \"\"the\"\" start\"\r\n"
                            "\"https://x.com/a,b\",\"text/html\",\"Two\r\nlines\"\r\n"
                            ",text/html,\r\n"
                            "\r\n"
                            "https://x.com/c,text/html,Three\r\n";
    parsed = Parse(csv, "internal_all.csv");
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->kind, SiteListKind::Csv);
    EXPECT_EQ(Urls(*parsed),
              (Expected{{"https://x.com/", 2}, {"https://x.com/a,b", 3}, {"https://x.com/c", 7}}));

    // The caller's column, in a file delimited by ";".
    parsed =
        Parse("Page;Canonical\n/x;https://x.com/x\n/y;https://x.com/y\n", "c.csv", " canonical ");
    ASSERT_TRUE(parsed);
    EXPECT_EQ(Urls(*parsed), (Expected{{"https://x.com/x", 2}, {"https://x.com/y", 3}}));
}

TEST(SiteListTest, AFileThatIsNotSoundNamesItsLine) {
    // Cut short, a tag left open, a stray "&".
    EXPECT_EQ(Failure(Parse("<urlset>\n<url><loc>https://x.com/</loc></url>\n<url>", "site.xml")),
              "damaged sitemap: line 3: no element found");
    EXPECT_EQ(Failure(Parse("<urlset>\n<url>\n<loc>https://x.com/</url>\n</urlset>", "site.xml")),
              "damaged sitemap: line 3: mismatched tag");
    EXPECT_EQ(Failure(Parse("<urlset>\n\n<url><loc>https://x.com/?a&b</loc></url></urlset>")),
              "damaged sitemap: line 3: not well-formed (invalid token)");
    // Entries the protocol requires to hold one <loc>.
    EXPECT_EQ(Failure(Parse("<urlset>\n<url>\n<lastmod>2024</lastmod></url></urlset>")),
              "damaged sitemap: line 2: <url> without <loc>");
    EXPECT_EQ(Failure(Parse(
                  "<sitemapindex><sitemap><loc>a</loc>\n<loc>b</loc></sitemap></sitemapindex>")),
              "damaged sitemap: line 2: <sitemap> holds a second <loc>");
    EXPECT_EQ(Failure(Parse("<?xml version=\"1.0\"?>\n<rss><channel/></rss>")),
              "not a sitemap: line 2: the root element is <rss>, not <urlset> or <sitemapindex>");
    // A CSV quote never closed, and a CSV without the column.
    EXPECT_EQ(Failure(Parse("url\nhttps://x.com/a\n\"https://x.com/b\n", "site.csv"), "site.csv"),
              "damaged CSV: line 3: a quoted field is never closed");
    EXPECT_EQ(Failure(Parse("\n# crawl\nPage,Status\n/a,200\n", "site.csv"), "site.csv"),
              "no URL column: line 3: the CSV header has no column headed Address, URL or loc; "
              "its columns: Page, Status");
    EXPECT_EQ(Failure(Parse("Address\nhttps://x.com/\n", "site.csv", "Canonical"), "site.csv"),
              "no URL column: line 1: the CSV header has no column headed \"Canonical\"; its "
              "columns: Address");
}

TEST(SiteListTest, EntitiesBeyondThePredefinedOnesAreRefused) {
    // The billion laughs: ten levels of ten references, 10^9 "lol"s if expanded.
    std::string laughs = "<?xml version=\"1.0\"?>\n<!DOCTYPE urlset [\n<!ENTITY l0 \"lol\">\n";
    for (int level = 1; level <= 9; ++level) {
        laughs += "<!ENTITY l" + std::to_string(level) + " \"";
        for (int i = 0; i < 10; ++i) {
            laughs += "&l" + std::to_string(level - 1) + ";";
        }
        laughs += "\">\n";
    }
    laughs += "]>\n<urlset><url><loc>https://x.com/&l9;</loc></url></urlset>\n";
    const std::string refused = Failure(Parse(laughs));
    EXPECT_TRUE(refused.starts_with("refused: line 2: a document type declaration")) << refused;

    // An external entity, which a parser that fetched would read from disk.
    EXPECT_TRUE(Failure(Parse("<!DOCTYPE urlset [<!ENTITY x SYSTEM \"file:///etc/passwd\">]>"
                              "<urlset><url><loc>&x;</loc></url></urlset>"))
                    .starts_with("refused: line 1: "));
    // A DOCTYPE without entities is refused alike, and without one no
    // entity other than the predefined ones is defined.
    EXPECT_TRUE(Failure(Parse("<!DOCTYPE urlset SYSTEM \"http://127.0.0.1:9/s.dtd\">\n"
                              "<urlset/>"))
                    .starts_with("refused: line 1: "));
    EXPECT_EQ(Failure(Parse("<urlset>\n<url><loc>https://x.com/&nbsp;</loc></url></urlset>")),
              "damaged sitemap: line 2: undefined entity");
}

TEST(SiteListTest, ASitemapHoldsAtMostTheProtocolsFiftyThousandUrls) {
    const auto sitemap = [](std::size_t urls, const char* root, const char* entry) {
        std::string text = "<" + std::string(root) + ">\n";
        for (std::size_t i = 0; i < urls; ++i) {
            text += "<" + std::string(entry) + "><loc>https://x.com/p" + std::to_string(i) +
                    "</loc></" + entry + ">\n";
        }
        return text + "</" + root + ">\n";
    };
    const Result<SiteList> full = Parse(sitemap(kMaxSitemapUrls, "urlset", "url"), "s.xml");
    ASSERT_TRUE(full);
    EXPECT_EQ(full->urls.size(), kMaxSitemapUrls);
    EXPECT_EQ(Failure(Parse(sitemap(kMaxSitemapUrls + 1, "urlset", "url"), "s.xml"), "s.xml"),
              "too many URLs: line 50002: more than 50,000 URLs in one sitemap, the protocol's "
              "limit; split it and list the parts in a sitemap index");
    EXPECT_TRUE(
        Failure(Parse(sitemap(kMaxSitemapUrls + 1, "sitemapindex", "sitemap"), "s.xml"), "s.xml")
            .starts_with("too many URLs: line 50002: more than 50,000 sitemaps"));
    // A plain list is no sitemap: the protocol's count does not apply.
    std::string list;
    for (std::size_t i = 0; i <= kMaxSitemapUrls; ++i) {
        list += "https://x.com/p" + std::to_string(i) + "\n";
    }
    const Result<SiteList> plain = Parse(list, "urls.txt");
    ASSERT_TRUE(plain);
    EXPECT_EQ(plain->urls.size(), kMaxSitemapUrls + 1);
}

} // namespace
} // namespace logdesk
