// Python classes over native values: the instance layout, the borrow flag
// of mutable classes, wrapping a native value in a new instance, and the
// shared slots (dealloc, equality-only comparison, hashing).
//
// Every class binds one native type T through a specialisation of
// `PyClass<T>` (declared in py_classes.h, defined in the class's bind_*.cc),
// which gives its Python name, its kind and its lazily built type object.
#ifndef TREVALON_LIB_PY_CLASS_H_
#define TREVALON_LIB_PY_CLASS_H_

#include <cstdint>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "lib/py_error.h"
#include "lib/py_ref.h"

namespace trevalon::py {

template <class T>
struct PyClass;  // specialised per bound type: kName, kFrozen, type()

// Instance layout. `borrow` counts shared borrows (> 0) or marks the one
// exclusive borrow (-1); frozen classes never touch it.
template <class T>
struct PyBox {
  PyObject_HEAD
  int32_t borrow;
  T value;
};

template <class T>
bool is_instance(PyObject* obj) {
  return PyObject_TypeCheck(obj, PyClass<T>::type());
}

template <class T>
T& box_value(PyObject* obj) {
  return reinterpret_cast<PyBox<T>*>(obj)->value;
}

// TypeError "'<type>' object cannot be converted to '<expected>'".
[[noreturn]] void raise_conversion_error(PyObject* obj, const char* expected);

// A shared borrow of an instance for the duration of a call.
template <class T>
class Shared {
 public:
  explicit Shared(PyObject* obj) : box_(reinterpret_cast<PyBox<T>*>(obj)) {
    if constexpr (!PyClass<T>::kFrozen) {
      if (box_->borrow < 0) raise(PyExc_RuntimeError, "Already mutably borrowed");
      ++box_->borrow;
    }
  }
  // Type-checked form for arguments.
  static Shared checked(PyObject* obj) {
    if (!is_instance<T>(obj)) raise_conversion_error(obj, PyClass<T>::kName);
    return Shared(obj);
  }
  Shared(Shared&& other) noexcept : box_(std::exchange(other.box_, nullptr)) {}
  Shared(const Shared&) = delete;
  Shared& operator=(const Shared&) = delete;
  Shared& operator=(Shared&&) = delete;
  ~Shared() {
    if constexpr (!PyClass<T>::kFrozen) {
      if (box_ != nullptr) --box_->borrow;
    }
  }
  const T& operator*() const { return box_->value; }
  const T* operator->() const { return &box_->value; }

 private:
  PyBox<T>* box_;
};

// An exclusive borrow for mutating calls (setters, in-place operators).
template <class T>
class Exclusive {
  static_assert(!PyClass<T>::kFrozen, "frozen classes are never mutated");

 public:
  explicit Exclusive(PyObject* obj) : box_(reinterpret_cast<PyBox<T>*>(obj)) {
    if (box_->borrow != 0) raise(PyExc_RuntimeError, "Already borrowed");
    box_->borrow = -1;
  }
  Exclusive(const Exclusive&) = delete;
  Exclusive& operator=(const Exclusive&) = delete;
  ~Exclusive() { box_->borrow = 0; }
  T& operator*() const { return box_->value; }
  T* operator->() const { return &box_->value; }

 private:
  PyBox<T>* box_;
};

// A new instance of `type` (PyClass<T>::type() unless given) owning `value`.
template <class T>
PyRef wrap(T value, PyTypeObject* type = nullptr) {
  if (type == nullptr) type = PyClass<T>::type();
  PyRef obj = PyRef::steal(type->tp_alloc(type, 0));
  auto* box = reinterpret_cast<PyBox<T>*>(obj.get());
  box->borrow = 0;
  new (&box->value) T(std::move(value));
  return obj;
}

template <class T>
void box_dealloc(PyObject* self) {
  PyTypeObject* type = Py_TYPE(self);
  box_value<T>(self).~T();
  type->tp_free(self);
  Py_DECREF(type);  // heap types are referenced by their instances
}

// `==`/`!=` by native equality; every other case is NotImplemented.
template <class T>
PyObject* eq_richcompare(PyObject* self, PyObject* other, int op) {
  return guarded([&]() -> PyRef {
    if ((op != Py_EQ && op != Py_NE) || !is_instance<T>(other)) {
      return PyRef::borrow(Py_NotImplemented);
    }
    Shared<T> a(self), b(other);
    const bool equal = (*a == *b);
    return PyRef::borrow((equal == (op == Py_EQ)) ? Py_True : Py_False);
  });
}

// All six comparisons by the native total order; other types are
// NotImplemented.
template <class T>
PyObject* ordered_richcompare(PyObject* self, PyObject* other, int op) {
  return guarded([&]() -> PyRef {
    if (!is_instance<T>(other)) return PyRef::borrow(Py_NotImplemented);
    Shared<T> a(self), b(other);
    const auto order = *a <=> *b;
    bool result = false;
    switch (op) {
      case Py_LT: result = order < 0; break;
      case Py_LE: result = order <= 0; break;
      case Py_EQ: result = order == 0; break;
      case Py_NE: result = order != 0; break;
      case Py_GT: result = order > 0; break;
      case Py_GE: result = order >= 0; break;
      default: return PyRef::borrow(Py_NotImplemented);
    }
    return PyRef::borrow(result ? Py_True : Py_False);
  });
}

// A stored 64-bit hash as Python's hash value (-1 is reserved for errors).
inline Py_hash_t to_py_hash(uint64_t h) {
  const auto v = static_cast<Py_hash_t>(h);
  return v == -1 ? -2 : v;
}

// Builds a heap type from slots; `name` is the Python class name. The slot
// list gets the dealloc of T added. Failures become RuntimeError
// "An error occurred while initializing class <name>" with the cause kept.
template <class T>
PyTypeObject* make_type(const char* name, std::vector<PyType_Slot> slots);
PyTypeObject* make_type_impl(const char* name, int basicsize, std::vector<PyType_Slot> slots);

template <class T>
PyTypeObject* make_type(const char* name, std::vector<PyType_Slot> slots) {
  slots.push_back({Py_tp_dealloc, reinterpret_cast<void*>(&box_dealloc<T>)});
  return make_type_impl(name, static_cast<int>(sizeof(PyBox<T>)), std::move(slots));
}

}  // namespace trevalon::py

#endif  // TREVALON_LIB_PY_CLASS_H_
