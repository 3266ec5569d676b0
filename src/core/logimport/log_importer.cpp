#include "log_importer.h"

#include "core/base/platform.h"
#include "input_loop.h"
#include "parallel_work.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <stdexcept>

namespace logdesk {

namespace {

// Memory running out is reported like any other failure, never thrown at the
// caller: what was read is released before the result returns.
template <typename Import> auto GuardMemory(Import&& import) -> decltype(import()) {
    try {
        return import();
    } catch (const std::bad_alloc&) {
        return Failed(ENOMEM);
    } catch (const std::length_error&) {
        return Failed(ENOMEM);
    }
}

} // namespace

LogImporter::LogImporter(const HeaderLayout& previousHeader, const ImportOptions& options)
    : options_(options) {
    state_ = MakeInputState(previousHeader, options_, WorkThreads(options_.threads));
}

LogImporter::~LogImporter() = default;

Result<InputRead> LogImporter::add(const Reader& read, std::uint64_t expectedSize) {
    if (failure_) {
        return *failure_;
    }
    Result<InputRead> outcome =
        GuardMemory([&] { return state_->read(read, expectedSize, progressOfInputs_); });
    if (!outcome) {
        failure_ = outcome.error();
        state_.reset(); // nothing of a failed import is kept
    }
    return outcome;
}

Result<LogImport> LogImporter::finish() {
    if (failure_) {
        return *failure_;
    }
    Result<LogImport> imported =
        GuardMemory([&]() -> Result<LogImport> { return state_->finish(); });
    state_.reset();
    return imported;
}

namespace {

// One input read as the whole log: a failure part-way fails the import.
Result<LogImport> ImportOne(const LogImporter::Reader& read, std::uint64_t total,
                            const HeaderLayout& previousHeader, const ImportOptions& options) {
    LogImporter importer(previousHeader, options);
    importer.reportProgress(true);
    const Result<InputRead> outcome = importer.add(read, total);
    if (!outcome) {
        return outcome.error();
    }
    if (outcome->failure) {
        return Failed(outcome->failure->code);
    }
    return importer.finish();
}

} // namespace

Result<LogImport> ImportLogBytes(std::string_view bytes, const HeaderLayout& previousHeader,
                                 const ImportOptions& options) {
    std::size_t at = 0;
    auto read = [&](char* buffer, std::size_t size) -> Result<std::size_t> {
        const std::size_t n = std::min(size, bytes.size() - at);
        std::memcpy(buffer, bytes.data() + at, n);
        at += n;
        return n;
    };
    return ImportOne(read, bytes.size(), previousHeader, options);
}

Result<LogImport> ImportLogFile(const std::string& path, const HeaderLayout& previousHeader,
                                const ImportOptions& options) {
    // Read-only: IIS keeps today's log open for writing, and reading must not
    // disturb it.
    Result<LogImport> imported = [&]() -> Result<LogImport> {
        const Result<FileDescriptor> file = OpenForReading(path);
        if (!file) {
            return Failed(file.error().code);
        }
        const std::uint64_t total = RegularFileSize(file->get()).value_or(0);
        auto read = [&](char* buffer, std::size_t size) {
            return ReadSome(file->get(), buffer, size);
        };
        return ImportOne(read, total, previousHeader, options);
    }();
    if (!imported) {
        Error error = imported.error();
        error.path = path;
        return error;
    }
    return imported;
}

} // namespace logdesk
