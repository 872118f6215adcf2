#include "search/ecc.h"

#include <algorithm>

#include "state/gates.h"
#include "state/rng.h"
#include "state/state_vec.h"
#include "utils/abort.h"
#include "utils/fmt_join.h"

namespace trevalon {

void ECC::validate(uint32_t nqubits) const {
  if (pairs_.empty()) abort_with("ECC has no circuits");
  for (const CircPair& p : pairs_) {
    if (!p.second.is_valid() || p.second.len() > nqubits) {
      abort_with("ECC permutation " + std::to_string(p.second.raw()) + " is not a permutation of at most " +
                 std::to_string(nqubits) + " qubits");
    }
    for (const Instr32& i : p.first) {
      for (uint8_t q : i.qargs().used()) {
        if (q >= p.second.len()) abort_with("ECC instruction " + i.to_text() + " acts beyond its circuit's qubits");
      }
    }
  }
}

std::vector<std::vector<Instr32>> ECC::circuits() const {
  validate(Permut32::kMaxLen);
  const Permut32 u = pairs_.front().second.inv();
  std::vector<std::vector<Instr32>> out;
  out.reserve(pairs_.size());
  for (const CircPair& p : pairs_) {
    std::vector<Instr32> c = p.first;
    for (auto [a, b] : (u * p.second).generate_swaps()) c.emplace_back(gates::SWAP(), QArgs16(a, b));
    out.push_back(std::move(c));
  }
  return out;
}

ECC ECC::simplify_permute() && {
  validate(Permut32::kMaxLen);
  const Permut32 r_inv = pairs_.front().second.inv();
  for (CircPair& p : pairs_) p.second = r_inv * p.second;
  return std::move(*this);
}

std::string ECC::to_text() const {
  std::string out = "ECC {\n";
  for (const auto& c : circuits()) {
    out += '\t';
    fjoin(out, c, " ");
    out += ",\n";
  }
  out += '}';
  return out;
}

std::vector<ECC> ECCs::check() const {
  // Loaded collections are unchecked: refuse before sizing a state by them.
  if (nqubits_ > Permut32::kMaxLen) {
    abort_with("ECCs of " + std::to_string(nqubits_) + " qubits: at most 8 are supported");
  }
  for (const ECC& ecc : eccs_) ecc.validate(nqubits_);
  Rng64 rng = Rng64::from_entropy();
  const StateVec start = StateVec::from_random(rng, nqubits_);
  std::vector<ECC> failing;
  StateVec s;
  for (const ECC& ecc : eccs_) {
    std::optional<uint64_t> first;
    bool pass = true;
    for (const auto& c : ecc.circuits()) {
      s.copy_from(start);
      for (const Instr32& i : c) apply(s, i);
      s.normalize_arg();
      const uint64_t h = s.hash_value();
      if (!first) {
        first = h;
      } else if (h != *first) {
        pass = false;
      }
    }
    if (!pass) failing.push_back(ecc);
  }
  return failing;
}

ECCs ECCs::filter_single() const {
  std::vector<ECC> kept;
  for (const ECC& e : eccs_) {
    if (e.size() > 1) kept.push_back(e);
  }
  return ECCs(std::move(kept), nqubits_);
}

std::vector<IdentityWitness> ECCs::to_identity_circuits() const {
  std::vector<IdentityWitness> out;
  for (const ECC& ecc : eccs_) {
    ecc.validate(nqubits_);
    const auto& pairs = ecc.pairs();
    const Circ initial = Circ::create(pairs.front().first, pairs.front().second).inverse();
    for (std::size_t k = 1; k < pairs.size(); ++k) {
      Circ circ = Circ::create(pairs[k].first, pairs[k].second);
      IdentityCirc identity = (initial + circ).rotate_representative();
      out.emplace_back(std::move(identity), initial, std::move(circ));
    }
  }
  std::stable_sort(out.begin(), out.end());
  return out;
}

std::string ECCs::to_text() const {
  std::string out;
  bool first = true;
  for (const ECC& e : eccs_) {
    if (e.size() < 2) continue;
    if (!first) out += " & ";
    first = false;
    out += e.to_text();
  }
  return out;
}

}  // namespace trevalon
