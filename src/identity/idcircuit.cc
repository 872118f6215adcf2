#include "identity/idcircuit.h"

#include <array>

#include "state/gates.h"
#include "state/rng.h"
#include "state/state_vec.h"
#include "utils/abort.h"
#include "utils/fmt_join.h"

namespace trevalon {

GateSubsets build_gate_subsets(uint8_t n);

bool WireNeighbours::complete() const {
  return std::none_of(begin(), end(), [](std::size_t v) { return v == kUnset; });
}

std::string WireNeighbours::debug_text() const {
  std::string out = "[";
  fjoin(out, *this, ", ");
  out += ']';
  return out;
}

IdentityCirc IdentityCirc::create(std::vector<Instr32> instrs, Permut32 perm) {
  return IdentityCirc(Circ::create(std::move(instrs), perm));
}

IdentityCirc IdentityCirc::unchecked(Circ c) {
  IdentityCirc id(std::move(c));
  id.check();
  return id;
}

IdentityCirc IdentityCirc::from_record(std::vector<Instr32> instrs, Permut32 perm) {
  return IdentityCirc(Circ::from_record(std::move(instrs), perm));
}

bool IdentityCirc::check() const {
  const std::vector<Instr32>& instrs = circ_.instrs();
  Rng64 rng = Rng64::from_entropy();
  const StateVec psi = StateVec::from_random(rng, nqubits());
  // Half of the circuit on each side keeps both simulations short: the
  // circuit is an identity exactly when the first half equals the inverse
  // of the rest followed by the permutation.
  const std::size_t n = instrs.size(), m = n / 2;
  StateVec a = psi;
  for (std::size_t i = 0; i < m; ++i) apply(a, instrs[i]);
  a.normalize_arg();
  StateVec b = psi;
  b.apply_permutation(circ_.perm().inv());
  for (std::size_t j = n; j-- > m;) apply(b, instrs[j].qargs().used(), instrs[j].gate().adjoint());
  b.normalize_arg();
  if (!a.loose_eq(b)) {
    abort_with("IdentityCirc: circuit is not identity " + a.to_text() + " " + b.to_text() + " " + to_text());
  }
  return true;
}

WireNeighbours IdentityCirc::qargs_forward(std::size_t gate_id) const {
  const std::size_t n = len();
  const Instr32& g = circ_[gate_id];
  WireNeighbours out(g.qargs().len());
  const Circ rotated = circ_.rotate(static_cast<int64_t>(gate_id + 1));
  const std::vector<Instr32>& r = rotated.instrs();
  check_that(rotated.len() == n, "rotated_circ.len() == self.0.len()");
  check_that(r[n - 1].gate() == g.gate(), "rotated_circ.instrs[self.0.len() - 1].0 == self.0[gate_id].0");
  check_that(r[0].gate() == circ_[(gate_id + 1) % n].gate(),
             "rotated_circ.instrs[0].0 == self.0[(gate_id + 1) % self.0.len()].0");
  for (std::size_t i = 0; i < n && !out.complete(); ++i) {
    for (uint8_t q : r[i].qargs().used()) {
      const auto p = g.position_of_qubit(q);
      if (p && out[*p] == WireNeighbours::kUnset) out[*p] = (i + gate_id + 1) % n;
    }
  }
  if (!out.complete()) abort_with(to_text() + " " + out.debug_text());
  return out;
}

WireNeighbours IdentityCirc::qargs_backward(std::size_t gate_id) const {
  const std::size_t n = len();
  const Instr32& g = circ_[gate_id];
  WireNeighbours out(g.qargs().len());
  const Circ rotated = circ_.rotate(static_cast<int64_t>(gate_id) - static_cast<int64_t>(n));
  const std::vector<Instr32>& r = rotated.instrs();
  check_that(rotated.len() == n, "rotated_circ.len() == self.0.len()");
  check_that(r[0].gate() == g.gate(), "rotated_circ.instrs[0].0 == self.0[gate_id].0");
  check_that(r[n - 1].gate() == circ_[(gate_id + n - 1) % n].gate(),
             "rotated_circ.instrs[self.0.len() - 1].0 ==\n    self.0[(gate_id + self.0.len() - 1) % self.0.len()].0");
  for (std::size_t j = n; j-- > 0 && !out.complete();) {
    for (uint8_t q : r[j].qargs().used()) {
      const auto p = g.position_of_qubit(q);
      if (p && out[*p] == WireNeighbours::kUnset) out[*p] = (gate_id + j) % n;
    }
  }
  if (!out.complete()) {
    abort_with("a " + to_text() + " " + rotated.debug_text() + " " + std::to_string(gate_id));
  }
  return out;
}

std::string IdentityCirc::to_text() const {
  std::string out = "Identity { ";
  for (const Instr32& in : circ_.instrs()) {
    append_text(out, in);
    out += ' ';
  }
  append_text(out, circ_.perm());
  out += " }";
  return out;
}

std::string IdentityCirc::debug_text() const { return "IdentityCirc(" + circ_.debug_text() + ")"; }

std::span<const uint8_t> GateSubsets::operator[](std::size_t i) const {
  check_index(i, size());
  return std::span<const uint8_t>(items_).subspan(offsets_[i], offsets_[i + 1] - offsets_[i]);
}

GateSubsets build_gate_subsets(uint8_t n) {
  GateSubsets out;
  const unsigned kmax = n / 2 + 1u;
  for (unsigned k = 0; k <= kmax && k <= n; ++k) {
    // Lexicographic k-subsets: bump the rightmost index that can still grow
    // and reset the ones after it.
    std::array<uint8_t, kCombinationLengths> idx{};
    for (unsigned i = 0; i < k; ++i) idx[i] = static_cast<uint8_t>(i);
    while (true) {
      out.items_.insert(out.items_.end(), idx.begin(), idx.begin() + k);
      out.offsets_.push_back(static_cast<uint32_t>(out.items_.size()));
      int i = static_cast<int>(k) - 1;
      while (i >= 0 && idx[i] == static_cast<int>(n - k) + i) --i;
      if (i < 0) break;
      ++idx[i];
      for (unsigned j = i + 1; j < k; ++j) idx[j] = static_cast<uint8_t>(idx[j - 1] + 1);
    }
  }
  return out;
}

const GateSubsets& combinations(std::size_t n) {
  static const std::array<GateSubsets, kCombinationLengths> table = [] {
    std::array<GateSubsets, kCombinationLengths> t;
    for (uint8_t i = 0; i < kCombinationLengths; ++i) t[i] = build_gate_subsets(i);
    return t;
  }();
  check_index(n, table.size());
  return table[n];
}

}  // namespace trevalon
