#include "core/text/gbk_codec.h"
#include "core/text/text_search.h"

#include <gtest/gtest.h>

namespace logdesk {
namespace {

TEST(TextBetweenTest, CutsBetweenFirstMarkers) {
    EXPECT_EQ(TextBetween("<b>one</b><b>two</b>", "<b>", "</b>"), "one");
    EXPECT_EQ(TextBetween("<B>one</B>", "<b>", "</b>"), "one");
    EXPECT_EQ(TextBetween("<b>one", "<b>", "</b>"), "");
    EXPECT_EQ(TextBetween("one</b>", "<b>", "</b>"), "");
    EXPECT_EQ(TextBetween("<b></b>", "<b>", "</b>"), "");
    // The right marker is searched only after the left one.
    EXPECT_EQ(TextBetween("]x[a]", "[", "]"), "a");
    // The markers overlap: the right one starts right after the left one.
    EXPECT_EQ(TextBetween("aaa", "a", "a"), "");
}

TEST(TextBetweenTest, MarkersNeverMatchInsideACharacter) {
    const std::string location = Gbk("地址：") + "\xB0[x]";
    EXPECT_EQ(TextBetween(location, "[", "]"), "");
    EXPECT_EQ(TextBetween(Gbk("IP：北京[x]"), Gbk("IP："), "["), Gbk("北京"));
}

TEST(MatchAlternativesTest, AnyAndAllModes) {
    const std::string list = Gbk("访问者身份[fg]访问者IP[fg]日期[fg]时间[fg]URL[fg]状态码 ");
    EXPECT_TRUE(MatchAlternatives(Gbk("状态码 (sc-status)"), list, true));
    EXPECT_FALSE(MatchAlternatives(Gbk("状态码(ProtocolStatus)"), list, true));
    EXPECT_FALSE(MatchAlternatives(Gbk("子状态码(sc-substatus)"), list, true));
    EXPECT_TRUE(MatchAlternatives(Gbk("URL参数(cs-uri-query)"), list, true));
    EXPECT_TRUE(MatchAlternatives(Gbk("处理时间(TimeTaken)"), list, true));
    EXPECT_TRUE(MatchAlternatives("url", "URL", true));

    EXPECT_FALSE(MatchAlternatives("anything", "", true));
    EXPECT_TRUE(MatchAlternatives("anything", "", false));
    EXPECT_TRUE(MatchAlternatives("abc", "a[fg]c", false));
    EXPECT_FALSE(MatchAlternatives("abc", "a[fg]d", false));
    // An empty alternative is found in every non-empty text.
    EXPECT_TRUE(MatchAlternatives("abc", "x[fg][fg]y", true));
    EXPECT_FALSE(MatchAlternatives("", "x[fg][fg]y", true));
}

} // namespace
} // namespace logdesk
