// The outcome of a call that can fail: a value, or an Error that says what
// failed. Failures cross module boundaries only this way, never as
// exceptions.
#pragma once

#include <cassert>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>

namespace logdesk {

// A failure in words a person can read. Texts are bytes as the system gives
// them (the path in file system bytes, the cause in the locale's encoding).
//
// Every failure is shown the same way: a message box puts the caller's
// heading before the path and the reason on the next line; a terminal gets
// line(), after the program's name. A caller whose heading already says
// what failed (reading the log, say) may get an Error with an empty `what`.
struct Error {
    std::string what;  // what failed: "cannot create", "write failed"; may be empty
    std::string path;  // the file involved, as the caller named it; empty when none
    std::string cause; // why: the system's message, a library's, or the program's own words
    int code = 0;      // the errno value behind it (ENOMEM, ECANCELED ...), 0 when none

    // `what` and `cause` joined by ": ", or whichever of them is not empty.
    std::string reason() const;
    // The path, ": " and the reason; the reason alone when there is no path.
    // Both as ForTerminal gives them.
    std::string line() const;
};

// Text for one line of a terminal: every control byte (below 0x20, and
// 0x7F) as \xNN, so that a file or member name cannot start a line of its
// own or send the terminal a command. Other bytes are kept as they are.
std::string ForTerminal(std::string_view text);

// An Error for an errno value: its cause is the system's text for it.
Error SystemError(int code, std::string what = {}, std::string path = {});

template <typename T> class [[nodiscard]] Result {
public:
    Result(T value) : state_(std::in_place_index<0>, std::move(value)) {}
    Result(Error error) : state_(std::in_place_index<1>, std::move(error)) {}

    bool ok() const { return state_.index() == 0; }
    explicit operator bool() const { return ok(); }

    // Only when ok().
    T& value() & { return *get(); }
    const T& value() const& { return *get(); }
    T&& value() && { return std::move(*get()); }
    T& operator*() & { return *get(); }
    const T& operator*() const& { return *get(); }
    T* operator->() { return get(); }
    const T* operator->() const { return get(); }

    // Only when !ok().
    const Error& error() const {
        assert(!ok());
        return *std::get_if<1>(&state_);
    }

private:
    T* get() {
        assert(ok());
        return std::get_if<0>(&state_);
    }
    const T* get() const {
        assert(ok());
        return std::get_if<0>(&state_);
    }

    std::variant<T, Error> state_;
};

template <> class [[nodiscard]] Result<void> {
public:
    Result() = default;
    Result(Error error) : error_(std::move(error)) {}

    bool ok() const { return !error_.has_value(); }
    explicit operator bool() const { return ok(); }

    // Only when !ok().
    const Error& error() const {
        assert(!ok());
        return *error_;
    }

private:
    std::optional<Error> error_;
};

} // namespace logdesk
