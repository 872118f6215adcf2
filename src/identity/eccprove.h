// IdentityProver: decides which circuit identities follow from others by
// local rewriting with the rules of ECC classes.
//
// Every class gives rules (any member may replace any other) and identities
// (each member followed by the inverse of the first). `build` inserts the
// identities shortest first; each is either derived by a bounded search over
// rule applications from what is already known, or kept as an assumption.
// Afterwards the prover answers queries (`prove_identity`).
//
// A rule application cuts an identity into a piece S and the rest R (S then
// R is the identity), and replaces S by an alternative A of S's class,
// provided the rule identity "A then S^-1" is already proved; "A then R" is
// the new identity.
//
// Invariants: every member of `assume` is in `proved`; every identity the
// prover adds is canonical (`rotate_representative`); nothing is ever
// removed, and `circ_map` never changes after building.
//
// Results never depend on hash iteration order: the sets and the map are
// only probed, every list result keeps the order of splits and alternatives,
// and searches consume those lists in order. So results are the same for any
// number of worker threads and any hash seeding.
//
// Thread safety: const methods may run concurrently with each other; the
// mutating ones (`add_identity`, `add_identity_search`) need exclusive
// access. Rule rounds read the prover from worker threads while the calling
// thread waits; the prover is written only between rounds, on the calling
// thread.
#ifndef TREVALON_IDENTITY_ECCPROVE_H_
#define TREVALON_IDENTITY_ECCPROVE_H_

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "absl/container/flat_hash_map.h"
#include "absl/container/flat_hash_set.h"
#include "identity/circuit.h"
#include "identity/idcircuit.h"
#include "search/ecc.h"
#include "utils/progress_bar.h"

namespace trevalon {

using IdentitySet = absl::flat_hash_set<IdentityCirc>;
// Canonical class member -> the other members, in its qubit labels.
using RuleMap = absl::flat_hash_map<Circ, std::vector<Circ>>;
// (rule identity used, identity it leads to).
using TransitionPair = std::pair<IdentityCirc, IdentityCirc>;

struct ProverOptions {
  enum class Execution { kSequential, kParallel };
  // Rule rounds and building spread over the worker pool, or run on the
  // calling thread; results are identical.
  Execution execution = Execution::kParallel;
  // Build messages and progress bars (standard error in Python).
  TextSink diagnostics;
  // Proof-search lines (standard output in Python); none when empty.
  std::function<void(std::string_view)> report;
  // Called on the calling thread between parallel batches, several times a
  // second during long work; it may throw to cancel. A cancelled mutating
  // call leaves the prover as an abort does: what was inserted stays.
  std::function<void()> poll;
};

class IdentityProver {
 public:
  // Insertion limits used by `build`.
  static constexpr uint64_t kBuildAdditionalSize = 3;
  static constexpr uint64_t kBuildCountLimit = 50'000'000;

  IdentityProver() = default;
  // A prover from its stored fields (loading); nothing is checked.
  IdentityProver(std::vector<IdentityCirc> assume, IdentitySet proved, RuleMap circ_map)
      : assume_(std::move(assume)), proved_(std::move(proved)), circ_map_(std::move(circ_map)) {}

  // Rules from every class, then every class identity inserted shortest
  // first. Writes "Building identity prover from {n} ECCs", a bar over the
  // classes, "Proving Identities" and a bar over the identities to
  // `options.diagnostics`. Aborts for an empty or malformed class.
  static IdentityProver build(const ECCs& eccs, const ProverOptions& options = {});

  // One rule round: every identity reached by replacing a piece S of a split
  // with an alternative at most `additional_size` longer whose rule is
  // proved, in split order and then alternative order (duplicates kept).
  // Identities of 20 or more instructions abort.
  std::vector<IdentityCirc> par_apply_rules(const IdentityCirc& identity, uint64_t additional_size,
                                            const ProverOptions& options = {}) const;
  // The same round without the proved-rule filter, as (rule identity,
  // result) pairs. `allowance` may be negative: an alternative A of S
  // qualifies when len(A) <= len(S) + allowance.
  std::vector<TransitionPair> par_transition_pairs(const IdentityCirc& identity, int64_t allowance,
                                                   const ProverOptions& options = {}) const;

  // Inserts `identity` unless it is empty or proved already, adding every
  // identity its search visited to `proved`. Returns true when it had to be
  // assumed.
  bool add_identity(const IdentityCirc& identity, uint64_t additional_size, uint64_t count_limit,
                    const ProverOptions& options = {});
  // The best-first search of `add_identity`: (visited, assumed). Appends
  // `identity` to `assume` when it is not derived; may insert smaller
  // identities it meets (recursively).
  std::pair<IdentitySet, bool> add_identity_search(const IdentityCirc& identity, uint64_t additional_size,
                                                   uint64_t count_limit, const ProverOptions& options = {});

  // Nothing when `identity` is derivable within the limits, else `identity`.
  std::optional<IdentityCirc> prove_identity(const IdentityCirc& identity, uint64_t additional_size,
                                             uint64_t count_limit, const ProverOptions& options = {}) const;
  // The same with every identity the search visited.
  std::pair<std::optional<IdentityCirc>, IdentitySet> prove_identity_with_visited(
      const IdentityCirc& identity, uint64_t additional_size, uint64_t count_limit,
      const ProverOptions& options = {}) const;

  // A copy of `assume`, in the order the identities were given up.
  std::vector<IdentityCirc> assumed_identities() const { return assume_; }

  const std::vector<IdentityCirc>& assume() const { return assume_; }
  const IdentitySet& proved() const { return proved_; }
  const RuleMap& circ_map() const { return circ_map_; }

  // Same assumptions in the same order, same proved set, same rules.
  friend bool operator==(const IdentityProver&, const IdentityProver&) = default;

 private:
  template <class T, class PerRule>
  std::vector<T> rule_round(const IdentityCirc& identity, int64_t allowance, const ProverOptions& options,
                            const PerRule& per_rule) const;

  std::vector<IdentityCirc> assume_;
  IdentitySet proved_;
  RuleMap circ_map_;
};

// The prover record: `assume` (list of identities), `proved` (a set: count,
// then the identities), `circ_map` (count, then each key circuit and its
// list of circuits). Set and map entries are written in iteration order, so
// two saves may differ byte-wise; loading keeps the last of repeated keys.
// Decoding throws RecordError kDecode for malformed bytes and aborts for an
// unknown gate or a circuit that breaks its invariants; nothing else about
// the content is checked.
std::string prover_to_bytes(const IdentityProver& prover);
IdentityProver prover_from_bytes(std::span<const uint8_t> bytes);
// File forms; see utils/record_writer.h and utils/record_reader.h for what
// they throw. Saving replaces the file only once it is completely written.
void save_prover(const IdentityProver& prover, const std::string& path);
IdentityProver load_prover(const std::string& path);

}  // namespace trevalon

#endif  // TREVALON_IDENTITY_ECCPROVE_H_
