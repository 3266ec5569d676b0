// The settings of each window or concern, read together from the settings
// file and written back through one call that says whether the file took
// them. Values are GBK, the program's text; the keys, defaults and storage
// are settings_keys.h's. Each window reads its object when its settings
// apply (see the moments there) and shows a failed write.
#pragma once

#include "config_file.h"

#include <string>

namespace logdesk {

// The main window's: the log file last chosen in its open dialog.
struct MainWindowSettings {
    std::string logPath;

    static MainWindowSettings read(ConfigFile& config);
    Result<void> write(ConfigFile& config) const;
};

// The statistics window's: the prefixes put before a URL it opens (URL page,
// status page), the search host its IP lookups ask, the local database
// they read instead when one is named, and the site host the coverage page
// of the crawl-analysis window it opens keeps of a URL list.
struct StatsWindowSettings {
    std::string urlPrefix;
    std::string statusUrlPrefix;
    std::string ipQueryHost;
    std::string ipDatabase; // a path; empty for the web lookup
    std::string siteHost;   // empty: the list's only host

    static StatsWindowSettings read(ConfigFile& config);
    // Writes both prefixes, the second also when the first failed; the first
    // failure is the answer. The hosts and the database are only ever read,
    // so never written.
    Result<void> write(ConfigFile& config) const;
};

// The crawler verification's, which the statistics pages share for the
// client's address. Only ever read: the administrator sets them in the file.
struct VerifySettings {
    // "host[:port],...", or empty for the system's name servers; checked by
    // the resolver that takes it.
    std::string dnsServers;
    int dnsTimeoutMs = 0; // per query and attempt
    // The log field naming the client behind a proxy; empty: c-ip.
    std::string clientIpField;
    // Whether the block exports also list addresses shared with people.
    bool blockShared = false;

    static VerifySettings read(ConfigFile& config);
};

// The chart window's, which every import also reads as it starts: whether
// it names today's crawlers besides the classic ones.
struct ChartSettings {
    bool todaysCrawlers = false;

    static ChartSettings read(ConfigFile& config);
    Result<void> write(ConfigFile& config) const;
};

} // namespace logdesk
