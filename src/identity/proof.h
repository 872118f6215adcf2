// Proofs of identities: the proof tracker, a bookkeeping search that records
// why each identity holds, and `Proof`, the exported DAG.
//
// A rule application on identity X (cut X into S and R, replace S by A)
// yields a rule identity (A then S^-1) and a rewritten identity (A then R');
// X holds once both do. The tracker is an AND/OR search over these steps
// down to the prover's assumptions. Identities are named everywhere by
// their stable `hash_value`; the tracker stores each one once, in a
// HashTable64, beside its state.
//
// Invariants of a tracker: a state only goes from Waiting to Result; a
// Result with premises is written only when both premises are Results, so
// premise links are acyclic and every chain ends in assumptions.
//
// Orders that decide the result (and are kept exactly): the work queue pops
// the smallest (instruction count, hash); notify lists keep registration
// order; resolutions cascade depth-first; exported entries are numbered in
// pre-order, first premise first. Deep chains use explicit stacks, so no
// depth exhausts the thread's stack.
//
// Thread safety: a tracker belongs to the thread running the export. Rule
// rounds run on the worker pool between tracker updates and only read the
// prover. A Proof is a plain value.
#ifndef TREVALON_IDENTITY_PROOF_H_
#define TREVALON_IDENTITY_PROOF_H_

#include <compare>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "identity/eccprove.h"
#include "identity/idcircuit.h"
#include "utils/hash_table64.h"

namespace trevalon {

// Not resolved yet. `notify` holds (partner, waiter): waiter follows from
// this identity together with partner.
struct ProofWaiting {
  bool expanded = false;
  std::vector<std::pair<uint64_t, uint64_t>> notify;
};

// Resolved: from the premises (h1, h2), or an assumption when absent.
struct ProofResult {
  std::optional<std::pair<uint64_t, uint64_t>> premises;
};

using ProofFuture = std::variant<ProofWaiting, ProofResult>;

// (lhs_idx, rhs_idx) into the proof's entries; absent for an assumption.
using ProofDependency = std::optional<std::pair<std::size_t, std::size_t>>;
using ProofEntry = std::pair<IdentityCirc, ProofDependency>;

class Proof {
 public:
  Proof() = default;
  // Taken as they are: indices are not checked.
  explicit Proof(std::vector<ProofEntry> entries) : entries_(std::move(entries)) {}

  const std::vector<ProofEntry>& entries() const { return entries_; }
  std::size_t size() const { return entries_.size(); }

  // One line per entry, each ending in a line break:
  // "{i}: {identity} <- {lhs}, {rhs}" or "{i}: {identity} <- ASSUME".
  std::string to_text() const;

  friend bool operator==(const Proof&, const Proof&) = default;
  // Lexicographic over the entries: identity first, then the dependency
  // (absent first); a proper prefix is smaller.
  friend std::strong_ordering operator<=>(const Proof& a, const Proof& b) { return a.entries_ <=> b.entries_; }

 private:
  std::vector<ProofEntry> entries_;
};

class ProofTracker {
 public:
  using Table = HashTable64<IdentityCirc, ProofFuture>;

  ProofTracker() = default;

  // Tries to resolve `identity` with the rules of `prover` (only read),
  // using as premises only identities in the prover's `proved` set or in
  // `filter_set`. Writes "Exploring {hash} {len} {identity} ({n} queued)"
  // every 50 expansions and, when the tracker outgrows `count_limit`
  // states, "Proof search exceeded limit of {n} states." to
  // `options.report`. Returns true when `identity` is resolved.
  bool prove(const IdentityCirc& identity, const IdentityProver& prover, uint64_t additional_size,
             uint64_t count_limit, const IdentitySet& filter_set, const ProverOptions& options = {});

  // The proof DAG of the resolved identity with hash `root`: entry 0 is
  // that identity. Aborts when an entry it needs is missing or unresolved.
  Proof export_from(uint64_t root) const;

  const Table& table() const { return table_; }

 private:
  struct Search;

  void expand(uint64_t key, Search& search);
  // Registers (partner, waiter) on `identity`, creating its entry; true
  // when the identity still has to be queued.
  bool wait(const IdentityCirc& identity, uint64_t partner, uint64_t waiter);
  // Resolves w from (a, b) when both are resolved and w is waiting, then
  // cascades to w's waiters; true when w was resolved here.
  bool notify(uint64_t a, uint64_t b, uint64_t w);
  // Whether `initial` still waits on `key` through unresolved identities.
  bool prune(uint64_t key, uint64_t initial) const;
  bool resolved(uint64_t key) const;

  Table table_;
};

// A proof of `identity` when the prover's query search derives it within
// the limits, else nothing. Aborts with "Failed to export proof for proved
// identity" when the tracker cannot rebuild the derivation (its own limit,
// or its queue running dry).
std::optional<Proof> export_proof(const IdentityProver& prover, const IdentityCirc& identity,
                                  uint64_t additional_size, uint64_t count_limit,
                                  const ProverOptions& options = {});

}  // namespace trevalon

#endif  // TREVALON_IDENTITY_PROOF_H_
