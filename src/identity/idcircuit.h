// IdentityCirc: a circuit known to act as the identity up to a global
// phase, as the prover stores it, plus COMBINATIONS, the gate-subset table
// that subcircuit splitting walks.
//
// An IdentityCirc is exactly its inner `Circ` (same equality, order, record
// form); it adds the randomised identity check, the stable 64-bit hash that
// names it in proofs, and the wire-neighbour queries of splitting. Values are
// plain and immutable in use, and may be read from many threads at once;
// `check` uses only its own generator and states.
//
// Invariant: that of `Circ`. Identities built by `unchecked` have passed the
// check; `create` and `from_record` are not checked (placeholders, records),
// so the neighbour queries still abort cleanly on a non-identity.
#ifndef TREVALON_IDENTITY_IDCIRCUIT_H_
#define TREVALON_IDENTITY_IDCIRCUIT_H_

#include <algorithm>
#include <compare>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "circ/instr.h"
#include "groups/permutation.h"
#include "identity/circuit.h"

namespace trevalon {

// The neighbour instruction index for each used slot of one instruction:
// at most two entries, held inline.
class WireNeighbours {
 public:
  // Marks an entry not found yet; prints as the largest machine word.
  static constexpr std::size_t kUnset = SIZE_MAX;

  explicit WireNeighbours(uint8_t n) : n_(n) {}

  std::size_t size() const { return n_; }
  std::size_t operator[](std::size_t i) const { return v_[i]; }
  std::size_t& operator[](std::size_t i) { return v_[i]; }
  const std::size_t* begin() const { return v_; }
  const std::size_t* end() const { return v_ + n_; }
  bool complete() const;
  // "[a, b]".
  std::string debug_text() const;

  friend bool operator==(const WireNeighbours& a, const WireNeighbours& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end());
  }

 private:
  std::size_t v_[2] = {kUnset, kUnset};
  uint8_t n_;
};

class IdentityCirc {
 public:
  // The empty circuit with the zero permutation word.
  IdentityCirc() = default;

  // `Circ::create` without the identity check (placeholders).
  static IdentityCirc create(std::vector<Instr32> instrs, Permut32 perm);
  // Wraps `c` unchanged after `check`, which aborts on a non-identity.
  static IdentityCirc unchecked(Circ c);
  // `Circ::from_record` without the identity check: for dict records and
  // files, which are structurally validated but not simulated.
  static IdentityCirc from_record(std::vector<Instr32> instrs, Permut32 perm);

  const Circ& circ() const { return circ_; }
  // A copy of the inner circuit.
  Circ inner() const { return circ_; }
  uint8_t nqubits() const { return circ_.nqubits(); }
  std::size_t len() const { return circ_.len(); }
  // Bounds-checked access.
  const Instr32& operator[](std::size_t i) const { return circ_[i]; }
  // Euclidean remainder modulo len(); aborts when empty.
  const Instr32& at_cyclic(int64_t idx) const { return circ_.at_cyclic(idx); }

  // Simulates the first half forward and the second half backward from one
  // random state (a fresh OS-seeded generator per call) and compares them
  // loosely. Returns true, or aborts with "IdentityCirc: circuit is not
  // identity {A} {B} {identity}". An instruction whose slot count differs
  // from its gate's arity aborts in the gate kernel.
  bool check() const;
  // SipHash-1-3 (zero keys) of the circuit's hash input; the proof key.
  uint64_t hash_value() const { return circ_.hash_value(); }

  // For each used slot of instruction `gate_id`, the index of the next
  // instruction in cyclic order on the wire leaving through that slot
  // (through the trailing permutation when the scan wraps).
  WireNeighbours qargs_forward(std::size_t gate_id) const;
  // The same for the previous instruction on each wire entering it.
  WireNeighbours qargs_backward(std::size_t gate_id) const;

  // "Identity { I0 I1 P }".
  std::string to_text() const;
  // "IdentityCirc(" + the circuit's debug form + ")".
  std::string debug_text() const;

  friend bool operator==(const IdentityCirc&, const IdentityCirc&) = default;
  friend std::strong_ordering operator<=>(const IdentityCirc& a, const IdentityCirc& b) {
    return a.circ_ <=> b.circ_;
  }
  template <class H>
  friend H AbslHashValue(H h, const IdentityCirc& c) {
    return H::combine(std::move(h), c.hash_value());
  }

 private:
  explicit IdentityCirc(Circ c) : circ_(std::move(c)) {}

  Circ circ_;
};

// Hash functor giving `hash_value`, for containers keyed by identities.
struct IdentityCircHash {
  std::size_t operator()(const IdentityCirc& c) const { return static_cast<std::size_t>(c.hash_value()); }
};

// One entry of COMBINATIONS: index subsets, each ascending, stored flat.
class GateSubsets {
 public:
  std::size_t size() const { return offsets_.size() - 1; }
  // Subset i, bounds-checked.
  std::span<const uint8_t> operator[](std::size_t i) const;

 private:
  friend GateSubsets build_gate_subsets(uint8_t n);
  std::vector<uint8_t> items_;
  std::vector<uint32_t> offsets_ = {0};
};

// Number of entries of COMBINATIONS: circuit lengths 0..19.
inline constexpr std::size_t kCombinationLengths = 20;

// Entry n of COMBINATIONS: for k = 0 .. n/2 + 1 (k <= n), every k-subset of
// {0..n-1} in lexicographic order. The table is built once, on first use by
// any thread, and is read-only afterwards. n >= 20 aborts with the index
// message.
const GateSubsets& combinations(std::size_t n);

}  // namespace trevalon

#endif  // TREVALON_IDENTITY_IDCIRCUIT_H_
