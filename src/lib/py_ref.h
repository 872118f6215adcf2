// PyRef: an owned reference to a Python object (RAII), and the C++
// exception that carries "a Python error is already set" up to the entry
// point wrapper. Binding code only.
#ifndef TREVALON_LIB_PY_REF_H_
#define TREVALON_LIB_PY_REF_H_

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <string>
#include <utility>

namespace trevalon::py {

// Thrown after a Python exception has been set; the entry-point wrapper
// returns the error indicator to the interpreter.
struct ErrorAlreadySet {};

class PyRef {
 public:
  PyRef() = default;
  // Takes over a new reference; throws ErrorAlreadySet when `obj` is null
  // (the convention of every CPython call that returns a new reference).
  static PyRef steal(PyObject* obj) {
    if (obj == nullptr) throw ErrorAlreadySet{};
    return PyRef(obj);
  }
  // Adds a reference to a borrowed object.
  static PyRef borrow(PyObject* obj) {
    Py_XINCREF(obj);
    return PyRef(obj);
  }

  PyRef(const PyRef& other) : obj_(other.obj_) { Py_XINCREF(obj_); }
  PyRef(PyRef&& other) noexcept : obj_(std::exchange(other.obj_, nullptr)) {}
  PyRef& operator=(PyRef other) noexcept {
    std::swap(obj_, other.obj_);
    return *this;
  }
  ~PyRef() { Py_XDECREF(obj_); }

  PyObject* get() const { return obj_; }
  // Hands the reference to the caller.
  PyObject* release() { return std::exchange(obj_, nullptr); }
  explicit operator bool() const { return obj_ != nullptr; }

 private:
  explicit PyRef(PyObject* obj) : obj_(obj) {}
  PyObject* obj_ = nullptr;
};

// Sets `type` with `message` and throws ErrorAlreadySet.
[[noreturn]] inline void raise(PyObject* type, const std::string& message) {
  PyErr_SetString(type, message.c_str());
  throw ErrorAlreadySet{};
}

// The name of an object's type, as Python prints it.
inline std::string type_name(PyObject* obj) { return Py_TYPE(obj)->tp_name; }

// str(obj) as UTF-8.
std::string str_of(PyObject* obj);

}  // namespace trevalon::py

#endif  // TREVALON_LIB_PY_REF_H_
