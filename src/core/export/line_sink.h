// Destinations for exported text. Writers hand over whole lines; a sink
// buffers them and keeps the first failure, which ends the export.
#pragma once

#include "core/base/result.h"
#include "core/base/whole_files.h"

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace logdesk {

class LineSink {
public:
    virtual ~LineSink() = default;
    // False once anything has failed; the failure is then in status(). A
    // bool rather than a Result: writers call this once a line, millions of
    // times an export, and stop at the first false; the sink keeps the
    // failure, and the writer fetches it once.
    virtual bool write(std::string_view bytes) = 0;
    // Success, or the first failure.
    virtual Result<void> status() const = 0;
};

// What a writer reports when sink.write() gave false: the sink's failure, or
// a plain "write failed" from a sink that kept none.
Error FailureOf(const LineSink& sink);

// Collects everything in memory; for tests and small outputs.
class StringSink final : public LineSink {
public:
    bool write(std::string_view bytes) override {
        text_.append(bytes);
        return true;
    }
    Result<void> status() const override { return {}; }
    const std::string& text() const { return text_; }

private:
    std::string text_;
};

// Writes to a file through a buffer.
//
// A regular file named by path (or a name that does not exist yet) is
// replaced whole: the bytes go to a new file in the same directory, which
// close() syncs and renames over the target once every byte is written. The
// target keeps its old content byte for byte until then, and for good when a
// write fails or the sink is destroyed without a successful close(); no
// temporary file is left either way. A replaced file keeps its permission
// bits (and its owner and group where the process may set them); a new one
// gets what a plain create gives, 0666 less the umask. A symbolic link is
// followed: the file it names is replaced, the link stays. An existing file
// the process may not write is refused, as opening it would be.
//
// Anything else the path names (a device such as /dev/null, a FIFO, a
// terminal, a descriptor reached through /proc such as /dev/stdout) is
// written in place: opened without truncation (a regular file behind /proc
// in append mode), never renamed over and never removed.
class FileSink final : public LineSink {
public:
    // Opens path for writing. Errors name path as given.
    static Result<FileSink> Open(const std::string& path);
    // Writes to an inherited descriptor (standard output), which stays open.
    static FileSink ForDescriptor(int fd);
    FileSink(FileSink&& other) noexcept;
    FileSink& operator=(FileSink&&) = delete;
    // Abandons what close() did not finish: buffered bytes are dropped and
    // the temporary file removed, so a replaced target stays as it was.
    ~FileSink() override = default;

    bool write(std::string_view bytes) override;
    Result<void> status() const override;
    // Flushes, syncs and puts the file in place; success when every byte
    // reached it, else the first failure. Later calls give the same answer.
    Result<void> close();

private:
    explicit FileSink(std::string path) : path_(std::move(path)) {}
    bool flush();
    void fail(const char* what, const Error& error);

    std::string path_; // as the caller named it, for errors
    // Where bytes go: a replacement's temporary file, a file opened in
    // place, or a borrowed descriptor; -1 once closed.
    int fd_ = -1;
    std::optional<FileReplacement> replacement_;
    FileDescriptor inPlace_;
    std::string buffer_;
    std::optional<Error> failure_;
};

// Opens path with FileSink, lets `write` fill it and closes it: success, or
// the first failure of the three. The file is replaced only when all three
// succeed; after a failure of `write` it is abandoned, not closed.
Result<void> ExportToFile(const std::string& path,
                          const std::function<Result<void>(LineSink&)>& write);

// Converts GBK text to UTF-8 on its way to another sink.
class Utf8Sink final : public LineSink {
public:
    explicit Utf8Sink(LineSink& target) : target_(target) {}
    bool write(std::string_view bytes) override;
    Result<void> status() const override { return target_.status(); }

private:
    LineSink& target_;
};

} // namespace logdesk
