// The kinds of value the program keeps in its settings file. Each setting is
// one constant of one kind (settings_keys.h): its key, its default and, by its
// kind, how its value is read from and stored as the file's GBK text. Callers
// read and write a setting through it, so none repeats a default or a parse.
//
// Every kind is a SettingKey, so ConfigFile::read/write still take one for
// the raw text. Defaults are UTF-8, as the source writes them; values going
// in and out are GBK, the program's text. Reads and writes go to the file at
// once (ConfigFile keeps nothing), on the caller's thread.
#pragma once

#include "config_file.h"

#include <string>
#include <string_view>

namespace logdesk {

// Text kept as it is (line breaks as ConfigFile stores them).
struct TextSetting : SettingKey {
    std::string_view defaultText; // UTF-8; a literal, so NUL-terminated

    std::string read(ConfigFile& config) const;
    Result<void> write(ConfigFile& config, std::string_view value) const;
};

// A yes/no stored as "真" / "假"; any other stored text reads as no.
struct FlagSetting : SettingKey {
    bool defaultValue = false;

    bool read(ConfigFile& config) const;
    Result<void> write(ConfigFile& config, bool value) const;
};

// A yes/no stored as "1" / "0"; any other stored text reads as no. Only
// ever read: the administrator types it into the file.
struct DigitFlagSetting : SettingKey {
    bool defaultValue = false;

    bool read(ConfigFile& config) const;
};

// A whole number from minValue to maxValue, stored as decimal text. The
// number is read from the text's start, so "300ms" is 300; a text that starts
// with no number, or with one out of range, reads as the default.
struct NumberSetting : SettingKey {
    long defaultValue = 0;
    long minValue = 0;
    long maxValue = 0;

    long read(ConfigFile& config) const;
};

// One yes/no per name the caller gives (GBK, such as a column caption),
// stored as FlagSetting stores it under the name followed by suffix. The
// default depends on the name, so the caller gives it with each read.
struct FlagFamilySetting {
    std::string_view section; // UTF-8
    std::string_view suffix;  // UTF-8

    bool read(ConfigFile& config, std::string_view name, bool defaultValue) const;
    Result<void> write(ConfigFile& config, std::string_view name, bool value) const;
};

} // namespace logdesk
