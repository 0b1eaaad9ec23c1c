// SPDX-License-Identifier: MIT
#pragma once
// A value, or why there is none. The reason is said where the fault is met;
// each caller on the way up may put what it was doing in front of it:
//   saving the address for COM3: writing /x/y.tmp: No space left on device
#include <optional>
#include <string>
#include <type_traits>
#include <utility>
#include <variant>

namespace brivelton {

class Error {
 public:
  explicit Error(std::string reason) : reason_(std::move(reason)) {}

  // The reason as it was met, without what was put in front of it: for a
  // text that names the reason in its own words.
  const std::string& reason() const { return reason_; }
  // What was being done, outermost first, then the reason.
  std::string text() const { return context_.empty() ? reason_ : context_ + ": " + reason_; }

  // The same error, with `doing` in front.
  Error In(const std::string& doing) && {
    context_ = context_.empty() ? doing : doing + ": " + context_;
    return std::move(*this);
  }

 private:
  std::string reason_;
  std::string context_;
};

template <typename T = void>
class [[nodiscard]] Result {
 public:
  // Whatever makes a T, as a return statement would make it.
  template <typename U = T>
    requires(std::is_convertible_v<U &&, T> && !std::is_same_v<std::remove_cvref_t<U>, Error> &&
             !std::is_same_v<std::remove_cvref_t<U>, Result>)
  Result(U&& value) : held_(std::in_place_index<0>, std::forward<U>(value)) {}
  Result(Error error) : held_(std::in_place_index<1>, std::move(error)) {}

  explicit operator bool() const { return held_.index() == 0; }
  T& operator*() & { return std::get<0>(held_); }
  const T& operator*() const& { return std::get<0>(held_); }
  T&& operator*() && { return std::get<0>(std::move(held_)); }
  T* operator->() { return &std::get<0>(held_); }
  const T* operator->() const { return &std::get<0>(held_); }
  const Error& error() const { return std::get<1>(held_); }

  // A failure with `doing` in front of its reason; a value as it is.
  Result In(const std::string& doing) && {
    if (held_.index() == 1) std::get<1>(held_) = std::get<1>(std::move(held_)).In(doing);
    return std::move(*this);
  }

 private:
  std::variant<T, Error> held_;
};

// Done, or why not.
template <>
class [[nodiscard]] Result<void> {
 public:
  Result() = default;
  Result(Error error) : error_(std::move(error)) {}

  explicit operator bool() const { return !error_; }
  const Error& error() const { return *error_; }

  Result In(const std::string& doing) && {
    if (error_) error_ = std::move(*error_).In(doing);
    return std::move(*this);
  }

 private:
  std::optional<Error> error_;
};

}  // namespace brivelton
