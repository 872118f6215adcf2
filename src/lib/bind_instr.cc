// Python class `Instr`: a compact instruction. It has no comparison slot,
// so `==` is identity, while equal instructions hash equally.
#include "circ/instr.h"
#include "lib/py_args.h"
#include "lib/py_classes.h"
#include "lib/py_method.h"
#include "utils/siphash.h"

namespace trevalon::py {
namespace {

constexpr const char* kInstrDoc =
    "Instr(gate, qargs)\n--\n\n"
    "A compact, index-only quantum instruction used internally by the search/prover.";

PyObject* instr_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  static constexpr Params kSig = params("Instr.__new__", {"gate", "qargs"}, 2);
  return guarded([&] {
    auto [gate, qargs] = parse_args<Gate16, std::vector<uint8_t>>(kSig, args, kwargs);
    return wrap(Instr32::create(gate, qargs), type);
  });
}

template <const char* Qualname>
PyObject* apply_permutation(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr Params kSig = params(Qualname, {"perm"}, 1);
  return guarded([&] {
    auto [perm] = parse_args<Permut32>(kSig, args, nargs, kwnames);
    Shared<Instr32> me(self);
    return to_py(me->apply_permutation(perm));
  });
}
constexpr char kApplyPermutationName[] = "Instr.apply_permutation";
constexpr char kPermutName[] = "Instr.permut";

PyObject* pass_mask(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr Params kSig = params("Instr.pass_mask", {"mask"}, 1);
  return guarded([&] {
    auto [mask] = parse_args<uint8_t>(kSig, args, nargs, kwnames);
    Shared<Instr32> me(self);
    return to_py(me->pass_mask(mask));
  });
}

PyObject* disjoint(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr Params kSig = params("Instr.disjoint", {"other"}, 1);
  return guarded([&] {
    auto [other] = parse_args<Instr32>(kSig, args, nargs, kwnames);
    Shared<Instr32> me(self);
    return to_py(me->disjoint(other));
  });
}

PyObject* position_of_qubit(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr Params kSig = params("Instr.position_of_qubit", {"qubit"}, 1);
  return guarded([&] {
    auto [qubit] = parse_args<uint8_t>(kSig, args, nargs, kwnames);
    Shared<Instr32> me(self);
    return to_py(me->position_of_qubit(qubit));
  });
}

constexpr char kArgMaskName[] = "Instr.arg_mask";
constexpr char kLargestQubitName[] = "Instr.largest_qubit";
constexpr char kAdjointName[] = "Instr.adjoint";
PyRef arg_mask(const Instr32& i) { return to_py(i.arg_mask()); }
PyRef largest_qubit(const Instr32& i) { return to_py(i.largest_qubit()); }
PyRef adjoint(const Instr32& i) { return to_py(i.adjoint()); }

PyRef get_gate(const Instr32& i) { return to_py(i.gate()); }
PyRef get_qargs(const Instr32& i) {
  const auto used = i.qargs().used();
  return to_py(std::vector<uint8_t>(used.begin(), used.end()));
}

std::string instr_text(const Instr32& i) { return i.to_text(); }
uint64_t instr_hash(const Instr32& i) {
  SipHasher13 h;
  i.hash_into(h);
  return h.finish();
}

PyMethodDef kInstrMethods[] = {
    method("apply_permutation", apply_permutation<kApplyPermutationName>,
           "apply_permutation($self, perm)\n--\n\nApplies a qubit permutation."),
    method("permut", apply_permutation<kPermutName>,
           "permut($self, perm)\n--\n\nAlias of `apply_permutation`."),
    method("arg_mask", nullary_method<Instr32, kArgMaskName, arg_mask>,
           "arg_mask($self)\n--\n\nBitmask of qubits touched by this instruction."),
    method("pass_mask", pass_mask,
           "pass_mask($self, mask)\n--\n\nUpdates a frontier mask for left-to-right scheduling checks."),
    method("largest_qubit", nullary_method<Instr32, kLargestQubitName, largest_qubit>,
           "largest_qubit($self)\n--\n\nLargest qubit index touched by this instruction."),
    method("disjoint", disjoint,
           "disjoint($self, other)\n--\n\nReturns `true` when this and `other` touch disjoint qubits."),
    method("adjoint", nullary_method<Instr32, kAdjointName, adjoint>, "adjoint($self)\n--\n\nReturns the adjoint instruction."),
    method("position_of_qubit", position_of_qubit,
           "position_of_qubit($self, qubit)\n--\n\n"
           "Returns position of `qubit` in argument list, if present."),
    kMethodsEnd,
};

PyGetSetDef kInstrGetSet[] = {
    {"gate", getter<Instr32, get_gate>, nullptr, "Underlying gate.", nullptr},
    {"qargs", getter<Instr32, get_qargs>, nullptr, "Qubit arguments as dense integer indices.", nullptr},
    kGetSetEnd,
};

}  // namespace

PyTypeObject* PyClass<Instr32>::type() {
  static PyTypeObject* type = nullptr;
  if (type == nullptr) {
    type = make_type<Instr32>("Instr", {
        slot(Py_tp_doc, kInstrDoc),
        slot(Py_tp_new, instr_new),
        slot(Py_tp_str, text_slot<Instr32, instr_text>),
        slot(Py_tp_repr, text_slot<Instr32, instr_text>),
        slot(Py_tp_hash, hash_slot<Instr32, instr_hash>),
        slot(Py_tp_methods, kInstrMethods),
        slot(Py_tp_getset, kInstrGetSet),
    });
  }
  return type;
}

}  // namespace trevalon::py
