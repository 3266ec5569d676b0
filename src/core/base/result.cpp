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
    return ForTerminal(path.empty() ? reason() : path + ": " + reason());
}

std::string ForTerminal(std::string_view text) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string shown;
    shown.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) {
            shown += "\\x";
            shown += kHex[byte >> 4];
            shown += kHex[byte & 0xF];
        } else {
            shown += c;
        }
    }
    return shown;
}

Error SystemError(int code, std::string what, std::string path) {
    return Error{std::move(what), std::move(path), ErrnoText(code), code};
}

} // namespace logdesk
