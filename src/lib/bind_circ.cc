// Python class `Circ`: a circuit with a trailing qubit permutation. Every
// method returns new objects; none changes the circuit in place.
#include "identity/circuit.h"
#include "identity/idcircuit.h"
#include "lib/py_args.h"
#include "lib/py_classes.h"
#include "lib/py_method.h"

namespace trevalon::py {
namespace {

constexpr const char* kCircDoc =
    "Circ(instrs, perm=None)\n--\n\n"
    "Circuit with an explicit trailing qubit permutation.";

PyObject* circ_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  static constexpr Params kSig = params("Circ.__new__", {"instrs", "perm"}, 1);
  return guarded([&] {
    auto [instrs, perm] = parse_args<std::vector<Instr32>, std::optional<Permut32>>(kSig, args, kwargs);
    return wrap(perm ? Circ::create(std::move(instrs), *perm) : Circ::new_no_perm(std::move(instrs)), type);
  });
}

PyObject* permut(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr Params kSig = params("Circ.permut", {"perm"}, 1);
  return guarded([&] {
    auto [perm] = parse_args<Permut32>(kSig, args, nargs, kwnames);
    Shared<Circ> me(self);
    return to_py(me->permut(perm));
  });
}

PyObject* rotate(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr Params kSig = params("Circ.rotate", {"n"}, 1);
  return guarded([&] {
    auto [n] = parse_args<int64_t>(kSig, args, nargs, kwnames);
    Shared<Circ> me(self);
    return to_py(me->rotate(n));
  });
}

constexpr char kNqubitsName[] = "Circ.nqubits";
constexpr char kRotateRepresentativeName[] = "Circ.rotate_representative";
constexpr char kRepresentativeName[] = "Circ.representative";
constexpr char kRepresentativeWithPermName[] = "Circ.representative_with_perm";
constexpr char kRemoveSwapsName[] = "Circ.remove_swaps";
constexpr char kInverseName[] = "Circ.inverse";
constexpr char kLenName[] = "Circ.len";
constexpr char kIsEmptyName[] = "Circ.is_empty";
constexpr char kInstrsWithSwapsName[] = "Circ.instrs_with_swaps";
PyRef nqubits(const Circ& c) { return to_py(c.nqubits()); }
PyRef rotate_representative(const Circ& c) { return to_py(c.rotate_representative()); }
PyRef representative(const Circ& c) { return to_py(c.representative()); }
PyRef representative_with_perm(const Circ& c) { return to_py(c.representative_with_perm()); }
PyRef remove_swaps(const Circ& c) { return to_py(c.remove_swaps()); }
PyRef inverse(const Circ& c) { return to_py(c.inverse()); }
PyRef len(const Circ& c) { return to_py(static_cast<uint64_t>(c.len())); }
PyRef is_empty(const Circ& c) { return py_bool(c.is_empty()); }
PyRef instrs_with_swaps(const Circ& c) { return to_py(c.instrs_with_swaps()); }

PyRef get_instrs(const Circ& c) { return to_py(c.instrs()); }
PyRef get_perm(const Circ& c) { return to_py(c.perm()); }

std::string circ_text(const Circ& c) { return c.to_text(); }
std::string circ_debug(const Circ& c) { return c.debug_text(); }
uint64_t circ_hash(const Circ& c) { return c.hash_value(); }

PyObject* circ_add(PyObject* a, PyObject* b) {
  return guarded([&]() -> PyRef {
    if (!is_instance<Circ>(a) || !is_instance<Circ>(b)) return PyRef::borrow(Py_NotImplemented);
    Shared<Circ> lhs(a), rhs(b);
    return to_py(*lhs + *rhs);
  });
}

std::size_t circ_len(const Circ& v) { return v.len(); }

PyObject* circ_getitem(PyObject* self, PyObject* key) {
  return guarded([&] {
    const int64_t idx = from_py<int64_t>(key);
    Shared<Circ> me(self);
    return to_py(me->at_cyclic(idx));
  });
}

PyMethodDef kCircMethods[] = {
    method("nqubits", nullary_method<Circ, kNqubitsName, nqubits>,
           "nqubits($self)\n--\n\nNumber of qubits tracked by the permutation."),
    method("rotate_representative", nullary_method<Circ, kRotateRepresentativeName, rotate_representative>,
           "rotate_representative($self)\n--\n\n"
           "Returns canonical identity representative across rotations/permutations."),
    method("representative", nullary_method<Circ, kRepresentativeName, representative>,
           "representative($self)\n--\n\nReturns canonical circuit representative."),
    method("representative_with_perm", nullary_method<Circ, kRepresentativeWithPermName, representative_with_perm>,
           "representative_with_perm($self)\n--\n\n"
           "Returns `(representative, applied_perm)` used in canonicalization."),
    method("permut", permut, "permut($self, perm)\n--\n\nApplies a qubit permutation to this circuit."),
    method("remove_swaps", nullary_method<Circ, kRemoveSwapsName, remove_swaps>,
           "remove_swaps($self)\n--\n\nRemoves explicit swap gates into the stored trailing permutation."),
    method("inverse", nullary_method<Circ, kInverseName, inverse>, "inverse($self)\n--\n\nReturns inverse circuit."),
    method("rotate", rotate, "rotate($self, n)\n--\n\nCircularly rotates instruction order by `n`."),
    method("len", nullary_method<Circ, kLenName, len>, "len($self)\n--\n\nNumber of instructions."),
    method("is_empty", nullary_method<Circ, kIsEmptyName, is_empty>,
           "is_empty($self)\n--\n\nReturns whether the circuit is empty."),
    method("instrs_with_swaps", nullary_method<Circ, kInstrsWithSwapsName, instrs_with_swaps>,
           "instrs_with_swaps($self)\n--\n\nReturns instructions plus swaps needed for stored permutation."),
    kMethodsEnd,
};

PyGetSetDef kCircGetSet[] = {
    {"instrs", getter<Circ, get_instrs>, nullptr, nullptr, nullptr},
    {"perm", getter<Circ, get_perm>, nullptr, nullptr, nullptr},
    kGetSetEnd,
};

}  // namespace

PyTypeObject* PyClass<Circ>::type() {
  static PyTypeObject* type = nullptr;
  if (type == nullptr) {
    type = make_type<Circ>("Circ", {
        slot(Py_tp_doc, kCircDoc),
        slot(Py_tp_new, circ_new),
        slot(Py_tp_str, text_slot<Circ, circ_text>),
        slot(Py_tp_repr, text_slot<Circ, circ_debug>),
        slot(Py_tp_hash, hash_slot<Circ, circ_hash>),
        slot(Py_tp_richcompare, eq_richcompare<Circ>),
        slot(Py_nb_add, circ_add),
        slot(Py_mp_length, length_slot<Circ, circ_len>),
        slot(Py_mp_subscript, circ_getitem),
        slot(Py_tp_methods, kCircMethods),
        slot(Py_tp_getset, kCircGetSet),
    });
  }
  return type;
}

}  // namespace trevalon::py
