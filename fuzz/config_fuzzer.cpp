// The input is "section NUL key NUL value NUL file text" (missing parts are
// empty): the file text becomes the settings file, the key is read, written
// with the value and read again. A write that reports success must have
// stored the value so that it reads back, changed nothing but that key's
// line (or added its lines), and leave the file as it is when the same value
// is written again; a write that reports failure must leave the file alone.
#include "fuzz_support.h"
#include "core/settings/config_file.h"
#include "core/text/gbk_codec.h"
#include "core/text/gbk_text.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace logdesk {
namespace {

std::string_view TakePart(std::string_view& input) {
    const std::size_t nul = input.find('\0');
    const std::string_view part = input.substr(0, nul);
    input.remove_prefix(nul == std::string_view::npos ? input.size() : nul + 1);
    return part;
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

// What reading gives back for a written value: line breaks stored as the
// mark read back as CR LF, and blanks at both ends do not survive.
std::string ReadBackOf(std::string_view value) {
    const std::string mark = Gbk("┊*┊");
    std::string stored = ReplaceText(ReplaceText(value, "\r\n", mark), "\r", mark);
    stored = ReplaceText(stored, "\n", mark);
    std::string_view trimmed = stored;
    while (!trimmed.empty() && IsBlank(trimmed.front())) {
        trimmed.remove_prefix(1);
    }
    while (!trimmed.empty() && IsBlank(trimmed.back())) {
        trimmed.remove_suffix(1);
    }
    return ReplaceText(trimmed, mark, "\r\n");
}

// Apart from the written key's line, the file keeps every byte: the bytes
// that differ between the two files (after their common start and end) lie
// within one line of the old file, and new lines are only ever added.
void CheckOnlyKeyChanged(std::string_view before, std::string_view after) {
    std::size_t prefix = 0;
    while (prefix < before.size() && prefix < after.size() && before[prefix] == after[prefix]) {
        ++prefix;
    }
    std::size_t suffix = 0;
    while (suffix < before.size() - prefix && suffix < after.size() - prefix &&
           before[before.size() - 1 - suffix] == after[after.size() - 1 - suffix]) {
        ++suffix;
    }
    const std::string_view removed = before.substr(prefix, before.size() - prefix - suffix);
    const std::string_view added = after.substr(prefix, after.size() - prefix - suffix);
    FUZZ_CHECK(removed.find('\n') == std::string_view::npos);
    if (added.find('\n') != std::string_view::npos) {
        FUZZ_CHECK(removed.empty());
    }
    // At most a break after the old last line, a section header and the key.
    const auto breaks = [](std::string_view text) {
        return std::count(text.begin(), text.end(), '\n');
    };
    FUZZ_CHECK(breaks(after) - breaks(before) <= 3);
}

} // namespace
} // namespace logdesk

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace logdesk;
    std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::string_view section = TakePart(input);
    const std::string_view key = TakePart(input);
    const std::string_view value = TakePart(input);
    const std::string_view text = input;

    static const std::string path = ScratchPath("logdesk.ini");
    WriteScratchFile(path, text);
    ConfigFile config(path);
    config.selectSection(section);
    const std::string absent = Gbk("(无)");
    (void)config.readText(key, absent);
    (void)config.readBool(key, false);

    const bool written = config.writeText(key, value).ok();
    const std::string after = ReadScratchFile(path);
    if (!written) {
        FUZZ_CHECK(after == text);
        return 0;
    }
    FUZZ_CHECK(config.readText(key, absent) == ReadBackOf(value));
    CheckOnlyKeyChanged(text, after);

    FUZZ_CHECK(config.writeText(key, value));
    FUZZ_CHECK(ReadScratchFile(path) == after);
    return 0;
}
