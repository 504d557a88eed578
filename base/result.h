#pragma once

#include <optional>
#include <string>
#include <utility>
#include <variant>

namespace morvane {

// Why a call failed, worded for the person who reads it: the window shows it in a box,
// a tool prints it on standard error.
struct Error {
    std::string message;
};

// What a call that can fail returns: its value, or the Error that stopped it. The
// caller has to look before it takes the value.
template <class T> class [[nodiscard]] Result {
public:
    Result(T value) : outcome_(std::move(value)) {}
    Result(Error error) : outcome_(std::move(error)) {}

    bool ok() const { return outcome_.index() == 0; }
    explicit operator bool() const { return ok(); }

    T& value() { return std::get<0>(outcome_); }
    const T& value() const { return std::get<0>(outcome_); }
    T& operator*() { return value(); }
    const T& operator*() const { return value(); }
    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }

    const Error& error() const { return std::get<1>(outcome_); }

private:
    std::variant<T, Error> outcome_;
};

// A call that can fail and gives nothing back when it succeeds.
template <> class [[nodiscard]] Result<void> {
public:
    Result() = default;
    Result(Error error) : error_(std::move(error)) {}

    bool ok() const { return !error_; }
    explicit operator bool() const { return ok(); }
    const Error& error() const { return *error_; }

private:
    std::optional<Error> error_;
};

using Status = Result<void>;

} // namespace morvane
