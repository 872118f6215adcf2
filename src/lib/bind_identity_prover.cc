// Python class `IdentityProver`. No constructor: instances come from
// `build_from_eccs` or `from_postcard`.
//
// Console text: the build messages and bars go straight to the process's
// standard error (file descriptor 2), with a live bar only when that is a
// terminal; the proof-search lines go through sys.stdout. Long calls check
// for signals between batches of work, so Ctrl-C raises KeyboardInterrupt
// within about a second; a mutating call interrupted that way keeps what it
// had inserted, as after an abort.
#include <sys/ioctl.h>
#include <unistd.h>

#include "identity/eccprove.h"
#include "identity/proof.h"
#include "lib/py_args.h"
#include "lib/py_classes.h"
#include "lib/py_method.h"
#include "utils/file_replace.h"

namespace trevalon::py {

// Identity sets cross as new Python sets.
template <>
struct Conv<IdentitySet> {
  static PyRef to_py(const IdentitySet& set) {
    PyRef out = PyRef::steal(PySet_New(nullptr));
    if (!out) throw ErrorAlreadySet{};
    for (const IdentityCirc& id : set) {
      if (PySet_Add(out.get(), Conv<IdentityCirc>::to_py(id).get()) < 0) throw ErrorAlreadySet{};
    }
    return out;
  }
};

namespace {

constexpr const char* kProverDoc =
    "Rule-based prover for circuit identities.\n\n"
    "The prover is built from ECCs, extracts assumed rules, and can then:\n"
    "- check whether a target identity is derivable,\n"
    "- produce visited states for diagnostics,\n"
    "- export explicit proof traces.";

int stderr_columns() {
  winsize ws{};
  if (ioctl(STDERR_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0) return ws.ws_col;
  return 80;
}

void write_stderr(std::string_view text) {
  // Nothing useful can be done when standard error is gone.
  (void)write_fully(STDERR_FILENO, text.data(), text.size());
}

// Through sys.stdout, so Python's buffering and redirection apply.
void write_stdout(std::string_view text) {
  PyObject* out = PySys_GetObject("stdout");  // borrowed
  if (out == nullptr || out == Py_None) return;
  PyRef s = PyRef::steal(PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size())));
  if (!s || PyFile_WriteObject(s.get(), out, Py_PRINT_RAW) < 0) throw ErrorAlreadySet{};
}

// Flushes sys.stderr, so that text Python buffered comes before ours.
void flush_sys_stderr() {
  PyObject* err = PySys_GetObject("stderr");  // borrowed
  if (err == nullptr || err == Py_None) return;
  PyRef r = PyRef::steal(PyObject_CallMethod(err, "flush", nullptr));
  if (!r) PyErr_Clear();
}

ProverOptions interactive_options() {
  ProverOptions o;
  o.diagnostics.write = write_stderr;
  o.diagnostics.live = isatty(STDERR_FILENO) == 1;
  o.diagnostics.columns = stderr_columns;
  o.report = write_stdout;
  o.poll = [] {
    if (PyErr_CheckSignals() < 0) throw ErrorAlreadySet{};
  };
  return o;
}

PyObject* build_from_eccs(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr Params kSig = params("IdentityProver.build_from_eccs", {"eccs"}, 1);
  return guarded([&] {
    auto [eccs] = parse_args<Ref<ECCs>>(kSig, args, nargs, kwnames);
    flush_sys_stderr();
    return to_py(IdentityProver::build(*eccs, interactive_options()));
  });
}

PyObject* par_apply_rules(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr Params kSig = params("IdentityProver.par_apply_rules", {"identity", "additional_size"}, 2);
  return guarded([&] {
    auto [identity, additional_size] = parse_args<IdentityCirc, uint64_t>(kSig, args, nargs, kwnames);
    Shared<IdentityProver> me(self);
    return to_py(me->par_apply_rules(identity, additional_size, interactive_options()));
  });
}

// The methods taking (identity, additional_size, count_limit).
template <const char* Qualname, class Borrow, PyRef (*Body)(Borrow&, const IdentityCirc&, uint64_t, uint64_t)>
PyObject* search_method(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr Params kSig = params(Qualname, {"identity", "additional_size", "count_limit"}, 3);
  return guarded([&] {
    auto [identity, additional_size, count_limit] =
        parse_args<IdentityCirc, uint64_t, uint64_t>(kSig, args, nargs, kwnames);
    Borrow me(self);
    return Body(me, identity, additional_size, count_limit);
  });
}

using Mut = Exclusive<IdentityProver>;
using Read = Shared<IdentityProver>;

PyRef add_identity(Mut& me, const IdentityCirc& id, uint64_t size, uint64_t limit) {
  return py_bool(me->add_identity(id, size, limit, interactive_options()));
}
PyRef add_identity_search(Mut& me, const IdentityCirc& id, uint64_t size, uint64_t limit) {
  auto [visited, assumed] = me->add_identity_search(id, size, limit, interactive_options());
  return to_py(std::make_tuple(to_py(visited), py_bool(assumed)));
}
PyRef prove_identity(Read& me, const IdentityCirc& id, uint64_t size, uint64_t limit) {
  return to_py(me->prove_identity(id, size, limit, interactive_options()));
}
PyRef prove_identity_with_visited(Read& me, const IdentityCirc& id, uint64_t size, uint64_t limit) {
  auto [result, visited] = me->prove_identity_with_visited(id, size, limit, interactive_options());
  return to_py(std::make_tuple(to_py(result), to_py(visited)));
}
PyRef export_proof_py(Read& me, const IdentityCirc& id, uint64_t size, uint64_t limit) {
  return to_py(export_proof(*me, id, size, limit, interactive_options()));
}

constexpr char kAddIdentityName[] = "IdentityProver.add_identity";
constexpr char kAddIdentitySearchName[] = "IdentityProver.add_identity_search";
constexpr char kProveIdentityName[] = "IdentityProver.prove_identity";
constexpr char kProveWithVisitedName[] = "IdentityProver.prove_identity_with_visited";
constexpr char kExportProofName[] = "IdentityProver.export_proof";
constexpr char kGetAssumedName[] = "IdentityProver.get_assumed";

PyRef get_assumed(const IdentityProver& p) { return to_py(p.assumed_identities()); }

PyObject* dump_postcard(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr Params kSig = params("IdentityProver.dump_postcard", {"filepath"}, 1);
  return guarded([&] {
    auto [filepath] = parse_args<std::string>(kSig, args, nargs, kwnames);
    Shared<IdentityProver> me(self);
    save_prover(*me, filepath);
    return py_none();
  });
}

PyObject* from_postcard(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr Params kSig = params("IdentityProver.from_postcard", {"filepath"}, 1);
  return guarded([&] {
    auto [filepath] = parse_args<std::string>(kSig, args, nargs, kwnames);
    return to_py(load_prover(filepath));
  });
}

PyMethodDef kProverMethods[] = {
    static_method("build_from_eccs", build_from_eccs,
                  "build_from_eccs(eccs)\n--\n\nPython entrypoint: builds a prover from generated ECCs."),
    method("par_apply_rules", par_apply_rules,
           "par_apply_rules($self, identity, additional_size)\n--\n\n"
           "Applies one round of parallel rule rewriting bounded by `additional_size`."),
    method("add_identity", search_method<kAddIdentityName, Mut, add_identity>,
           "add_identity($self, identity, additional_size, count_limit)\n--\n\n"
           "Inserts one identity into the prover, deriving it when possible.\n\n"
           "Returns `true` when this identity must be kept as an assumption."),
    method("add_identity_search", search_method<kAddIdentitySearchName, Mut, add_identity_search>,
           "add_identity_search($self, identity, additional_size, count_limit)\n--\n\n"
           "Internal bounded search used by [`Self::add_identity`].\n\n"
           "Returns `(visited, assumed)` where `assumed=true` means the identity\n"
           "could not be derived within `count_limit`."),
    method("prove_identity", search_method<kProveIdentityName, Read, prove_identity>,
           "prove_identity($self, identity, additional_size, count_limit)\n--\n\n"
           "Attempts to prove one identity.\n\n"
           "Returns `None` if proved, or `Some(identity)` if the search exceeded limits."),
    method("prove_identity_with_visited", search_method<kProveWithVisitedName, Read, prove_identity_with_visited>,
           "prove_identity_with_visited($self, identity, additional_size, count_limit)\n--\n\n"
           "Same as [`Self::prove_identity`] but also returns visited identities."),
    method("export_proof", search_method<kExportProofName, Read, export_proof_py>,
           "export_proof($self, identity, additional_size, count_limit)\n--\n\n"
           "Exports a proof DAG when `identity` is derivable under the given limits."),
    method("get_assumed", nullary_method<IdentityProver, kGetAssumedName, get_assumed>,
           "get_assumed($self)\n--\n\nReturns current assumptions as a cloned list (Python helper)."),
    static_method("from_postcard", from_postcard,
                  "from_postcard(filepath)\n--\n\nLoads a prover from postcard serialization."),
    method("dump_postcard", dump_postcard,
           "dump_postcard($self, filepath)\n--\n\nStores a prover as postcard serialization."),
    kMethodsEnd,
};

}  // namespace

PyTypeObject* PyClass<IdentityProver>::type() {
  static PyTypeObject* type = nullptr;
  if (type == nullptr) {
    type = make_type<IdentityProver>("IdentityProver", {
        slot(Py_tp_doc, kProverDoc),
        slot(Py_tp_methods, kProverMethods),
    });
  }
  return type;
}

}  // namespace trevalon::py
