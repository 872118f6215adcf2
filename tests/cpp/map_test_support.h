// Shared helpers of the raw-map tests: seeded evaluators, searched maps, and
// an equivalence check of circuits with trailing permutations on the
// reference per-amplitude simulator (independent of the gate kernels).
#ifndef TREVALON_TESTS_CPP_MAP_TEST_SUPPORT_H_
#define TREVALON_TESTS_CPP_MAP_TEST_SUPPORT_H_

#include <cmath>
#include <span>
#include <vector>

#include "search/circuit_ecc.h"
#include "search/search.h"
#include "state/evaluator.h"
#include "state_test_support.h"

namespace trevalon::testing {

inline Evaluator seeded_evaluator(uint32_t n, uint64_t seed) {
  Rng64 rng = Rng64::from_seed(seed);
  return Evaluator::from_random(n, rng);
}

inline RawECCs searched_map(const Evaluator& ev, std::span<const Gate16> gates, std::size_t max_size) {
  SearchOptions options;
  options.execution = SearchOptions::Execution::kSequential;
  return generate(ev, gates, max_size, options).map;
}

// The circuit run on `in`, then relabelled by its trailing permutation.
inline Amps run_pair(const Amps& in, const CircPair& c) {
  Amps a = in;
  for (const Instr32& i : c.first) {
    const auto used = i.qargs().used();
    a = reference_apply(a, std::vector<uint8_t>(used.begin(), used.end()), i.gate().matrix_copy());
  }
  return reference_permute(a, c.second);
}

// True when both pairs send a random state of `n` qubits to the same state
// up to a global phase (a random state is an eigenvector of x^-1 y only
// when x^-1 y is a phase).
inline bool same_up_to_phase(const CircPair& x, const CircPair& y, uint32_t n) {
  Rng64 rng = Rng64::from_seed(77);
  Amps in(std::size_t{1} << n);
  for (Complex& c : in) c = {rng.uniform() - 0.5, rng.uniform() - 0.5};
  const Amps a = run_pair(in, x);
  const Amps b = run_pair(in, y);
  std::size_t k = 0;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::abs(a[i]) > std::abs(a[k])) k = i;
  }
  const Complex phase = b[k] / a[k];
  if (std::abs(std::abs(phase) - 1.0) > 1e-9) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::abs(b[i] - phase * a[i]) > 1e-9) return false;
  }
  return true;
}

}  // namespace trevalon::testing

#endif  // TREVALON_TESTS_CPP_MAP_TEST_SUPPORT_H_
