#include "lib/py_args.h"

#include <string>

namespace trevalon::py {
namespace {

std::string call_name(const Params& p) { return std::string(p.qualname) + "()"; }

void check_positional_count(const Params& p, Py_ssize_t nargs) {
  if (static_cast<std::size_t>(nargs) <= p.count) return;
  const std::string given = std::to_string(nargs) + (nargs == 1 ? " was" : " were");
  if (p.required < p.count) {
    raise(PyExc_TypeError, call_name(p) + " takes from " + std::to_string(p.required) + " to " +
                               std::to_string(p.count) + " positional arguments but " + given +
                               " given");
  }
  raise(PyExc_TypeError, call_name(p) + " takes " + std::to_string(p.count) +
                             " positional arguments but " + given + " given");
}

void bind_keyword(const Params& p, PyObject* key, PyObject* value, PyObject** slots) {
  if (!PyUnicode_Check(key)) raise(PyExc_TypeError, "keywords must be strings");
  const char* name = PyUnicode_AsUTF8(key);
  if (name == nullptr) throw ErrorAlreadySet{};
  for (std::size_t i = 0; i < p.count; ++i) {
    if (std::string_view(name) != p.names[i]) continue;
    if (slots[i] != nullptr) {
      raise(PyExc_TypeError, call_name(p) + " got multiple values for argument '" + name + "'");
    }
    slots[i] = value;
    return;
  }
  raise(PyExc_TypeError, call_name(p) + " got an unexpected keyword argument '" + name + "'");
}

void check_required(const Params& p, PyObject** slots) {
  std::vector<std::string> missing;
  for (std::size_t i = 0; i < p.required; ++i) {
    if (slots[i] == nullptr) missing.push_back(std::string("'") + p.names[i] + "'");
  }
  if (missing.empty()) return;
  std::string list;
  for (std::size_t i = 0; i < missing.size(); ++i) {
    if (i > 0) list += (i + 1 == missing.size()) ? (missing.size() == 2 ? " and " : ", and ") : ", ";
    list += missing[i];
  }
  raise(PyExc_TypeError, call_name(p) + " missing " + std::to_string(missing.size()) +
                             " required positional " +
                             (missing.size() == 1 ? "argument" : "arguments") + ": " + list);
}

}  // namespace

void bind_fastcall(const Params& p, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                   PyObject** slots) {
  nargs = PyVectorcall_NARGS(nargs);
  check_positional_count(p, nargs);
  for (Py_ssize_t i = 0; i < nargs; ++i) slots[i] = args[i];
  if (kwnames != nullptr) {
    const Py_ssize_t nkw = PyTuple_GET_SIZE(kwnames);
    for (Py_ssize_t k = 0; k < nkw; ++k) {
      bind_keyword(p, PyTuple_GET_ITEM(kwnames, k), args[nargs + k], slots);
    }
  }
  if (slots != nullptr) check_required(p, slots);
}

void bind_tuple_dict(const Params& p, PyObject* args, PyObject* kwargs, PyObject** slots) {
  const Py_ssize_t nargs = PyTuple_GET_SIZE(args);
  check_positional_count(p, nargs);
  for (Py_ssize_t i = 0; i < nargs; ++i) slots[i] = PyTuple_GET_ITEM(args, i);
  if (kwargs != nullptr) {
    Py_ssize_t pos = 0;
    PyObject *key, *value;
    while (PyDict_Next(kwargs, &pos, &key, &value)) bind_keyword(p, key, value, slots);
  }
  check_required(p, slots);
}

}  // namespace trevalon::py
