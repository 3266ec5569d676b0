// Files read whole and files replaced whole, on top of the platform calls.
#pragma once

#include "platform.h"
#include "result.h"

#include <string>
#include <utility>

namespace logdesk {

// The file's bytes. A missing file fails with code ENOENT, so that callers
// can tell it from one that exists and cannot be read.
Result<std::string> ReadWholeFile(const std::string& path);

// A new file that takes the place of `target` whole, so that the path holds
// either the old or the new content, never a part: the bytes go to a
// temporary file beside target, which commit() syncs and renames over it.
// Until then, and for good when commit() fails or the object is destroyed
// without it, target stays byte for byte as it was and no temporary file is
// left. Owned by one thread.
class FileReplacement {
public:
    // The new file gets target's permission bits (and its owner and group
    // where the process may give them) when target exists, else what a plain
    // create gives: 0666 less the umask. `target` names a file, not a link.
    static Result<FileReplacement> Begin(const std::string& target);

    FileReplacement(FileReplacement&& other) noexcept;
    FileReplacement& operator=(FileReplacement&&) = delete;
    ~FileReplacement();

    // Where the new bytes go; valid until commit() or abandon().
    int descriptor() const { return temporary_.file.get(); }

    // Syncs the new file, closes it and renames it over target. Errors say
    // "write failed" when the bytes may not have reached the disk and
    // "cannot replace" when the rename failed; either way target is as it
    // was. Once only.
    Result<void> commit();

    // Closes and removes the new file; target stays as it was.
    void abandon();

private:
    FileReplacement(std::string target, TemporaryFile temporary)
        : target_(std::move(target)), temporary_(std::move(temporary)) {}

    std::string target_;
    TemporaryFile temporary_; // its path is empty once renamed or removed
};

} // namespace logdesk
