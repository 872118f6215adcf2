// ECC and ECCs: the finished classes of a search.
//
// An ECC is a list of (instruction list, trailing permutation) pairs that
// are equal up to global phase; the first pair is the representative. ECCs
// is the list of classes for one qubit count. Both are plain values.
//
// Classes loaded from files are not checked when read; every operation that
// interprets a class (swap materialisation, checks, identities, text)
// validates it first and aborts cleanly on empty classes, permutations that
// are not permutations, and qubits beyond the class's width.
#ifndef TREVALON_SEARCH_ECC_H_
#define TREVALON_SEARCH_ECC_H_

#include <compare>
#include <cstdint>
#include <string>
#include <tuple>
#include <vector>

#include "identity/circuit.h"
#include "identity/idcircuit.h"
#include "search/circuit_ecc.h"

namespace trevalon {

class ECC {
 public:
  ECC() = default;
  explicit ECC(std::vector<CircPair> pairs) : pairs_(std::move(pairs)) {}

  const std::vector<CircPair>& pairs() const { return pairs_; }
  std::size_t size() const { return pairs_.size(); }

  // Aborts unless the class is non-empty, every permutation is valid and of
  // length at most `nqubits`, and every qubit is below its pair's length.
  void validate(uint32_t nqubits) const;
  // Every circuit with its permutation relative to the representative's
  // turned into swap instructions; the representative gets none.
  std::vector<std::vector<Instr32>> circuits() const;
  // Every pair (c, p) becomes (c, r^-1 * p) for the representative's r.
  ECC simplify_permute() &&;
  // "ECC {\n\t<circuit>,\n...}".
  std::string to_text() const;

  friend bool operator==(const ECC&, const ECC&) = default;
  friend auto operator<=>(const ECC& a, const ECC& b) { return a.pairs_ <=> b.pairs_; }

 private:
  std::vector<CircPair> pairs_;
};

using IdentityWitness = std::tuple<IdentityCirc, Circ, Circ>;

class ECCs {
 public:
  ECCs() = default;
  ECCs(std::vector<ECC> eccs, uint32_t nqubits) : eccs_(std::move(eccs)), nqubits_(nqubits) {}

  const std::vector<ECC>& eccs() const { return eccs_; }
  uint32_t nqubits() const { return nqubits_; }
  std::size_t size() const { return eccs_.size(); }

  // The classes whose circuits do not all give one state hash on a fresh
  // random state.
  std::vector<ECC> check() const;
  // The classes with more than one circuit.
  ECCs filter_single() const;
  // For each class and each circuit after the first: (canonical identity of
  // first^-1 + circuit, first^-1, circuit), sorted.
  std::vector<IdentityWitness> to_identity_circuits() const;
  // The classes with at least two circuits, joined by " & ".
  std::string to_text() const;

  friend bool operator==(const ECCs&, const ECCs&) = default;

 private:
  std::vector<ECC> eccs_;
  uint32_t nqubits_ = 0;
};

}  // namespace trevalon

#endif  // TREVALON_SEARCH_ECC_H_
