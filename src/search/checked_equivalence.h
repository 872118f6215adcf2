// Checked equivalence: rewriting a circuit to its class representative
// through a raw ECC map while verifying that the map is self-consistent.
//
// `checked_equivalent` walks a circuit prefix by prefix. Whenever a prefix
// lands in a bucket, the bucket must hold a circuit that shares a common
// front or back with the prefix (`export_equivalence`); both leftovers are
// reduced recursively and must reach the same representative, otherwise the
// map sorted inequivalent circuits together and the call aborts. The prefix
// is then replaced by the bucket's first circuit and the walk goes on.
//
// Everything here only reads the map and the evaluator and allocates its
// own scratch, so any number of threads may call it at once while nothing
// is added to the map. Recursion depth is bounded by the circuit length.
#ifndef TREVALON_SEARCH_CHECKED_EQUIVALENCE_H_
#define TREVALON_SEARCH_CHECKED_EQUIVALENCE_H_

#include <cstdint>
#include <span>
#include <utility>
#include <vector>

#include "absl/container/inlined_vector.h"
#include "circ/instr.h"
#include "groups/permutation.h"
#include "search/circuit_ecc.h"
#include "search/raw_eccs.h"
#include "state/evaluator.h"
#include "utils/alias_list.h"

namespace trevalon {

// Surface gate -> position, in first-insertion order of the gates.
using SurfacePositions = absl::InlinedVector<std::pair<Instr32, uint32_t>, 8>;

// The front surface gates of the instructions of `circ` whose position bit
// (position modulo 64) is set in `filtering_mask`; the others are invisible:
// they neither count nor block a qubit. A gate met twice keeps its later
// position.
SurfacePositions circuit_get_surface_gates_hashmap(std::span<const Instr32> circ, uint64_t filtering_mask);

// Peels common front gates off `c1` and `c2` until none is left. The
// returned masks (one bit per position, modulo 64) keep the instructions
// that are not part of the common front.
std::pair<uint64_t, uint64_t> reduce_equivalence_front(std::span<const Instr32> c1,
                                                       std::span<const Instr32> c2);

// Keeps the instruction at position i of `c` (length n) exactly when bit i
// of `maskf` and bit n-1-i of `maskb` are set; returns how many were removed.
uint32_t retain_by_masks(std::vector<Instr32>& c, uint64_t maskf, uint64_t maskb);

// Removes the common front and the common back (compared through each
// trailing permutation) from both circuits in place; returns the number of
// instructions removed from each. Aborts with the four masks when the two
// counts differ.
uint32_t reduce_equivalence(CircPair& a, CircPair& b);

// The query (`instr_vec` mapped through f^-1, b * f) paired with the first
// circuit of `bucket` that equals it or shares a front or back with it, both
// reduced; two empty lists when they are equal. Aborts when no circuit
// qualifies. `arena` holds the bucket's cells.
std::pair<CircPair, CircPair> export_equivalence(const CircuitECC& bucket, const CellArena& arena, Permut32 f,
                                                 std::span<const Instr32> instr_vec, Permut32 b);

// The least relabelled form, under the class of (`instrs`, trailing `perm`),
// of the circuits in its bucket of `map`; every bucket met on the way is
// checked for consistency. Aborts with "no entry found for key" when the
// circuit has no bucket, and on any inconsistency.
CircPair checked_equivalent(const RawECCs& map, std::span<const Instr32> instrs, Permut32 perm,
                            const Evaluator& evaluator);

}  // namespace trevalon

#endif  // TREVALON_SEARCH_CHECKED_EQUIVALENCE_H_
