// Evaluator: the randomised fingerprint of a circuit.
//
// A circuit C runs forward on a random permutation-symmetric state; the
// canonical qubit order of the result (with its ties) yields candidate
// front permutations f. For each, C's inverse runs on a random general state
// relabelled by f, the result is phase-normalised and put into its own
// canonical qubit order, and the smallest such back state (quantised order)
// represents C. Its hash_value is the circuit's key: equal for circuits
// equal up to global phase and relabelling of input and output qubits.
// Every pair (F, B) reported satisfies, up to rounding and phase,
//   canonical back state = P(F^-1) C^dagger P(B^-1) backtrack_state,
// so P(B) C P(F) is the invariant operator.
//
// Invariants: both states have the evaluator's qubit count, 0..8 (the tie
// table covers eight positions, so all counts are complete). An evaluator
// never changes after construction and may be read by many threads at
// once; each thread evaluates with its own thread-local scratch buffers.
#ifndef TREVALON_STATE_EVALUATOR_H_
#define TREVALON_STATE_EVALUATOR_H_

#include <cstdint>
#include <span>
#include <utility>

#include "absl/container/inlined_vector.h"
#include "circ/instr.h"
#include "groups/permutation.h"
#include "state/rng.h"
#include "state/state_vec.h"

namespace trevalon {

// (front_perm, back_perm) pairs; one pair, the common case, is stored inline.
using PermPairs = absl::InlinedVector<std::pair<Permut32, Permut32>, 1>;

// Result of `evaluate_multiple`: canonical back state, the pairs of every
// candidate that reached it (in candidate order), phase-normalised forward
// state.
struct Evaluation {
  StateVec back;
  PermPairs pairs;
  StateVec forward;
};

// Result of `evaluate`: the first pair only.
struct FirstEvaluation {
  StateVec back;
  Permut32 front_perm;
  Permut32 back_perm;
  StateVec forward;
};

class Evaluator {
 public:
  static constexpr uint32_t kMaxQubits = 8;

  // Draws the symmetric state, then the general state, from `rng`. Aborts
  // with the state size message beyond StateVec::kMaxQubits and with
  // "Evaluator supports at most 8 qubits" beyond kMaxQubits.
  static Evaluator from_random(uint32_t nqubits, Rng64& rng);

  uint32_t nqubits() const { return initial_state_.nqubits(); }
  const StateVec& initial_state() const { return initial_state_; }
  const StateVec& backtrack_state() const { return backtrack_state_; }

  // The fingerprint data of `instrs`. Aborts on instructions that `apply`
  // refuses and with "Non-deterministic front permutation detected during
  // evaluation" when a back state has tied qubits. Thread-safe.
  Evaluation evaluate_multiple(std::span<const Instr32> instrs) const;
  // The same into `out`, reusing its buffers: after the first calls on a
  // thread, an evaluation allocates nothing. On abort `out` is unspecified.
  void evaluate_multiple(std::span<const Instr32> instrs, Evaluation& out) const;
  FirstEvaluation evaluate(std::span<const Instr32> instrs) const;
  // The key of the empty circuit.
  uint64_t initial_key() const;

  // Both states equal under the quantised comparison.
  friend bool operator==(const Evaluator& a, const Evaluator& b) {
    return a.initial_state_ == b.initial_state_ && a.backtrack_state_ == b.backtrack_state_;
  }

 private:
  Evaluator(StateVec initial, StateVec backtrack)
      : initial_state_(std::move(initial)), backtrack_state_(std::move(backtrack)) {}

  StateVec initial_state_;
  StateVec backtrack_state_;
};

}  // namespace trevalon

#endif  // TREVALON_STATE_EVALUATOR_H_
