// NumPy's C API table lives in this translation unit; the others never
// touch NumPy.
#define PY_ARRAY_UNIQUE_SYMBOL trevalon_numpy_api
#include "lib/py_convert.h"

#include <numpy/arrayobject.h>

#include <limits>

#include "circ/gate.h"

namespace trevalon::py {

uint64_t index_to_u64(PyObject* obj, uint64_t max) {
  PyRef idx = PyRef::steal(PyNumber_Index(obj));
  if (max == std::numeric_limits<uint64_t>::max()) {
    const unsigned long long v = PyLong_AsUnsignedLongLong(idx.get());
    if (v == static_cast<unsigned long long>(-1) && PyErr_Occurred()) throw ErrorAlreadySet{};
    return v;
  }
  int overflow = 0;
  const long long v = PyLong_AsLongLongAndOverflow(idx.get(), &overflow);
  if (v == -1 && PyErr_Occurred()) throw ErrorAlreadySet{};
  if (overflow != 0 || v < 0 || static_cast<unsigned long long>(v) > max) {
    raise(PyExc_OverflowError, "out of range integral type conversion attempted");
  }
  return static_cast<uint64_t>(v);
}

int64_t index_to_i64(PyObject* obj) {
  PyRef idx = PyRef::steal(PyNumber_Index(obj));
  const long long v = PyLong_AsLongLong(idx.get());
  if (v == -1 && PyErr_Occurred()) throw ErrorAlreadySet{};
  return v;
}

bool Conv<bool>::from_py(PyObject* obj) {
  if (!PyBool_Check(obj)) raise_conversion_error(obj, "bool");
  return obj == Py_True;
}

double Conv<double>::from_py(PyObject* obj) {
  const double v = PyFloat_AsDouble(obj);
  if (v == -1.0 && PyErr_Occurred()) throw ErrorAlreadySet{};
  return v;
}

std::complex<double> Conv<std::complex<double>>::from_py(PyObject* obj) {
  const Py_complex c = PyComplex_AsCComplex(obj);
  if (c.real == -1.0 && PyErr_Occurred()) throw ErrorAlreadySet{};
  return {c.real, c.imag};
}

std::string Conv<std::string>::from_py(PyObject* obj) {
  if (!PyUnicode_Check(obj)) raise_conversion_error(obj, kStrName);
  Py_ssize_t len = 0;
  const char* utf8 = PyUnicode_AsUTF8AndSize(obj, &len);
  if (utf8 == nullptr) throw ErrorAlreadySet{};
  return std::string(utf8, static_cast<std::size_t>(len));
}

PyRef Conv<std::string>::to_py(const std::string& s) {
  return PyRef::steal(PyUnicode_DecodeUTF8(s.data(), static_cast<Py_ssize_t>(s.size()), "replace"));
}

void check_list_like(PyObject* obj) {
  if (PyUnicode_Check(obj)) raise(PyExc_TypeError, "Can't take a `str` as a list");
  if (!PySequence_Check(obj)) raise_conversion_error(obj, kSequenceName);
}

PyRef as_fast_sequence(PyObject* obj) {
  return PyRef::steal(PySequence_Fast(obj, "expected a sequence"));
}

Permut32 Conv<Permut32>::from_py(PyObject* obj) {
  const std::vector<uint8_t> values = Conv<std::vector<uint8_t>>::from_py(obj);
  return Permut32::from_iter(values);
}

PyRef Conv<Permut32>::to_py(Permut32 p) {
  const uint8_t n = p.len() > 8 ? 8 : p.len();
  PyRef tuple = PyRef::steal(PyTuple_New(n));
  for (uint8_t i = 0; i < n; ++i) {
    PyTuple_SET_ITEM(tuple.get(), i, PyRef::steal(PyLong_FromLong(p.get(i))).release());
  }
  return tuple;
}

bool init_numpy() {
  import_array1(false);
  return true;
}

ComplexMatrix Conv<ComplexMatrix>::from_py(PyObject* obj) {
  PyRef arr = PyArray_Check(obj) ? PyRef::borrow(obj) : PyRef::steal(PyArray_FROM_O(obj));
  if (!PyArray_Check(arr.get())) raise_conversion_error(arr.get(), "NDArray[complex128]");
  auto* a = reinterpret_cast<PyArrayObject*>(arr.get());
  if (PyArray_NDIM(a) != 2) {
    raise(PyExc_TypeError, "dimensionality mismatch:\n from=" + std::to_string(PyArray_NDIM(a)) +
                               ", to=2");
  }
  if (PyArray_TYPE(a) != NPY_CDOUBLE) {
    PyRef dtype_name = PyRef::steal(PyObject_GetAttrString(
        reinterpret_cast<PyObject*>(PyArray_DESCR(a)), "name"));
    raise(PyExc_TypeError, "type mismatch:\n from=" + str_of(dtype_name.get()) + ", to=complex128");
  }
  const npy_intp rows = PyArray_DIM(a, 0), cols = PyArray_DIM(a, 1);
  const npy_intp s0 = PyArray_STRIDE(a, 0), s1 = PyArray_STRIDE(a, 1);
  constexpr npy_intp kItem = static_cast<npy_intp>(sizeof(std::complex<double>));
  if (s0 < 0 || s1 < 0 || s0 % kItem != 0 || s1 % kItem != 0) {
    abort_with("Matrix array strides cannot be viewed as a matrix");
  }
  // Shape errors come before copying anything, so a huge broadcast view is
  // refused without allocating its full size.
  check_gate_matrix_shape(static_cast<uint64_t>(rows), static_cast<uint64_t>(cols));
  ComplexMatrix m(static_cast<uint32_t>(rows), static_cast<uint32_t>(cols));
  const char* base = static_cast<const char*>(PyArray_DATA(a));
  for (npy_intp r = 0; r < rows; ++r) {
    for (npy_intp c = 0; c < cols; ++c) {
      const auto* e = reinterpret_cast<const double*>(base + r * s0 + c * s1);
      m(static_cast<uint32_t>(r), static_cast<uint32_t>(c)) = {e[0], e[1]};
    }
  }
  return m;
}

PyRef Conv<ComplexMatrix>::to_py(const ComplexMatrix& m) {
  npy_intp dims[2] = {m.nrows(), m.ncols()};
  PyRef arr = PyRef::steal(PyArray_New(&PyArray_Type, 2, dims, NPY_CDOUBLE, nullptr, nullptr, 0,
                                       NPY_ARRAY_F_CONTIGUOUS, nullptr));
  auto* a = reinterpret_cast<PyArrayObject*>(arr.get());
  for (uint32_t r = 0; r < m.nrows(); ++r) {
    for (uint32_t c = 0; c < m.ncols(); ++c) {
      auto* e = static_cast<double*>(PyArray_GETPTR2(a, r, c));
      e[0] = m(r, c).real();
      e[1] = m(r, c).imag();
    }
  }
  return arr;
}

}  // namespace trevalon::py
