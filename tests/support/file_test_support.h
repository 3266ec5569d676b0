// Helpers for tests that make files and read back what the program wrote.
#pragma once

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace logdesk::testing {

// A file in a fresh temporary directory, removed with the object.
class TempFile {
public:
    explicit TempFile(const std::string& bytes, const std::string& name = "test.log") {
        dir_ = std::filesystem::temp_directory_path() /
               ("logdesk-test-" + std::to_string(::getpid()) + "-" + std::to_string(counter_++));
        std::filesystem::create_directories(dir_);
        path_ = (dir_ / name).string();
        std::ofstream(path_, std::ios::binary) << bytes;
    }
    ~TempFile() {
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }
    const std::string& path() const { return path_; }
    std::filesystem::path dir() const { return dir_; }

private:
    static inline int counter_ = 0;
    std::filesystem::path dir_;
    std::string path_;
};

// The file's bytes; empty when it cannot be read.
inline std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

// Runs check() in a child process without the rights of root, who may write
// anything: as the user nobody when the tests run as root. True when the
// child ran and check() gave true. The child shares nothing back but the
// answer, so check() must not rely on the test's later state.
template <typename Check> bool InChildWithoutRoot(Check check) {
    const pid_t child = ::fork();
    if (child < 0) {
        return false;
    }
    if (child == 0) {
        if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) {
            ::_exit(3);
        }
        ::_exit(check() ? 0 : 1);
    }
    int status = 0;
    return ::waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

} // namespace logdesk::testing
