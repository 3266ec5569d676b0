#include "core/export/column_chooser.h"
#include "core/export/export_column_settings.h"
#include "core/text/gbk_codec.h"
#include "support/file_test_support.h"

#include <gtest/gtest.h>

namespace logdesk {
namespace {

using testing::ReadFile;
using testing::TempFile;

class ExportColumnSettingsTest : public ::testing::Test {
protected:
    TempFile dir_{""};
    std::string path_ = (dir_.dir() / "logdesk.ini").string();
    ConfigFile config_{path_};
    std::vector<std::string> captions_ = {Gbk("日期(date)"), Gbk("服务器IP(s-ip)"),
                                          Gbk("访问者IP(c-ip)")};
};

TEST_F(ExportColumnSettingsTest, TheChoiceRoundTripsAndTheDefaultsStayTheDefaults) {
    const std::vector<ExportColumn> first =
        FillChooser(ExportColumnSettings::read(config_, false, captions_));
    const std::vector<ExportColumn> defaults = {{Gbk("序号"), true, 0},
                                                {captions_[0], true, 1},
                                                {captions_[1], false, 2},
                                                {captions_[2], true, 3}};
    EXPECT_EQ(first, defaults);

    // Stored in the order the user left the entries, which new keys follow.
    ExportColumnSettings choice;
    choice.marks = {{captions_[1], true}, {Gbk("序号"), false}};
    ASSERT_TRUE(choice.write(config_));
    EXPECT_EQ(ReadFile(path_), Gbk("[字段属性]\r\n服务器IP(s-ip)选中=真\r\n序号选中=假\r\n"));

    const std::vector<ExportColumn> chosen =
        FillChooser(ExportColumnSettings::read(config_, false, captions_));
    EXPECT_FALSE(chosen[0].checked);
    EXPECT_TRUE(chosen[2].checked);
    EXPECT_TRUE(chosen[3].checked) << "a caption never stored keeps its default";
    EXPECT_EQ(FillChooser(ExportColumnSettings::read(config_, true, captions_)), defaults);
}

TEST_F(ExportColumnSettingsTest, AMarkThatCannotBeStoredLetsTheOthersBeStored) {
    ExportColumnSettings choice;
    choice.marks = {{"a=b", true}, {"\n", false}, {Gbk("日期(date)"), false}};
    const Result<void> written = choice.write(config_);
    ASSERT_FALSE(written);
    EXPECT_EQ(written.error().line(), path_ + ": the key's name cannot be stored");
    EXPECT_EQ(ReadFile(path_), Gbk("[字段属性]\r\n日期(date)选中=假\r\n"));
}

} // namespace
} // namespace logdesk
