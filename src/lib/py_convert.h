// Conversions between Python objects and native values.
//
// `from_py<T>(obj)` converts a borrowed object or throws ErrorAlreadySet
// with TypeError/OverflowError set (aborts from validation, such as a
// permutation's, propagate as Abort). `to_py(value)` returns a new reference.
// Native values cross as copies both ways. Class-bound types convert through
// their PyClass specialisation (py_classes.h).
#ifndef TREVALON_LIB_PY_CONVERT_H_
#define TREVALON_LIB_PY_CONVERT_H_

#include <complex>
#include <cstdint>
#include <optional>
#include <string>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "circ/complex_matrix.h"
#include "groups/permutation.h"
#include "lib/py_class.h"
#include "lib/py_ref.h"

namespace trevalon::py {

template <class T, class Enable = void>
struct Conv;  // specialised below and for bound classes

template <class T>
T from_py(PyObject* obj) {
  return Conv<T>::from_py(obj);
}

template <class T>
PyRef to_py(const T& value) {
  return Conv<T>::to_py(value);
}
inline PyRef to_py(const char* s) { return PyRef::steal(PyUnicode_FromString(s)); }
inline PyRef py_none() { return PyRef::borrow(Py_None); }
inline PyRef py_bool(bool b) { return PyRef::borrow(b ? Py_True : Py_False); }

// Names used in conversion errors for the built-in shapes.
inline constexpr const char* kStrName = "str";
inline constexpr const char* kSequenceName = "Sequence";

// Unsigned integers: any object with __index__; range errors are
// OverflowError "out of range integral type conversion attempted" (64-bit
// values keep CPython's own texts).
uint64_t index_to_u64(PyObject* obj, uint64_t max);
int64_t index_to_i64(PyObject* obj);

template <class T>
struct Conv<T, std::enable_if_t<std::is_integral_v<T> && std::is_unsigned_v<T> &&
                                !std::is_same_v<T, bool>>> {
  static T from_py(PyObject* obj) {
    return static_cast<T>(index_to_u64(obj, static_cast<uint64_t>(std::numeric_limits<T>::max())));
  }
  static PyRef to_py(T v) { return PyRef::steal(PyLong_FromUnsignedLongLong(v)); }
};

template <class T>
struct Conv<T, std::enable_if_t<std::is_integral_v<T> && std::is_signed_v<T>>> {
  static_assert(sizeof(T) == 8, "only 64-bit signed parameters are used");
  static T from_py(PyObject* obj) { return index_to_i64(obj); }
  static PyRef to_py(T v) { return PyRef::steal(PyLong_FromLongLong(v)); }
};

// Already-converted objects pass through (for tuples mixing both).
template <>
struct Conv<PyRef> {
  static PyRef to_py(const PyRef& obj) { return obj; }
};

template <>
struct Conv<bool> {
  static bool from_py(PyObject* obj);
  static PyRef to_py(bool v) { return py_bool(v); }
};

template <>
struct Conv<double> {
  static double from_py(PyObject* obj);
  static PyRef to_py(double v) { return PyRef::steal(PyFloat_FromDouble(v)); }
};

template <>
struct Conv<std::complex<double>> {
  static std::complex<double> from_py(PyObject* obj);
  static PyRef to_py(std::complex<double> v) {
    return PyRef::steal(PyComplex_FromDoubles(v.real(), v.imag()));
  }
};

template <>
struct Conv<std::string> {
  static std::string from_py(PyObject* obj);
  static PyRef to_py(const std::string& s);
};

// Any sequence but `str`: "Can't take a `str` as a list" for a string.
void check_list_like(PyObject* obj);
// A new reference to a fast sequence (list or tuple) view of `obj`.
PyRef as_fast_sequence(PyObject* obj);

template <class T>
struct Conv<std::vector<T>> {
  static std::vector<T> from_py(PyObject* obj) {
    check_list_like(obj);
    PyRef seq = as_fast_sequence(obj);
    const Py_ssize_t n = PySequence_Fast_GET_SIZE(seq.get());
    std::vector<T> out;
    out.reserve(static_cast<std::size_t>(n));
    for (Py_ssize_t i = 0; i < n; ++i) {
      out.push_back(Conv<T>::from_py(PySequence_Fast_GET_ITEM(seq.get(), i)));
    }
    return out;
  }
  static PyRef to_py(const std::vector<T>& values) {
    if constexpr (std::is_same_v<T, uint8_t>) {
      // Qubit-slot lists come back as bytes.
      return PyRef::steal(PyBytes_FromStringAndSize(reinterpret_cast<const char*>(values.data()),
                                                    static_cast<Py_ssize_t>(values.size())));
    } else {
      PyRef list = PyRef::steal(PyList_New(static_cast<Py_ssize_t>(values.size())));
      for (std::size_t i = 0; i < values.size(); ++i) {
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), Conv<T>::to_py(values[i]).release());
      }
      return list;
    }
  }
};

template <class T>
struct Conv<std::optional<T>> {
  static std::optional<T> from_py(PyObject* obj) {
    if (obj == Py_None) return std::nullopt;
    return Conv<T>::from_py(obj);
  }
  static PyRef to_py(const std::optional<T>& v) { return v ? Conv<T>::to_py(*v) : py_none(); }
};

template <class... Ts>
struct Conv<std::tuple<Ts...>> {
  static PyRef to_py(const std::tuple<Ts...>& t) {
    PyRef tuple = PyRef::steal(PyTuple_New(sizeof...(Ts)));
    fill(tuple, t, std::index_sequence_for<Ts...>{});
    return tuple;
  }

 private:
  template <std::size_t... Is>
  static void fill(PyRef& tuple, const std::tuple<Ts...>& t, std::index_sequence<Is...>) {
    (PyTuple_SET_ITEM(tuple.get(), Is, Conv<std::decay_t<Ts>>::to_py(std::get<Is>(t)).release()), ...);
  }
};

template <class A, class B>
struct Conv<std::pair<A, B>> {
  static PyRef to_py(const std::pair<A, B>& p) {
    PyRef first = Conv<A>::to_py(p.first);
    PyRef second = Conv<B>::to_py(p.second);
    return PyRef::steal(PyTuple_Pack(2, first.get(), second.get()));
  }
};

// Permutations: a sequence of ints in (validated by Permut32::from_iter),
// a tuple of ints out.
template <>
struct Conv<Permut32> {
  static Permut32 from_py(PyObject* obj);
  static PyRef to_py(Permut32 p);
};

// Gate matrices: a 2-D complex128 NumPy array (other objects go through
// numpy.asarray first) in, a new Fortran-ordered complex128 array out.
template <>
struct Conv<ComplexMatrix> {
  static ComplexMatrix from_py(PyObject* obj);
  static PyRef to_py(const ComplexMatrix& m);
};
// Imports the NumPy C API; called once by module initialisation.
bool init_numpy();

// A borrowed instance of a bound class, for large values that a call only
// reads (maps, evaluators): no copy, and a shared borrow for the call.
template <class T>
struct Ref {
  Shared<T> borrow;
  const T& operator*() const { return *borrow; }
  const T* operator->() const { return &*borrow; }
};

template <class T>
struct Conv<Ref<T>> {
  static Ref<T> from_py(PyObject* obj) { return Ref<T>{Shared<T>::checked(obj)}; }
};

// Instances of bound classes: the native value is copied in and out.
template <class T>
struct Conv<T, std::void_t<decltype(PyClass<T>::kName)>> {
  static T from_py(PyObject* obj) {
    if (!is_instance<T>(obj)) raise_conversion_error(obj, PyClass<T>::kName);
    return *Shared<T>(obj);
  }
  static PyRef to_py(const T& v) { return wrap<T>(v); }
};

}  // namespace trevalon::py

#endif  // TREVALON_LIB_PY_CONVERT_H_
