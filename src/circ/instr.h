// Instr32: a compact instruction, a gate handle plus two qubit slots in 32
// bits, so circuits are flat arrays that copy, compare and hash cheaply.
//
// Invariant of instructions built by `create`: the number of used slots
// equals the gate's qubit count, the qubits are distinct and below 8.
// Instructions read from files are not checked; every consumer that indexes
// with a qubit validates it. Order: slots as bytes first, then the gate id.
#ifndef TREVALON_CIRC_INSTR_H_
#define TREVALON_CIRC_INSTR_H_

#include <array>
#include <compare>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "circ/gate.h"
#include "circ/qargs.h"
#include "groups/permutation.h"
#include "utils/siphash.h"

namespace trevalon {

class Instr32 {
 public:
  // Every consumer indexes 8-qubit structures; larger qubits are refused.
  static constexpr uint8_t kMaxQubit = 7;

  constexpr Instr32() = default;
  constexpr Instr32(Gate16 gate, QArgs16 qargs) : gate_(gate), qargs_(qargs) {}

  // Checked constructor: arity, at most two slots, uniqueness, range.
  static Instr32 create(Gate16 gate, std::span<const uint8_t> qargs);
  // Built from the slots without the uniqueness check (`Gate.__call__`);
  // still refuses a wrong count, more than two slots and qubits >= 8.
  static Instr32 create_unchecked_unique(Gate16 gate, std::span<const uint8_t> qargs);

  constexpr Gate16 gate() const { return gate_; }
  constexpr const QArgs16& qargs() const { return qargs_; }

  uint8_t arg_mask() const;
  bool disjoint(const Instr32& other) const { return (arg_mask() & other.arg_mask()) == 0; }
  uint8_t largest_qubit() const;
  std::optional<uint8_t> position_of_qubit(uint8_t qubit) const;
  // Each used qubit q becomes perm.at(q); aborts for q >= 8.
  Instr32 apply_permutation(Permut32 perm) const;
  Instr32 permut(Permut32 perm) const { return apply_permutation(perm); }
  Instr32 adjoint() const { return Instr32(gate_.adjoint(), qargs_); }
  // Frontier check: qubits must be introduced in increasing order.
  std::optional<uint8_t> pass_mask(uint8_t mask) const;

  // "gate(q0, q1)".
  std::string to_text() const;
  // SipHash input of the Python hash and of circuit hashes.
  void hash_into(SipHasher13& h) const;

  friend constexpr bool operator==(const Instr32&, const Instr32&) = default;
  friend constexpr std::strong_ordering operator<=>(const Instr32& a, const Instr32& b) {
    if (auto c = a.qargs_ <=> b.qargs_; c != 0) return c;
    return a.gate_ <=> b.gate_;
  }

 private:
  Gate16 gate_;
  QArgs16 qargs_;
};
static_assert(sizeof(Instr32) == 4);

void append_text(std::string& out, const Instr32& instr);

// A relabelling as a lookup table: entry i of the permutation for every
// i < 8 (0 beyond its length). Hot loops relabel through it without the
// range checks of `apply_permutation`.
using QubitTable = std::array<uint8_t, 8>;
inline QubitTable qubit_table(Permut32 p) {
  QubitTable t{};
  for (uint8_t i = 0; i < 8; ++i) t[i] = p.get(i);
  return t;
}

// `in` with each used qubit q replaced by to[q & 7]; the mask keeps the
// lookup in bounds for any slot value.
inline Instr32 relabel(const Instr32& in, const QubitTable& to) {
  const QArgs16& a = in.qargs();
  uint8_t s0 = a.slot(0), s1 = a.slot(1);
  switch (a.len()) {
    case 2: s1 = to[s1 & 7]; [[fallthrough]];
    case 1: s0 = to[s0 & 7]; break;
    default: break;
  }
  return Instr32(in.gate(), QArgs16(s0, s1));
}

}  // namespace trevalon

#endif  // TREVALON_CIRC_INSTR_H_
