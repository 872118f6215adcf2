// Python class `Proof`: an exported proof DAG, a list of entries
// (identity, None | (lhs_idx, rhs_idx)). Built from Python data it is taken
// as given: indices are not checked. Ordered and compared by value;
// unhashable.
#include "identity/proof.h"
#include "lib/py_args.h"
#include "lib/py_classes.h"
#include "lib/py_method.h"

namespace trevalon::py {

// An entry: a 2-sequence (IdentityCirc, None or a 2-sequence of ints) in,
// a tuple out.
template <>
struct Conv<ProofEntry> {
  static ProofEntry from_py(PyObject* obj) {
    PyRef pair = pair_items(obj);
    IdentityCirc id = Conv<IdentityCirc>::from_py(PySequence_Fast_GET_ITEM(pair.get(), 0));
    PyObject* dep = PySequence_Fast_GET_ITEM(pair.get(), 1);
    if (dep == Py_None) return {std::move(id), std::nullopt};
    PyRef idx = pair_items(dep);
    const auto lhs = Conv<std::size_t>::from_py(PySequence_Fast_GET_ITEM(idx.get(), 0));
    const auto rhs = Conv<std::size_t>::from_py(PySequence_Fast_GET_ITEM(idx.get(), 1));
    return {std::move(id), std::pair(lhs, rhs)};
  }
  static PyRef to_py(const ProofEntry& e) {
    PyRef id = Conv<IdentityCirc>::to_py(e.first);
    PyRef dep = e.second ? to_py_pair(*e.second) : py_none();
    return PyRef::steal(PyTuple_Pack(2, id.get(), dep.get()));
  }

 private:
  // The items of a sequence of exactly two elements.
  static PyRef pair_items(PyObject* obj) {
    check_list_like(obj);
    PyRef seq = as_fast_sequence(obj);
    const Py_ssize_t n = PySequence_Fast_GET_SIZE(seq.get());
    if (n != 2) raise(PyExc_TypeError, "expected a 2-tuple, got a sequence of length " + std::to_string(n));
    return seq;
  }
  static PyRef to_py_pair(const std::pair<std::size_t, std::size_t>& p) {
    PyRef a = Conv<std::size_t>::to_py(p.first), b = Conv<std::size_t>::to_py(p.second);
    return PyRef::steal(PyTuple_Pack(2, a.get(), b.get()));
  }
};

namespace {

constexpr const char* kProofDoc =
    "Proof(data)\n--\n\n"
    "Exported proof DAG.\n\n"
    "Each entry stores:\n"
    "- an identity circuit,\n"
    "- either `None` (assumption) or `(lhs_idx, rhs_idx)` showing how it is derived.";

PyObject* proof_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  static constexpr Params kSig = params("Proof.__new__", {"data"}, 1);
  return guarded([&] {
    auto [data] = parse_args<std::vector<ProofEntry>>(kSig, args, kwargs);
    return wrap(Proof(std::move(data)), type);
  });
}

PyRef get_raw(const Proof& p) { return to_py(p.entries()); }
std::string proof_text(const Proof& p) { return p.to_text(); }
std::string proof_repr(const Proof& p) { return std::to_string(p.size()); }

PyGetSetDef kProofGetSet[] = {
    {"raw", getter<Proof, get_raw>, nullptr, "Returns raw proof entries.", nullptr},
    kGetSetEnd,
};

}  // namespace

PyTypeObject* PyClass<Proof>::type() {
  static PyTypeObject* type = nullptr;
  if (type == nullptr) {
    type = make_type<Proof>("Proof", {
        slot(Py_tp_doc, kProofDoc),
        slot(Py_tp_new, proof_new),
        slot(Py_tp_str, text_slot<Proof, proof_text>),
        slot(Py_tp_repr, text_slot<Proof, proof_repr>),
        slot(Py_tp_richcompare, ordered_richcompare<Proof>),
        slot(Py_tp_hash, PyObject_HashNotImplemented),
        slot(Py_tp_getset, kProofGetSet),
    });
  }
  return type;
}

}  // namespace trevalon::py
