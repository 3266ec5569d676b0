// The input is a file read as a log source: as a .gz file through each
// inflater, as an archive (zip or tar, compressed or not) member by member,
// and as one bzip2/xz/zstd stream. Every source is held to the read
// contract of log_source.h, the inflaters that finish must agree on the
// text, and an archive member read a second time (the reader started over)
// gives the same text as the first time.
#include "fuzz_support.h"
#include "core/input/archive_source.h"
#include "core/input/gzip_source.h"

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace logdesk {
namespace {

// Reads to the end in reads of `step` bytes; the text when complete.
std::optional<std::string> Drain(LogSource& source, std::size_t step) {
    std::string text;
    std::vector<char> buffer(step);
    for (;;) {
        errno = 0;
        const ssize_t got = source.read(buffer.data(), buffer.size());
        FUZZ_CHECK(got >= -1 && got <= static_cast<ssize_t>(step));
        if (got > 0) {
            FUZZ_CHECK(!source.status().ended());
            text.append(buffer.data(), static_cast<std::size_t>(got));
            continue;
        }
        const SourceStatus& status = source.status();
        FUZZ_CHECK(status.ended());
        FUZZ_CHECK(status.deliveredBytes == text.size());
        FUZZ_CHECK(source.delivered() == text.size());
        FUZZ_CHECK((got == 0) == status.complete());
        if (got < 0) {
            FUZZ_CHECK(errno == status.code() && errno != 0 && errno != EINTR);
            FUZZ_CHECK((status.state == SourceState::Damaged) == (errno == EBADMSG));
            FUZZ_CHECK(!source.describeFailure().empty());
        }
        // An ended source stays ended.
        char byte = 0;
        FUZZ_CHECK(source.read(&byte, 1) == got);
        if (got < 0) {
            return std::nullopt;
        }
        return text;
    }
}

} // namespace
} // namespace logdesk

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace logdesk;
    const std::string path = ScratchPath("input");
    WriteScratchFile(path, {reinterpret_cast<const char*>(data), size});
    const std::size_t step = 1 + size % 4099;

    std::optional<std::string> agreed;
    for (const GzipInflater inflater :
         {GzipInflater::Isal, GzipInflater::Zlib, GzipInflater::Libdeflate}) {
        GzipOptions options;
        options.inflater = inflater;
        options.inputBlockBytes = 1 + size % 61;
        auto source = OpenGzipFile(path, options);
        const std::optional<std::string> text = Drain(*source, step);
        if (text && agreed) {
            FUZZ_CHECK(*text == *agreed);
        }
        if (text) {
            agreed = text;
        }
    }

    LogArchive archive(path);
    std::optional<std::string> first;
    for (std::size_t i = 0; i < archive.members().size(); ++i) {
        auto member = archive.openMember(i);
        FUZZ_CHECK(member->name().member == archive.members()[i].path);
        const std::optional<std::string> text = Drain(*member, step);
        if (i == 0) {
            first = text;
        }
    }
    if (first && archive.members().size() > 1) {
        auto again = archive.openMember(0);
        const std::optional<std::string> text = Drain(*again, step);
        FUZZ_CHECK(text && *text == *first);
    }

    auto stream = OpenCompressedFile(path);
    Drain(*stream, step);
    return 0;
}
