// The program's settings file: an INI file of `[section]` headers and
// `key=value` lines, stored as GBK, the encoding of every other text the
// program keeps, so that a settings file can be edited and moved between the
// machines of a site with the tools that read its logs.
//
// The rules of INI files as their users know them:
// - section and key names match ignoring the case of A-Z only, and the first
//   matching section, and within it the first matching key, wins;
// - blanks (space, tab) around names, around '=' and at both ends of a value
//   are ignored when reading, so a value's own outer blanks do not survive;
// - lines before the first header, lines starting with ';' and lines without
//   '=' are never keys; a write keeps them as they are;
// - a missing or unreadable file, section or key gives the caller's default;
//   a key present with nothing after '=' gives the empty text.
//
// The file is read afresh on every call, so edits by hand or by another copy
// of the program are seen. For the GUI thread; the object holds no more than
// the path and the selected section.
#pragma once

#include "core/base/result.h"

#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace logdesk {

// A key and the section it lives in, UTF-8 as the program's source writes
// them (see settings_keys.h).
struct SettingKey {
    std::string_view section;
    std::string_view name;
};

class ConfigFile {
public:
    explicit ConfigFile(std::string path) : path_(std::move(path)) {}

    // The section later reads and writes use; until the first call it is the
    // empty name, which only a `[]` header matches.
    void selectSection(std::string_view section) { section_ = section; }

    // A line break cannot stand inside a line, so values are stored with
    // every CR LF as "┊*┊" and read back with every "┊*┊" as CR LF; the
    // default goes through the same two steps. A lone CR or LF is stored like
    // a CR LF and therefore reads back as CR LF.
    std::string readText(std::string_view key, std::string_view defaultValue) const;

    // Changes this one key in the file and nothing else: the value is
    // replaced in place, or the key is added at the end of its section, or the
    // section is added at the end of the file. The file is replaced as a whole
    // through a temporary file in its directory, so a crash or a full disk
    // leaves either the old or the new file, never a partial one.
    //
    // A line added after a last line without an LF first completes that
    // line's break, so the addition never joins it. A section name ending in
    // a lead byte that no trail byte follows gets a blank before its ']'.
    //
    // Succeeds only when the file, read again, gives the value back as
    // readText would promise: every line break as CR LF, the outer blanks
    // gone. Fails when the file could not be read or replaced, or when the
    // names or the value could not be found again once written (an empty
    // key, a line break in the key or the section, '=' in the key, a key
    // starting with ';' or '[', a line break right after a lead byte in the
    // value); the file is then left as it was. Errors name path(). Never
    // throws.
    Result<void> writeText(std::string_view key, std::string_view value);

    // Stored as "真" / "假"; true exactly when the stored text is "真".
    bool readBool(std::string_view key, bool defaultValue) const;
    Result<void> writeBool(std::string_view key, bool value);

    // readText and writeText of a key of the program's, which also select
    // its section. The default and the value are GBK.
    std::string read(const SettingKey& key, std::string_view defaultValue);
    Result<void> write(const SettingKey& key, std::string_view value);
    // readBool and writeBool of a key of the program's, likewise.
    bool readFlag(const SettingKey& key, bool defaultValue);
    Result<void> writeFlag(const SettingKey& key, bool value);

    const std::string& path() const { return path_; }

private:
    // The decoded value of key in the selected section, or nothing when the
    // file, the section or the key is missing.
    std::optional<std::string> storedText(std::string_view key) const;

    std::string path_;
    std::string section_;
};

// Where the settings file lives: beside the executable when the process may
// create files in that folder (a portable install, as on Windows), else
// $XDG_CONFIG_HOME/logdesk/logdesk.ini or ~/.config/logdesk/logdesk.ini, whose
// folder is created here when missing.
std::string ConfigFilePath(const std::string& executableDir);

} // namespace logdesk
