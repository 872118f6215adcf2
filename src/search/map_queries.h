// Queries and cross-checks on a finished raw ECC map: the class of an
// arbitrary circuit, the key reached by appending one instruction, the map
// rebuilt under another evaluator, and the check that every circuit of one
// map reduces consistently through another.
//
// The last two test that a search's classes do not depend on the random
// states of the evaluator that found them. None of these functions changes
// its maps; all of them only read the evaluator.
#ifndef TREVALON_SEARCH_MAP_QUERIES_H_
#define TREVALON_SEARCH_MAP_QUERIES_H_

#include <cstdint>
#include <optional>
#include <span>

#include "circ/instr.h"
#include "search/ecc.h"
#include "search/raw_eccs.h"
#include "state/evaluator.h"

namespace trevalon {

// Every circuit of the bucket of `instrs`, expressed in the qubit labelling
// of `instrs`, in bucket order (not sorted or relabelled); none when the
// circuit's key is not in `map`.
std::optional<ECC> find_equivalents(const RawECCs& map, const Evaluator& evaluator,
                                    std::span<const Instr32> instrs);

// The key of the first circuit of bucket `key` followed by `instr`, when
// both keys are in `map`; nothing is evaluated when `key` is absent.
std::optional<uint64_t> compute_next_key(const RawECCs& map, const Evaluator& evaluator, uint64_t key,
                                         Instr32 instr);

// `map` re-keyed under `new_evaluator`: the same buckets in the same order,
// each triple carrying its circuit's first permutation pair under the new
// evaluator, no surface gates. The result shares `map`'s cell arena, so the
// cells stay alive as long as either map does. Aborts when a bucket splits
// ("Inconsistent ECC detected during evaluator switch") or two non-root
// buckets merge ("Hash collision detected during evaluator switch: ..").
RawECCs switch_evaluator(const RawECCs& map, const Evaluator& new_evaluator);

struct SubsetCheckOptions {
  enum class Execution { kSequential, kParallel };
  Execution execution = Execution::kParallel;
};

// Checks that every simplified circuit of `self` has a bucket in `ecc1` and
// reduces consistently there (`checked_equivalent`); aborts on the first
// failure found. The parallel form runs chunks of buckets on the worker
// pool, one chunk after another; when several buckets fail, which abort is
// reported is not fixed. Both maps and the evaluator must not change during
// the call.
void check_identity_subset(const RawECCs& self, const RawECCs& ecc1, const Evaluator& evaluator,
                           const SubsetCheckOptions& options = {});

}  // namespace trevalon

#endif  // TREVALON_SEARCH_MAP_QUERIES_H_
