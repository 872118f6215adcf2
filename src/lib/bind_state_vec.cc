// Python class `StateVec`: a complex state vector, with item access and
// in-place application of an instruction (`state *= instr`).
#include "lib/py_args.h"
#include "lib/py_classes.h"
#include "lib/py_method.h"
#include "state/gates.h"
#include "state/rng.h"
#include "state/state_vec.h"

namespace trevalon::py {
namespace {

constexpr const char* kStateVecDoc =
    "StateVec(re, im)\n--\n\n"
    "Complex state vector used for randomized circuit evaluation.";

constexpr const char* kNormalizeDoc =
    "normalize($self)\n--\n\n"
    "Normalizes the state vector in place.\n\nNormalization ensures two conditions:\n"
    "1. Amplitude Normalization: The sum of the squares of the absolute values of\n"
    "   the complex amplitudes is 1 (i.e., `sum(|psi_i|^2) = 1`).\n"
    "2. Phase Normalization: The first non-zero element of the state vector\n"
    "   is made real and positive.\n\n"
    "If the vector is effectively all zeros initially (all amplitudes are very close to zero),\n"
    "it is normalized to the |0...0> state (i.e., the first element becomes 1.0 + 0.0i,\n"
    "and all other elements become 0.0 + 0.0i).\n"
    "If the vector has zero length, this function does nothing.";

PyObject* state_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  static constexpr Params kSig = params("StateVec.__new__", {"re", "im"}, 2);
  return guarded([&] {
    auto [re, im] = parse_args<std::vector<double>, std::vector<double>>(kSig, args, kwargs);
    return wrap(StateVec::create(re, im), type);
  });
}

template <const char* Qualname, StateVec (*Make)(Rng64&, uint32_t)>
PyObject* random_static(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr Params kSig = params(Qualname, {"num_qubits"}, 1);
  return guarded([&] {
    auto [n] = parse_args<uint32_t>(kSig, args, nargs, kwnames);
    Rng64 rng = Rng64::from_entropy();
    return to_py(Make(rng, n));
  });
}
constexpr char kRandomName[] = "StateVec.random";
constexpr char kRandomSymmetricName[] = "StateVec.random_symmetric";

// In-place methods take the exclusive borrow.
template <const char* Qualname, void (StateVec::*Fn)()>
PyObject* in_place(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr Params kSig = params(Qualname, {}, 0);
  return guarded([&] {
    parse_no_args(kSig, args, nargs, kwnames);
    Exclusive<StateVec> me(self);
    ((*me).*Fn)();
    return py_none();
  });
}
constexpr char kNormalizeName[] = "StateVec.normalize";
constexpr char kNormalizeArgName[] = "StateVec.normalize_arg";

constexpr char kHashValueName[] = "StateVec.hash_value";
constexpr char kNqubitsName[] = "StateVec.nqubits";
constexpr char kLenName[] = "StateVec.len";
constexpr char kCloneName[] = "StateVec.clone";
constexpr char kCheckName[] = "StateVec.check";
PyRef hash_value(const StateVec& s) { return to_py(s.hash_value()); }
PyRef nqubits(const StateVec& s) { return to_py(s.nqubits()); }
PyRef len(const StateVec& s) { return to_py(static_cast<uint64_t>(s.len())); }
PyRef clone(const StateVec& s) { return to_py(s.clone()); }
PyRef check(const StateVec& s) { return py_bool(s.check()); }

PyObject* state_getitem(PyObject* self, PyObject* key) {
  return guarded([&] {
    const uint32_t index = from_py<uint32_t>(key);
    Shared<StateVec> me(self);
    return to_py(me->at(index));
  });
}

int state_setitem(PyObject* self, PyObject* key, PyObject* value) {
  if (value == nullptr) {
    PyErr_SetString(PyExc_NotImplementedError, "can't delete item");
    return -1;
  }
  return guarded(-1, [&] {
    const uint32_t index = from_py<uint32_t>(key);
    const Complex amplitude = from_py<Complex>(value);
    Exclusive<StateVec> me(self);
    me->set(index, amplitude);
    return 0;
  });
}

PyObject* state_imul(PyObject* self, PyObject* other) {
  return guarded([&]() -> PyRef {
    if (!is_instance<StateVec>(self) || !is_instance<Instr32>(other)) {
      return PyRef::borrow(Py_NotImplemented);
    }
    const Instr32 instr = *Shared<Instr32>(other);
    {
      Exclusive<StateVec> me(self);
      apply(*me, instr);
    }
    return PyRef::borrow(self);
  });
}

std::string state_text(const StateVec& s) { return s.to_text(); }

// Named twins of the item and in-place slots, so that the methods carry
// their own documentation; the slots still serve the operator syntax.
template <std::size_t N>
bool bind_method_args(const Params& sig, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                      PyObject* (&slots)[N]) {
  return guarded(-1, [&] {
           bind_fastcall(sig, args, nargs, kwnames, slots);
           return 0;
         }) == 0;
}

PyObject* getitem_method(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr Params kSig = params("StateVec.__getitem__", {"index"}, 1);
  PyObject* slots[1] = {nullptr};
  if (!bind_method_args(kSig, args, nargs, kwnames, slots)) return nullptr;
  return state_getitem(self, slots[0]);
}

PyObject* setitem_method(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr Params kSig = params("StateVec.__setitem__", {"index", "value"}, 2);
  PyObject* slots[2] = {nullptr, nullptr};
  if (!bind_method_args(kSig, args, nargs, kwnames, slots)) return nullptr;
  if (state_setitem(self, slots[0], slots[1]) < 0) return nullptr;
  Py_RETURN_NONE;
}

PyObject* imul_method(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr Params kSig = params("StateVec.__imul__", {"other"}, 1);
  PyObject* slots[1] = {nullptr};
  if (!bind_method_args(kSig, args, nargs, kwnames, slots)) return nullptr;
  return state_imul(self, slots[0]);
}

PyMethodDef kStateVecMethods[] = {
    method("hash_value", nullary_method<StateVec, kHashValueName, hash_value>,
           "hash_value($self)\n--\n\nHashes the current normalized state."),
    static_method("random", random_static<kRandomName, &StateVec::from_random>,
                  "random(num_qubits)\n--\n\nCreates a random normalized state."),
    static_method("random_symmetric", random_static<kRandomSymmetricName, &StateVec::from_random_symmetric>,
                  "random_symmetric(num_qubits)\n--\n\n"
                  "Creates a random state tailored for symmetry-aware evaluator use."),
    method("nqubits", nullary_method<StateVec, kNqubitsName, nqubits>, "nqubits($self)\n--\n\nReturns qubit count."),
    method("len", nullary_method<StateVec, kLenName, len>,
           "len($self)\n--\n\nReturns vector length (`2^nqubits`)."),
    method("normalize", in_place<kNormalizeName, &StateVec::normalize>, kNormalizeDoc),
    method("normalize_arg", in_place<kNormalizeArgName, &StateVec::normalize_arg>,
           "normalize_arg($self)\n--\n\nCanonicalizes global phase for stable equality/hash comparison."),
    method("clone", nullary_method<StateVec, kCloneName, clone>, "clone($self)\n--\n\nReturns a deep copy."),
    method("check", nullary_method<StateVec, kCheckName, check>, "check($self)\n--\n\nChecks unit-norm invariant."),
    method("__getitem__", getitem_method,
           "__getitem__($self, index)\n--\n\nReturns one amplitude as Python `complex`.", METH_COEXIST),
    method("__setitem__", setitem_method,
           "__setitem__($self, index, value)\n--\n\nSets one amplitude from Python `complex`.", METH_COEXIST),
    method("__imul__", imul_method,
           "__imul__($self, other)\n--\n\nIn-place application of one instruction.", METH_COEXIST),
    kMethodsEnd,
};

}  // namespace

PyTypeObject* PyClass<StateVec>::type() {
  static PyTypeObject* type = nullptr;
  if (type == nullptr) {
    type = make_type<StateVec>("StateVec", {
        slot(Py_tp_doc, kStateVecDoc),
        slot(Py_tp_new, state_new),
        slot(Py_tp_str, text_slot<StateVec, state_text>),
        slot(Py_tp_richcompare, eq_richcompare<StateVec>),
        slot(Py_mp_subscript, state_getitem),
        slot(Py_mp_ass_subscript, state_setitem),
        slot(Py_nb_inplace_multiply, state_imul),
        slot(Py_tp_methods, kStateVecMethods),
    });
  }
  return type;
}

}  // namespace trevalon::py
