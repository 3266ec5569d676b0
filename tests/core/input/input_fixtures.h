// Files for the log source tests: a scratch folder, generated log text, and
// .gz files and archives written with zlib and libarchive.
#pragma once

#include "core/input/log_source.h"

#include <archive.h>
#include <archive_entry.h>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>
#include <utility>
#include <vector>
#include <zlib.h>

namespace logdesk::testing {

class ScratchFolder {
public:
    ScratchFolder() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "logdesk-input-XXXXXX").string();
        if (::mkdtemp(pattern.data()) != nullptr) {
            path_ = pattern;
        }
    }
    ~ScratchFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

    std::string write(const std::string& name, const std::string& bytes) const {
        const std::string full = *this / name;
        std::filesystem::create_directories(std::filesystem::path(full).parent_path());
        std::ofstream(full, std::ios::binary) << bytes;
        return full;
    }

private:
    std::string path_;
};

inline std::string ReadFileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Log-like lines that differ enough not to shrink to nothing when
// compressed: `lines` lines from a fixed seed.
inline std::string LogText(int lines, std::uint32_t seed = 1) {
    std::string text = "#Fields: date time cs-uri-stem sc-status\r\n";
    std::uint32_t state = seed;
    for (int i = 0; i < lines; ++i) {
        state = state * 1664525u + 1013904223u;
        text += "2013-05-01 00:" + std::to_string(i % 60) + ":00 /page/" +
                std::to_string(state % 100000) + ".html " + std::to_string(200 + state % 5) +
                "\r\n";
    }
    return text;
}

// One gzip member of `text`.
inline std::string GzipMember(const std::string& text, int level = 6) {
    z_stream stream{};
    EXPECT_EQ(deflateInit2(&stream, level, Z_DEFLATED, 16 + MAX_WBITS, 8, Z_DEFAULT_STRATEGY),
              Z_OK);
    std::string out(deflateBound(&stream, static_cast<uLong>(text.size())) + 32, '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
    stream.avail_in = static_cast<uInt>(text.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    EXPECT_EQ(deflate(&stream, Z_FINISH), Z_STREAM_END);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    return out;
}

struct ArchiveMember {
    std::string path;
    std::string bytes;
};

// Writes an archive with libarchive: `format` an archive_write_set_format_*
// routine, `filter` an archive_write_add_filter_* one (or null).
inline void WriteArchive(const std::string& path, int (*format)(archive*), int (*filter)(archive*),
                         const std::vector<ArchiveMember>& members) {
    archive* out = archive_write_new();
    ASSERT_EQ(format(out), ARCHIVE_OK);
    if (filter != nullptr) {
        ASSERT_EQ(filter(out), ARCHIVE_OK);
    }
    ASSERT_EQ(archive_write_open_filename(out, path.c_str()), ARCHIVE_OK)
        << archive_error_string(out);
    for (const ArchiveMember& member : members) {
        archive_entry* entry = archive_entry_new();
        archive_entry_set_pathname(entry, member.path.c_str());
        archive_entry_set_filetype(entry, AE_IFREG);
        archive_entry_set_perm(entry, 0644);
        archive_entry_set_size(entry, static_cast<la_int64_t>(member.bytes.size()));
        ASSERT_EQ(archive_write_header(out, entry), ARCHIVE_OK) << archive_error_string(out);
        if (!member.bytes.empty()) {
            ASSERT_EQ(archive_write_data(out, member.bytes.data(), member.bytes.size()),
                      static_cast<la_ssize_t>(member.bytes.size()));
        }
        archive_entry_free(entry);
    }
    ASSERT_EQ(archive_write_close(out), ARCHIVE_OK);
    archive_write_free(out);
}

struct ReadOutcome {
    std::string bytes;
    ssize_t last = 0; // what the final read returned
    int error = 0;    // errno when it returned -1
};

// Reads a source to its end in reads of `step` bytes.
inline ReadOutcome ReadToEnd(LogSource& source, std::size_t step = 65536) {
    ReadOutcome outcome;
    std::vector<char> buffer(step);
    for (;;) {
        errno = 0;
        const ssize_t got = source.read(buffer.data(), buffer.size());
        if (got <= 0) {
            outcome.last = got;
            outcome.error = got < 0 ? errno : 0;
            return outcome;
        }
        outcome.bytes.append(buffer.data(), static_cast<std::size_t>(got));
    }
}

} // namespace logdesk::testing
