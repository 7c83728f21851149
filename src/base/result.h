// Error values and the result type that every fallible operation returns.
#pragma once

#include <cassert>
#include <string>
#include <utility>
#include <variant>

namespace corvandel {

// What went wrong, in broad terms; shown in fatal diagnostics.
enum class ErrorKind {
  not_found,
  permission_denied,
  already_exists,
  is_a_directory,
  not_a_regular_file,
  invalid_input,
  invalid_data,
  storage_full,
  cross_device,
  unsupported,
  broken_pipe,
  out_of_memory,
  interrupted,
  busy,               ///< held by another process (a lock)
  changed_meanwhile,  ///< another program changed a list while this run worked on it
  other,
};

const char* error_kind_name(ErrorKind kind);

// An error as the program reports it. `code` is the operating system's error code, or 0 for an
// error of the program's own (invalid UTF-8, a failed directory tree). `text` is the complete
// rendering that messages embed, e.g. "No such file or directory (os error 2)".
struct Error {
  ErrorKind kind = ErrorKind::other;
  int code = 0;
  std::string text;

  bool has_os_code() const { return code != 0; }
};

/// The error for text that is not valid UTF-8.
Error invalid_utf8_error();

/// The error for a list that another program changed or replaced while this run worked on it.
Error changed_meanwhile_error();

// Either a value or an Error; checked by the caller at once.
template <class T>
class [[nodiscard]] Result {
 public:
  Result(T value) : state_(std::move(value)) {}
  Result(Error error) : state_(std::move(error)) {}

  bool ok() const { return state_.index() == 0; }
  explicit operator bool() const { return ok(); }

  T& value() & {
    assert(ok());
    return std::get<0>(state_);
  }
  const T& value() const& {
    assert(ok());
    return std::get<0>(state_);
  }
  T&& value() && {
    assert(ok());
    return std::get<0>(std::move(state_));
  }
  const Error& error() const {
    assert(!ok());
    return std::get<1>(state_);
  }

 private:
  std::variant<T, Error> state_;
};

template <>
class [[nodiscard]] Result<void> {
 public:
  Result() = default;
  Result(Error error) : error_(std::move(error)), failed_(true) {}

  bool ok() const { return !failed_; }
  explicit operator bool() const { return ok(); }
  const Error& error() const {
    assert(failed_);
    return error_;
  }

 private:
  Error error_;
  bool failed_ = false;
};

}  // namespace corvandel
