// The boundary between Python and the core: every entry point runs its body
// through `guarded`, which turns a core `Abort` into `NativeAbort`, a
// pending Python error into the error return, and memory exhaustion into
// `MemoryError`. Unwinding releases what the aborted call built.
#ifndef TREVALON_LIB_PY_ERROR_H_
#define TREVALON_LIB_PY_ERROR_H_

#include <exception>
#include <new>

#include "lib/py_ref.h"
#include "utils/abort.h"

namespace trevalon::py {

// The `NativeAbort` type (a BaseException subclass, not a module attribute),
// created at module initialisation. Returns null before that.
PyObject* native_abort_type();
// Creates the type; called once by module initialisation.
bool init_native_abort();

// Sets the Python error for the exception being handled.
void set_error_from_current_exception() noexcept;

// Runs `body` and maps failures to the error value `fail`. `body` returns
// the success value (a PyRef is released to the caller).
template <class Fail, class Body>
auto guarded(Fail fail, Body&& body) noexcept {
  using R = decltype(body());
  try {
    if constexpr (std::is_same_v<R, PyRef>) {
      return body().release();
    } else {
      return body();
    }
  } catch (...) {
    set_error_from_current_exception();
    if constexpr (std::is_same_v<R, PyRef>) {
      return static_cast<PyObject*>(fail);
    } else {
      return static_cast<R>(fail);
    }
  }
}

// The common case: an entry point returning a new reference or null.
template <class Body>
PyObject* guarded(Body&& body) noexcept {
  return guarded(nullptr, std::forward<Body>(body));
}

// Replaces a pending TypeError by TypeError("argument '<name>': <text>")
// chained to the original; other pending errors stay as they are.
void wrap_argument_type_error(const char* name);

}  // namespace trevalon::py

#endif  // TREVALON_LIB_PY_ERROR_H_
