#include "window_settings.h"

#include "settings_keys.h"

namespace logdesk {

MainWindowSettings MainWindowSettings::read(ConfigFile& config) {
    return {settings::kLogPath.read(config)};
}

Result<void> MainWindowSettings::write(ConfigFile& config) const {
    return settings::kLogPath.write(config, logPath);
}

StatsWindowSettings StatsWindowSettings::read(ConfigFile& config) {
    StatsWindowSettings loaded;
    loaded.urlPrefix = settings::kUrlPrefix.read(config);
    loaded.statusUrlPrefix = settings::kStatusUrlPrefix.read(config);
    loaded.ipQueryHost = settings::kIpQueryHost.read(config);
    loaded.ipDatabase = settings::kIpDatabase.read(config);
    loaded.siteHost = settings::kSiteHost.read(config);
    return loaded;
}

Result<void> StatsWindowSettings::write(ConfigFile& config) const {
    Result<void> saved = settings::kUrlPrefix.write(config, urlPrefix);
    Result<void> saved1 = settings::kStatusUrlPrefix.write(config, statusUrlPrefix);
    return saved ? saved1 : saved;
}

VerifySettings VerifySettings::read(ConfigFile& config) {
    VerifySettings loaded;
    loaded.dnsServers = settings::kVerifyDnsServers.read(config);
    loaded.dnsTimeoutMs = static_cast<int>(settings::kVerifyDnsTimeout.read(config));
    loaded.clientIpField = settings::kVerifyClientIpField.read(config);
    loaded.blockShared = settings::kVerifyBlockShared.read(config);
    return loaded;
}

ChartSettings ChartSettings::read(ConfigFile& config) {
    return {settings::kTodaysCrawlers.read(config)};
}

Result<void> ChartSettings::write(ConfigFile& config) const {
    return settings::kTodaysCrawlers.write(config, todaysCrawlers);
}

} // namespace logdesk
