// Circ: a list of compact instructions followed by a trailing qubit
// permutation, and the canonical forms under which equal circuits meet.
//
// Meaning: apply instrs[0], instrs[1], ..., then move the qubit at position q
// to position perm[q]. Carrying the permutation separately lets SWAP gates be
// absorbed into it and lets relabelled circuits be compared.
//
// Invariant of every value (checked by `create`, which every operation
// goes through): `perm` is a true permutation of 0..n-1 (`Permut32::is_valid`)
// and every used qubit slot of every instruction is below n = perm.len().
// So qubits are below 8 and every 8-entry table indexed by a qubit or a
// permutation entry stays in bounds. Instruction arity is not part of the
// invariant; `from_record` checks it for untrusted input, and the gate
// kernels check it before applying a gate.
//
// Values are plain and immutable in use: every operation returns a new
// circuit. Any number of threads may read one circuit concurrently; the
// canonical forms read only the shared permutation table and the SWAP handle.
#ifndef TREVALON_IDENTITY_CIRCUIT_H_
#define TREVALON_IDENTITY_CIRCUIT_H_

#include <compare>
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "circ/instr.h"
#include "groups/permutation.h"
#include "utils/siphash.h"

namespace trevalon {

class IdentityCirc;

class Circ {
 public:
  // No instructions, empty permutation.
  Circ() = default;

  // Takes the instructions over unchanged. Aborts with "Permutation length
  // must be greater than the max qubit index." when a qubit is not below
  // perm.len(), and with "Permutation word is not a permutation" when
  // `perm` breaks the permutation invariant.
  static Circ create(std::vector<Instr32> instrs, Permut32 perm);
  // Identity permutation on (largest qubit + 1) qubits; the empty one when no
  // instruction has a qubit. A qubit above 7 aborts in `Permut32::identity`.
  static Circ new_no_perm(std::vector<Instr32> instrs);
  // `create` for untrusted records (dict records, files): additionally
  // checks that each instruction's used slots match its gate's arity, are
  // distinct, and come before the unused ones, so that no later operation
  // can read or write out of bounds.
  static Circ from_record(std::vector<Instr32> instrs, Permut32 perm);

  const std::vector<Instr32>& instrs() const { return instrs_; }
  Permut32 perm() const { return perm_; }
  uint8_t nqubits() const { return perm_.len(); }
  std::size_t len() const { return instrs_.size(); }
  bool is_empty() const { return instrs_.empty(); }
  // Bounds-checked access.
  const Instr32& operator[](std::size_t i) const;
  // idx reduced by the Euclidean remainder modulo len(); aborts when empty.
  const Instr32& at_cyclic(int64_t idx) const;

  // Every used qubit of every instruction in order, then every position i
  // with perm[i] != i.
  std::vector<uint8_t> affected_qubits() const;

  // The permutation cut to the qubits actually used.
  Circ compact_qubits() &&;
  // Neighbouring commuting (disjoint) instructions in ascending order.
  Circ reorder_instrs() &&;
  // Every wire q relabelled o(q), o being `p` extended to the common width.
  Circ permut(Permut32 p) const;
  // Cyclic rotation: n > 0 moves the first n instructions (carried back
  // through the permutation) to the end; n < 0 moves the last -n to the
  // front. |n| > len() aborts with a slice-range message.
  Circ rotate(int64_t n) const;
  // SWAP instructions absorbed into the permutation.
  Circ remove_swaps() const;
  Circ inverse() const;
  // The instructions followed by SWAPs that realise the permutation.
  std::vector<Instr32> instrs_with_swaps() const;
  // `a` followed by `b`.
  friend Circ operator+(const Circ& a, const Circ& b);

  // Smallest circuit over all relabellings, after commuting and compacting.
  Circ representative() const;
  // The same, paired with the relabelling that produced it (smallest pair).
  std::pair<Circ, Permut32> representative_with_perm() const;
  // Canonical form of an identity over relabellings and rotations, wrapped
  // through the identity check (defined with IdentityCirc; include
  // "identity/idcircuit.h" to call it). Aborts when this is not an identity.
  IdentityCirc rotate_representative() const;

  // "Circuit { I0 I1 P }".
  std::string to_text() const;
  // "Circ { instrs: [I0, I1], perm: P }".
  std::string debug_text() const;
  // Count (u32), each instruction's hash input, then perm (u32).
  void hash_into(SipHasher13& h) const;
  // SipHash-1-3 with zero keys over `hash_into`; stable across processes.
  uint64_t hash_value() const;

  friend bool operator==(const Circ&, const Circ&) = default;
  // Fewer instructions first, then the instructions in order, then perm.
  friend std::strong_ordering operator<=>(const Circ& a, const Circ& b);

  template <class H>
  friend H AbslHashValue(H h, const Circ& c) {
    return H::combine(std::move(h), c.hash_value());
  }

 private:
  Circ(std::vector<Instr32> instrs, Permut32 perm) : instrs_(std::move(instrs)), perm_(perm) {}

  std::vector<Instr32> instrs_;
  Permut32 perm_;
};

}  // namespace trevalon

#endif  // TREVALON_IDENTITY_CIRCUIT_H_
