// Destinations for exported text. Writers hand over whole lines; a sink
// buffers them and reports the first failure, which ends the export.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

namespace logdesk {

class LineSink {
public:
    virtual ~LineSink() = default;
    // False once anything has failed; the reason is then in error().
    virtual bool write(std::string_view bytes) = 0;
    virtual const std::string& error() const = 0;
};

// Collects everything in memory; for tests and small outputs.
class StringSink final : public LineSink {
public:
    bool write(std::string_view bytes) override {
        text_.append(bytes);
        return true;
    }
    const std::string& error() const override { return error_; }
    const std::string& text() const { return text_; }

private:
    std::string text_;
    std::string error_;
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
    // Opens path for writing; check ok() / error().
    explicit FileSink(const std::string& path);
    // Writes to an inherited descriptor (standard output), which stays open.
    static FileSink ForDescriptor(int fd);
    FileSink(FileSink&& other) noexcept;
    FileSink& operator=(FileSink&&) = delete;
    // Abandons what close() did not finish: buffered bytes are dropped and
    // the temporary file removed, so a replaced target stays as it was.
    ~FileSink() override;

    bool ok() const { return error_.empty(); }
    bool write(std::string_view bytes) override;
    const std::string& error() const override { return error_; }
    // Flushes, syncs and puts the file in place; true when every byte
    // reached it. Later calls give the same answer.
    bool close();

private:
    FileSink() = default;
    bool flush();
    void fail(const char* what, int err);
    void openInPlace(const std::string& path, bool append);
    void openReplacement(const std::string& target, bool exists);
    void abandon();

    int fd_ = -1;
    bool owned_ = false;
    std::string target_;    // renamed over at close(); empty when written in place
    std::string temporary_; // created here; removed unless renamed
    std::string buffer_;
    std::string error_;
};

// True when both paths name one existing file (same device and inode), also
// through hard links and symbolic links.
bool SameFile(const std::string& a, const std::string& b);

// Converts GBK text to UTF-8 on its way to another sink.
class Utf8Sink final : public LineSink {
public:
    explicit Utf8Sink(LineSink& target) : target_(target) {}
    bool write(std::string_view bytes) override;
    const std::string& error() const override { return target_.error(); }

private:
    LineSink& target_;
};

} // namespace logdesk
