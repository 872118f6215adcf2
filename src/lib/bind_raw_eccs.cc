// Python class `RawECCs`: the raw map of a search, and the searches that
// build it. Searches print their progress line to sys.stdout and can be
// interrupted with Ctrl-C between batches of work.
#include "lib/py_args.h"
#include "lib/py_classes.h"
#include "lib/py_method.h"
#include "search/ecc.h"
#include "search/map_queries.h"
#include "search/search.h"

namespace trevalon::py {
namespace {

constexpr const char* kRawEccsDoc =
    "RawECCs(evaluator)\n--\n\n"
    "Mutable ECC map keyed by evaluator hash.\n\n"
    "This is the direct output of the search algorithm before final simplification.";

PyObject* raw_eccs_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  static constexpr Params kSig = params("RawECCs.__new__", {"evaluator"}, 1);
  return guarded([&] {
    auto [evaluator] = parse_args<Ref<Evaluator>>(kSig, args, kwargs);
    return wrap(RawECCs(*evaluator), type);
  });
}

// Writes through sys.stdout, so Python's own buffering and redirection apply.
void write_stdout(std::string_view text) {
  PyObject* out = PySys_GetObject("stdout");  // borrowed
  if (out == nullptr || out == Py_None) return;
  PyRef s = PyRef::steal(PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size())));
  if (PyFile_WriteObject(s.get(), out, Py_PRINT_RAW) < 0) throw ErrorAlreadySet{};
}

SearchOptions interactive_options() {
  SearchOptions options;
  options.progress = write_stdout;
  options.poll = [] {
    if (PyErr_CheckSignals() < 0) throw ErrorAlreadySet{};
  };
  return options;
}

PyRef search_result(SearchResult r) {
  const std::vector<uint64_t> counters = {r.counters.explored, r.counters.evaluated, r.counters.offered};
  PyRef map = wrap(std::move(r.map));
  return to_py(std::make_tuple(map, counters));
}

// The searches take instructions, the generations gates: one entry point
// over the element type.
template <class Element>
using SearchFn = SearchResult (*)(const Evaluator&, std::span<const Element>, std::size_t,
                                  const SearchOptions&);

template <const char* Qualname, const char* ListName, class Element, SearchFn<Element> Fn>
PyObject* search_static(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr Params kSig = params(Qualname, {"evaluator", ListName, "max_size"}, 3);
  return guarded([&] {
    auto [evaluator, items, max_size] =
        parse_args<Ref<Evaluator>, std::vector<Element>, uint64_t>(kSig, args, nargs, kwnames);
    return search_result(Fn(*evaluator, items, max_size, interactive_options()));
  });
}

constexpr char kInstrsName[] = "instrs";
constexpr char kGatesName[] = "gates";
constexpr char kSearchName[] = "RawECCs.search";
constexpr char kGenerateName[] = "RawECCs.generate";
constexpr char kSearchNaiveName[] = "RawECCs.search_naive";
constexpr char kGenerateNaiveName[] = "RawECCs.generate_naive";
constexpr char kSimplifyName[] = "RawECCs.simplify";

PyRef simplify(const RawECCs& m) { return to_py(m.simplify()); }

// The map queries read `self` and their map and evaluator arguments under
// shared borrows, without copying them.
PyObject* find_equivalents_py(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr Params kSig = params("RawECCs.find_equivalents", {"evaluator", "instrs"}, 2);
  return guarded([&] {
    auto [evaluator, instrs] = parse_args<Ref<Evaluator>, std::vector<Instr32>>(kSig, args, nargs, kwnames);
    Shared<RawECCs> me(self);
    return to_py(find_equivalents(*me, *evaluator, instrs));
  });
}

PyObject* compute_next_key_py(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr Params kSig =
      params("RawECCs.compute_next_key", {"evaluator", "current_key", "instr"}, 3);
  return guarded([&] {
    auto [evaluator, key, instr] = parse_args<Ref<Evaluator>, uint64_t, Instr32>(kSig, args, nargs, kwnames);
    Shared<RawECCs> me(self);
    return to_py(compute_next_key(*me, *evaluator, key, instr));
  });
}

PyObject* switch_evaluator_py(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr Params kSig = params("RawECCs.switch_evaluator", {"new_evaluator"}, 1);
  return guarded([&] {
    auto [evaluator] = parse_args<Ref<Evaluator>>(kSig, args, nargs, kwnames);
    Shared<RawECCs> me(self);
    return wrap(switch_evaluator(*me, *evaluator));
  });
}

// Runs on the worker pool with the interpreter lock held: the workers
// never touch Python objects.
PyObject* check_identity_subset_py(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                   PyObject* kwnames) {
  static constexpr Params kSig = params("RawECCs.check_identity_subset", {"ecc1", "evaluator"}, 2);
  return guarded([&] {
    auto [ecc1, evaluator] = parse_args<Ref<RawECCs>, Ref<Evaluator>>(kSig, args, nargs, kwnames);
    Shared<RawECCs> me(self);
    check_identity_subset(*me, *ecc1, *evaluator);
    return py_none();
  });
}

PyMethodDef kRawEccsMethods[] = {
    static_method("search", search_static<kSearchName, kInstrsName, Instr32, &search>,
                  "search(evaluator, instrs, max_size)\n--\n\n"
                  "Optimized search using permutation-equivalent placements per circuit."),
    static_method("generate", search_static<kGenerateName, kGatesName, Gate16, &generate>,
                  "generate(evaluator, gates, max_size)\n--\n\n"
                  "Generates ECCs from a gate set using the optimized search.\n\n"
                  "Adjoint gates are added automatically if missing."),
    static_method("search_naive", search_static<kSearchNaiveName, kInstrsName, Instr32, &search_naive>,
                  "search_naive(evaluator, instrs, max_size)\n--\n\n"
                  "Exhaustive baseline search without permutation-based multiplicity reduction."),
    static_method("generate_naive", search_static<kGenerateNaiveName, kGatesName, Gate16, &generate_naive>,
                  "generate_naive(evaluator, gates, max_size)\n--\n\n"
                  "Generates ECCs from a gate set using the naive search."),
    method("simplify", nullary_method<RawECCs, kSimplifyName, simplify>,
           "simplify($self)\n--\n\nConverts raw buckets into sorted, normalized ECCs."),
    method("find_equivalents", find_equivalents_py,
           "find_equivalents($self, evaluator, instrs)\n--\n\n"
           "Python wrapper returning equivalent circuits for a candidate program."),
    method("compute_next_key", compute_next_key_py,
           "compute_next_key($self, evaluator, current_key, instr)\n--\n\n"
           "Computes the next reachable ECC hash after appending one instruction.\n\n"
           "Returns `None` when the resulting state was not discovered in this map."),
    method("switch_evaluator", switch_evaluator_py,
           "switch_evaluator($self, new_evaluator)\n--\n\n"
           "Re-evaluates all stored circuits under a new evaluator.\n\n"
           "Useful for cross-checking evaluator-independence of discovered classes."),
    method("check_identity_subset", check_identity_subset_py,
           "check_identity_subset($self, ecc1, evaluator)\n--\n\n"
           "Checks that every identity in `self` is representable in `ecc1`."),
    kMethodsEnd,
};

}  // namespace

PyTypeObject* PyClass<RawECCs>::type() {
  static PyTypeObject* type = nullptr;
  if (type == nullptr) {
    type = make_type<RawECCs>("RawECCs", {
        slot(Py_tp_doc, kRawEccsDoc),
        slot(Py_tp_new, raw_eccs_new),
        slot(Py_tp_methods, kRawEccsMethods),
    });
  }
  return type;
}

}  // namespace trevalon::py
