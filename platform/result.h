#pragma once

// The one result type of the platform layer. A call that can fail returns a Result (or a
// ResultOf<T> when it also yields a value): ok, or the system's error code with a text that is
// never empty. Codes are Win32 error codes on every backend, so callers and logs read the same
// numbers whatever the system.

#include <cstdint>
#include <string>
#include <utility>

namespace platform {

struct Result {
    bool ok = true;
    uint32_t code = 0; // the system's error code when !ok (0 when the system gave none)
    std::string text;  // what failed, never empty when !ok

    static Result success() { return {}; }
    static Result failure(uint32_t code, std::string text) {
        Result r;
        r.ok = false;
        r.code = code;
        r.text = text.empty() ? std::string("failed") : std::move(text);
        return r;
    }
    explicit operator bool() const { return ok; }
};

template <class T> struct ResultOf : Result {
    T value{};

    static ResultOf success(T value) {
        ResultOf r;
        r.value = std::move(value);
        return r;
    }
    static ResultOf failure(uint32_t code, std::string text) {
        ResultOf r;
        static_cast<Result&>(r) = Result::failure(code, std::move(text));
        return r;
    }
};

} // namespace platform
