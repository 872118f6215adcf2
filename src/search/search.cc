#include "search/search.h"

#include <algorithm>
#include <chrono>
#include <deque>
#include <string>

#include "oneapi/tbb/parallel_for.h"
#include "search/circuit_ecc.h"
#include "state/gates.h"
#include "utils/abort.h"

namespace trevalon {
namespace {

// The fingerprint of one tried circuit: its key and permutation pairs.
struct Fingerprint {
  uint64_t key = 0;
  PermPairs pairs;
};

// Fingerprints under the evaluator's canonical key.
struct CanonicalFingerprint {
  const Evaluator& evaluator;
  void operator()(std::span<const Instr32> circuit, Fingerprint& out) const {
    thread_local Evaluation scratch;
    evaluator.evaluate_multiple(circuit, scratch);
    out.key = scratch.back.hash_value();
    out.pairs = scratch.pairs;
  }
};

// Fingerprints the forward run of the general state, with identity pairs.
struct NaiveFingerprint {
  const Evaluator& evaluator;
  Permut32 identity;
  void operator()(std::span<const Instr32> circuit, Fingerprint& out) const {
    thread_local StateVec scratch;
    scratch.copy_from(evaluator.backtrack_state());
    for (const Instr32& i : circuit) apply(scratch, i);
    scratch.normalize_arg();
    out.key = scratch.hash_value();
    out.pairs.assign(1, {identity, identity});
  }
};

std::string progress_line(const SearchCounters& c, std::span<const Instr32> circuit,
                          std::size_t queued, std::size_t buckets) {
  return "#" + std::to_string(c.explored) + " Exploring " + instrs_text(circuit, " ") + " (" +
         std::to_string(queued) + " queued, " + std::to_string(buckets) + " ECCs, " +
         std::to_string(c.evaluated) + " circs, " + std::to_string(c.offered) + " circs perm)\n";
}

// Batches grow while they are fast and shrink when slow, so that `poll`
// runs several times a second without starving the worker pool.
class BatchSizer {
 public:
  std::size_t size() const { return size_; }
  void observe(std::chrono::steady_clock::duration took) {
    using namespace std::chrono_literals;
    if (took < 50ms && size_ < kMax) size_ *= 2;
    if (took > 200ms && size_ > 1) size_ /= 2;
  }

 private:
  static constexpr std::size_t kMax = 1 << 14;
  std::size_t size_ = 16;
};

template <class FingerprintFn>
SearchResult run_search(const Evaluator& evaluator, std::span<const Instr32> instrs,
                        std::size_t max_size, const SearchOptions& options,
                        const FingerprintFn& fingerprint) {
  SearchResult result{RawECCs(evaluator), {}};
  RawECCs& map = result.map;
  SearchCounters& counters = result.counters;
  const CellArena& arena = map.arena();
  const std::size_t ninstrs = instrs.size();
  const bool parallel = options.execution == SearchOptions::Execution::kParallel;

  std::deque<AliasList> queue{AliasList()};
  BatchSizer sizer;
  std::vector<AliasList> batch;
  std::vector<std::vector<Instr32>> circuits;  // the batch's circuits, one instruction longer
  std::vector<Fingerprint> prints;

  while (!queue.empty()) {
    const auto started = std::chrono::steady_clock::now();
    const std::size_t nbatch = parallel ? std::min(sizer.size(), queue.size()) : 1;
    batch.assign(queue.begin(), queue.begin() + static_cast<std::ptrdiff_t>(nbatch));
    queue.erase(queue.begin(), queue.begin() + static_cast<std::ptrdiff_t>(nbatch));
    circuits.resize(nbatch);
    for (std::size_t b = 0; b < nbatch; ++b) {
      arena.collect(batch[b], circuits[b]);
      circuits[b].push_back(Instr32());  // slot for the instruction being tried
    }

    // Fingerprints depend only on the circuits, never on the map, so they
    // can all be computed before any is recorded.
    prints.resize(nbatch * ninstrs);
    auto evaluate_one = [&](std::size_t k, std::vector<Instr32>& circuit) {
      circuit.back() = instrs[k % ninstrs];
      fingerprint(std::span<const Instr32>(circuit), prints[k]);
    };
    if (parallel && nbatch * ninstrs > 1) {
      tbb::parallel_for(tbb::blocked_range<std::size_t>(0, nbatch * ninstrs),
                        [&](const tbb::blocked_range<std::size_t>& r) {
                          // Each worker fills in the tried instruction on its
                          // own copy of the batch circuit.
                          thread_local std::vector<Instr32> circuit;
                          std::size_t copied = SIZE_MAX;
                          for (std::size_t k = r.begin(); k != r.end(); ++k) {
                            if (k / ninstrs != copied) {
                              copied = k / ninstrs;
                              circuit = circuits[copied];
                            }
                            evaluate_one(k, circuit);
                          }
                        });
    } else {
      for (std::size_t k = 0; k < nbatch * ninstrs; ++k) evaluate_one(k, circuits[k / ninstrs]);
    }

    for (std::size_t b = 0; b < nbatch; ++b) {
      std::vector<Instr32>& circuit = circuits[b];
      const std::span<const Instr32> taken(circuit.data(), circuit.size() - 1);
      if (counters.explored % 400 == 0 && options.progress) {
        options.progress(progress_line(counters, taken, (nbatch - b - 1) + queue.size(), map.size()));
      }
      for (std::size_t j = 0; j < ninstrs; ++j) {
        circuit.back() = instrs[j];
        const Fingerprint& fp = prints[b * ninstrs + j];
        for (const auto& [front_perm, back_perm] : fp.pairs) {
          const auto cell = map.add_entry(fp.key, front_perm, back_perm, batch[b], circuit);
          if (cell && circuit.size() < max_size) queue.push_back(*cell);
          ++counters.offered;
        }
        ++counters.evaluated;
      }
      ++counters.explored;
    }
    sizer.observe(std::chrono::steady_clock::now() - started);
    if (options.poll) options.poll();
  }
  return result;
}

}  // namespace

SearchResult search(const Evaluator& evaluator, std::span<const Instr32> instrs, std::size_t max_size,
                    const SearchOptions& options) {
  return run_search(evaluator, instrs, max_size, options, CanonicalFingerprint{evaluator});
}

SearchResult search_naive(const Evaluator& evaluator, std::span<const Instr32> instrs,
                          std::size_t max_size, const SearchOptions& options) {
  const NaiveFingerprint naive{evaluator, Permut32::identity(static_cast<uint8_t>(
                                              std::min<uint32_t>(evaluator.nqubits(), 9)))};
  return run_search(evaluator, instrs, max_size, options, naive);
}

std::vector<Instr32> generate_instructions(uint32_t nqubits, std::span<const Gate16> gates) {
  std::vector<Gate16> list(gates.begin(), gates.end());
  for (Gate16 g : gates) {
    const Gate16 adj = g.adjoint();
    if (std::find(list.begin(), list.end(), adj) == list.end()) list.push_back(adj);
  }
  std::vector<std::pair<uint8_t, Gate16>> keyed;
  for (Gate16 g : list) keyed.emplace_back(g.nqargs(), g);
  std::stable_sort(keyed.begin(), keyed.end());

  std::vector<Instr32> instrs;
  for (const auto& [nq, g] : keyed) {
    if (nq == 1) {
      for (uint32_t q = 0; q < nqubits; ++q) instrs.emplace_back(g, QArgs16(static_cast<uint8_t>(q), QArgs16::kUnused));
    } else if (nq == 2) {
      for (uint32_t i = 0; i < nqubits; ++i) {
        for (uint32_t j = 0; j < nqubits; ++j) {
          if (i != j) instrs.emplace_back(g, QArgs16(static_cast<uint8_t>(i), static_cast<uint8_t>(j)));
        }
      }
    } else {
      abort_with("Only 1 and 2 qubit instructions are supported");
    }
  }
  std::stable_sort(instrs.begin(), instrs.end(),
                   [](const Instr32& a, const Instr32& b) { return a.largest_qubit() < b.largest_qubit(); });
  return instrs;
}

SearchResult generate(const Evaluator& evaluator, std::span<const Gate16> gates, std::size_t max_size,
                      const SearchOptions& options) {
  return search(evaluator, generate_instructions(evaluator.nqubits(), gates), max_size, options);
}

SearchResult generate_naive(const Evaluator& evaluator, std::span<const Gate16> gates,
                            std::size_t max_size, const SearchOptions& options) {
  return search_naive(evaluator, generate_instructions(evaluator.nqubits(), gates), max_size, options);
}

}  // namespace trevalon
