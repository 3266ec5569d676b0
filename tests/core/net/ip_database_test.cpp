// The local IP lookup against databases the tests write themselves.
#include "core/net/ip_database.h"
#include "core/text/gbk_codec.h"
#include "support/file_test_support.h"
#include "support/mmdb_writer.h"

#include <cerrno>
#include <filesystem>
#include <gtest/gtest.h>

namespace logdesk {
namespace {

using testing::MmdbArray;
using testing::MmdbMap;
using testing::MmdbNames;
using testing::MmdbValue;
using testing::MmdbWriter;
using testing::TempFile;

// A record as the city databases hold it; an empty part is left out.
MmdbValue CityRecord(const MmdbValue& country, const MmdbValue& region, const MmdbValue& city) {
    MmdbValue record =
        MmdbMap({{"city", MmdbMap({{"names", city}})},
                 {"country", MmdbMap({{"names", country}, {"iso_code", testing::MmdbText("XX")}})},
                 {"subdivisions", MmdbArray({MmdbMap({{"names", region}})})}});
    return record;
}

IpDatabase Opened(const TempFile& file) {
    Result<IpDatabase> database = IpDatabase::open(file.path());
    EXPECT_TRUE(database) << (database ? "" : database.error().line());
    return std::move(*database);
}

TEST(IpDatabaseTest, CityDatabaseGivesCountryRegionAndCity) {
    MmdbWriter writer(6, "GeoLite2-City");
    writer.add("1.2.3.0/24", CityRecord(MmdbNames("China", "中国"), MmdbNames("Guangdong", "广东"),
                                        MmdbNames("Shenzhen", "深圳")));
    writer.add("2001:db8::/32",
               CityRecord(MmdbNames("China", "中国"), MmdbNames("Beijing", "北京市"),
                          MmdbNames("Beijing", "北京")));
    // A network inside the first: the rest of the /24 keeps its record.
    writer.add("1.2.3.128/25",
               CityRecord(MmdbNames("China", "中国"), MmdbNames("Guangdong", "广东"),
                          MmdbNames("Guangzhou", "广州")));
    const TempFile file(writer.bytes(), "city.mmdb");
    const IpDatabase database = Opened(file);

    EXPECT_EQ(database.locate("1.2.3.4"), Gbk("中国 广东 深圳"));
    EXPECT_EQ(database.locate("1.2.3.200"), Gbk("中国 广东 广州"));
    EXPECT_EQ(database.locate("::ffff:1.2.3.4"), Gbk("中国 广东 深圳"));
    EXPECT_EQ(database.locate("2001:db8:1::7"), Gbk("中国 北京市 北京"));
    EXPECT_EQ(database.locate("2001:DB8::1"), Gbk("中国 北京市 北京"));
    // Outside every network, and texts that are no address.
    for (const char* ip : {"1.2.4.1", "9.9.9.9", "2001:db9::1", "", "1.2.3", "1.2.3.4 ",
                           "localhost", "fe80::1%eth0", "-"}) {
        EXPECT_EQ(database.locate(ip), "") << ip;
    }
}

TEST(IpDatabaseTest, NamesFallBackToEnglishAndSkipWhatIsMissing) {
    MmdbWriter writer(6, "GeoLite2-City");
    writer.add("10.0.0.0/8", CityRecord(MmdbNames("China", "中国"), MmdbNames("Guangdong"),
                                        MmdbNames("Dongguan")));
    writer.add("11.0.0.0/8", CityRecord(MmdbNames("Singapore", "新加坡"), MmdbNames(""),
                                        MmdbNames("Singapore", "新加坡")));
    writer.add("12.0.0.0/8", MmdbMap({{"country", MmdbMap({{"names", MmdbNames("", "日本")}})}}));
    // A record naming no place (an anonymous network's, say).
    writer.add("13.0.0.0/8", MmdbMap({{"traits", MmdbMap({{"is_anycast", MmdbNames("x")}})}}));
    const TempFile file(writer.bytes(), "city.mmdb");
    const IpDatabase database = Opened(file);

    EXPECT_EQ(database.locate("10.1.1.1"), Gbk("中国 Guangdong Dongguan"));
    EXPECT_EQ(database.locate("11.1.1.1"), Gbk("新加坡"));
    EXPECT_EQ(database.locate("12.1.1.1"), Gbk("日本"));
    EXPECT_EQ(database.locate("13.1.1.1"), "");
}

TEST(IpDatabaseTest, CountryDatabaseGivesTheCountry) {
    MmdbWriter writer(4, "GeoLite2-Country");
    writer.add("8.8.8.0/24",
               MmdbMap({{"country", MmdbMap({{"names", MmdbNames("United States", "美国")}})}}));
    const TempFile file(writer.bytes(), "country.mmdb");
    const IpDatabase database = Opened(file);

    EXPECT_EQ(database.locate("8.8.8.8"), Gbk("美国"));
    EXPECT_EQ(database.locate("8.8.9.8"), "");
    // An IPv6 address cannot be in an IPv4 database.
    EXPECT_EQ(database.locate("2001:db8::1"), "");
}

TEST(IpDatabaseTest, ErrorNamesTheFileThatCannotBeUsed) {
    const TempFile dir("");
    const std::string missing = (dir.dir() / "missing.mmdb").string();
    const Result<IpDatabase> none = IpDatabase::open(missing);
    ASSERT_FALSE(none);
    EXPECT_EQ(none.error().path, missing);
    EXPECT_EQ(none.error().what, "cannot open");
    EXPECT_EQ(none.error().code, ENOENT);

    MmdbWriter writer(4, "GeoLite2-Country");
    writer.add("8.8.8.0/24", MmdbMap({{"country", MmdbMap({{"names", MmdbNames("US")}})}}));
    const std::string whole = writer.bytes();
    const TempFile locked(whole, "locked.mmdb");
    std::filesystem::permissions(locked.path(), std::filesystem::perms::none);
    EXPECT_TRUE(testing::InChildWithoutRoot([&] {
        const Result<IpDatabase> opened = IpDatabase::open(locked.path());
        return !opened && opened.error().path == locked.path() &&
               opened.error().what == "cannot open" && opened.error().code == EACCES;
    }));

    // Not a database at all; one whose metadata is cut off; an empty file.
    for (const std::string& bytes : {std::string("#Fields: c-ip\r\n1.2.3.4\r\n"),
                                     whole.substr(0, whole.size() - 30), std::string()}) {
        const TempFile bad(bytes, "bad.mmdb");
        const Result<IpDatabase> opened = IpDatabase::open(bad.path());
        ASSERT_FALSE(opened);
        EXPECT_EQ(opened.error().path, bad.path());
        EXPECT_EQ(opened.error().what, "not an IP database") << opened.error().line();
        EXPECT_FALSE(opened.error().cause.empty());
        EXPECT_NE(opened.error().line().find("bad.mmdb"), std::string::npos);
    }
    const Result<IpDatabase> folder = IpDatabase::open(dir.dir().string());
    ASSERT_FALSE(folder);
    EXPECT_EQ(folder.error().what, "not an IP database");
}

} // namespace
} // namespace logdesk
