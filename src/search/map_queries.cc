#include "search/map_queries.h"

#include <algorithm>
#include <vector>

#include "search/checked_equivalence.h"
#include "utils/abort.h"
#include "utils/parallel_for.h"

namespace trevalon {
namespace {

// Buckets checked per round of the worker pool: bounds the references held
// at once while leaving the pool plenty of independent work.
constexpr std::size_t kSubsetChunk = 4096;

uint64_t key_of(const Evaluator& evaluator, std::span<const Instr32> instrs) {
  thread_local Evaluation scratch;
  evaluator.evaluate_multiple(instrs, scratch);
  return scratch.back.hash_value();
}

void check_bucket(const CircuitECC& bucket, const CellArena& arena, const RawECCs& ecc1,
                  const Evaluator& evaluator) {
  for (const CircPair& pair : bucket.simplify(arena)) {
    check_that(ecc1.contains(key_of(evaluator, pair.first)), "ecc1.contains_key(&bv.hash_value())");
    // Run for its consistency checks only.
    checked_equivalent(ecc1, pair.first, pair.second, evaluator);
  }
}

}  // namespace

std::optional<ECC> find_equivalents(const RawECCs& map, const Evaluator& evaluator,
                                    std::span<const Instr32> instrs) {
  const FirstEvaluation e = evaluator.evaluate(instrs);
  const CircuitECC* bucket = map.find(e.back.hash_value());
  if (bucket == nullptr) return std::nullopt;
  const Permut32 f_inv = e.front_perm.inv();
  const Permut32 b_inv = e.back_perm.inv();
  std::vector<CircPair> pairs;
  pairs.reserve(bucket->circuits().size());
  for (const CircTriple& t : bucket->circuits()) {
    // The triple relabelled into the query's frame, then simplified.
    pairs.push_back(CircTriple{t.front_perm * f_inv, t.circ, b_inv * t.back_perm}.simplify(map.arena()));
  }
  return ECC(std::move(pairs));
}

std::optional<uint64_t> compute_next_key(const RawECCs& map, const Evaluator& evaluator, uint64_t key,
                                         Instr32 instr) {
  const CircuitECC* bucket = map.find(key);
  if (bucket == nullptr) return std::nullopt;
  std::vector<Instr32> circuit = map.arena().collect(bucket->circuits().front().circ);
  circuit.push_back(instr);
  const uint64_t next = key_of(evaluator, circuit);
  if (!map.contains(next)) return std::nullopt;
  return next;
}

RawECCs switch_evaluator(const RawECCs& map, const Evaluator& new_evaluator) {
  const CellArena& arena = map.arena();
  RawECCs out(new_evaluator.nqubits(), map.shared_arena());
  out.put(new_evaluator.initial_key(), CircuitECC::root(static_cast<uint8_t>(new_evaluator.nqubits())));
  std::vector<Instr32> circuit;
  for (const RawECCs::Bucket& source : map.buckets()) {
    std::optional<CircuitECC> rebuilt;
    uint64_t k0 = 0;
    for (const CircTriple& t : source.ecc.circuits()) {
      arena.collect(t.circ, circuit);
      const FirstEvaluation e = new_evaluator.evaluate(circuit);
      const uint64_t k = e.back.hash_value();
      const CircTriple triple{e.front_perm, t.circ, e.back_perm};
      if (!rebuilt) {
        k0 = k;
        rebuilt.emplace(static_cast<uint32_t>(circuit.size()), triple, std::span<const Instr32>{},
                        std::span<const Instr32>{});
        continue;
      }
      if (k != k0) abort_with("Inconsistent ECC detected during evaluator switch");
      rebuilt->push_triple(triple);
    }
    // Only a root bucket (size 0) may be overwritten: the one made above or
    // the source's own root, both the empty circuit's class.
    if (const CircuitECC* existing = out.find(k0); existing != nullptr && existing->size() != 0) {
      abort_with("Hash collision detected during evaluator switch: " + existing->debug_text(arena) + " vs " +
                 source.ecc.debug_text(arena));
    }
    out.put(k0, *std::move(rebuilt));
  }
  return out;
}

void check_identity_subset(const RawECCs& self, const RawECCs& ecc1, const Evaluator& evaluator,
                           const SubsetCheckOptions& options) {
  const CellArena& arena = self.arena();
  const auto& buckets = self.buckets();
  if (options.execution == SubsetCheckOptions::Execution::kSequential) {
    for (const RawECCs::Bucket& b : buckets) check_bucket(b.ecc, arena, ecc1, evaluator);
    return;
  }
  std::vector<const CircuitECC*> chunk;
  chunk.reserve(std::min(buckets.size(), kSubsetChunk));
  for (auto it = buckets.begin(); it != buckets.end();) {
    chunk.clear();
    for (; it != buckets.end() && chunk.size() < kSubsetChunk; ++it) chunk.push_back(&it->ecc);
    // An abort on a worker cancels the round and is rethrown here.
    parallel_for_ranges(chunk.size(), [&](std::size_t first, std::size_t last) {
      for (std::size_t i = first; i != last; ++i) check_bucket(*chunk[i], arena, ecc1, evaluator);
    });
  }
}

}  // namespace trevalon
