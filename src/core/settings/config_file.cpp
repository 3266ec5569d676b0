#include "config_file.h"

#include "core/base/platform.h"
#include "core/base/whole_files.h"
#include "core/text/gbk_codec.h"
#include "core/text/gbk_text.h"

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <vector>

namespace logdesk {

namespace {

constexpr std::string_view kFileName = "logdesk.ini";

// Blanks here are spaces and tabs (TrimAsciiBlanks, not TrimBlanks): a
// full-width blank is part of a name or value, as INI files have always had
// it.
bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

// Trail bytes of double-byte characters include 0x41-0x5A, so folding byte by
// byte (as EqualsIgnoreAsciiCase does) would take two different Chinese
// characters for one; here only single-byte characters are folded.
bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size();) {
        if (CharLength(a, i) == 2) {
            if (a[i] != b[i] || a[i + 1] != b[i + 1]) {
                return false;
            }
            i += 2;
        } else {
            if (AsciiLower(a[i]) != AsciiLower(b[i])) {
                return false;
            }
            ++i;
        }
    }
    return true;
}

// Byte offsets of one line: its text is [begin, end), its line break (if
// any) [end, next).
struct Line {
    std::size_t begin;
    std::size_t end;
    std::size_t next;
};

// LF, CR LF and CR alone each end a line, as Windows editors write and read
// them: a file saved with bare CRs is as many lines as it shows.
std::vector<Line> SplitLines(std::string_view text) {
    std::vector<Line> lines;
    std::size_t begin = 0;
    while (begin < text.size()) {
        const std::size_t end = std::min(text.find_first_of("\r\n", begin), text.size());
        std::size_t next = end;
        if (next < text.size()) {
            next += text.compare(next, 2, "\r\n") == 0 ? 2 : 1;
        }
        lines.push_back({begin, end, next});
        begin = next;
    }
    return lines;
}

// The break the file's first line ends with; CR LF for a new file or one
// without any break, the INI files' own line end.
std::string_view LineBreakOf(std::string_view text) {
    const std::size_t at = text.find_first_of("\r\n");
    if (at == std::string_view::npos || text.compare(at, 2, "\r\n") == 0) {
        return "\r\n";
    }
    return text[at] == '\n' ? "\n" : "\r";
}

// The name inside `[...]`, up to the last ']' so that a name holding ']'
// reads back. The search walks characters, as 0x5D is also a trail byte.
std::optional<std::string_view> HeaderName(std::string_view line) {
    const std::string_view text = TrimAsciiBlanks(line);
    if (text.empty() || text[0] != '[') {
        return std::nullopt;
    }
    const TextPos close = FindLastChar(text, ']');
    if (close == kNotFound) {
        return std::nullopt;
    }
    return TrimAsciiBlanks(text.substr(1, static_cast<std::size_t>(close) - 2));
}

// A key line's name and the offsets (within the line) of its trimmed value.
struct KeyLine {
    std::string_view name;
    std::size_t valueBegin;
    std::size_t valueEnd;
};

std::optional<KeyLine> ParseKeyLine(std::string_view line) {
    const std::string_view text = TrimAsciiBlanks(line);
    const std::size_t eq = line.find('=');
    if (text.empty() || text[0] == ';' || eq == std::string_view::npos) {
        return std::nullopt;
    }
    const std::string_view rest = line.substr(eq + 1);
    std::size_t lead = 0;
    while (lead < rest.size() && IsBlank(rest[lead])) {
        ++lead;
    }
    const std::size_t valueBegin = eq + 1 + lead;
    return KeyLine{TrimAsciiBlanks(line.substr(0, eq)), valueBegin,
                   valueBegin + TrimAsciiBlanks(rest).size()};
}

// What a line still needs after it so that a line added there starts a line
// of its own: nothing after a break; an LF after the file's final CR in a
// file of LF or CR LF breaks, which reads as a break already but would
// stand out; the file's break after a last line without any.
enum class BreakNeeded { None, Lf, Full };

BreakNeeded BreakAfter(std::string_view text, const Line& line, std::string_view lineBreak) {
    if (line.next == line.end) {
        return BreakNeeded::Full;
    }
    const bool finalLoneCr = line.next == text.size() && text.back() == '\r' &&
                             line.next - line.end == 1;
    return finalLoneCr && lineBreak != "\r" ? BreakNeeded::Lf : BreakNeeded::None;
}

// The bytes that end text so that whatever is appended starts a new line;
// nothing for an empty text.
std::string_view CompletingBreak(std::string_view text, std::string_view lineBreak) {
    if (text.empty() || text.back() == '\n' || (text.back() == '\r' && lineBreak == "\r")) {
        return {};
    }
    return text.back() == '\r' ? std::string_view("\n") : lineBreak;
}

// Where a key is, or where it would go, in the file's bytes.
struct Location {
    bool sectionFound = false;
    // After the section's last line that is not blank, so that blank lines
    // separating it from the next section stay where they are.
    std::size_t insertAt = 0;
    // What the line before insertAt lacks of a break.
    BreakNeeded insertBreak = BreakNeeded::None;
    bool keyFound = false;
    std::size_t valueBegin = 0;
    std::size_t valueEnd = 0;
};

Location Locate(std::string_view text, std::string_view section, std::string_view key) {
    Location at;
    bool inSection = false;
    for (const Line& line : SplitLines(text)) {
        const std::string_view content = text.substr(line.begin, line.end - line.begin);
        if (const auto name = HeaderName(content)) {
            if (inSection) {
                break;
            }
            if (SameName(*name, section)) {
                at.sectionFound = inSection = true;
                at.insertAt = line.next;
                at.insertBreak = BreakAfter(text, line, LineBreakOf(text));
            }
            continue;
        }
        if (!inSection || TrimAsciiBlanks(content).empty()) {
            continue;
        }
        at.insertAt = line.next;
        at.insertBreak = BreakAfter(text, line, LineBreakOf(text));
        const auto keyLine = ParseKeyLine(content);
        if (keyLine && SameName(keyLine->name, key)) {
            at.keyFound = true;
            at.valueBegin = line.begin + keyLine->valueBegin;
            at.valueEnd = line.begin + keyLine->valueEnd;
            break;
        }
    }
    return at;
}

std::string LineBreakMark() {
    return Gbk("┊*┊");
}

// A lone CR or LF is stored as a CR LF would be: left as it is, it would end
// the line and the rest of the value would become a line of its own.
std::string EncodeValue(std::string_view value) {
    const std::string mark = LineBreakMark();
    std::string text = ReplaceText(value, "\r\n", mark);
    text = ReplaceText(text, "\r", mark);
    return ReplaceText(text, "\n", mark);
}

std::string DecodeValue(std::string_view stored) {
    return ReplaceText(stored, LineBreakMark(), "\r\n");
}

// What a write of value promises to read back: each line break, and each
// mark within a line, as CR LF, the outer blanks gone. EncodeValue and
// DecodeValue give this unless a line of the value ends in a lead byte (the
// mark after it no longer starts a character) or in part of a mark.
std::string PromisedValue(std::string_view value) {
    std::string promised;
    std::size_t begin = 0;
    for (;;) {
        const std::size_t at = value.find_first_of("\r\n", begin);
        promised += DecodeValue(value.substr(begin, at - begin));
        if (at == std::string_view::npos) {
            break;
        }
        promised += "\r\n";
        begin = at + (value.substr(at, 2) == "\r\n" ? 2 : 1);
    }
    return std::string(TrimAsciiBlanks(promised));
}

// The header line for section, without its break. Before ']' goes a blank
// when the name ends in a lone lead byte, which would otherwise take the
// ']' for its trail byte; the reader drops blanks inside the brackets.
std::string HeaderLine(std::string_view section) {
    std::string line = "[" + std::string(section) + "]";
    const auto name = HeaderName(line);
    if (!name || *name != section) {
        line.insert(line.size() - 1, " ");
    }
    return line;
}

// A name that can be written as a header or key line and found again.
bool IsWritableName(std::string_view name, bool isKey) {
    if (name.find_first_of("\r\n") != std::string_view::npos) {
        return false;
    }
    return !isKey || (!name.empty() && name.find('=') == std::string_view::npos && name[0] != ';' &&
                      name[0] != '[');
}

// Puts bytes in place of the file at path (the file a symbolic link names)
// so that, whatever happens, it holds either the old or the new content
// whole.
Result<void> ReplaceFile(const std::string& path, std::string_view bytes) {
    Result<FileReplacement> replacement = FileReplacement::Begin(FollowLinks(path));
    if (!replacement) {
        return replacement.error();
    }
    if (Result<void> written = WriteAll(replacement->descriptor(), bytes); !written) {
        return written;
    }
    return replacement->commit();
}

// The error of a write, naming the settings file as the caller knows it.
Error WriteError(Error error, const std::string& path) {
    error.path = path;
    return error;
}

Error Unstorable(const char* what, const std::string& path) {
    return Error{what, path, {}, 0};
}

std::string JoinPath(const std::string& dir, std::string_view name) {
    std::string path = dir;
    if (path.empty() || path.back() != '/') {
        path += '/';
    }
    path += name;
    return path;
}

} // namespace

std::optional<std::string> ConfigFile::storedText(std::string_view key) const {
    const std::string_view name = TrimAsciiBlanks(key);
    if (name.empty()) {
        return std::nullopt;
    }
    const Result<std::string> file = ReadWholeFile(path_);
    if (!file) {
        return std::nullopt;
    }
    const std::string& text = *file;
    const Location at = Locate(text, TrimAsciiBlanks(section_), name);
    if (!at.keyFound) {
        return std::nullopt;
    }
    return DecodeValue(std::string_view(text).substr(at.valueBegin, at.valueEnd - at.valueBegin));
}

std::string ConfigFile::readText(std::string_view key, std::string_view defaultValue) const {
    if (auto stored = storedText(key)) {
        return std::move(*stored);
    }
    return DecodeValue(EncodeValue(defaultValue));
}

Result<void> ConfigFile::writeText(std::string_view key, std::string_view value) {
    try {
        const std::string_view name = TrimAsciiBlanks(key);
        const std::string_view section = TrimAsciiBlanks(section_);
        if (!IsWritableName(name, true)) {
            return Unstorable("the key's name cannot be stored", path_);
        }
        if (!IsWritableName(section, false)) {
            return Unstorable("the section's name cannot be stored", path_);
        }
        Result<std::string> file = ReadWholeFile(path_);
        const bool missing = !file && file.error().code == ENOENT;
        // Writing over a file that could not be read would lose its settings.
        if (!file && !missing) {
            return WriteError(file.error(), path_);
        }
        const std::string text = missing ? std::string() : std::move(file).value();
        const std::string_view lineBreak = LineBreakOf(text);
        // Outer blanks never read back; stored, they would pile up between
        // the blanks kept around the old value on every rewrite.
        const std::string encoded(TrimAsciiBlanks(EncodeValue(value)));
        const Location at = Locate(text, section, name);
        std::string updated = text;
        if (at.keyFound) {
            updated.replace(at.valueBegin, at.valueEnd - at.valueBegin, encoded);
        } else {
            std::string lines;
            if (!at.sectionFound) {
                updated += CompletingBreak(updated, lineBreak);
                lines.append(HeaderLine(section)).append(lineBreak);
            } else if (at.insertBreak == BreakNeeded::Lf) {
                lines.append("\n");
            } else if (at.insertBreak == BreakNeeded::Full) {
                lines.append(lineBreak);
            }
            lines.append(name).append("=").append(encoded).append(lineBreak);
            updated.insert(at.sectionFound ? at.insertAt : updated.size(), lines);
        }
        // The new text is read as a later read would read it: a write that
        // would not give its value back is refused rather than reported done.
        const Location written = Locate(updated, section, name);
        if (!written.keyFound || DecodeValue(std::string_view(updated).substr(
                                     written.valueBegin, written.valueEnd - written.valueBegin)) !=
                                     PromisedValue(value)) {
            return Unstorable("the value cannot be stored", path_);
        }
        if (!missing && updated == text) {
            return {};
        }
        if (Result<void> replaced = ReplaceFile(path_, updated); !replaced) {
            return WriteError(replaced.error(), path_);
        }
        return {};
    } catch (...) {
        // Out of memory; callers carry on with the settings they have.
        return SystemError(ENOMEM, {}, path_);
    }
}

bool ConfigFile::readBool(std::string_view key, bool defaultValue) const {
    const auto stored = storedText(key);
    return stored ? *stored == Gbk("真") : defaultValue;
}

Result<void> ConfigFile::writeBool(std::string_view key, bool value) {
    try {
        return writeText(key, Gbk(value ? "真" : "假"));
    } catch (...) {
        return SystemError(ENOMEM, {}, path_);
    }
}

std::string ConfigFile::read(const SettingKey& key, std::string_view defaultValue) {
    selectSection(Gbk(key.section));
    return readText(Gbk(key.name), defaultValue);
}

Result<void> ConfigFile::write(const SettingKey& key, std::string_view value) {
    try {
        selectSection(Gbk(key.section));
        return writeText(Gbk(key.name), value);
    } catch (...) {
        return SystemError(ENOMEM, {}, path_);
    }
}

bool ConfigFile::readFlag(const SettingKey& key, bool defaultValue) {
    selectSection(Gbk(key.section));
    return readBool(Gbk(key.name), defaultValue);
}

Result<void> ConfigFile::writeFlag(const SettingKey& key, bool value) {
    try {
        selectSection(Gbk(key.section));
        return writeBool(Gbk(key.name), value);
    } catch (...) {
        return SystemError(ENOMEM, {}, path_);
    }
}

std::string ConfigFilePath(const std::string& executableDir) {
    // Creating the temporary file for a write needs both rights on the folder.
    if (CanCreateFilesIn(executableDir)) {
        return JoinPath(executableDir, kFileName);
    }
    std::string base;
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    const char* home = std::getenv("HOME");
    // Relative XDG paths are to be ignored, as the XDG base directory rules say.
    if (xdg != nullptr && xdg[0] == '/') {
        base = xdg;
    } else if (home != nullptr && home[0] != '\0') {
        base = JoinPath(home, ".config");
    } else {
        // Nowhere better: reads still find a file shipped beside the program.
        return JoinPath(executableDir, kFileName);
    }
    const std::string dir = JoinPath(base, "logdesk");
    std::error_code ignored;
    std::filesystem::create_directories(dir, ignored);
    return JoinPath(dir, kFileName);
}

} // namespace logdesk
