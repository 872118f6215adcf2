#include "lib/py_error.h"

#include <string>

#include "utils/record_error.h"

namespace trevalon::py {
namespace {
PyObject* g_native_abort = nullptr;
}  // namespace

std::string str_of(PyObject* obj) {
  PyRef s = PyRef::steal(PyObject_Str(obj));
  Py_ssize_t len = 0;
  const char* utf8 = PyUnicode_AsUTF8AndSize(s.get(), &len);
  if (utf8 == nullptr) throw ErrorAlreadySet{};
  return std::string(utf8, static_cast<std::size_t>(len));
}

PyObject* native_abort_type() { return g_native_abort; }

bool init_native_abort() {
  if (g_native_abort != nullptr) return true;
  g_native_abort = PyErr_NewExceptionWithDoc(
      "trevalon.NativeAbort", "Raised when native code called from Python aborts.",
      PyExc_BaseException, nullptr);
  return g_native_abort != nullptr;
}

void set_error_from_current_exception() noexcept {
  try {
    throw;
  } catch (const ErrorAlreadySet&) {
    if (!PyErr_Occurred()) {
      PyErr_SetString(PyExc_SystemError, "native error reported without an exception");
    }
  } catch (const Abort& abort) {
    PyErr_SetString(g_native_abort ? g_native_abort : PyExc_RuntimeError, abort.what());
  } catch (const RecordError& e) {
    PyErr_SetString(e.is_file_access() ? PyExc_OSError : PyExc_ValueError, e.what());
  } catch (const std::bad_alloc&) {
    PyErr_NoMemory();
  } catch (const std::exception& e) {
    // Library failures (length errors and the like) are violated
    // preconditions too: surface them as aborts with their text.
    PyErr_SetString(g_native_abort ? g_native_abort : PyExc_RuntimeError, e.what());
  } catch (...) {
    PyErr_SetString(g_native_abort ? g_native_abort : PyExc_RuntimeError, "unknown native failure");
  }
}

void wrap_argument_type_error(const char* name) {
  if (!PyErr_ExceptionMatches(PyExc_TypeError)) return;
  PyObject *type, *value, *tb;
  PyErr_Fetch(&type, &value, &tb);
  PyErr_NormalizeException(&type, &value, &tb);
  if (tb != nullptr && value != nullptr) PyException_SetTraceback(value, tb);
  Py_XDECREF(type);
  Py_XDECREF(tb);
  PyObject* text = value ? PyObject_Str(value) : nullptr;
  const char* utf8 = text ? PyUnicode_AsUTF8(text) : nullptr;
  if (utf8 == nullptr) {
    Py_XDECREF(text);
    Py_XDECREF(value);
    PyErr_SetString(PyExc_TypeError, "argument conversion failed");
    return;
  }
  PyObject* wrapped = PyUnicode_FromFormat("argument '%s': %s", name, utf8);
  Py_DECREF(text);
  PyObject* exc = wrapped ? PyObject_CallOneArg(PyExc_TypeError, wrapped) : nullptr;
  Py_XDECREF(wrapped);
  if (exc == nullptr) {
    Py_XDECREF(value);
    return;
  }
  PyException_SetCause(exc, value);  // steals `value`
  PyErr_SetObject(PyExc_TypeError, exc);
  Py_DECREF(exc);
}

}  // namespace trevalon::py
