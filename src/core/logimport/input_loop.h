// Reading one input after another through the one-thread or the threaded
// import.
#pragma once

#include "core/base/result.h"
#include "field_catalogue.h"
#include "log_importer.h"

#include <cstdint>
#include <memory>
#include <string>
#include <utility>

namespace logdesk {

// A failure of the import, which keeps nothing of what it read.
inline Error Failed(int code, std::string cause = {}) {
    Error error = SystemError(code);
    if (!cause.empty()) {
        error.cause = std::move(cause);
    }
    return error;
}

// What every import keeps between the inputs it reads: the buffer being
// filled and how far its lines were taken.
class InputState {
public:
    virtual ~InputState() = default;
    virtual Result<InputRead> read(const LogImporter::Reader& read, std::uint64_t total,
                                   bool reportProgress) = 0;
    virtual LogImport finish() = 0;
};

// The reading of an import that splits on `threads` threads (1: the
// one-thread import). `options` must outlive it.
std::unique_ptr<InputState> MakeInputState(const HeaderLayout& previousHeader,
                                           const ImportOptions& options, unsigned threads);

} // namespace logdesk
