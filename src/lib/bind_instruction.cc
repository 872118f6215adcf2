// Python class `Instruction`: a gate on register-style arguments.
#include "circ/instruction.h"
#include "lib/py_args.h"
#include "lib/py_classes.h"
#include "lib/py_method.h"

namespace trevalon::py {

// Constructor arguments: each element an `Argument` or a (str, int) pair,
// tried in that order.
struct ArgumentOrPair {
  Argument value;
};

template <>
struct Conv<ArgumentOrPair> {
  static ArgumentOrPair from_py(PyObject* obj) {
    if (is_instance<Argument>(obj)) return {*Shared<Argument>(obj)};
    if (PyTuple_Check(obj) && PyTuple_GET_SIZE(obj) == 2) {
      try {
        return {Argument{py::from_py<std::string>(PyTuple_GET_ITEM(obj, 0)),
                         py::from_py<uint64_t>(PyTuple_GET_ITEM(obj, 1))}};
      } catch (const ErrorAlreadySet&) {
        PyErr_Clear();
      }
    }
    raise_conversion_error(obj, "Union[Argument, Tuple[str, int]]");
  }
};

namespace {

constexpr const char* kInstructionDoc =
    "Instruction(gate, qargs, cargs=...)\n--\n\n"
    "A high-level instruction with gate + explicit quantum/classical register arguments.";

std::vector<Argument> unwrap(std::vector<ArgumentOrPair> items) {
  std::vector<Argument> out;
  out.reserve(items.size());
  for (ArgumentOrPair& item : items) out.push_back(std::move(item.value));
  return out;
}

PyObject* instruction_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  static constexpr Params kSig = params("Instruction.__new__", {"gate", "qargs", "cargs"}, 2);
  return guarded([&] {
    auto [gate, qargs, cargs] =
        parse_args<Gate16, std::vector<ArgumentOrPair>, std::optional<std::vector<ArgumentOrPair>>>(
            kSig, args, kwargs);
    Instruction instr{gate, unwrap(std::move(qargs)),
                      cargs ? unwrap(std::move(*cargs)) : std::vector<Argument>{}};
    return wrap(std::move(instr), type);
  });
}

PyRef get_gate(const Instruction& i) { return to_py(i.gate); }
void set_gate(Instruction& i, Gate16 g) { i.gate = g; }
PyRef get_qargs(const Instruction& i) { return to_py(i.qargs); }
void set_qargs(Instruction& i, std::vector<Argument> v) { i.qargs = std::move(v); }
PyRef get_cargs(const Instruction& i) { return to_py(i.cargs); }
void set_cargs(Instruction& i, std::vector<Argument> v) { i.cargs = std::move(v); }

std::string instruction_text(const Instruction& i) { return i.to_text(); }
std::string instruction_debug(const Instruction& i) { return i.debug_text(); }
uint64_t instruction_hash(const Instruction& i) {
  SipHasher13 h;
  i.hash_into(h);
  return h.finish();
}

PyGetSetDef kInstructionGetSet[] = {
    {"gate", getter<Instruction, get_gate>, setter<Instruction, Gate16, set_gate>, nullptr, nullptr},
    {"qargs", getter<Instruction, get_qargs>, setter<Instruction, std::vector<Argument>, set_qargs>,
     nullptr, nullptr},
    {"cargs", getter<Instruction, get_cargs>, setter<Instruction, std::vector<Argument>, set_cargs>,
     nullptr, nullptr},
    kGetSetEnd,
};

}  // namespace

PyTypeObject* PyClass<Instruction>::type() {
  static PyTypeObject* type = nullptr;
  if (type == nullptr) {
    type = make_type<Instruction>("Instruction", {
        slot(Py_tp_doc, kInstructionDoc),
        slot(Py_tp_new, instruction_new),
        slot(Py_tp_str, text_slot<Instruction, instruction_text>),
        slot(Py_tp_repr, text_slot<Instruction, instruction_debug>),
        slot(Py_tp_hash, hash_slot<Instruction, instruction_hash>),
        slot(Py_tp_richcompare, eq_richcompare<Instruction>),
        slot(Py_tp_getset, kInstructionGetSet),
    });
  }
  return type;
}

}  // namespace trevalon::py
