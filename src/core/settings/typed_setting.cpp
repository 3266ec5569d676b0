#include "typed_setting.h"

#include "core/text/gbk_codec.h"

#include <cerrno>
#include <cstdlib>

namespace logdesk {

std::string TextSetting::read(ConfigFile& config) const {
    return config.read(*this, Gbk(defaultText));
}

Result<void> TextSetting::write(ConfigFile& config, std::string_view value) const {
    return config.write(*this, value);
}

bool FlagSetting::read(ConfigFile& config) const {
    return config.readFlag(*this, defaultValue);
}

Result<void> FlagSetting::write(ConfigFile& config, bool value) const {
    return config.writeFlag(*this, value);
}

bool DigitFlagSetting::read(ConfigFile& config) const {
    return config.read(*this, defaultValue ? "1" : "0") == "1";
}

long NumberSetting::read(ConfigFile& config) const {
    const std::string stored = config.read(*this, "");
    const char* begin = stored.c_str();
    char* end = nullptr;
    errno = 0;
    const long number = std::strtol(begin, &end, 10);
    if (end == begin || errno == ERANGE || number < minValue || number > maxValue) {
        return defaultValue;
    }
    return number;
}

bool FlagFamilySetting::read(ConfigFile& config, std::string_view name, bool defaultValue) const {
    config.selectSection(Gbk(section));
    return config.readBool(std::string(name) + Gbk(suffix), defaultValue);
}

Result<void> FlagFamilySetting::write(ConfigFile& config, std::string_view name,
                                      bool value) const {
    try {
        config.selectSection(Gbk(section));
        return config.writeBool(std::string(name) + Gbk(suffix), value);
    } catch (...) {
        // Out of memory, as ConfigFile's own writes report it.
        return SystemError(ENOMEM, {}, config.path());
    }
}

} // namespace logdesk
