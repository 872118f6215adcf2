// Small builders for method, getter and setter tables, so every class binds
// its members the same way: vectorcall methods with keyword support, getters
// under a shared borrow, setters under an exclusive borrow that refuse
// deletion with "can't delete attribute".
#ifndef TREVALON_LIB_PY_METHOD_H_
#define TREVALON_LIB_PY_METHOD_H_

#include "lib/py_class.h"
#include "lib/py_args.h"
#include "lib/py_convert.h"

namespace trevalon::py {

using FastMethod = PyObject* (*)(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                 PyObject* kwnames);

inline PyMethodDef method(const char* name, FastMethod fn, const char* doc, int extra_flags = 0) {
  return {name, reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(fn)),
          METH_FASTCALL | METH_KEYWORDS | extra_flags, doc};
}
inline PyMethodDef static_method(const char* name, FastMethod fn, const char* doc) {
  return method(name, fn, doc, METH_STATIC);
}
inline constexpr PyMethodDef kMethodsEnd = {nullptr, nullptr, 0, nullptr};

// Getter from `PyRef Get(const T&)`.
template <class T, auto Get>
PyObject* getter(PyObject* self, void*) {
  return guarded([&] {
    Shared<T> me(self);
    return Get(*me);
  });
}

// Setter from `void Set(T&, V)`, converting the new value as V first.
template <class T, class V, auto Set>
int setter(PyObject* self, PyObject* value, void*) {
  if (value == nullptr) {
    PyErr_SetString(PyExc_AttributeError, "can't delete attribute");
    return -1;
  }
  return guarded(-1, [&] {
    V converted = from_py<V>(value);
    Exclusive<T> me(self);
    Set(*me, std::move(converted));
    return 0;
  });
}

// A method taking only the receiver, from `PyRef Body(const T&)`;
// `Qualname` ("Instr.arg_mask") names it in argument errors.
template <class T, const char* Qualname, PyRef (*Body)(const T&)>
PyObject* nullary_method(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr Params kSig = params(Qualname, {}, 0);
  return guarded([&] {
    parse_no_args(kSig, args, nargs, kwnames);
    Shared<T> me(self);
    return Body(*me);
  });
}

inline constexpr PyGetSetDef kGetSetEnd = {nullptr, nullptr, nullptr, nullptr, nullptr};

// `str()` / `repr()` slot from `std::string Text(const T&)`.
template <class T, auto Text>
PyObject* text_slot(PyObject* self) {
  return guarded([&] {
    Shared<T> me(self);
    return to_py(std::string(Text(*me)));
  });
}

// `hash()` slot from `uint64_t Hash(const T&)`.
template <class T, auto Hash>
Py_hash_t hash_slot(PyObject* self) {
  return guarded(Py_hash_t{-1}, [&] {
    Shared<T> me(self);
    return to_py_hash(Hash(*me));
  });
}

// `len()` slot from `std::size_t Len(const T&)`.
template <class T, auto Len>
Py_ssize_t length_slot(PyObject* self) {
  return guarded(Py_ssize_t{-1}, [&] {
    Shared<T> me(self);
    return static_cast<Py_ssize_t>(Len(*me));
  });
}

template <class F>
PyType_Slot slot(int id, F* fn) {
  return {id, reinterpret_cast<void*>(fn)};
}
inline PyType_Slot slot(int id, const char* doc) { return {id, const_cast<char*>(doc)}; }
inline PyType_Slot slot(int id, PyMethodDef* defs) { return {id, defs}; }
inline PyType_Slot slot(int id, PyGetSetDef* defs) { return {id, defs}; }

}  // namespace trevalon::py

#endif  // TREVALON_LIB_PY_METHOD_H_
