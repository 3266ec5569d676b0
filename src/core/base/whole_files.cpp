#include "whole_files.h"

#include <utility>

namespace logdesk {

namespace {

constexpr std::size_t kReadBlock = std::size_t{64} << 10;

Error Relabelled(Error error, const char* what, const std::string& path) {
    error.what = what;
    error.path = path;
    return error;
}

} // namespace

Result<std::string> ReadWholeFile(const std::string& path) {
    Result<FileDescriptor> file = OpenForReading(path);
    if (!file) {
        return file.error();
    }
    std::string bytes;
    for (;;) {
        const std::size_t at = bytes.size();
        bytes.resize(at + kReadBlock);
        const Result<std::size_t> got = ReadSome(file->get(), bytes.data() + at, kReadBlock);
        if (!got) {
            return Relabelled(got.error(), "cannot read", path);
        }
        bytes.resize(at + *got);
        if (*got == 0) {
            return bytes;
        }
    }
}

Result<FileReplacement> FileReplacement::Begin(const std::string& target) {
    Result<TemporaryFile> temporary = CreateTemporaryBeside(target);
    if (!temporary) {
        return temporary.error();
    }
    FileReplacement replacement(target, std::move(temporary).value());
    const Result<void> rights = CopyAccessRights(target, replacement.descriptor());
    if (!rights) {
        return Relabelled(rights.error(), "cannot create", target);
    }
    return replacement;
}

FileReplacement::FileReplacement(FileReplacement&& other) noexcept
    : target_(std::move(other.target_)), temporary_{std::move(other.temporary_.file),
                                                    std::exchange(other.temporary_.path, {})} {}

FileReplacement::~FileReplacement() {
    abandon();
}

void FileReplacement::abandon() {
    temporary_.file = FileDescriptor();
    if (!temporary_.path.empty()) {
        DiscardFile(temporary_.path);
        temporary_.path.clear();
    }
}

Result<void> FileReplacement::commit() {
    if (temporary_.path.empty()) {
        return Error{"cannot replace", target_, "the new file is gone", 0};
    }
    Result<void> done = SyncFile(descriptor());
    const Result<void> closed = temporary_.file.close();
    if (done && !closed) {
        done = closed;
    }
    if (done) {
        done = RenameFile(temporary_.path, target_);
        if (done) {
            temporary_.path.clear();
            SyncDirectoryOf(target_);
            return {};
        }
        done = Relabelled(done.error(), "cannot replace", target_);
    } else {
        done = Relabelled(done.error(), "write failed", target_);
    }
    abandon();
    return done;
}

} // namespace logdesk
