#include "result.h"

#include "platform.h"

namespace logdesk {

std::string Error::reason() const {
    if (what.empty() || cause.empty()) {
        return what + cause;
    }
    return what + ": " + cause;
}

std::string Error::line() const {
    return path.empty() ? reason() : path + ": " + reason();
}

Error SystemError(int code, std::string what, std::string path) {
    return Error{std::move(what), std::move(path), ErrnoText(code), code};
}

} // namespace logdesk
