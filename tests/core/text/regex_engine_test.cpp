#include "core/text/gbk_codec.h"
#include "core/text/regex_engine.h"

#include <gtest/gtest.h>

namespace logdesk {
namespace {

std::string ShortName(std::string_view displayName) {
    RegexEngine engine;
    engine.SetPattern("(.*)\\(.*");
    return engine.Replace(displayName, "$1");
}

TEST(RegexEngineTest, ShortNamesOfSpiders) {
    EXPECT_EQ(ShortName(Gbk("百度(Baiduspider)")), Gbk("百度"));
    EXPECT_EQ(ShortName(Gbk("必应(Msnbot&Bing)")), Gbk("必应"));
    EXPECT_EQ(ShortName(Gbk("其他流量(unknown)")), Gbk("其他流量"));
    EXPECT_EQ(ShortName("a(b(c)"), "a(b");
    EXPECT_EQ(ShortName(Gbk("无括号")), Gbk("无括号"));
    EXPECT_EQ(ShortName(""), "");
}

TEST(RegexEngineTest, OptionsAndPatternChanges) {
    RegexEngine engine;
    EXPECT_TRUE(engine.SetPattern("a"));
    EXPECT_EQ(engine.Replace("aAa", "x"), "xxx"); // ignore case and global by default
    EXPECT_TRUE(engine.SetPattern("a", true, false, true));
    EXPECT_EQ(engine.Replace("AaAa", "x"), "AxAa");
    // An empty pattern keeps the previous one and applies the new options.
    EXPECT_TRUE(engine.SetPattern("", true));
    EXPECT_EQ(engine.Replace("AaAa", "x"), "AxAx");
    // '.' does not cross a line break; multi-line anchors at each line.
    engine.SetPattern("^(.*)$");
    EXPECT_EQ(engine.Replace("ab\ncd", "[$1]"), "[ab]\n[cd]");
    // Matching works on characters: '.' takes a double-byte character whole.
    engine.SetPattern("^.");
    EXPECT_EQ(engine.Replace(Gbk("百度"), "x"), "x" + Gbk("度"));
}

TEST(RegexEngineTest, BadPatternGivesEmptyResults) {
    RegexEngine engine;
    engine.SetPattern("(unclosed");
    EXPECT_EQ(engine.Replace("text", "$1"), "");
}

} // namespace
} // namespace logdesk
