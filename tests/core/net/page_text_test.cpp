#include "core/net/page_text.h"
#include "support/local_http_server.h"
#include "core/text/gbk_codec.h"

#include <gtest/gtest.h>

namespace logdesk {
namespace {

Bytes Of(std::string_view text) {
    return Bytes(text.begin(), text.end());
}

std::string Decoded(std::string_view page, int mode = kCharsetFromPage) {
    return DecodePageText(Of(page), mode);
}

TEST(PageTextTest, ConvertsOnlyWhatTheHeadDeclares) {
    const std::string utf8 = "\xE5\xB2\x9A"; // 岚
    const std::string gbk = Gbk("岚");
    EXPECT_EQ(Decoded("<head><meta charset=UTF-8></head>" + utf8),
              "<head><meta charset=UTF-8></head>" + gbk);
    // With a non-empty head the body's declaration does not count.
    EXPECT_EQ(Decoded("<head><title>t</title></head><meta charset=utf-8>" + utf8),
              "<head><title>t</title></head><meta charset=utf-8>" + utf8);
    EXPECT_EQ(Decoded("<p charset=\"utf-8\">" + utf8), "<p charset=\"utf-8\">" + gbk);
    EXPECT_EQ(Decoded("<p charset='utf-8'>" + utf8), "<p charset='utf-8'>" + utf8);
    EXPECT_EQ(Decoded("<p charset = utf-8>" + utf8), "<p charset = utf-8>" + utf8);
    EXPECT_EQ(Decoded(utf8, kCharsetUtf8), gbk);
    EXPECT_EQ(Decoded("charset=utf-8" + utf8, 1), "charset=utf-8" + utf8);
}

TEST(PageTextTest, BodyEndsAtItsFirstZeroByte) {
    const std::string body = std::string("charset=utf-8 \xE5\xB2\x9A", 17) + '\0' + "\xE5\xB2\x9A";
    EXPECT_EQ(Decoded(body), "charset=utf-8 " + Gbk("岚"));
    EXPECT_EQ(Decoded(std::string("a\0b", 3), 1), "a");
}

TEST(PageTextTest, Utf8ToGbkComposesAndReplaces) {
    EXPECT_EQ(Utf8ToGbk(Of("e\xCC\x81")), "\xA8\xA6"); // e + U+0301: é
    EXPECT_EQ(Utf8ToGbk(Of("a\xFF"
                           "b")),
              "a?b");
    EXPECT_EQ(Utf8ToGbk(Of(std::string("x\0y", 3))), "x");
    EXPECT_EQ(Utf8ToGbk(Of("")), "");
}

TEST(PageTextTest, FetchPageTextDecodesTheFetchedPage) {
    LocalHttpServer server(1, [](const std::string&) {
        return Reply("200 OK", "", "<head><meta charset=\"utf-8\"></head>\xE5\xB2\x9A");
    });
    const Result<std::string> text = FetchPageText({.url = server.url("/")});
    ASSERT_TRUE(text) << text.error().cause;
    EXPECT_EQ(*text, "<head><meta charset=\"utf-8\"></head>" + Gbk("岚"));
}

} // namespace
} // namespace logdesk
