// Logs and look-ups for the tests that load into a ClickHouse server of
// their own (support/clickhouse_server.h).
#pragma once

#include "core/warehouse/clickhouse_client.h"
#include "core/warehouse/record_rows.h"
#include "core/warehouse/warehouse_loader.h"

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace logdesk::testing {

inline constexpr const char* kWarehouseFields =
    "date time s-ip cs-method cs-uri-stem cs-uri-query s-port cs-username c-ip "
    "cs(User-Agent) cs(Referer) sc-status sc-substatus sc-win32-status time-taken";

// Lines `first` .. `first + count - 1` of a generated IIS log: crawlers and
// browsers, several days and hours, repeated URLs and addresses, a few odd
// cells (an empty status, a date that is no date, "-" numbers), GBK bytes
// in URLs. The same numbers give the same lines.
inline std::string WarehouseLogLines(std::uint64_t first, std::uint64_t count) {
    static const char* const agents[] = {
        "Mozilla/5.0+(compatible;+Baiduspider/2.0;++http://www.baidu.com/search/spider.html)",
        "Mozilla/5.0+(compatible;+Googlebot/2.1;++http://www.google.com/bot.html)",
        "Sogou+web+spider/4.0(+http://www.sogou.com/docs/help/webmasters.htm#07)",
        "Mozilla/5.0+(Windows+NT+10.0;+Win64;+x64)+AppleWebKit/537.36",
        "Mozilla/5.0+(compatible;+bingbot/2.0;++http://www.bing.com/bingbot.htm)",
        "Mozilla/5.0+(compatible;+Bytespider;+spider-feedback@bytedance.com)",
    };
    std::string text;
    for (std::uint64_t n = first; n < first + count; ++n) {
        const std::uint64_t x = (n * 2654435761u) ^ (n >> 3);
        const unsigned day = 1 + static_cast<unsigned>(n / 700 % 5);
        const unsigned hour = static_cast<unsigned>(x % 24);
        char date[16];
        std::snprintf(date, sizeof date, "2024-03-%02u", day);
        char time[16];
        std::snprintf(time, sizeof time, "%02u:%02u:%02u", hour, static_cast<unsigned>(n % 60),
                      static_cast<unsigned>(x % 60));
        std::string dateCell = n % 997 == 5 ? "2024-13-01" : date;
        std::string url = "/p" + std::to_string(x % 131) + (x % 17 == 0 ? "/\xD6\xD0\xCE\xC4" : "");
        std::string status = n % 911 == 3 ? "" : std::to_string(x % 9 == 0 ? 404 : 200);
        std::string win32 = x % 7 == 0 ? "64" : "0";
        text += dateCell + " " + time + " 10.0.0.1 GET " + url + " " +
                (x % 5 == 0 ? "a=1&b='q\\" : "-") + " 80 - 192.168." +
                std::to_string(x % 3) + "." + std::to_string(x % 41) + " " + agents[x % 6] +
                " - " + status + " 0 " + win32 + " " +
                (n % 13 == 0 ? std::string("-") : std::to_string(x % 500)) + "\r\n";
    }
    return text;
}

inline std::string WarehouseLog(std::uint64_t lines, std::uint64_t first = 0) {
    return "#Software: Microsoft Internet Information Services 10.0\r\n#Version: 1.0\r\n"
           "#Date: 2024-03-01 00:00:00\r\n#Fields: " +
           std::string(kWarehouseFields) + "\r\n" + WarehouseLogLines(first, lines);
}

inline void WriteBytes(const std::filesystem::path& path, const std::string& bytes,
                       bool append = false) {
    std::ofstream(path, std::ios::binary | (append ? std::ios::app : std::ios::trunc)) << bytes;
}

// The answer of a query that must work, without its last line end.
inline std::string Ask(ClickHouseClient& client, const std::string& statement) {
    const Result<std::string> answer = client.query(statement + " FORMAT TabSeparated");
    EXPECT_TRUE(answer) << (answer ? "" : answer.error().line());
    std::string text = answer ? *answer : std::string();
    while (!text.empty() && text.back() == '\n') {
        text.pop_back();
    }
    return text;
}

// Rows of counted loads, and rows in the table whatever their load.
inline std::uint64_t CountedRows(ClickHouseClient& client, const WarehouseTables& tables = {}) {
    return std::stoull(
        Ask(client, "SELECT count() FROM " + tables.records + " WHERE " + CountedLoads(tables)));
}
inline std::uint64_t StoredRows(ClickHouseClient& client, const WarehouseTables& tables = {}) {
    return std::stoull(Ask(client, "SELECT count() FROM " + tables.records));
}

} // namespace logdesk::testing
