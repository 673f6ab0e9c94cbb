// What an open or find call of the seam answers: the thing it opened or
// found, or the Windows error code that says why not. One object, so a
// caller tests one thing and can neither read a stale handle after a
// failure nor an unset code after a success.
#pragma once

#include <cassert>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <type_traits>
#include <utility>

#include "platform/Types.h"

namespace platform {

// The failing half of a Result, so a function can `return Failure(code);`.
class Failure {
public:
    // Windows reports every failure with a code; a zero here would read as
    // success to anyone comparing codes, so it is kept as an internal error
    // instead (the failure happened, its reason was lost).
    explicit Failure(uint32_t code) : code_(code != kErrSuccess ? code : kErrInternalError) {}
    uint32_t Code() const { return code_; }

private:
    uint32_t code_;
};

template <typename T>
class [[nodiscard]] Result {
public:
    // Success. Any value T can be made from (a std::unique_ptr to a back
    // end's class for one to the interface) is taken as it is.
    template <typename U = T,
              typename = std::enable_if_t<std::is_constructible_v<T, U&&> &&
                                          !std::is_same_v<std::decay_t<U>, Failure> &&
                                          !std::is_same_v<std::decay_t<U>, Result> &&
                                          !std::is_same_v<std::decay_t<U>, std::nullptr_t>>>
    Result(U&& value) : value_(std::in_place, std::forward<U>(value)) {}
    // Failure, never success with nothing in it: a null handle is no answer.
    Result(Failure failure) : error_(failure.Code()) {}
    Result(std::nullptr_t) = delete;

    explicit operator bool() const { return value_.has_value(); }
    // The Windows error code of a failure; kErrSuccess on success.
    uint32_t Error() const { return error_; }

    // The value of a success; asking a failure for it is a programming error.
    T& Value() & {
        assert(value_.has_value());
        return *value_;
    }
    const T& Value() const& {
        assert(value_.has_value());
        return *value_;
    }
    T& operator*() & { return Value(); }
    const T& operator*() const& { return Value(); }
    T* operator->() { return &Value(); }
    const T* operator->() const { return &Value(); }

    // Moves the value of a success out, for a caller that keeps it longer
    // than the Result.
    T Take() {
        assert(value_.has_value());
        return std::move(*value_);
    }

private:
    std::optional<T> value_;
    uint32_t error_ = kErrSuccess;
};

}  // namespace platform
