// What the fuzz targets share: invariant checks that end the run as a crash,
// and a scratch folder for targets that need files.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>
#include <unistd.h>

// A broken invariant prints where and what, then aborts: libFuzzer keeps the
// input as a crash. Active in every build type, unlike assert().
#define FUZZ_CHECK(condition)                                                                      \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            ::logdesk::FuzzCheckFailed(#condition, __FILE__, __LINE__);                            \
        }                                                                                          \
    } while (false)

namespace logdesk {

[[noreturn]] inline void FuzzCheckFailed(const char* condition, const char* file, int line) {
    std::fprintf(stderr, "%s:%d: fuzz check failed: %s\n", file, line, condition);
    std::abort();
}

// A folder of this process's own, made on first use and removed with its
// files when the process exits normally; every input reuses it, so a long
// run leaves no trail of files behind. The name is never freed: the removal
// runs among the exit handlers, after function-local statics are destroyed.
inline const std::string& ScratchDir() {
    static const std::string* const dir = [] {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "logdesk-fuzz.XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) {
            std::perror("mkdtemp");
            std::abort();
        }
        auto* kept = new std::string(std::move(pattern));
        std::atexit([] {
            std::error_code ignored;
            std::filesystem::remove_all(ScratchDir(), ignored);
        });
        return kept;
    }();
    return *dir;
}

inline std::string ScratchPath(std::string_view name) {
    return ScratchDir() + "/" + std::string(name);
}

// Replaces the file at path with bytes; aborts when that fails, as every
// later check would be meaningless.
inline void WriteScratchFile(const std::string& path, std::string_view bytes) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr || std::fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size() ||
        std::fclose(file) != 0) {
        std::perror(path.c_str());
        std::abort();
    }
}

inline std::string ReadScratchFile(const std::string& path) {
    std::string bytes;
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        return bytes;
    }
    char buffer[4096];
    std::size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
        bytes.append(buffer, n);
    }
    std::fclose(file);
    return bytes;
}

} // namespace logdesk
