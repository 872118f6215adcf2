// Argument parsing for constructors and methods: parameters by position or
// keyword, the interpreter's TypeError texts, and typed conversion of each
// parameter with "argument '<name>': ..." wrapping of conversion TypeErrors.
//
//   static constexpr Params kSig = params("Instr.apply_permutation", {"perm"}, 1);
//   auto [perm] = parse_args<Permut32>(kSig, args, nargs, kwnames);
//
// A parameter that may be omitted is converted as std::optional<T>.
#ifndef TREVALON_LIB_PY_ARGS_H_
#define TREVALON_LIB_PY_ARGS_H_

#include <array>
#include <cstdint>
#include <initializer_list>
#include <tuple>
#include <utility>

#include "lib/py_convert.h"
#include "lib/py_error.h"

namespace trevalon::py {

struct Params {
  static constexpr std::size_t kMax = 8;
  const char* qualname = "";  // "Gate.__new__", "Instr.apply_permutation"
  std::array<const char*, kMax> names{};
  std::size_t count = 0;
  std::size_t required = 0;  // the first `required` parameters
};

constexpr Params params(const char* qualname, std::initializer_list<const char*> names,
                        std::size_t required) {
  Params p;
  p.qualname = qualname;
  for (const char* n : names) p.names[p.count++] = n;
  p.required = required;
  return p;
}

// Assigns the call's arguments to parameter slots (borrowed references; null
// for an omitted parameter). Vectorcall form and tuple/dict form.
void bind_fastcall(const Params& p, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                   PyObject** slots);
void bind_tuple_dict(const Params& p, PyObject* args, PyObject* kwargs, PyObject** slots);

template <class T>
struct IsOptional : std::false_type {};
template <class T>
struct IsOptional<std::optional<T>> : std::true_type {};

// Converts one parameter; wraps a TypeError with the parameter's name.
template <class T>
T convert_arg(const char* name, PyObject* obj) {
  if constexpr (IsOptional<T>::value) {
    if (obj == nullptr || obj == Py_None) return std::nullopt;
  }
  try {
    return from_py<T>(obj);
  } catch (const ErrorAlreadySet&) {
    wrap_argument_type_error(name);
    throw;
  }
}

template <class... Ts, std::size_t... Is>
std::tuple<Ts...> convert_slots(const Params& p, PyObject** slots, std::index_sequence<Is...>) {
  // Braced initialisation converts left to right, as Python callers expect.
  return std::tuple<Ts...>{convert_arg<Ts>(p.names[Is], slots[Is])...};
}

template <class... Ts>
std::tuple<Ts...> parse_args(const Params& p, PyObject* const* args, Py_ssize_t nargs,
                             PyObject* kwnames) {
  std::array<PyObject*, Params::kMax> slots{};
  bind_fastcall(p, args, nargs, kwnames, slots.data());
  return convert_slots<Ts...>(p, slots.data(), std::index_sequence_for<Ts...>{});
}

template <class... Ts>
std::tuple<Ts...> parse_args(const Params& p, PyObject* args, PyObject* kwargs) {
  std::array<PyObject*, Params::kMax> slots{};
  bind_tuple_dict(p, args, kwargs, slots.data());
  return convert_slots<Ts...>(p, slots.data(), std::index_sequence_for<Ts...>{});
}

// Refuses every argument (methods without parameters).
inline void parse_no_args(const Params& p, PyObject* const* args, Py_ssize_t nargs,
                          PyObject* kwnames) {
  bind_fastcall(p, args, nargs, kwnames, nullptr);
}

}  // namespace trevalon::py

#endif  // TREVALON_LIB_PY_ARGS_H_
