// Every section, key and default the program keeps in its settings file.
// Texts are UTF-8 here; the file holds them as GBK, which ConfigFile's
// read() and write() convert to.
#pragma once

#include "config_file.h"

#include <string_view>

namespace logdesk::settings {

// The log file last chosen in the main window's open dialog, offered by the
// dialog the next time; written as soon as a file is chosen, before it is
// read. Default: no file.
inline constexpr SettingKey kLogPath{"基本配置", "日志路径"};
inline constexpr std::string_view kLogPathDefault = "";

// The prefixes the statistics window puts before a URL it opens, on its URL
// page and on its status page; written when the window closes.
inline constexpr SettingKey kUrlPrefix{"更多精细统计", "HTTP前缀"};
inline constexpr SettingKey kStatusUrlPrefix{"更多精细统计", "HTTP前缀1"};
inline constexpr std::string_view kUrlPrefixDefault = "http://www.baidu.com/";

// The search host that IP lookups ask; only ever read.
inline constexpr SettingKey kIpQueryHost{"更多精细统计", "IP查询主机"};
inline constexpr std::string_view kIpQueryHostDefault = "www.baidu.com";

// Whether an import names today's crawlers (AI crawlers, newer search
// engines, SEO tools) besides the classic ones. Set by the chart window's
// check box and read by each import as it starts, so a change applies from
// the next import on. Default: the classic crawlers only, which keeps every
// table, tally and export that of the classic catalogue.
inline constexpr SettingKey kTodaysCrawlers{"蜘蛛占比统计", "识别当今蜘蛛"};
inline constexpr bool kTodaysCrawlersDefault = false;

// Where the crawler verification sends its DNS queries and how long one
// attempt waits (milliseconds); only ever read. An empty server list means
// the system's name servers; otherwise "host[:port],...", as
// ResolverSettings::servers takes it.
inline constexpr SettingKey kVerifyDnsServers{"蜘蛛真伪", "DNS服务器"};
inline constexpr std::string_view kVerifyDnsServersDefault = "";
inline constexpr SettingKey kVerifyDnsTimeout{"蜘蛛真伪", "DNS超时毫秒"};
inline constexpr std::string_view kVerifyDnsTimeoutDefault = "2000";
// The log field that holds the client's address behind a proxy or CDN
// (X-Forwarded-For, or what the administrator named it); empty: c-ip is the
// client. Read by the statistics pages and the crawler verification.
inline constexpr SettingKey kVerifyClientIpField{"蜘蛛真伪", "客户端IP字段"};
inline constexpr std::string_view kVerifyClientIpFieldDefault = "";
// "1": the window's block exports also list addresses judged 假 that sent
// visits naming no crawler (shared with people); anything else leaves them
// out, as logdesk-report does without --block-shared.
inline constexpr SettingKey kVerifyBlockShared{"蜘蛛真伪", "屏蔽共用IP"};
inline constexpr std::string_view kVerifyBlockSharedDefault = "0";

// The record export's column choice: one boolean per column caption, keyed
// by the caption followed by kCheckedSuffix (the record number column as
// "序号选中"). The user's choice lives in kExportChoiceSection, written when
// the export window closes; kExportDefaultsSection is never written, so that
// reading it gives the defaults (the record number and the columns the
// export ticks by default).
inline constexpr std::string_view kExportChoiceSection = "字段属性";
inline constexpr std::string_view kExportDefaultsSection = "恢复默认";
inline constexpr std::string_view kCheckedSuffix = "选中";

} // namespace logdesk::settings
