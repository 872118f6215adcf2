// The breadth-first circuit searches that fill a raw ECC map.
//
// `search` fingerprints each circuit with the evaluator's canonical key and
// its permutation pairs, so all placements of a circuit share a bucket and
// only one is extended. `search_naive` fingerprints the plain forward run of
// the evaluator's general state and explores every placement. Both extend
// only the first circuit of each bucket, shortest circuits first.
//
// Results (the map, the order of buckets and triples, the counters, the
// progress lines) do not depend on the execution: the parallel form
// evaluates a batch of queued circuits on the worker pool, then records the
// results in exactly the sequential order.
#ifndef TREVALON_SEARCH_SEARCH_H_
#define TREVALON_SEARCH_SEARCH_H_

#include <cstdint>
#include <functional>
#include <span>
#include <string_view>
#include <vector>

#include "circ/gate.h"
#include "circ/instr.h"
#include "search/raw_eccs.h"
#include "state/evaluator.h"

namespace trevalon {

struct SearchCounters {
  uint64_t explored = 0;   // circuits taken from the queue
  uint64_t evaluated = 0;  // circuits (queued circuit + one instruction) evaluated
  uint64_t offered = 0;    // (circuit, permutation pair) combinations recorded or refused
  friend bool operator==(const SearchCounters&, const SearchCounters&) = default;
};

struct SearchOptions {
  enum class Execution { kSequential, kParallel };
  Execution execution = Execution::kParallel;
  // Receives each progress line (newline included); none when empty.
  std::function<void(std::string_view)> progress;
  // Called on the calling thread between batches of work, at least every
  // few hundred milliseconds; it may throw to cancel the search.
  std::function<void()> poll;
};

struct SearchResult {
  RawECCs map;
  SearchCounters counters;
};

// All circuits over `instrs` (in that order) up to `max_size` instructions.
SearchResult search(const Evaluator& evaluator, std::span<const Instr32> instrs, std::size_t max_size,
                    const SearchOptions& options = {});
SearchResult search_naive(const Evaluator& evaluator, std::span<const Instr32> instrs,
                          std::size_t max_size, const SearchOptions& options = {});

// The instruction set of `generate`: missing adjoints appended, gates sorted
// by (qubit count, id), every placement on `nqubits` qubits, then sorted
// stably by largest qubit. Aborts for gates of other than 1 or 2 qubits.
std::vector<Instr32> generate_instructions(uint32_t nqubits, std::span<const Gate16> gates);

SearchResult generate(const Evaluator& evaluator, std::span<const Gate16> gates, std::size_t max_size,
                      const SearchOptions& options = {});
SearchResult generate_naive(const Evaluator& evaluator, std::span<const Gate16> gates,
                            std::size_t max_size, const SearchOptions& options = {});

}  // namespace trevalon

#endif  // TREVALON_SEARCH_SEARCH_H_
