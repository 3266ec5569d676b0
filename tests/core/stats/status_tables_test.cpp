#include "core/stats/status_tables.h"
#include "core/text/gbk_codec.h"
#include "core/text/gbk_text.h"

#include <gtest/gtest.h>

namespace logdesk {
namespace {

std::string Http(std::string_view code) {
    return GbkToUtf8(HttpStatusTable().describe(code));
}
std::string Win32(std::string_view code) {
    return GbkToUtf8(Win32StatusTable().describe(code));
}

TEST(StatusTablesTest, BuiltInTablesAreWholeAndAscending) {
    for (const auto& [table, lines] :
         {std::pair{&HttpStatusTable(), 41u}, std::pair{&Win32StatusTable(), 70u}}) {
        const std::string& text = table->text();
        ASSERT_TRUE(text.ends_with("\r\n"));
        // GBK throughout: nothing was lost converting the descriptions.
        EXPECT_EQ(Utf8ToGbk(GbkToUtf8(text)), text);
        EXPECT_EQ(GbkToUtf8(text).find('?'), std::string::npos);
        const std::vector<std::string_view> rows = SplitText(text, "\r\n");
        ASSERT_EQ(rows.size(), lines);
        int previous = -1;
        for (std::string_view row : rows) {
            const std::size_t bar = row.find('|');
            ASSERT_NE(bar, std::string_view::npos) << GbkToUtf8(row);
            EXPECT_GT(AtoI(row.substr(0, bar)), previous) << GbkToUtf8(row);
            previous = AtoI(row.substr(0, bar));
            EXPECT_EQ(table->describe(row.substr(0, bar)), row.substr(bar + 1));
        }
    }
}

TEST(StatusTablesTest, DescriptionsAsStored) {
    EXPECT_EQ(Http("101"), "服务器转到另外的协议(witching Protocols)");
    EXPECT_EQ(Http("505"), "服务器不兼容该HTTP版本的请求(HTTP Version not supported)");
    EXPECT_EQ(Win32("52"), "由于网络上有重名，没有连接。请到“控制面板”中的“系统”更改计算机名");
    EXPECT_EQ(Win32("64"), "指定的网络名不再可用");
    EXPECT_EQ(Win32("100"), "无法创建另一个系统信号灯");
}

TEST(StatusTablesTest, CodesMatchExactlyOrAreUnknown) {
    for (std::string_view code : {"995", "1236", "121", "34", "", "-", " 64", "064", "64 "}) {
        EXPECT_EQ(Win32(code), "不明状态") << code;
    }
    // A Win32 code is not an HTTP code.
    EXPECT_EQ(Http("0"), "不明状态");
    EXPECT_EQ(Http("306"), "不明状态");
}

TEST(StatusTablesTest, ReadsAnyTableText) {
    const StatusCodeTable table(Utf8ToGbk("1|one\r\n1|again\r\n2|\r\nno bar\r\n|blank\r\n3|x|y"));
    const auto describe = [&](std::string_view code) { return GbkToUtf8(table.describe(code)); };
    EXPECT_EQ(describe("1"), "one");      // the first line of a code counts
    EXPECT_EQ(describe("2"), "不明状态"); // empty description
    EXPECT_EQ(describe("no bar"), "不明状态");
    EXPECT_EQ(describe(""), "不明状态"); // an empty code has no line
    EXPECT_EQ(describe("3"), "x|y");     // a last line without CR LF still counts
}

TEST(StatusTablesTest, KeysSplitAtTheirFirstBar) {
    EXPECT_EQ(GbkToUtf8(DescribeStatusKey("-|")), "不明状态|不明状态");
    EXPECT_EQ(GbkToUtf8(DescribeStatusKey("|0")), "不明状态|完成");
    EXPECT_EQ(GbkToUtf8(DescribeStatusKey("200|0|5")), "访问正常(OK)|不明状态");
    EXPECT_EQ(GbkToUtf8(DescribeStatusKey("200")), "访问正常(OK)|不明状态");

    // 0x81 0x7C is one character whose trail byte is "|": the key's bar is
    // the one after it.
    EXPECT_EQ(GbkToUtf8(DescribeStatusKey("\x81\x7C|0")), "不明状态|完成");
    EXPECT_EQ(GbkToUtf8(DescribeStatusKey("2\x81\x7C")), "不明状态|不明状态");
    const StatusCodeTable table("\x81\x7C|x\r\n7|\x81\x7C\r\n");
    EXPECT_EQ(table.describe("\x81\x7C"), "x");
    EXPECT_EQ(table.describe("7"), "\x81\x7C");
}

} // namespace
} // namespace logdesk
