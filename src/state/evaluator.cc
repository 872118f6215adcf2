#include "state/evaluator.h"

#include <array>
#include <vector>

#include "state/gates.h"
#include "state/order_info.h"
#include "state/quantise.h"
#include "utils/abort.h"

namespace trevalon {
namespace {

// Per-thread buffers of evaluate_multiple, kept across calls so that an
// evaluation allocates nothing once they have grown.
struct EvalScratch {
  BoundCircuit forward;
  BoundCircuit inverse;
  std::array<StateVec, Evaluator::kMaxQubits + 1> candidate;
  std::array<double, std::size_t{1} << Evaluator::kMaxQubits> imag;
};

thread_local EvalScratch EVAL_SCRATCH;

// A back state before its phase normalisation and relabelling, which are
// applied on the fly: canonical amplitude z = phase * raw amplitude map(z),
// with im[0] = 0. Reading it this way gives exactly the values that
// normalize_arg followed by apply_permutation(front^-1) would store.
struct PendingCanonical {
  const StateVec* raw;
  PhaseFactor phase;

  void amplitude(const IndexMap& map, std::size_t z, double& re, double& im) const {
    const std::size_t x = map(z);
    phase.apply(raw->re()[x], raw->im()[x], re, im);
    if (z == 0) im = 0.0;
  }
};

// The qubit keys of get_orderinfo, read through a pending phase.
void phased_keys(const StateVec& s, const PhaseFactor& phase, uint32_t n, OrderInfo::Key* keys) {
  const std::size_t last = s.len() - 1;
  for (uint32_t q = 0; q < n; ++q) {
    const std::size_t a = std::size_t{1} << q;
    const std::size_t b = last & ~a;
    double ar, ai, br, bi;
    phase.apply(s.re()[a], s.im()[a], ar, ai);
    phase.apply(s.re()[b], s.im()[b], br, bi);
    if (b == 0) bi = 0.0;
    keys[q] = {quantise(ar), quantise(ai), quantise(br), quantise(bi)};
  }
}

// Three-way order of a pending canonical state against a materialised one:
// real parts first, then imaginary parts, stopping at the first difference.
// Bitwise equal values need no quantisation (tied candidates usually give
// bitwise equal states). The imaginary parts wait in `im_buf` (len entries).
std::strong_ordering compare_canonical(const PendingCanonical& c, const IndexMap& map,
                                       const StateVec& best, double* im_buf) {
  const std::size_t len = best.len();
  for (std::size_t z = 0; z < len; ++z) {
    double re;
    c.amplitude(map, z, re, im_buf[z]);
    if (re != best.re()[z]) {
      if (auto o = quantise(re) <=> quantise(best.re()[z]); o != 0) return o;
    }
  }
  for (std::size_t z = 0; z < len; ++z) {
    if (im_buf[z] != best.im()[z]) {
      if (auto o = quantise(im_buf[z]) <=> quantise(best.im()[z]); o != 0) return o;
    }
  }
  return std::strong_ordering::equal;
}

void materialise(const PendingCanonical& c, const IndexMap& map, StateVec& out) {
  const std::size_t len = c.raw->len();
  if (out.len() != len) out = StateVec::zeros(c.raw->nqubits());
  for (std::size_t z = 0; z < len; ++z) c.amplitude(map, z, out.re()[z], out.im()[z]);
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
  sc.inverse.bind_inverse(instrs, n);

  StateVec& forward = out.forward;
  forward.copy_from(initial_state_);
  sc.forward.run(forward);
  forward.normalize_arg();
  OrderInfo::Key keys[kMaxQubits];
  phased_keys(forward, PhaseFactor{}, n, keys);
  const auto [base, tie_mask] = order_bits(keys, static_cast<uint8_t>(n));
  const TiePerms candidates(base, eqmask_to_perms(tie_mask));

  // A candidate is read through its pending phase and relabelling; only a
  // new best is written out, straight into the result.
  StateVec& candidate = sc.candidate[n];
  StateVec& best = out.back;
  bool has_best = false;
  PermPairs& pairs = out.pairs;
  // erase, unlike clear, keeps a grown buffer for the next call.
  pairs.erase(pairs.begin(), pairs.end());
  for (const Permut32 f : candidates) {
    backtrack_state_.permute_into(f, candidate);
    sc.inverse.run(candidate);
    const PhaseFactor phase = candidate.phase_factor();
    phased_keys(candidate, phase, n, keys);
    const auto [front, mask] = order_bits(keys, static_cast<uint8_t>(n));
    if (mask != 0) abort_with("Non-deterministic front permutation detected during evaluation");
    const std::pair<Permut32, Permut32> pair{front, f.inverse()};
    const PendingCanonical view{&candidate, phase};
    const IndexMap map(front, n);
    const std::strong_ordering order =
        has_best ? compare_canonical(view, map, best, sc.imag.data()) : std::strong_ordering::less;
    if (order < 0) {
      materialise(view, map, best);
      has_best = true;
      pairs.erase(pairs.begin(), pairs.end());
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
