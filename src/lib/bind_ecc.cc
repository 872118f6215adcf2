// Python classes `ECC` and `ECCs`: the finished classes of a search. Neither
// has a constructor: they come from `RawECCs.simplify` or from a file.
#include "lib/py_args.h"
#include "lib/py_classes.h"
#include "lib/py_method.h"
#include "search/ecc.h"
#include "search/ecc_records.h"
#include "search/quartz.h"

namespace trevalon::py {
namespace {

constexpr const char* kEccDoc = "One equivalence class of circuits.";
constexpr const char* kEccsDoc = "Collection of equivalence classes for a fixed number of qubits.";

constexpr char kCircuitsName[] = "ECC.circuits";
PyRef circuits(const ECC& e) { return to_py(e.circuits()); }
std::string ecc_text(const ECC& e) { return e.to_text(); }

PyMethodDef kEccMethods[] = {
    method("circuits", nullary_method<ECC, kCircuitsName, circuits>,
           "circuits($self)\n--\n\nReturns all circuits in this class with swap instructions materialized."),
    kMethodsEnd,
};

constexpr char kCheckName[] = "ECCs.check";
constexpr char kToListName[] = "ECCs.to_list";
constexpr char kFilterSingleName[] = "ECCs.filter_single";
constexpr char kToIdentityCircuitsName[] = "ECCs.to_identity_circuits";
PyRef check(const ECCs& e) { return to_py(e.check()); }
PyRef to_list(const ECCs& e) { return to_py(e.eccs()); }
PyRef filter_single(const ECCs& e) { return to_py(e.filter_single()); }
PyRef to_identity_circuits(const ECCs& e) { return to_py(e.to_identity_circuits()); }
PyRef get_nqubits(const ECCs& e) { return to_py(e.nqubits()); }
std::string eccs_text(const ECCs& e) { return e.to_text(); }

PyObject* eccs_dump_postcard(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr Params kSig = params("ECCs.dump_postcard", {"filepath"}, 1);
  return guarded([&] {
    auto [filepath] = parse_args<std::string>(kSig, args, nargs, kwnames);
    Shared<ECCs> me(self);
    save_eccs(*me, filepath);
    return py_none();
  });
}

PyObject* eccs_from_postcard(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr Params kSig = params("ECCs.from_postcard", {"filepath"}, 1);
  return guarded([&] {
    auto [filepath] = parse_args<std::string>(kSig, args, nargs, kwnames);
    return to_py(load_eccs(filepath));
  });
}

PyObject* eccs_dump_quartz(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr Params kSig = params("ECCs.dump_quartz", {"filepath"}, 1);
  return guarded([&] {
    auto [filepath] = parse_args<std::string>(kSig, args, nargs, kwnames);
    Shared<ECCs> me(self);
    dump_quartz(*me, filepath);
    return py_none();
  });
}

std::size_t eccs_len(const ECCs& v) { return v.size(); }

PyMethodDef kEccsMethods[] = {
    method("check", nullary_method<ECCs, kCheckName, check>,
           "check($self)\n--\n\nReturns classes that fail randomized equivalence checks."),
    method("to_list", nullary_method<ECCs, kToListName, to_list>,
           "to_list($self)\n--\n\nReturns all classes as a Python list."),
    method("filter_single", nullary_method<ECCs, kFilterSingleName, filter_single>,
           "filter_single($self)\n--\n\nRemoves classes with only one circuit."),
    method("to_identity_circuits", nullary_method<ECCs, kToIdentityCircuitsName, to_identity_circuits>,
           "to_identity_circuits($self)\n--\n\nConverts classes into canonical identities plus witness circuit pairs."),
    method("dump_quartz", eccs_dump_quartz, "dump_quartz($self, filepath)\n--\n\nExports ECCs to Quartz JSON format."),
    method("dump_postcard", eccs_dump_postcard, "dump_postcard($self, filepath)\n--\n\nSaves ECCs as postcard."),
    static_method("from_postcard", eccs_from_postcard, "from_postcard(filepath)\n--\n\nLoads ECCs from a postcard file."),
    kMethodsEnd,
};

PyGetSetDef kEccsGetSet[] = {
    {"nqubits", getter<ECCs, get_nqubits>, nullptr, nullptr, nullptr},
    kGetSetEnd,
};

}  // namespace

PyTypeObject* PyClass<ECC>::type() {
  static PyTypeObject* type = nullptr;
  if (type == nullptr) {
    type = make_type<ECC>("ECC", {
        slot(Py_tp_doc, kEccDoc),
        slot(Py_tp_str, text_slot<ECC, ecc_text>),
        slot(Py_tp_richcompare, eq_richcompare<ECC>),
        slot(Py_tp_hash, PyObject_HashNotImplemented),
        slot(Py_tp_methods, kEccMethods),
    });
  }
  return type;
}

PyTypeObject* PyClass<ECCs>::type() {
  static PyTypeObject* type = nullptr;
  if (type == nullptr) {
    type = make_type<ECCs>("ECCs", {
        slot(Py_tp_doc, kEccsDoc),
        slot(Py_tp_str, text_slot<ECCs, eccs_text>),
        slot(Py_tp_richcompare, eq_richcompare<ECCs>),
        slot(Py_tp_hash, PyObject_HashNotImplemented),
        slot(Py_mp_length, length_slot<ECCs, eccs_len>),
        slot(Py_tp_methods, kEccsMethods),
        slot(Py_tp_getset, kEccsGetSet),
    });
  }
  return type;
}

}  // namespace trevalon::py
