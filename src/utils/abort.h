// Internal aborts: the one way core code reports a violated precondition.
//
// Core code never touches Python. A failed check throws `Abort` carrying the
// fixed message the caller sees; the binding layer turns it into the Python
// `NativeAbort` exception after unwinding (RAII releases what the call built).
// Throwing is safe from worker threads: the pool rethrows on the caller.
#ifndef TREVALON_UTILS_ABORT_H_
#define TREVALON_UTILS_ABORT_H_

#include <cstddef>
#include <exception>
#include <string>

namespace trevalon {

class Abort : public std::exception {
 public:
  explicit Abort(std::string message) : message_(std::move(message)) {}
  const char* what() const noexcept override { return message_.c_str(); }
  const std::string& message() const noexcept { return message_; }

 private:
  std::string message_;
};

// Throws `Abort(message)`.
[[noreturn]] void abort_with(std::string message);

// Aborts with the standard index message unless `index < len`.
inline void check_index(std::size_t index, std::size_t len) {
  if (index >= len) [[unlikely]] {
    abort_with("index out of bounds: the len is " + std::to_string(len) +
               " but the index is " + std::to_string(index));
  }
}

// Aborts with "assertion failed: <expr_text>" unless `cond` holds. Unlike
// `assert`, it stays in release builds.
inline void check_that(bool cond, const char* expr_text) {
  if (!cond) [[unlikely]] abort_with(std::string("assertion failed: ") + expr_text);
}

}  // namespace trevalon

#endif  // TREVALON_UTILS_ABORT_H_
