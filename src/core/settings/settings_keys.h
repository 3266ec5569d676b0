// Every setting the program keeps in its settings file: section, key, default
// and, by its kind (typed_setting.h), how it is stored. Texts are UTF-8 here;
// the file holds them as GBK, which the kinds convert to. The settings a
// window or concern uses are read together in window_settings.h.
#pragma once

#include "typed_setting.h"

#include <string_view>

namespace logdesk::settings {

// The log file last chosen in the main window's open dialog, offered by the
// dialog the next time; read when the main window opens, written as soon as
// a file is chosen, before it is read. Default: no file.
inline constexpr TextSetting kLogPath{{"基本配置", "日志路径"}, ""};

// The prefixes the statistics window puts before a URL it opens, on its URL
// page and on its status page; read when the window opens, written when it
// closes. The default is also the edit boxes' text in the window's layout.
inline constexpr TextSetting kUrlPrefix{{"更多精细统计", "HTTP前缀"}, "http://www.baidu.com/"};
inline constexpr TextSetting kStatusUrlPrefix{{"更多精细统计", "HTTP前缀1"},
                                              kUrlPrefix.defaultText};

// The search host that IP lookups ask; only ever read, when the statistics
// window opens.
inline constexpr TextSetting kIpQueryHost{{"更多精细统计", "IP查询主机"}, "www.baidu.com"};
// A local IP location database in the MaxMind DB format (.mmdb, a city or a
// country database), as a path; when set, the statistics window's lookups
// read it instead of asking the search host. Only ever read, when the
// statistics window opens. Default: none, the web lookup.
inline constexpr TextSetting kIpDatabase{{"更多精细统计", "IP数据库"}, ""};
// The site whose URL list the crawl-analysis window's coverage page reads,
// as a host name ("www.example.com", ASCII case ignored), for a list that
// holds URLs of several hosts: those of this one are kept and the others
// left out. A list of one host is read whole whatever this says, unless it
// names another host, which fails. Only ever read, when the statistics
// window opens. Default: none, so a list of several hosts is refused with
// their names.
inline constexpr TextSetting kSiteHost{{"更多精细统计", "站点主机"}, ""};

// Whether an import names today's crawlers (AI crawlers, newer search
// engines, SEO tools) besides the classic ones. Set by the chart window's
// check box and read by each import as it starts, so a change applies from
// the next import on. Default: the classic crawlers only, which keeps every
// table, tally and export that of the classic catalogue.
inline constexpr FlagSetting kTodaysCrawlers{{"蜘蛛占比统计", "识别当今蜘蛛"}, false};

// Where the crawler verification sends its DNS queries and how long one
// attempt waits (milliseconds); only ever read, when the statistics window
// opens (for the verification windows it opens). An empty server list means
// the system's name servers; otherwise "host[:port],...", as
// ResolverSettings::servers takes it and checks it. The default timeout is
// the resolver's own default, 2000.
inline constexpr TextSetting kVerifyDnsServers{{"蜘蛛真伪", "DNS服务器"}, ""};
inline constexpr NumberSetting kVerifyDnsTimeout{{"蜘蛛真伪", "DNS超时毫秒"}, 2000, 1, 600000};
// The log field that holds the client's address behind a proxy or CDN
// (X-Forwarded-For, or what the administrator named it); empty: c-ip is the
// client. Read when the statistics window opens, for its pages and the
// crawler verification.
inline constexpr TextSetting kVerifyClientIpField{{"蜘蛛真伪", "客户端IP字段"}, ""};
// "1": the verification window's block exports also list addresses judged 假 that sent
// visits naming no crawler (shared with people); anything else leaves them
// out, as logdesk-report does without --block-shared.
inline constexpr DigitFlagSetting kVerifyBlockShared{{"蜘蛛真伪", "屏蔽共用IP"}, false};

// Who logdesk-report --to clickhouse and --from clickhouse speak to the
// server as: the user when the URL names none (empty: the server's default
// user), and the password unless the environment's
// LOGDESK_CLICKHOUSE_PASSWORD gives one (the command line never does). Only
// ever read; the administrator writes them into the file.
inline constexpr TextSetting kClickHouseUser{{"ClickHouse", "用户"}, ""};
inline constexpr TextSetting kClickHousePassword{{"ClickHouse", "密码"}, ""};

// The record export's column choice: one flag per column caption, keyed by
// the caption followed by "选中" (the record number column as "序号选中").
// The user's choice lives in kExportChoice, written when the export window
// closes; kExportDefaults is never written, so that reading it gives the
// defaults (the record number and the columns the export ticks by default,
// which export_column_settings.h gives).
inline constexpr FlagFamilySetting kExportChoice{"字段属性", "选中"};
inline constexpr FlagFamilySetting kExportDefaults{"恢复默认", "选中"};

} // namespace logdesk::settings
