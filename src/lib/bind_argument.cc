// Python class `Argument`: a named register argument such as q[0].
#include "circ/instruction.h"
#include "lib/py_args.h"
#include "lib/py_classes.h"
#include "lib/py_method.h"

namespace trevalon::py {
namespace {

constexpr const char* kArgumentDoc =
    "Argument(regid, index)\n--\n\n"
    "A named register argument (e.g., `q[0]`, `c[2]`) used by high-level instructions.";

PyObject* argument_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  static constexpr Params kSig = params("Argument.__new__", {"regid", "index"}, 2);
  return guarded([&] {
    auto [regid, index] = parse_args<std::string, uint64_t>(kSig, args, kwargs);
    return wrap(Argument{std::move(regid), index}, type);
  });
}

PyRef get_regid(const Argument& a) { return to_py(a.regid); }
void set_regid(Argument& a, std::string v) { a.regid = std::move(v); }
PyRef get_index(const Argument& a) { return to_py(a.index); }
void set_index(Argument& a, uint64_t v) { a.index = v; }

std::string argument_text(const Argument& a) { return a.to_text(); }
std::string argument_debug(const Argument& a) { return a.debug_text(); }
uint64_t argument_hash(const Argument& a) {
  SipHasher13 h;
  a.hash_into(h);
  return h.finish();
}

PyGetSetDef kArgumentGetSet[] = {
    {"regid", getter<Argument, get_regid>, setter<Argument, std::string, set_regid>, nullptr, nullptr},
    {"index", getter<Argument, get_index>, setter<Argument, uint64_t, set_index>, nullptr, nullptr},
    kGetSetEnd,
};

}  // namespace

PyTypeObject* PyClass<Argument>::type() {
  static PyTypeObject* type = nullptr;
  if (type == nullptr) {
    type = make_type<Argument>("Argument", {
        slot(Py_tp_doc, kArgumentDoc),
        slot(Py_tp_new, argument_new),
        slot(Py_tp_str, text_slot<Argument, argument_text>),
        slot(Py_tp_repr, text_slot<Argument, argument_debug>),
        slot(Py_tp_hash, hash_slot<Argument, argument_hash>),
        slot(Py_tp_richcompare, eq_richcompare<Argument>),
        slot(Py_tp_getset, kArgumentGetSet),
    });
  }
  return type;
}

}  // namespace trevalon::py
