// Python class `IdentityCirc`, and its dict record form:
//   {"instrs": [(gate_name, (slot0, slot1)), ...], "perm": {"raw": word}}
// Reading a record raises TypeError for a value of the wrong Python type and
// ValueError for a wrong shape (missing or repeated field, wrong length,
// integer out of range); an unknown gate name aborts. The circuit read is
// validated structurally (Circ::from_record) but not simulated.
#include <array>
#include <string>

#include "identity/circuit.h"
#include "identity/idcircuit.h"
#include "lib/py_args.h"
#include "lib/py_classes.h"
#include "lib/py_method.h"

namespace trevalon::py {
namespace {

constexpr const char* kIdentityCircDoc =
    "IdentityCirc(circuit)\n--\n\n"
    "Canonical identity circuit (a circuit proven equivalent to identity).";

// ---- Record reading -------------------------------------------------------

// An unsigned integer field of a record, at most `max`.
uint64_t record_uint(PyObject* obj, uint64_t max, const char* type) {
  if (!PyLong_Check(obj)) raise_conversion_error(obj, "int");
  int overflow = 0;
  const long long v = PyLong_AsLongLongAndOverflow(obj, &overflow);
  if (v == -1 && PyErr_Occurred()) throw ErrorAlreadySet{};
  if (overflow != 0 || v < 0 || static_cast<unsigned long long>(v) > max) {
    raise(PyExc_ValueError, "invalid value: integer `" + str_of(obj) + "`, expected " + type);
  }
  return static_cast<uint64_t>(v);
}

// The items of a sequence record of exactly `n` elements.
PyRef record_tuple(PyObject* obj, Py_ssize_t n, const char* expected) {
  check_list_like(obj);
  PyRef seq = as_fast_sequence(obj);
  const Py_ssize_t len = PySequence_Fast_GET_SIZE(seq.get());
  if (len != n) {
    raise(PyExc_ValueError, "invalid length " + std::to_string(len) + ", expected " + expected);
  }
  return seq;
}

Instr32 record_instr(PyObject* obj) {
  PyRef pair = record_tuple(obj, 2, "tuple struct Instr32 with 2 elements");
  PyObject* name = PySequence_Fast_GET_ITEM(pair.get(), 0);
  PyObject* slots_obj = PySequence_Fast_GET_ITEM(pair.get(), 1);
  const Gate16 gate = Gate16::from_serialized(from_py<std::string>(name));
  PyRef slots = record_tuple(slots_obj, 2, "tuple struct QArgs16 with 2 elements");
  const auto s0 = static_cast<uint8_t>(record_uint(PySequence_Fast_GET_ITEM(slots.get(), 0), 255, "u8"));
  const auto s1 = static_cast<uint8_t>(record_uint(PySequence_Fast_GET_ITEM(slots.get(), 1), 255, "u8"));
  return Instr32(gate, QArgs16(s0, s1));
}

// Runs `field(name, value)` for each str key of the dict `obj`; other keys
// are ignored. Keys are compared by their text, so a key given twice (two
// distinct str objects with the same text) is refused.
template <std::size_t N, class Field>
void read_struct(PyObject* obj, const std::array<const char*, N>& names, Field&& field) {
  if (!PyDict_Check(obj)) raise_conversion_error(obj, "Mapping");
  std::array<bool, N> seen{};
  Py_ssize_t pos = 0;
  PyObject* key = nullptr;
  PyObject* value = nullptr;
  while (PyDict_Next(obj, &pos, &key, &value)) {
    // PyDict_Next lends references that user code run below could release.
    PyRef key_ref = PyRef::borrow(key), value_ref = PyRef::borrow(value);
    if (!PyUnicode_Check(key)) raise_conversion_error(key, kStrName);
    const std::string text = from_py<std::string>(key);
    for (std::size_t i = 0; i < N; ++i) {
      if (text != names[i]) continue;
      if (seen[i]) raise(PyExc_ValueError, std::string("duplicate field `") + names[i] + "`");
      seen[i] = true;
      field(i, value);
    }
  }
  for (std::size_t i = 0; i < N; ++i) {
    if (!seen[i]) raise(PyExc_ValueError, std::string("missing field `") + names[i] + "`");
  }
}

Permut32 record_perm(PyObject* obj) {
  uint32_t raw = 0;
  read_struct(obj, std::array<const char*, 1>{"raw"}, [&](std::size_t, PyObject* v) {
    raw = static_cast<uint32_t>(record_uint(v, UINT32_MAX, "u32"));
  });
  return Permut32::from_raw(raw);
}

IdentityCirc record_identity(PyObject* obj) {
  std::vector<Instr32> instrs;
  Permut32 perm;
  read_struct(obj, std::array<const char*, 2>{"instrs", "perm"}, [&](std::size_t i, PyObject* v) {
    if (i == 0) {
      check_list_like(v);
      PyRef seq = as_fast_sequence(v);
      const Py_ssize_t n = PySequence_Fast_GET_SIZE(seq.get());
      for (Py_ssize_t k = 0; k < n; ++k) instrs.push_back(record_instr(PySequence_Fast_GET_ITEM(seq.get(), k)));
    } else {
      perm = record_perm(v);
    }
  });
  return IdentityCirc::from_record(std::move(instrs), perm);
}

// ---- Record writing -------------------------------------------------------

PyRef record_of(const IdentityCirc& id) {
  const std::vector<Instr32>& instrs = id.circ().instrs();
  PyRef list = PyRef::steal(PyList_New(static_cast<Py_ssize_t>(instrs.size())));
  for (std::size_t i = 0; i < instrs.size(); ++i) {
    const Instr32& in = instrs[i];
    PyRef name = to_py(in.gate().display_name());
    PyRef s0 = to_py(in.qargs().slot(0)), s1 = to_py(in.qargs().slot(1));
    PyRef slots = PyRef::steal(PyTuple_Pack(2, s0.get(), s1.get()));
    PyRef pair = PyRef::steal(PyTuple_Pack(2, name.get(), slots.get()));
    PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), pair.release());
  }
  PyRef perm = PyRef::steal(PyDict_New());
  PyRef raw = to_py(id.circ().perm().raw());
  if (PyDict_SetItemString(perm.get(), "raw", raw.get()) < 0) throw ErrorAlreadySet{};
  PyRef out = PyRef::steal(PyDict_New());
  if (PyDict_SetItemString(out.get(), "instrs", list.get()) < 0) throw ErrorAlreadySet{};
  if (PyDict_SetItemString(out.get(), "perm", perm.get()) < 0) throw ErrorAlreadySet{};
  return out;
}

// ---- Class members --------------------------------------------------------

PyObject* identity_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  static constexpr Params kSig = params("IdentityCirc.__new__", {"circuit"}, 1);
  return guarded([&] {
    auto [circuit] = parse_args<Circ>(kSig, args, kwargs);
    return wrap(IdentityCirc::unchecked(std::move(circuit)), type);
  });
}

PyObject* from_python(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr Params kSig = params("IdentityCirc.from_python", {"obj"}, 1);
  return guarded([&] {
    PyObject* obj = nullptr;
    bind_fastcall(kSig, args, nargs, kwnames, &obj);
    return to_py(record_identity(obj));
  });
}

template <const char* Qualname, WireNeighbours (IdentityCirc::*Query)(std::size_t) const>
PyObject* neighbours(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr Params kSig = params(Qualname, {"gate_id"}, 1);
  return guarded([&] {
    auto [gate_id] = parse_args<uint64_t>(kSig, args, nargs, kwnames);
    Shared<IdentityCirc> me(self);
    const WireNeighbours found = ((*me).*Query)(static_cast<std::size_t>(gate_id));
    return to_py(std::vector<uint64_t>(found.begin(), found.end()));
  });
}
constexpr char kForwardName[] = "IdentityCirc.qargs_forward";
constexpr char kBackwardName[] = "IdentityCirc.qargs_backward";

constexpr char kNqubitsName[] = "IdentityCirc.nqubits";
constexpr char kCheckName[] = "IdentityCirc.check";
constexpr char kHashValueName[] = "IdentityCirc.hash_value";
constexpr char kPythonizeName[] = "IdentityCirc.pythonize";
PyRef nqubits(const IdentityCirc& c) { return to_py(c.nqubits()); }
PyRef check(const IdentityCirc& c) { return py_bool(c.check()); }
PyRef hash_value(const IdentityCirc& c) { return to_py(c.hash_value()); }
PyRef pythonize(const IdentityCirc& c) { return record_of(c); }

PyRef get_inner(const IdentityCirc& c) { return to_py(c.inner()); }

std::string identity_text(const IdentityCirc& c) { return c.to_text(); }
std::string identity_debug(const IdentityCirc& c) { return c.debug_text(); }
uint64_t identity_hash(const IdentityCirc& c) { return c.hash_value(); }

std::size_t identity_len(const IdentityCirc& v) { return v.len(); }

PyObject* identity_getitem(PyObject* self, PyObject* key) {
  return guarded([&] {
    const int64_t idx = from_py<int64_t>(key);
    Shared<IdentityCirc> me(self);
    return to_py(me->at_cyclic(idx));
  });
}

PyMethodDef kIdentityMethods[] = {
    static_method("from_python", from_python,
                  "from_python(obj)\n--\n\nParses a Python-serialized identity object."),
    method("nqubits", nullary_method<IdentityCirc, kNqubitsName, nqubits>,
           "nqubits($self)\n--\n\nReturns number of qubits."),
    method("qargs_forward", neighbours<kForwardName, &IdentityCirc::qargs_forward>,
           "qargs_forward($self, gate_id)\n--\n\n"
           "For each argument of gate `gate_id`, returns next gate index using that qubit."),
    method("qargs_backward", neighbours<kBackwardName, &IdentityCirc::qargs_backward>,
           "qargs_backward($self, gate_id)\n--\n\n"
           "For each argument of gate `gate_id`, returns previous gate index using that qubit."),
    method("check", nullary_method<IdentityCirc, kCheckName, check>,
           "check($self)\n--\n\nRandomized semantic check that this circuit is identity."),
    method("hash_value", nullary_method<IdentityCirc, kHashValueName, hash_value>,
           "hash_value($self)\n--\n\nStable hash of the canonical identity representation."),
    method("pythonize", nullary_method<IdentityCirc, kPythonizeName, pythonize>,
           "pythonize($self)\n--\n\nConverts this identity to a Python-serializable form."),
    kMethodsEnd,
};

PyGetSetDef kIdentityGetSet[] = {
    {"inner", getter<IdentityCirc, get_inner>, nullptr, "Underlying circuit representation.", nullptr},
    kGetSetEnd,
};

}  // namespace

PyTypeObject* PyClass<IdentityCirc>::type() {
  static PyTypeObject* type = nullptr;
  if (type == nullptr) {
    type = make_type<IdentityCirc>("IdentityCirc", {
        slot(Py_tp_doc, kIdentityCircDoc),
        slot(Py_tp_new, identity_new),
        slot(Py_tp_str, text_slot<IdentityCirc, identity_text>),
        slot(Py_tp_repr, text_slot<IdentityCirc, identity_debug>),
        slot(Py_tp_hash, hash_slot<IdentityCirc, identity_hash>),
        slot(Py_tp_richcompare, ordered_richcompare<IdentityCirc>),
        slot(Py_mp_length, length_slot<IdentityCirc, identity_len>),
        slot(Py_mp_subscript, identity_getitem),
        slot(Py_tp_methods, kIdentityMethods),
        slot(Py_tp_getset, kIdentityGetSet),
    });
  }
  return type;
}

}  // namespace trevalon::py
