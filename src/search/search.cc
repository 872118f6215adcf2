#include "search/search.h"

#include <algorithm>
#include <chrono>
#include <deque>
#include <string>

#include "search/circuit_ecc.h"
#include "state/gates.h"
#include "utils/abort.h"
#include "utils/parallel_for.h"

namespace trevalon {
namespace {

// The fingerprint of one tried circuit: its key and permutation pairs.
struct Fingerprint {
  uint64_t key = 0;
  PermPairs pairs;
};

// Everything the recording step needs about one tried circuit, computed
// off the calling thread: the fingerprint and each pair's surface gates.
struct Tried {
  Fingerprint print;
  absl::InlinedVector<SurfaceGates, 1> surfaces;
  // Per pair: refused already by a bucket that existed before the batch.
  // Buckets only gain surface gates, so such a refusal stands when the
  // pair's turn to be recorded comes.
  absl::InlinedVector<bool, 1> refused;
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

constexpr std::size_t kPrefetchAhead = 8;

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
  std::vector<uint32_t> lengths;  // of the tried circuits, per batch entry
  std::vector<Tried> tried;       // per (batch entry, instruction)
  std::vector<Instr32> taken;

  // Fingerprints and surface gates depend only on the circuits, never on
  // the map, so a whole batch is computed before any of it is recorded.
  auto prepare = [&](std::size_t b, std::vector<Instr32>& circuit) {
    arena.collect(batch[b], circuit);
    circuit.push_back(Instr32());  // slot for the instruction being tried
    lengths[b] = static_cast<uint32_t>(circuit.size());
    for (std::size_t j = 0; j < ninstrs; ++j) {
      circuit.back() = instrs[j];
      Tried& t = tried[b * ninstrs + j];
      fingerprint(std::span<const Instr32>(circuit), t.print);
      t.surfaces.clear();
      t.refused.clear();
      const CircuitECC* existing = map.find(t.print.key);  // read-only while preparing
      for (const auto& [front_perm, back_perm] : t.print.pairs) {
        SurfaceGates& surface = t.surfaces.emplace_back(SurfaceGates::of(circuit, front_perm, back_perm));
        t.refused.push_back(existing != nullptr && existing->shares_surface(surface.front(), surface.back()));
      }
    }
  };

  while (!queue.empty()) {
    const auto started = std::chrono::steady_clock::now();
    const std::size_t nbatch = parallel ? std::min(sizer.size(), queue.size()) : 1;
    batch.assign(queue.begin(), queue.begin() + static_cast<std::ptrdiff_t>(nbatch));
    queue.erase(queue.begin(), queue.begin() + static_cast<std::ptrdiff_t>(nbatch));
    lengths.resize(nbatch);
    tried.resize(nbatch * ninstrs);
    if (parallel && nbatch > 1) {
      parallel_for_ranges(nbatch, [&](std::size_t first, std::size_t last) {
        thread_local std::vector<Instr32> circuit;
        for (std::size_t b = first; b != last; ++b) prepare(b, circuit);
      });
    } else {
      for (std::size_t b = 0; b < nbatch; ++b) prepare(b, taken);
    }

    // Recording runs in exactly the sequential order.
    for (std::size_t b = 0; b < nbatch; ++b) {
      if (counters.explored % 400 == 0 && options.progress) {
        arena.collect(batch[b], taken);
        options.progress(progress_line(counters, taken, (nbatch - b - 1) + queue.size(), map.size()));
      }
      for (std::size_t j = 0; j < ninstrs; ++j) {
        const std::size_t k = b * ninstrs + j;
        // The table is far larger than the caches: fetch a few keys ahead.
        if (k + kPrefetchAhead < tried.size()) map.prefetch(tried[k + kPrefetchAhead].print.key);
        const Tried& t = tried[k];
        for (std::size_t p = 0; p < t.print.pairs.size(); ++p) {
          ++counters.offered;
          if (t.refused[p]) continue;
          const auto [front_perm, back_perm] = t.print.pairs[p];
          const auto cell = map.record(t.print.key, front_perm, back_perm, batch[b], instrs[j], lengths[b],
                                       t.surfaces[p]);
          if (cell && lengths[b] < max_size) queue.push_back(*cell);
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
