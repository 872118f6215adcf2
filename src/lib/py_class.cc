#include "lib/py_class.h"

namespace trevalon::py {

void raise_conversion_error(PyObject* obj, const char* expected) {
  raise(PyExc_TypeError, "'" + type_name(obj) + "' object cannot be converted to '" + expected + "'");
}

PyTypeObject* make_type_impl(const char* name, int basicsize, std::vector<PyType_Slot> slots) {
  // The spec's name string must outlive the type: types live for the process.
  auto* qualified = new std::string(std::string("trevalon.") + name);
  // A class without a constructor must not inherit object's, which would
  // hand out instances whose native value was never built.
  bool has_new = false;
  for (const PyType_Slot& s : slots) has_new |= (s.slot == Py_tp_new);
  slots.push_back({0, nullptr});
  auto* kept_slots = new std::vector<PyType_Slot>(std::move(slots));
  PyType_Spec spec{qualified->c_str(), basicsize, 0,
                   static_cast<unsigned int>(Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE |
                                             (has_new ? 0 : Py_TPFLAGS_DISALLOW_INSTANTIATION)),
                   kept_slots->data()};
  PyObject* type = PyType_FromSpec(&spec);
  if (type == nullptr) {
    PyObject *etype, *value, *tb;
    PyErr_Fetch(&etype, &value, &tb);
    PyErr_NormalizeException(&etype, &value, &tb);
    Py_XDECREF(etype);
    Py_XDECREF(tb);
    PyErr_Format(PyExc_RuntimeError, "An error occurred while initializing class %s", name);
    if (value != nullptr) {
      PyObject *t2, *v2, *tb2;
      PyErr_Fetch(&t2, &v2, &tb2);
      PyErr_NormalizeException(&t2, &v2, &tb2);
      PyException_SetCause(v2, value);
      PyErr_Restore(t2, v2, tb2);
    }
    throw ErrorAlreadySet{};
  }
  return reinterpret_cast<PyTypeObject*>(type);
}

}  // namespace trevalon::py
