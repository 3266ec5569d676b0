#include "core/settings/settings_keys.h"
#include "core/settings/window_settings.h"
#include "core/text/gbk_codec.h"
#include "support/file_test_support.h"

#include <fstream>
#include <gtest/gtest.h>

namespace logdesk {
namespace {

using testing::ReadFile;
using testing::TempFile;

class TypedSettingTest : public ::testing::Test {
protected:
    // Replaces the file with one section holding key=value, bytes as given.
    void store(std::string_view section, std::string_view key, const std::string& value) {
        std::ofstream(path_, std::ios::binary)
            << "[" << Gbk(section) << "]\r\n" << Gbk(key) << "=" << value << "\r\n";
    }

    TempFile dir_{""};
    std::string path_ = (dir_.dir() / "logdesk.ini").string();
    ConfigFile config_{path_};
};

TEST_F(TypedSettingTest, NumbersReadAsTheDefaultUnlessTheyStartTheTextAndAreInRange) {
    const NumberSetting& timeout = settings::kVerifyDnsTimeout;
    EXPECT_EQ(timeout.read(config_), 2000) << "no file";
    const std::pair<const char*, long> cases[] = {
        {"300", 300},      {"1", 1},       {"600000", 600000}, {"300ms", 300},
        {"0", 2000},       {"-5", 2000},   {"600001", 2000},   {"abc", 2000},
        {"", 2000},        {"99999999999999999999", 2000},
    };
    for (const auto& [stored, expected] : cases) {
        store("蜘蛛真伪", "DNS超时毫秒", stored);
        EXPECT_EQ(timeout.read(config_), expected) << stored;
    }
    // Where 0 is in range, a text without a number is still no 0.
    const NumberSetting fromZero{{"s", "n"}, 7, 0, 10};
    store("s", "n", "x");
    EXPECT_EQ(fromZero.read(config_), 7);
    store("s", "n", "0");
    EXPECT_EQ(fromZero.read(config_), 0);
}

TEST_F(TypedSettingTest, EachFlagKindHasItsOwnOnText) {
    const FlagSetting& todays = settings::kTodaysCrawlers;
    ASSERT_TRUE(todays.write(config_, true));
    EXPECT_EQ(ReadFile(path_), Gbk("[蜘蛛占比统计]\r\n识别当今蜘蛛=真\r\n"));
    EXPECT_TRUE(todays.read(config_));
    ASSERT_TRUE(todays.write(config_, false));
    EXPECT_EQ(ReadFile(path_), Gbk("[蜘蛛占比统计]\r\n识别当今蜘蛛=假\r\n"));
    EXPECT_FALSE(todays.read(config_));
    store("蜘蛛占比统计", "识别当今蜘蛛", "1");
    EXPECT_FALSE(todays.read(config_));

    const DigitFlagSetting& shared = settings::kVerifyBlockShared;
    const DigitFlagSetting onByDefault{{"蜘蛛真伪", "其他"}, true};
    EXPECT_FALSE(shared.read(config_));
    EXPECT_TRUE(onByDefault.read(config_));
    store("蜘蛛真伪", "屏蔽共用IP", "1");
    EXPECT_TRUE(shared.read(config_));
    for (const std::string& off : {std::string("0"), Gbk("真"), std::string("yes"), std::string()}) {
        store("蜘蛛真伪", "屏蔽共用IP", off);
        EXPECT_FALSE(shared.read(config_)) << off;
    }
}

TEST_F(TypedSettingTest, TextAndItsDefaultComeBackAsGbk) {
    const TextSetting chinese{{"基本配置", "名称"}, "默认值"};
    EXPECT_EQ(chinese.read(config_), Gbk("默认值"));
    ASSERT_TRUE(settings::kLogPath.write(config_, Gbk("D:\\日志\\ex.log")));
    EXPECT_EQ(ReadFile(path_), Gbk("[基本配置]\r\n日志路径=D:\\日志\\ex.log\r\n"));
    EXPECT_EQ(settings::kLogPath.read(config_), Gbk("D:\\日志\\ex.log"));
    EXPECT_EQ(chinese.read(config_), Gbk("默认值")) << "another key of the same section";
}

TEST_F(TypedSettingTest, ObjectsWriteOnlyWhatTheWindowsStore) {
    StatsWindowSettings stats = StatsWindowSettings::read(config_);
    EXPECT_EQ(stats.urlPrefix, "http://www.baidu.com/");
    EXPECT_EQ(stats.statusUrlPrefix, "http://www.baidu.com/");
    EXPECT_EQ(stats.ipQueryHost, "www.baidu.com");
    EXPECT_EQ(stats.siteHost, "");
    stats.urlPrefix = Gbk("http://例子/");
    stats.ipQueryHost = "elsewhere";
    stats.siteHost = "www.example.com";
    ASSERT_TRUE(stats.write(config_));
    // The hosts are only ever read: a window that closes never adds them.
    EXPECT_EQ(ReadFile(path_), Gbk("[更多精细统计]\r\nHTTP前缀=http://例子/\r\n"
                                   "HTTP前缀1=http://www.baidu.com/\r\n"));
    EXPECT_EQ(StatsWindowSettings::read(config_).urlPrefix, Gbk("http://例子/"));
    store("更多精细统计", "站点主机", "Www.Example.com");
    EXPECT_EQ(StatsWindowSettings::read(config_).siteHost, "Www.Example.com");

    store("蜘蛛真伪", "DNS超时毫秒", "none");
    const VerifySettings verify = VerifySettings::read(config_);
    EXPECT_EQ(verify.dnsTimeoutMs, 2000);
    EXPECT_EQ(verify.dnsServers, "");
    EXPECT_FALSE(verify.blockShared);
}

TEST_F(TypedSettingTest, AFailedWriteNamesTheFileAndTheOtherPrefixIsStillWritten) {
    const std::string nowhere = (dir_.dir() / "missing" / "logdesk.ini").string();
    ConfigFile missing(nowhere);
    for (const Result<void>& written :
         {MainWindowSettings{"x"}.write(missing), ChartSettings{true}.write(missing),
          StatsWindowSettings::read(missing).write(missing)}) {
        ASSERT_FALSE(written);
        EXPECT_EQ(written.error().path, nowhere);
    }

    // The first prefix cannot be stored (a line break after a lead byte);
    // the second still is, and the failure is the first one's.
    StatsWindowSettings stats;
    stats.urlPrefix = "a\xB0\nb";
    stats.statusUrlPrefix = "second";
    const Result<void> written = stats.write(config_);
    ASSERT_FALSE(written);
    EXPECT_EQ(written.error().line(), path_ + ": the value cannot be stored");
    EXPECT_EQ(ReadFile(path_), Gbk("[更多精细统计]\r\nHTTP前缀1=second\r\n"));
}

} // namespace
} // namespace logdesk
