// The client behind a proxy: the first public address of a forwarded-for
// list, the field found by its name.
#include "core/logimport/client_address.h"

#include <gtest/gtest.h>

namespace logdesk {
namespace {

TEST(ClientAddressTest, TheFirstPublicAddressOfTheListIsTheClient) {
    const std::pair<const char*, const char*> cases[] = {
        {"66.249.66.1", "66.249.66.1"},
        {"66.249.66.1,+10.0.0.2", "66.249.66.1"},              // IIS writes blanks as '+'
        {"10.0.0.9, 192.168.1.4, 203.0.113.9", "203.0.113.9"}, // internal hops first
        {"100.64.0.1,172.16.5.5,169.254.0.1,127.0.0.1,66.249.66.2", "66.249.66.2"},
        {"203.0.113.9:51234", "203.0.113.9"},
        {"[2001:db8::5]:443,10.0.0.1", "2001:db8::5"},
        {"fd00::1,fe80::1,::1,2404:6800:4005:80a::200e", "2404:6800:4005:80a::200e"},
        {"::ffff:10.0.0.1,::ffff:66.249.66.3", "::ffff:66.249.66.3"},
        {"-", "10.9.9.9"},
        {"", "10.9.9.9"},
        {"unknown,10.0.0.1", "10.9.9.9"},
        {"10.0.0.1,192.168.0.1", "10.9.9.9"},
    };
    for (const auto& [forwarded, client] : cases) {
        EXPECT_EQ(ClientAddress(forwarded, "10.9.9.9"), client) << forwarded;
    }
}

TEST(ClientAddressTest, TheFieldIsFoundByItsNameInEitherForm) {
    HeaderLayout header;
    header.fieldNames = {"date", "c-ip", "X-Forwarded-For", "cs(True-Client-IP)"};
    EXPECT_EQ(FieldColumn(header, "x-forwarded-for"), 3);
    EXPECT_EQ(FieldColumn(header, "True-Client-IP"), 4);
    EXPECT_EQ(FieldColumn(header, "cs(True-Client-IP)"), 4);
    EXPECT_EQ(FieldColumn(header, "X-Real-IP"), 0);
    EXPECT_EQ(FieldColumn(header, ""), 0);
}

} // namespace
} // namespace logdesk
