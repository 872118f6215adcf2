// One bucket of the raw ECC map: the circuits recorded under one
// fingerprint, with the surface gates that keep redundant circuits out.
//
// A `CircTriple` is one recorded circuit: its cell and the permutation pair
// (front_perm, back_perm) under which it reaches the bucket's canonical
// state. Its simplified pair is (cells in circuit order mapped through
// front_perm^-1, back_perm * front_perm). The first triple is the bucket's
// representative and never changes; triples are only appended.
//
// `front_gates` holds every recorded circuit's front surface gates mapped
// through its front_perm^-1, `back_gates` its back surface gates mapped
// through its back_perm; both keep insertion order without duplicates.
#ifndef TREVALON_SEARCH_CIRCUIT_ECC_H_
#define TREVALON_SEARCH_CIRCUIT_ECC_H_

#include <cstdint>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "absl/container/inlined_vector.h"
#include "circ/instr.h"
#include "groups/permutation.h"
#include "utils/alias_list.h"

namespace trevalon {

// An instruction list with a trailing permutation.
using CircPair = std::pair<std::vector<Instr32>, Permut32>;

struct CircTriple {
  Permut32 front_perm;
  AliasList circ;
  Permut32 back_perm;

  CircPair simplify(const CellArena& arena) const;
};
static_assert(sizeof(CircTriple) == 12);

// The surface gates of `instrs` in the given scan order: an instruction is
// surface when none of its qubits was touched by an earlier instruction of
// the scan. Pass the circuit first-to-last for the front surface,
// last-to-first (reverse iterators) for the back surface.
template <class It, class Out>
void circuit_get_surface_gates(It first, It last, Out& out) {
  uint32_t touched = 0;
  for (; first != last; ++first) {
    const Instr32& instr = *first;
    uint32_t fresh = 0, bits = 0;
    for (uint8_t q : instr.qargs().used()) {
      const uint32_t bit = 1u << (q % 32);
      if (!(touched & bit)) ++fresh;
      bits |= bit;
    }
    touched |= bits;
    if (fresh == instr.qargs().len()) out.push_back(instr);
  }
}

class CircuitECC {
 public:
  using GateList = absl::InlinedVector<Instr32, 4>;

  // The root bucket: the empty circuit with identity permutations.
  static CircuitECC root(uint8_t nqubits);
  // A bucket holding its first circuit.
  CircuitECC(uint32_t size, CircTriple first, std::span<const Instr32> front,
             std::span<const Instr32> back);

  uint32_t size() const { return size_; }
  std::span<const Instr32> front_gates() const { return {gates_.data(), nfront_}; }
  std::span<const Instr32> back_gates() const {
    return {gates_.data() + nfront_, gates_.size() - nfront_};
  }
  std::span<const CircTriple> circuits() const { return {circuits_.data(), circuits_.size()}; }

  // True when a gate of `front` is a front gate already, or a gate of
  // `back` a back gate already.
  bool shares_surface(std::span<const Instr32> front, std::span<const Instr32> back) const;
  // Appends a circuit and its new surface gates.
  void record(CircTriple triple, std::span<const Instr32> front, std::span<const Instr32> back);
  // Appends a triple without surface gates (rebuilt maps keep none).
  void push_triple(CircTriple triple) { circuits_.push_back(triple); }

  // The simplified pairs, sorted (length, instructions, permutation) and
  // relabelled so that the representative uses the lowest qubits.
  std::vector<CircPair> simplify(const CellArena& arena) const;

  // "CircuitECC {t1, t2}" with each triple as "instrs perm".
  std::string to_text(const CellArena& arena) const;
  // "CircuitECC { size: .., front_gates: {..}, back_gates: {..}, circuits: [..] }".
  std::string debug_text(const CellArena& arena) const;

 private:
  CircuitECC() = default;
  void add_gates(std::span<const Instr32> gates, bool front);

  uint32_t size_ = 0;
  uint32_t nfront_ = 0;  // gates_[0, nfront_) are front gates, the rest back gates
  GateList gates_;
  absl::InlinedVector<CircTriple, 1> circuits_;
};

// The pair order inside a class: length, then instructions, then the
// permutation's raw value.
bool pair_less(const CircPair& a, const CircPair& b);

// Text of an instruction list joined by `sep`.
std::string instrs_text(std::span<const Instr32> instrs, std::string_view sep);

}  // namespace trevalon

#endif  // TREVALON_SEARCH_CIRCUIT_ECC_H_
