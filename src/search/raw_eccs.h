// RawECCs: the working store of the circuit search, buckets of recorded
// circuits keyed by the 64-bit fingerprint of their canonical state.
//
// Invariants: the map always holds the root bucket (the empty circuit);
// buckets and triples are only added, never removed or reordered, and the
// first triple of a bucket never changes. Buckets are kept in insertion
// order, which is the map's iteration order. The cells of all triples live
// in an arena that the map shares with every map rebuilt from it
// (`switch_evaluator`), so cells outlive every map that can reach them.
//
// Thread safety: `add_entry` from one thread only; the const operations may
// run on many threads at once while nothing is added.
#ifndef TREVALON_SEARCH_RAW_ECCS_H_
#define TREVALON_SEARCH_RAW_ECCS_H_

#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "absl/container/flat_hash_map.h"
#include "search/circuit_ecc.h"
#include "state/evaluator.h"
#include "utils/alias_list.h"

namespace trevalon {

class ECCs;

// The surface gates of one circuit under one permutation pair: its front
// surface gates mapped through front_perm^-1, then its back surface gates
// mapped through back_perm.
struct SurfaceGates {
  absl::InlinedVector<Instr32, 6> gates;
  uint32_t nfront = 0;

  static SurfaceGates of(std::span<const Instr32> instrs, Permut32 front_perm, Permut32 back_perm);
  std::span<const Instr32> front() const { return {gates.data(), nfront}; }
  std::span<const Instr32> back() const { return {gates.data() + nfront, gates.size() - nfront}; }
};

class RawECCs {
 public:
  struct Bucket {
    uint64_t key;
    CircuitECC ecc;
  };

  // A map for `evaluator` holding only the root bucket, under the key of
  // the empty circuit, with a fresh arena.
  explicit RawECCs(const Evaluator& evaluator);
  // An empty map (not even the root) for `nqubits`, sharing `arena`.
  RawECCs(uint32_t nqubits, std::shared_ptr<CellArena> arena) : nqubits_(nqubits), arena_(std::move(arena)) {}

  RawECCs(RawECCs&&) noexcept = default;
  RawECCs& operator=(RawECCs&&) noexcept = default;
  RawECCs(const RawECCs&) = delete;
  RawECCs& operator=(const RawECCs&) = delete;

  // Records the circuit `instr_vec` (the circuit of `circ` plus its last
  // element) under `key` with the pair (front_perm, back_perm). Returns the
  // new cell only when the call created a bucket. A circuit whose relabelled
  // first or last gate is already a surface gate of the bucket is skipped.
  std::optional<AliasList> add_entry(uint64_t key, Permut32 front_perm, Permut32 back_perm,
                                     AliasList circ, std::span<const Instr32> instr_vec);
  // `add_entry` with the surface gates computed by the caller (the search
  // computes them on worker threads): `last` is the circuit's last
  // instruction, `size` its length.
  std::optional<AliasList> record(uint64_t key, Permut32 front_perm, Permut32 back_perm, AliasList circ,
                                  Instr32 last, std::size_t size, const SurfaceGates& surface);

  const CircuitECC* find(uint64_t key) const;
  // Hints that `key` is about to be recorded or looked up.
  void prefetch(uint64_t key) const { index_.prefetch(key); }
  bool contains(uint64_t key) const { return find(key) != nullptr; }
  // Inserts or replaces the bucket under `key`; returns the previous bucket
  // when one was replaced.
  std::optional<CircuitECC> put(uint64_t key, CircuitECC ecc);

  std::size_t size() const { return buckets_.size(); }
  uint32_t nqubits() const { return nqubits_; }
  const std::deque<Bucket>& buckets() const { return buckets_; }
  const CellArena& arena() const { return *arena_; }
  const std::shared_ptr<CellArena>& shared_arena() const { return arena_; }

  // The sorted, normalised classes.
  ECCs simplify() const;

 private:
  // The fingerprint is already a hash: use it as its own.
  struct KeyHash {
    std::size_t operator()(uint64_t key) const { return static_cast<std::size_t>(key); }
  };

  uint32_t nqubits_ = 0;
  std::shared_ptr<CellArena> arena_;
  std::deque<Bucket> buckets_;
  absl::flat_hash_map<uint64_t, uint32_t, KeyHash> index_;
};

}  // namespace trevalon

#endif  // TREVALON_SEARCH_RAW_ECCS_H_
