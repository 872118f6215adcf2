// Prover throughput: build the prover from the {h, t, cx} classes of two
// qubits (sizes 3 and 4), then time rule rounds and subcircuit splitting
// over the class identities, each with 1 and 2 worker threads.
//
//   cmake -DTREVALON_BUILD_BENCH=ON ... && ./prover_bench [max_size ...]
// Without arguments it runs sizes 3 and 4. With --profile it also prints
// where the rule rounds over the largest size's class identities spend
// their time (manual timers around the stages of a rule round, taken on the
// sequential path so the parts add up). For a whole-build profile, perf
// with --call-graph dwarf on a size-6 build shows the same split.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "identity/eccprove.h"
#include "identity/subcircuit.h"
#include "oneapi/tbb/global_control.h"
#include "search/search.h"
#include "state/rng.h"

namespace trevalon {
namespace {

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

ECCs make_eccs(std::size_t max_size) {
  Rng64 rng = Rng64::from_seed(2026);
  const Evaluator ev = Evaluator::from_random(2, rng);
  const std::vector<Gate16> gates = {gates::H(), gates::T(), gates::CX()};
  return generate(ev, gates, max_size).map.simplify();
}

// The distinct class identities, as `build` inserts them.
std::vector<IdentityCirc> class_identities(const ECCs& eccs) {
  std::vector<IdentityCirc> out;
  for (const auto& w : eccs.to_identity_circuits()) out.push_back(std::get<0>(w));
  out.erase(std::unique(out.begin(), out.end()), out.end());
  return out;
}

void measure(std::size_t max_size, const ECCs& eccs, int threads) {
  tbb::global_control limit(tbb::global_control::max_allowed_parallelism, threads);
  auto start = Clock::now();
  const IdentityProver prover = IdentityProver::build(eccs);
  const double build_secs = seconds_since(start);

  const std::vector<IdentityCirc> ids = class_identities(eccs);
  std::size_t rounds = 0, found = 0;
  start = Clock::now();
  for (const IdentityCirc& id : ids) {
    found += prover.par_apply_rules(id, 3).size();
    ++rounds;
  }
  const double round_secs = seconds_since(start);

  std::size_t splits = 0;
  start = Clock::now();
  for (const IdentityCirc& id : ids) splits += par_subcircuit_splits(id).size();
  const double split_secs = seconds_since(start);

  std::printf("size %zu threads %d: %zu classes, %zu identities, %zu assumed, %zu proved; build %.3f s; "
              "%.0f rule rounds/s (%.0f results/s); %.0f splits/s\n",
              max_size, threads, eccs.size(), ids.size(), prover.assume().size(), prover.proved().size(),
              build_secs, static_cast<double>(rounds) / round_secs, static_cast<double>(found) / round_secs,
              static_cast<double>(splits) / split_secs);
  std::fflush(stdout);
}

// Stage timers for the sequential rule round, on the identities of `eccs`.
void profile(const ECCs& eccs) {
  ProverOptions seq;
  seq.execution = ProverOptions::Execution::kSequential;
  const IdentityProver prover = IdentityProver::build(eccs, seq);
  const std::vector<IdentityCirc> ids = class_identities(eccs);
  double t_split = 0, t_rep = 0, t_lookup = 0, t_rule = 0, t_result = 0;
  std::size_t nsplits = 0, nrules = 0;
  for (const IdentityCirc& id : ids) {
    auto start = Clock::now();
    const auto splits = par_subcircuit_splits(id, SplitOptions{SplitOptions::Execution::kSequential});
    t_split += seconds_since(start);
    nsplits += splits.size();
    for (const auto& [s, r] : splits) {
      start = Clock::now();
      const auto [s_rep, perm] = s.representative_with_perm();
      t_rep += seconds_since(start);
      start = Clock::now();
      const auto it = prover.circ_map().find(s_rep);
      t_lookup += seconds_since(start);
      if (it == prover.circ_map().end()) continue;
      const Circ s_inv = s_rep.inverse();
      const Circ r2 = r.permut(perm);
      for (const Circ& a : it->second) {
        if (a.len() > s_rep.len() + 3) continue;
        ++nrules;
        start = Clock::now();
        const bool known = prover.proved().contains((a + s_inv).rotate_representative());
        t_rule += seconds_since(start);
        if (!known) continue;
        start = Clock::now();
        (void)(a + r2).rotate_representative();
        t_result += seconds_since(start);
      }
    }
  }
  const double total = t_split + t_rep + t_lookup + t_rule + t_result;
  std::printf("profile (sequential, %zu identities, %zu splits, %zu rule checks), %.3f s:\n", ids.size(), nsplits,
              nrules, total);
  const std::pair<const char*, double> parts[] = {{"splits", t_split},
                                                  {"representative_with_perm of S", t_rep},
                                                  {"rule-map lookup", t_lookup},
                                                  {"rule identity + proved lookup", t_rule},
                                                  {"result rotate_representative", t_result}};
  for (const auto& [name, t] : parts) std::printf("  %-32s %8.3f s %5.1f%%\n", name, t, 100 * t / total);
}

}  // namespace
}  // namespace trevalon

int main(int argc, char** argv) {
  std::vector<std::size_t> sizes;
  bool want_profile = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--profile") == 0) {
      want_profile = true;
    } else {
      sizes.push_back(static_cast<std::size_t>(std::atoi(argv[i])));
    }
  }
  if (sizes.empty()) sizes = {3, 4};
  for (std::size_t size : sizes) {
    const trevalon::ECCs eccs = trevalon::make_eccs(size);
    for (int threads : {1, 2}) trevalon::measure(size, eccs, threads);
    if (want_profile && size == *std::max_element(sizes.begin(), sizes.end())) trevalon::profile(eccs);
  }
}
