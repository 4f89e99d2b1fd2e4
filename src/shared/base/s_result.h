// base::Result: what crosses a module boundary when something can fail:
// "ok" (with a value, where there is one) or the reason it failed. The
// reason is written for the log; where the failure was a local file, the
// file and the system's code come with it, so a caller can tell the player
// what to do about it.
#pragma once

#include <optional>
#include <string>
#include <system_error>
#include <utility>
#include <variant>

namespace base {

struct Failure {
    std::string reason;
    // The local file that could not be read or written, and why; empty when
    // the failure was not a file's.
    std::string path;
    std::error_code code;
};

template <class T = void>
class [[nodiscard]] Result {
public:
    Result(T value) : state_(std::move(value)) {}
    Result(Failure failure) : state_(std::move(failure)) {}

    bool ok() const { return state_.index() == 0; }
    explicit operator bool() const { return ok(); }
    // The value; only when ok.
    T& value() { return std::get<0>(state_); }
    const T& value() const { return std::get<0>(state_); }
    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }
    T& operator*() { return value(); }
    const T& operator*() const { return value(); }
    // Why not; only when not ok.
    const Failure& failure() const { return std::get<1>(state_); }
    const std::string& reason() const { return failure().reason; }

private:
    std::variant<T, Failure> state_;
};

template <>
class [[nodiscard]] Result<void> {
public:
    Result() = default;
    Result(Failure failure) : failure_(std::move(failure)) {}

    bool ok() const { return !failure_; }
    explicit operator bool() const { return ok(); }
    const Failure& failure() const { return *failure_; }
    const std::string& reason() const { return failure_->reason; }

private:
    std::optional<Failure> failure_;
};

// A failure for `reason`, with the file and code where it was a file's.
inline Failure Fail(std::string reason, std::string path = {}, std::error_code code = {}) {
    return Failure{std::move(reason), std::move(path), code};
}

}  // namespace base
