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

// Writes to a file descriptor through a buffer. A file opened by path is
// created or truncated; when it was not written whole, close() removes it,
// so a failed export never leaves a partial file behind.
class FileSink final : public LineSink {
public:
    // Opens path for writing; check ok() / error().
    explicit FileSink(const std::string& path);
    // Writes to an inherited descriptor (standard output); never removed.
    static FileSink ForDescriptor(int fd);
    FileSink(FileSink&& other) noexcept;
    FileSink& operator=(FileSink&&) = delete;
    ~FileSink() override;

    bool ok() const { return error_.empty(); }
    bool write(std::string_view bytes) override;
    const std::string& error() const override { return error_; }
    // Flushes and closes; true when every byte reached the file.
    bool close();

private:
    FileSink() = default;
    bool flush();
    void fail(const char* what, int err);

    int fd_ = -1;
    bool owned_ = false;
    std::string path_;
    std::string buffer_;
    std::string error_;
};

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
