#include "state/evaluator.h"

#include <array>
#include <vector>

#include "state/gates.h"
#include "state/order_info.h"
#include "utils/abort.h"

namespace trevalon {
namespace {

// Per-thread buffers of evaluate_multiple, kept across calls so that an
// evaluation allocates nothing once they have grown.
struct EvalScratch {
  BoundCircuit forward;
  BoundCircuit inverse;
  std::vector<Instr32> adjoints;
  std::array<StateVec, Evaluator::kMaxQubits + 1> candidate;
  std::array<StateVec, Evaluator::kMaxQubits + 1> canonical;
};

thread_local EvalScratch EVAL_SCRATCH;

// Adjoint handles of the built-in gates, which are fixed built-ins
// themselves; resolved once so an evaluation takes no registry lock for them.
class BuiltinAdjoints {
 public:
  static constexpr uint16_t kBuiltins = 23;

  BuiltinAdjoints() {
    for (uint16_t id = 0; id < kBuiltins; ++id) adj_[id] = Gate16(id).adjoint();
  }
  Gate16 of(Gate16 g) const { return g.id() < kBuiltins ? adj_[g.id()] : g.adjoint(); }

 private:
  std::array<Gate16, kBuiltins> adj_{};
};

Gate16 adjoint_of(Gate16 g) {
  static const BuiltinAdjoints table;
  return table.of(g);
}

}  // namespace

Evaluator Evaluator::from_random(uint32_t nqubits, Rng64& rng) {
  check_state_qubits(nqubits);
  if (nqubits > kMaxQubits) abort_with("Evaluator supports at most 8 qubits");
  StateVec initial = StateVec::from_random_symmetric(rng, nqubits);
  StateVec back = StateVec::from_random(rng, nqubits);
  back.normalize_arg();
  back.apply_permutation(back.get_permutation().inverse());
  return Evaluator(std::move(initial), std::move(back));
}

void Evaluator::evaluate_multiple(std::span<const Instr32> instrs, Evaluation& out) const {
  const uint32_t n = nqubits();
  EvalScratch& sc = EVAL_SCRATCH;

  // Resolve kernels, adjoints and qubit checks once for all candidates.
  sc.forward.bind(instrs, n);
  sc.adjoints.clear();
  for (const Instr32& instr : instrs) sc.adjoints.emplace_back(adjoint_of(instr.gate()), instr.qargs());
  sc.inverse.bind_reversed(sc.adjoints, n);

  StateVec& forward = out.forward;
  forward.copy_from(initial_state_);
  sc.forward.run(forward);
  forward.normalize_arg();
  const TiePerms candidates = forward.get_orderinfo().as_perms();

  StateVec& best = out.back;
  StateVec& candidate = sc.candidate[n];
  StateVec& canonical = sc.canonical[n];
  PermPairs& pairs = out.pairs;
  pairs.clear();
  bool has_best = false;
  for (const Permut32 f : candidates) {
    backtrack_state_.permute_into(f, candidate);
    sc.inverse.run(candidate);
    candidate.normalize_arg();
    const auto [front, mask] = candidate.get_orderinfo().as_bits();
    if (mask != 0) abort_with("Non-deterministic front permutation detected during evaluation");
    candidate.permute_into(front.inverse(), canonical);
    const std::pair<Permut32, Permut32> pair{front, f.inverse()};
    if (!has_best) {
      best.swap(canonical);
      has_best = true;
      pairs.push_back(pair);
      continue;
    }
    const auto order = canonical <=> best;
    if (order < 0) {
      best.swap(canonical);
      pairs.clear();
      pairs.push_back(pair);
    } else if (order == 0) {
      pairs.push_back(pair);
    }
  }
}

Evaluation Evaluator::evaluate_multiple(std::span<const Instr32> instrs) const {
  Evaluation out;
  evaluate_multiple(instrs, out);
  return out;
}

FirstEvaluation Evaluator::evaluate(std::span<const Instr32> instrs) const {
  Evaluation e = evaluate_multiple(instrs);
  return {std::move(e.back), e.pairs.front().first, e.pairs.front().second, std::move(e.forward)};
}

uint64_t Evaluator::initial_key() const { return evaluate({}).back.hash_value(); }

}  // namespace trevalon
