// Python class `Gate` (frozen): a handle into the gate registry.
#include "circ/gate.h"
#include "circ/instr.h"
#include "circ/instruction.h"
#include "circ/param/expression.h"
#include "lib/py_args.h"
#include "lib/py_classes.h"
#include "lib/py_method.h"
#include "utils/siphash.h"

namespace trevalon::py {
namespace {

constexpr const char* kGateDoc =
    "Gate(name, params, matrix)\n--\n\n"
    "Parameterized quantum gate definition used by both search and Python APIs.";

Gate16 gate_of(PyObject* self) { return box_value<Gate16>(self); }

PyObject* gate_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  static constexpr Params kSig = params("Gate.__new__", {"name", "params", "matrix"}, 3);
  return guarded([&] {
    auto [name, gate_params, matrix] =
        parse_args<std::string, std::vector<std::string>, ComplexMatrix>(kSig, args, kwargs);
    return wrap(Gate16::create(std::move(name), std::move(gate_params), std::move(matrix)), type);
  });
}

PyObject* gate_from_name(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr Params kSig = params("Gate.from_name", {"name"}, 1);
  return guarded([&] {
    auto [name] = parse_args<std::string>(kSig, args, nargs, kwnames);
    return to_py(Gate16::from_name(name));
  });
}

PyObject* gate_adjoint(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr Params kSig = params("Gate.adjoint", {}, 0);
  return guarded([&] {
    parse_no_args(kSig, args, nargs, kwnames);
    return to_py(gate_of(self).adjoint());
  });
}

// Gate(...)(*args): integer qubits give a compact Instr, Argument objects a
// register-style Instruction (qargs first, the rest classical).
PyObject* gate_call(PyObject* self, PyObject* args, PyObject* kwargs) {
  static constexpr Params kSig = params("Gate.__call__", {}, 0);
  return guarded([&] {
    if (kwargs != nullptr && PyDict_GET_SIZE(kwargs) > 0) {
      PyRef empty = PyRef::steal(PyTuple_New(0));
      bind_tuple_dict(kSig, empty.get(), kwargs, nullptr);
    }
    const Gate16 gate = gate_of(self);
    std::optional<std::vector<uint8_t>> qubits;
    try {
      qubits = from_py<std::vector<uint8_t>>(args);
    } catch (const ErrorAlreadySet&) {
      PyErr_Clear();
    }
    if (qubits) return wrap(Instr32::create_unchecked_unique(gate, *qubits));

    std::optional<std::vector<Argument>> arguments;
    try {
      arguments = from_py<std::vector<Argument>>(args);
    } catch (const ErrorAlreadySet&) {
      PyErr_Clear();
    }
    if (!arguments) raise_conversion_error(args, "Union[Sequence[int], Sequence[Argument]]");
    const std::size_t nq = gate.nqargs();
    if (arguments->size() < nq) check_index(nq - 1, arguments->size());
    Instruction instr{gate, std::vector<Argument>(arguments->begin(), arguments->begin() + nq),
                      std::vector<Argument>(arguments->begin() + nq, arguments->end())};
    return wrap(std::move(instr));
  });
}

PyObject* gate_call_method(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&] {
    const Py_ssize_t npos = PyVectorcall_NARGS(nargs);
    PyRef tuple = PyRef::steal(PyTuple_New(npos));
    for (Py_ssize_t i = 0; i < npos; ++i) {
      PyTuple_SET_ITEM(tuple.get(), i, PyRef::borrow(args[i]).release());
    }
    PyRef kwargs;
    if (kwnames != nullptr && PyTuple_GET_SIZE(kwnames) > 0) {
      kwargs = PyRef::steal(PyDict_New());
      for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(kwnames); ++i) {
        if (PyDict_SetItem(kwargs.get(), PyTuple_GET_ITEM(kwnames, i), args[nargs + i]) < 0) {
          throw ErrorAlreadySet{};
        }
      }
    }
    return PyRef::steal(gate_call(self, tuple.get(), kwargs.get()));
  });
}

PyRef get_name(const Gate16& g) { return to_py(g.name()); }
PyRef get_params(const Gate16& g) { return to_py(g.params()); }
PyRef get_params_f(const Gate16& g) {
  std::vector<double> values;
  for (const std::string& text : g.params()) {
    param::EvalResult r = param::evaluate_with_pi(text);
    if (const auto* err = std::get_if<param::NumericError>(&r)) raise(PyExc_ValueError, err->text());
    values.push_back(std::get<double>(r));
  }
  return to_py(values);
}
PyRef get_matrix(const Gate16& g) { return to_py(g.matrix_copy()); }
PyRef get_nqargs(const Gate16& g) { return to_py(g.nqargs()); }

std::string gate_text(const Gate16& g) { return g.display_name(); }
uint64_t gate_hash(const Gate16& g) {
  SipHasher13 h;
  h.write_u16(g.id());
  return h.finish();
}

PyMethodDef kGateMethods[] = {
    static_method("from_name", gate_from_name,
                  "from_name(name)\n--\n\nLooks up a built-in gate by display name."),
    method("adjoint", gate_adjoint, "adjoint($self)\n--\n\nReturns the adjoint (inverse) gate."),
    method("__call__", gate_call_method,
           "__call__($self, /, *args)\n--\n\n"
           "Binds arguments and returns either compact `Instr` (integer qargs)\n"
           "or high-level `Instruction` (register-style args).",
           METH_COEXIST),
    kMethodsEnd,
};

PyGetSetDef kGateGetSet[] = {
    {"name", getter<Gate16, get_name>, nullptr, "Gate name.", nullptr},
    {"params", getter<Gate16, get_params>, nullptr, "Symbolic parameter list.", nullptr},
    {"params_f", getter<Gate16, get_params_f>, nullptr,
     "Numeric parameters evaluated with support for `pi` expressions.", nullptr},
    {"matrix", getter<Gate16, get_matrix>, nullptr, "Dense unitary matrix.", nullptr},
    {"nqargs", getter<Gate16, get_nqargs>, nullptr, "Number of qubit arguments required by this gate.",
     nullptr},
    kGetSetEnd,
};

}  // namespace

PyTypeObject* PyClass<Gate16>::type() {
  static PyTypeObject* type = nullptr;
  if (type == nullptr) {
    type = make_type<Gate16>("Gate", {
        slot(Py_tp_doc, kGateDoc),
        slot(Py_tp_new, gate_new),
        slot(Py_tp_call, gate_call),
        slot(Py_tp_str, text_slot<Gate16, gate_text>),
        slot(Py_tp_hash, hash_slot<Gate16, gate_hash>),
        slot(Py_tp_richcompare, eq_richcompare<Gate16>),
        slot(Py_tp_methods, kGateMethods),
        slot(Py_tp_getset, kGateGetSet),
    });
  }
  return type;
}

}  // namespace trevalon::py
