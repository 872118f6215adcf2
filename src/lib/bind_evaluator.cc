// Python class `Evaluator`: the randomised circuit fingerprint.
#include "lib/py_args.h"
#include "lib/py_classes.h"
#include "lib/py_method.h"
#include "state/evaluator.h"
#include "state/rng.h"

namespace trevalon::py {
namespace {

constexpr const char* kEvaluatorDoc =
    "Evaluator(nqubits)\n--\n\n"
    "Randomized evaluator used to hash circuits and recover permutation metadata.";

PyObject* evaluator_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  static constexpr Params kSig = params("Evaluator.__new__", {"nqubits"}, 1);
  return guarded([&] {
    auto [n] = parse_args<uint32_t>(kSig, args, kwargs);
    Rng64 rng = Rng64::from_entropy();
    return wrap(Evaluator::from_random(n, rng), type);
  });
}

PyObject* evaluate(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr Params kSig = params("Evaluator.evaluate", {"instrs"}, 1);
  return guarded([&] {
    auto [instrs] = parse_args<std::vector<Instr32>>(kSig, args, nargs, kwnames);
    Shared<Evaluator> me(self);
    FirstEvaluation r = me->evaluate(instrs);
    return to_py(std::make_tuple(r.back, r.front_perm, r.back_perm, r.forward));
  });
}

constexpr char kNqubitsName[] = "Evaluator.nqubits";
constexpr char kInitialKeyName[] = "Evaluator.initial_key";
PyRef nqubits(const Evaluator& e) { return to_py(e.nqubits()); }
PyRef initial_key(const Evaluator& e) { return to_py(e.initial_key()); }

PyMethodDef kEvaluatorMethods[] = {
    method("nqubits", nullary_method<Evaluator, kNqubitsName, nqubits>,
           "nqubits($self)\n--\n\nReturns evaluator qubit count."),
    method("evaluate", evaluate, "evaluate($self, instrs)\n--\n\nPython wrapper for circuit evaluation."),
    method("initial_key", nullary_method<Evaluator, kInitialKeyName, initial_key>,
           "initial_key($self)\n--\n\nHash key for the empty circuit under this evaluator."),
    kMethodsEnd,
};

}  // namespace

PyTypeObject* PyClass<Evaluator>::type() {
  static PyTypeObject* type = nullptr;
  if (type == nullptr) {
    type = make_type<Evaluator>("Evaluator", {
        slot(Py_tp_doc, kEvaluatorDoc),
        slot(Py_tp_new, evaluator_new),
        slot(Py_tp_richcompare, eq_richcompare<Evaluator>),
        slot(Py_tp_methods, kEvaluatorMethods),
    });
  }
  return type;
}

}  // namespace trevalon::py
