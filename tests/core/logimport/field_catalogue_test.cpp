#include "core/logimport/field_catalogue.h"
#include "core/text/gbk_codec.h"

#include <gtest/gtest.h>

namespace logdesk {
namespace {

std::vector<std::string> Utf8Headers(const HeaderLayout& layout) {
    std::vector<std::string> out;
    for (const std::string& h : layout.fieldHeaders) {
        out.push_back(GbkToUtf8(h));
    }
    return out;
}

TEST(FieldCatalogueTest, HoldsThirtyFiveNamesWithTheirSlots) {
    EXPECT_EQ(FieldCatalogue().size(), 35u);
    ASSERT_NE(LookupField("ProtocolStatus"), nullptr);
    EXPECT_EQ(LookupField("ProtocolStatus")->slot, FieldSlot::Status);
    EXPECT_EQ(GbkToUtf8(LookupField("sc-status")->caption), "状态码 ");
    EXPECT_EQ(GbkToUtf8(LookupField("ProtocolStatus")->caption), "状态码");
    // Names are matched case-sensitively.
    EXPECT_EQ(LookupField("Date"), nullptr);
    EXPECT_EQ(LookupField("C-IP"), nullptr);
    EXPECT_EQ(LookupField("DateTime"), nullptr);
}

TEST(MapHeaderTest, IisHeader) {
    const HeaderLayout layout = MapHeader("#Fields: date time c-ip cs(User-Agent) sc-status");
    EXPECT_EQ(Utf8Headers(layout),
              (std::vector<std::string>{"日期(date)", "时间(time)", "访问者IP(c-ip)",
                                        "访问者身份(cs(User-Agent))", "状态码 (sc-status)"}));
    FieldMap expected;
    expected[FieldSlot::Date] = 1;
    expected[FieldSlot::Time] = 2;
    expected[FieldSlot::ClientIp] = 3;
    expected[FieldSlot::UserAgent] = 4;
    expected[FieldSlot::Status] = 5;
    EXPECT_EQ(layout.fieldMap, expected);
    EXPECT_EQ(layout.fieldCount(), 5);
}

TEST(MapHeaderTest, LogParserDateTimeBecomesTwoFields) {
    const HeaderLayout layout = MapHeader("#Fields: DateTime ClientIpAddress ProtocolStatus");
    EXPECT_EQ(Utf8Headers(layout),
              (std::vector<std::string>{"日期(date)", "时间(time)", "访问者IP(ClientIpAddress)",
                                        "状态码(ProtocolStatus)"}));
    EXPECT_EQ(layout.fieldMap[FieldSlot::Status], 4);
    EXPECT_EQ(layout.fieldMap[FieldSlot::ClientIp], 3);
}

TEST(MapHeaderTest, UnknownEmptyAndRepeatedNames) {
    const HeaderLayout other = MapHeader("#Fields: date time-taken");
    EXPECT_EQ(GbkToUtf8(other.fieldHeaders[1]), "其他字段(time-taken)");
    EXPECT_EQ(other.fieldMap[FieldSlot::Other], 2);
    // IIS's time-taken keeps that caption and is still the pages' time.
    EXPECT_EQ(other.fieldMap[FieldSlot::TimeTaken], 2);

    const HeaderLayout gap = MapHeader("#Fields: date  time");
    EXPECT_EQ(Utf8Headers(gap),
              (std::vector<std::string>{"日期(date)", "其他字段()", "时间(time)"}));
    EXPECT_EQ(gap.fieldMap[FieldSlot::Other], 2);

    // The later of two equal names owns the slot.
    const HeaderLayout twice = MapHeader("#Fields: c-ip date c-ip");
    EXPECT_EQ(twice.fieldMap[FieldSlot::ClientIp], 3);
    EXPECT_EQ(twice.fieldMap[FieldSlot::Other], 0);
}

TEST(MapHeaderTest, BlanksAroundNamesAndEmptyHeaders) {
    const std::string fullWidth = "\xA1\xA1";
    const HeaderLayout padded =
        MapHeader("#Fields:  " + fullWidth + "date time " + fullWidth + " ");
    EXPECT_EQ(padded.fieldNames, (std::vector<std::string>{"date", "time"}));

    const HeaderLayout tab = MapHeader("#Fields: date\ttime");
    EXPECT_EQ(tab.fieldNames, std::vector<std::string>{"date\ttime"});
    EXPECT_EQ(tab.fieldMap[FieldSlot::Other], 1);

    EXPECT_EQ(MapHeader("#Fields:").fieldCount(), 0);
    EXPECT_EQ(MapHeader("#Fields:    ").fieldCount(), 0);
    EXPECT_EQ(MapHeader("#Fields:").fieldMap, FieldMap{});
    // The directive is removed wherever it stands in the line.
    EXPECT_EQ(MapHeader("#Remark #Fields: date").fieldNames,
              (std::vector<std::string>{"#Remark", "", "date"}));
}

} // namespace
} // namespace logdesk
