#include "core/text/gbk_codec.h"
#include "core/text/gbk_text.h"

#include <gtest/gtest.h>

namespace logdesk {
namespace {

// 0xB0 0x67 is one double-byte character whose second byte is 'g'; 0xA1 0x40
// ends in '@'. A search must never start on those second bytes.
TEST(GbkTextTest, SearchStepsOverDoubleByteCharacters) {
    const std::string text = "\xB0"
                             "googlebot";
    // The first 'g' is the trail byte of 0xB0 0x67; the match starts at byte 3.
    EXPECT_EQ(FindText(text, "googlebot"), kNotFound);
    EXPECT_EQ(FindText("\xB0gxgooglebot", "googlebot"), 4);
    EXPECT_EQ(FindText(text, "oo", 1, true), 3);
    // A lead byte before an invalid trail is a character of its own.
    EXPECT_EQ(FindText("\x81 a", " a"), 2);
    EXPECT_EQ(FindText("\x81\x30"
                       "abc",
                       "abc"),
              3);
    // A lead byte at the very end stands alone.
    EXPECT_EQ(FindText("ab\xB0", "\xB0"), 3);
}

TEST(GbkTextTest, SearchPositionsAndEmptyTexts) {
    EXPECT_EQ(FindText("abcabc", "bc"), 2);
    EXPECT_EQ(FindText("abcabc", "bc", 3), 5);
    EXPECT_EQ(FindText("abcabc", "bc", 6), kNotFound);
    EXPECT_EQ(FindText("abc", "abcd"), kNotFound);
    EXPECT_EQ(FindText("", ""), kNotFound);
    EXPECT_EQ(FindText("abc", ""), 1);
    EXPECT_EQ(FindText("abc", "", 3), 3);
    EXPECT_EQ(FindText("abc", "a", 0), kNotFound);
    // Starting inside the text still counts characters from its beginning:
    // from byte 2 (the trail of 0xB0 0x67) the next character starts at 3.
    EXPECT_EQ(FindText("\xB0gg", "g", 2), 3);
}

TEST(GbkTextTest, CaseFoldingIsAsciiOnly) {
    EXPECT_EQ(FindTextIgnoreCase("Mozilla Googlebot/2.1", "googlebot"), 9);
    EXPECT_TRUE(EqualsIgnoreAsciiCase("CSV", "csv"));
    // Full-width Ａ (0xA3 0xC1) and ａ (0xA3 0xE1) are not folded.
    EXPECT_EQ(FindTextIgnoreCase("\xA3\xC1", "\xA3\xE1"), kNotFound);
    EXPECT_FALSE(EqualsIgnoreAsciiCase("\xC1", "\xE1"));
    // The second byte of a double-byte character is no letter to fold.
    EXPECT_EQ(FindTextIgnoreCase("x\xB0\x41", "\xB0\x61"), kNotFound);
    EXPECT_EQ(FindTextIgnoreCase("x\xB0\x41", "\xB0\x41"), 2);
    EXPECT_FALSE(EqualsIgnoreAsciiCase("\xB0\x41", "\xB0\x61"));
    EXPECT_TRUE(EqualsIgnoreAsciiCase("\xB0\x41Z", "\xB0\x41z"));
}

TEST(GbkTextTest, SplitRule) {
    using V = std::vector<std::string_view>;
    EXPECT_EQ(SplitText("a b", " "), (V{"a", "b"}));
    EXPECT_EQ(SplitText("a  b", " "), (V{"a", "", "b"}));
    EXPECT_EQ(SplitText("a b ", " "), (V{"a", "b"}));
    EXPECT_EQ(SplitText(" a", " "), (V{"", "a"}));
    EXPECT_EQ(SplitText("", " "), V{});
    EXPECT_EQ(SplitText(" ", " "), V{""});
    EXPECT_EQ(SplitText("x[fg][fg]y[fg]", "[fg]"), (V{"x", "", "y"}));
    // '[' (0x5B) is a valid trail byte: inside 0xB0 0x5B it separates nothing.
    EXPECT_EQ(SplitText("\xB0[fg]", "[fg]"), V{"\xB0[fg]"});
}

TEST(GbkTextTest, TrimTakesAsciiAndFullWidthBlanksOnly) {
    EXPECT_EQ(TrimBlanks("  a b  "), "a b");
    EXPECT_EQ(TrimBlanks("\xA1\xA1 a \xA1\xA1"), "a");
    EXPECT_EQ(TrimBlanks("\ta\t"), "\ta\t");
    EXPECT_EQ(TrimBlanks("   "), "");
    // 0xB0 0xA1 is a character; the 0xA1 after it is a lone byte, so the last
    // two bytes are no full-width blank.
    EXPECT_EQ(TrimBlanks("x\xB0\xA1\xA1"), "x\xB0\xA1\xA1");
}

TEST(GbkTextTest, ReplaceIsCaseSensitiveAndLeftToRight) {
    EXPECT_EQ(ReplaceText("#Fields: DateTime x", "DateTime", "date time"), "#Fields: date time x");
    EXPECT_EQ(ReplaceText("datetime", "DateTime", "date time"), "datetime");
    EXPECT_EQ(ReplaceText("aaa", "aa", "b"), "ba");
    EXPECT_EQ(ReplaceText("#Fields:", "#Fields:", ""), "");
}

TEST(GbkTextTest, NumberReadingsFollowAtoiAndAtof) {
    EXPECT_EQ(AtoI("  42abc"), 42);
    EXPECT_EQ(AtoI("-17"), -17);
    EXPECT_EQ(AtoI("+8"), 8);
    EXPECT_EQ(AtoI("abc"), 0);
    EXPECT_EQ(AtoI(""), 0);
    EXPECT_EQ(AtoI("99999999999"), 2147483647);
    EXPECT_EQ(AtoI("-99999999999"), -2147483647 - 1);
    EXPECT_DOUBLE_EQ(AtoF("10时"), 10.0);
    EXPECT_DOUBLE_EQ(AtoF(" 1.5e3x"), 1500.0);
    EXPECT_DOUBLE_EQ(AtoF("192.168.1.1"), 192.168);
    EXPECT_DOUBLE_EQ(AtoF("-"), 0.0);
    EXPECT_DOUBLE_EQ(AtoF(".5"), 0.5);
    EXPECT_EQ(DecimalText(1234567), "1234567");
}

TEST(GbkCodecTest, RoundTripsAndSubstitutes) {
    const std::string gbk = Gbk("百度(Baiduspider)");
    EXPECT_EQ(gbk, "\xB0\xD9\xB6\xC8(Baiduspider)");
    EXPECT_EQ(GbkToUtf8(gbk), "百度(Baiduspider)");
    EXPECT_EQ(Gbk("┊*┊"), "\xA9\xAE*\xA9\xAE");
    // Code page 936 maps 0x80 to the euro sign.
    EXPECT_EQ(GbkToUtf8("\x80"), "€");
    // A character GBK lacks becomes '?'.
    EXPECT_EQ(Gbk("a😀b"), "a?b");
    EXPECT_EQ(GbkToUtf32(Gbk("谷歌")), U"谷歌");
    EXPECT_EQ(Utf32ToGbk(U"谷歌"), Gbk("谷歌"));
    EXPECT_EQ(GbkToUtf8(""), "");
}

} // namespace
} // namespace logdesk
