#include "core/net/ip_location.h"
#include "core/text/gbk_codec.h"

#include <gtest/gtest.h>

namespace logdesk {
namespace {

TEST(IpLocationTest, QueryUrlEncodesOnlyWhatCannotStay) {
    EXPECT_EQ(IpLocationQueryUrl("www.s.cn", "66.249.71.1"),
              "http://www.s.cn/baidu?word=66.249.71.1");
    EXPECT_EQ(IpLocationQueryUrl("http://www.s.cn", "2001:db8::1"),
              "http://www.s.cn/baidu?word=2001:db8::1");
    EXPECT_EQ(IpLocationQueryUrl("s.cn", "1.2.3.4 &x=#" + Gbk("岚")),
              "http://s.cn/baidu?word=1.2.3.4%20%26x%3D%23%E1%B0");
    EXPECT_EQ(IpLocationQueryUrl("s.cn", ""), "http://s.cn/baidu?word=");
}

TEST(IpLocationTest, CutsTheLocationBetweenItsMarkers) {
    const std::string left = Gbk("来&nbsp;&nbsp;&nbsp;自:&nbsp;");
    EXPECT_EQ(IpLocationFromPage(left + "<STRONG>" + Gbk("北京") + "</strong><strong>x</strong>"),
              Gbk("北京"));
    EXPECT_EQ(IpLocationFromPage(left + "<strong>" + Gbk("北京")), "");
    EXPECT_EQ(IpLocationFromPage(""), "");
}

} // namespace
} // namespace logdesk
