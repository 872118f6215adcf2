// Module entry: creates `trevalon` once per process and registers the
// classes, in their fixed order.
#include "lib/py_classes.h"
#include "lib/py_convert.h"
#include "lib/py_error.h"

namespace trevalon::py {
namespace {

struct ClassEntry {
  const char* name;
  PyTypeObject* (*type)();
};

// The registration frame: classes join it in this order as they are bound.
constexpr ClassEntry kClasses[] = {
    {"Argument", &PyClass<Argument>::type},
    {"Instruction", &PyClass<Instruction>::type},
    {"Gate", &PyClass<Gate16>::type},
    {"Instr", &PyClass<Instr32>::type},
    {"StateVec", &PyClass<StateVec>::type},
    {"ECC", &PyClass<ECC>::type},
    {"ECCs", &PyClass<ECCs>::type},
    {"RawECCs", &PyClass<RawECCs>::type},
    {"Evaluator", &PyClass<Evaluator>::type},
    {"Circ", &PyClass<Circ>::type},
    {"IdentityCirc", &PyClass<IdentityCirc>::type},
    {"IdentityProver", &PyClass<IdentityProver>::type},
    {"Proof", &PyClass<Proof>::type},
};

PyModuleDef kModuleDef = {
    PyModuleDef_HEAD_INIT,
    "trevalon",
    "Python extension module entrypoint.\n\n"
    "Registers the native classes that the package file "
    "`python/trevalon/__init__.py` re-exports and wraps.",
    // Zero, not -1: the interpreter then calls the init function again for
    // every import, which lets it hand back the cached module and refuse
    // other interpreters, instead of copying the module's dict into them.
    0,
    nullptr,  // no functions
    nullptr,  // no slots: single-phase initialisation
    nullptr,
    nullptr,
    nullptr,
};

PyObject* g_module = nullptr;
int64_t g_interpreter_id = -1;

PyObject* init_module() {
  return guarded([&]() -> PyRef {
    const int64_t interp = PyInterpreterState_GetID(PyInterpreterState_Get());
    if (g_module != nullptr) {
      if (interp != g_interpreter_id) {
        raise(PyExc_ImportError,
              "trevalon does not support being initialized more than once per process "
              "(one interpreter per process is supported)");
      }
      return PyRef::borrow(g_module);
    }
    if (!init_native_abort() || !init_numpy()) throw ErrorAlreadySet{};
    PyRef module = PyRef::steal(PyModule_Create(&kModuleDef));
    for (const ClassEntry& entry : kClasses) {
      PyTypeObject* type = entry.type();
      if (PyModule_AddObjectRef(module.get(), entry.name, reinterpret_cast<PyObject*>(type)) < 0) {
        throw ErrorAlreadySet{};
      }
    }
    g_module = PyRef(module).release();
    g_interpreter_id = interp;
    return module;
  });
}

}  // namespace
}  // namespace trevalon::py

extern "C" __attribute__((visibility("default"))) PyObject* PyInit_trevalon() {
  return trevalon::py::init_module();
}
