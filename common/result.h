// The one way an operation that can fail says so: a Result holds either its value or an Error.
//
// An Error has a kind, for callers that decide what to do next (a file that is not an AVI is
// handed to the media-framework reader; a stopped job removes its outputs), and a message for the
// user that names the file concerned and what went wrong. No caller ever decides anything by
// comparing a message's text: it compares kinds.
//
//   Result<Movie> movie = Movie::Open(path);
//   if (!movie) return movie.error();          // propagate early
//   Use(*movie);
#pragma once

#include <cassert>
#include <string>
#include <utility>
#include <variant>

namespace reel {

enum class ErrorKind {
  kNotFound,       // the file or folder does not exist
  kCannotRead,     // it exists but cannot be opened or read
  kNotThisFormat,  // it is readable but not of the kind asked for (not an AVI, not a JPEG)
  kDamaged,        // it claims to be of the kind but its contents are broken or truncated
  kUnsupported,    // well-formed, but uses something this build cannot handle (a codec, a layout)
  kRefused,        // the input or a setting is refused by rule (a rate of 0, an output over its source)
  kCannotWrite,    // an output cannot be created, written or renamed into place
  kOutOfMemory,
  kStopped,        // the user asked the work to stop
  kTimedOut,       // a bounded wait ran out
  kUsage,          // a caller's argument is outside what the operation takes
  kDevice,         // a window, display or sound device failed
};

// A short English word for a kind, for tools that print the kind beside the message.
const char* ErrorKindName(ErrorKind kind);

struct Error {
  ErrorKind kind = ErrorKind::kCannotRead;
  std::string message;  // names the file and says what went wrong, e.g. "a.avi: not an AVI file"

  bool Is(ErrorKind other) const { return kind == other; }
};

// An Error whose message is "subject: what" (the subject is usually a path).
inline Error MakeError(ErrorKind kind, const std::string& subject, const std::string& what) {
  if (subject.empty()) return Error{kind, what};
  return Error{kind, subject + ": " + what};
}

template <typename T>
class [[nodiscard]] Result {
 public:
  Result(T value) : state_(std::in_place_index<0>, std::move(value)) {}  // NOLINT: implicit by design
  Result(Error error) : state_(std::in_place_index<1>, std::move(error)) {}  // NOLINT

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
  T& operator*() & { return value(); }
  const T& operator*() const& { return value(); }
  T&& operator*() && { return std::move(*this).value(); }
  T* operator->() { return &value(); }
  const T* operator->() const { return &value(); }

  const Error& error() const {
    assert(!ok());
    return std::get<1>(state_);
  }
  ErrorKind kind() const { return error().kind; }

 private:
  std::variant<T, Error> state_;
};

// A Result with no value: success, or an Error.
template <>
class [[nodiscard]] Result<void> {
 public:
  Result() = default;
  Result(Error error) : error_(std::move(error)), failed_(true) {}  // NOLINT: implicit by design

  bool ok() const { return !failed_; }
  explicit operator bool() const { return ok(); }
  const Error& error() const {
    assert(failed_);
    return error_;
  }
  ErrorKind kind() const { return error().kind; }

 private:
  Error error_;
  bool failed_ = false;
};

using Status = Result<void>;

}  // namespace reel
