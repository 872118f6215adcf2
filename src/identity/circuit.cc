#include "identity/circuit.h"

#include <algorithm>
#include <array>
#include <span>

#include "circ/gate.h"
#include "identity/idcircuit.h"
#include "utils/abort.h"
#include "utils/fmt_join.h"

namespace trevalon {
namespace {

// What an untrusted instruction must satisfy beyond the circuit invariant.
void check_record_instr(const Instr32& instr) {
  const QArgs16& a = instr.qargs();
  if (a.slot(0) == QArgs16::kUnused && a.slot(1) != QArgs16::kUnused) {
    abort_with("Unused qubit slots must come last");
  }
  if (a.len() != instr.gate().nqargs()) abort_with("Number of qubit arguments does not match gate arity");
  if (a.len() == 2 && a.slot(0) == a.slot(1)) abort_with("Qubit arguments must be unique");
}

[[noreturn]] void slice_abort(uint64_t end, std::size_t len) {
  abort_with("range end index " + std::to_string(end) + " out of range for slice of length " +
             std::to_string(len));
}

// Insertion sort that never moves an instruction past one it shares a qubit
// with. Each instruction stops at the first neighbour that is smaller or
// shares a qubit, so this orders neighbours without being a normal form of
// every commutation; the canonical forms rely on exactly this order.
void reorder_in_place(std::span<Instr32> v) {
  for (std::size_t i = 1; i < v.size(); ++i) {
    for (std::size_t j = i; j >= 1 && v[j].disjoint(v[j - 1]) && v[j] < v[j - 1]; --j) {
      std::swap(v[j], v[j - 1]);
    }
  }
}

// `perm` cut to the used qubits: the largest qubit of `v` and the largest
// moved position. Every position past both is a fixed point, so the cut is
// again a permutation.
Permut32 compact_perm(std::span<const Instr32> v, Permut32 perm) {
  int largest = -1;
  for (const Instr32& in : v) {
    for (uint8_t q : in.qargs().used()) largest = q > largest ? q : largest;
  }
  for (uint8_t i = 0; i < perm.len(); ++i) {
    if (perm.get(i) != i) largest = i > largest ? i : largest;
  }
  if (largest >= 0 && largest + 1 < perm.len()) return perm.shrink(static_cast<uint8_t>(largest + 1));
  return perm;
}

// o * s * o^-1 for permutations of equal length, in one pass:
// (o s o^-1)[o[i]] = o[s[i]].
Permut32 conjugate(Permut32 o, Permut32 s) {
  Permut32 r;
  for (uint8_t i = 0; i < s.len(); ++i) r.set(o.get(i), o.get(s.get(i)));
  r.set_len(s.len());
  return r;
}

// The circuit order for two instruction lists of equal length.
std::strong_ordering compare_same_len(std::span<const Instr32> a, Permut32 pa,
                                      std::span<const Instr32> b, Permut32 pb) {
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (auto c = a[i] <=> b[i]; c != 0) return c;
  }
  return pa <=> pb;
}

// The canonical-form searches below run once per relabelling (and rotation):
// each candidate is built in a scratch buffer, sorted and compacted in place
// and compared against the best so far; an improvement swaps the buffers.
// Nothing is allocated inside the loops.

// Smallest (candidate, relabelling) pair of a compacted, swap-free,
// non-empty circuit.
std::pair<Circ, Permut32> search_relabellings(const Circ& c) {
  const std::vector<Instr32>& src = c.instrs();
  std::vector<Instr32> cand(src.size()), best(src.size());
  Permut32 best_perm, best_p;
  bool have = false;
  for (Permut32 p : Permut32::all(c.nqubits())) {
    const auto to = qubit_table(p);
    for (std::size_t i = 0; i < src.size(); ++i) cand[i] = relabel(src[i], to);
    reorder_in_place(cand);
    const Permut32 perm = compact_perm(cand, conjugate(p, c.perm()));
    const auto order = have ? compare_same_len(cand, perm, best, best_perm) : std::strong_ordering::less;
    if (order < 0 || (order == 0 && p < best_p)) {
      cand.swap(best);
      best_perm = perm;
      best_p = p;
      have = true;
    }
  }
  return {Circ::create(std::move(best), best_perm), best_p};
}

// Smallest rotated candidate of a compacted, swap-free, non-empty circuit:
// every relabelling, rotated to start at each instruction on qubit 0.
// A circuit with no instruction on any qubit has no candidate and is its
// own canonical form.
Circ search_rotations(const Circ& c) {
  const std::vector<Instr32>& src = c.instrs();
  const std::size_t m = src.size();
  std::vector<Instr32> d(m), cand(m), best(m);
  Permut32 best_perm;
  bool have = false;
  for (Permut32 p : Permut32::all(c.nqubits())) {
    const auto to = qubit_table(p);
    for (std::size_t i = 0; i < m; ++i) d[i] = relabel(src[i], to);
    const Permut32 perm_d = conjugate(p, c.perm());
    const auto back = qubit_table(perm_d.inv());
    for (std::size_t i = 0; i < m; ++i) {
      if (!d[i].qargs().contains(0)) continue;
      // d rotated left by i: the first i instructions return through the
      // permutation's inverse.
      std::copy(d.begin() + static_cast<std::ptrdiff_t>(i), d.end(), cand.begin());
      for (std::size_t j = 0; j < i; ++j) cand[m - i + j] = relabel(d[j], back);
      reorder_in_place(cand);
      const Permut32 perm = compact_perm(cand, perm_d);
      if (!have || compare_same_len(cand, perm, best, best_perm) < 0) {
        cand.swap(best);
        best_perm = perm;
        have = true;
      }
    }
  }
  if (!have) return c;
  return Circ::create(std::move(best), best_perm);
}

}  // namespace

Circ Circ::create(std::vector<Instr32> instrs, Permut32 perm) {
  if (!perm.is_valid()) abort_with("Permutation word is not a permutation");
  for (const Instr32& in : instrs) {
    for (uint8_t q : in.qargs().used()) {
      if (q >= perm.len()) abort_with("Permutation length must be greater than the max qubit index.");
    }
  }
  return Circ(std::move(instrs), perm);
}

Circ Circ::new_no_perm(std::vector<Instr32> instrs) {
  int largest = -1;
  for (const Instr32& in : instrs) {
    for (uint8_t q : in.qargs().used()) largest = q > largest ? q : largest;
  }
  // A used slot is at most 254 (255 marks an unused one), so this fits;
  // identity() refuses lengths above 8.
  const Permut32 perm = Permut32::identity(static_cast<uint8_t>(largest + 1));
  return Circ(std::move(instrs), perm);
}

Circ Circ::from_record(std::vector<Instr32> instrs, Permut32 perm) {
  for (const Instr32& in : instrs) check_record_instr(in);
  return create(std::move(instrs), perm);
}

const Instr32& Circ::operator[](std::size_t i) const {
  check_index(i, instrs_.size());
  return instrs_[i];
}

const Instr32& Circ::at_cyclic(int64_t idx) const {
  if (instrs_.empty()) abort_with("attempt to calculate the remainder with a divisor of zero");
  const auto n = static_cast<int64_t>(instrs_.size());
  int64_t r = idx % n;
  if (r < 0) r += n;
  return instrs_[static_cast<std::size_t>(r)];
}

std::vector<uint8_t> Circ::affected_qubits() const {
  std::vector<uint8_t> out;
  for (const Instr32& in : instrs_) {
    for (uint8_t q : in.qargs().used()) out.push_back(q);
  }
  for (uint8_t i = 0; i < perm_.len(); ++i) {
    if (perm_.get(i) != i) out.push_back(i);
  }
  return out;
}

Circ Circ::compact_qubits() && {
  perm_ = compact_perm(instrs_, perm_);
  return std::move(*this);
}

Circ Circ::reorder_instrs() && {
  reorder_in_place(instrs_);
  return std::move(*this);
}

Circ Circ::permut(Permut32 p) const {
  const auto [s, o] = Permut32::coordinate_permute(perm_, p);
  const auto to = qubit_table(o);
  std::vector<Instr32> out;
  out.reserve(instrs_.size());
  for (const Instr32& in : instrs_) out.push_back(relabel(in, to));
  return create(std::move(out), o * s * o.inv());
}

Circ Circ::rotate(int64_t n) const {
  const std::size_t len = instrs_.size();
  std::vector<Instr32> out;
  out.reserve(len);
  if (n >= 0) {
    const auto k = static_cast<uint64_t>(n);
    if (k > len) slice_abort(k, len);
    const auto back = qubit_table(perm_.inv());
    out.insert(out.end(), instrs_.begin() + static_cast<std::ptrdiff_t>(k), instrs_.end());
    for (std::size_t i = 0; i < k; ++i) out.push_back(relabel(instrs_[i], back));
  } else {
    const uint64_t k = 0 - static_cast<uint64_t>(n);
    if (k > len) slice_abort(k, len);
    const auto fwd = qubit_table(perm_);
    for (std::size_t i = len - k; i < len; ++i) out.push_back(relabel(instrs_[i], fwd));
    out.insert(out.end(), instrs_.begin(), instrs_.begin() + static_cast<std::ptrdiff_t>(len - k));
  }
  return create(std::move(out), perm_);
}

Circ Circ::remove_swaps() const {
  const uint8_t n = perm_.len();
  std::array<uint8_t, 8> mapping{};
  for (uint8_t q = 0; q < 8; ++q) mapping[q] = q;
  const Gate16 swap = gates::SWAP();
  std::vector<Instr32> out;
  out.reserve(instrs_.size());
  for (const Instr32& in : instrs_) {
    if (in.gate() == swap) {
      if (in.qargs().len() != 2) abort_with("Index out of bounds");
      const uint8_t a = in.qargs().slot(0), b = in.qargs().slot(1);
      check_index(a, n);
      check_index(b, n);
      std::swap(mapping[a], mapping[b]);
    } else {
      out.push_back(relabel(in, mapping));
    }
  }
  const Permut32 m = Permut32::from_iter_unchecked(std::span<const uint8_t>(mapping.data(), n));
  return create(std::move(out), perm_ * m.inv());
}

Circ Circ::inverse() const {
  const auto fwd = qubit_table(perm_);
  std::vector<Instr32> out;
  out.reserve(instrs_.size());
  for (auto it = instrs_.rbegin(); it != instrs_.rend(); ++it) out.push_back(relabel(it->adjoint(), fwd));
  return create(std::move(out), perm_.inv());
}

std::vector<Instr32> Circ::instrs_with_swaps() const {
  std::vector<Instr32> out = instrs_;
  const Gate16 swap = gates::SWAP();
  for (auto [a, b] : perm_.generate_swaps()) out.emplace_back(swap, QArgs16(a, b));
  return out;
}

Circ operator+(const Circ& a, const Circ& b) {
  const auto [p1, p2] = Permut32::coordinate_permute(a.perm_, b.perm_);
  const auto back = qubit_table(p1.inv());
  std::vector<Instr32> out;
  out.reserve(a.instrs_.size() + b.instrs_.size());
  out.insert(out.end(), a.instrs_.begin(), a.instrs_.end());
  for (const Instr32& in : b.instrs_) out.push_back(relabel(in, back));
  return Circ::create(std::move(out), p2 * p1);
}

Circ Circ::representative() const {
  return representative_with_perm().first;
}

std::pair<Circ, Permut32> Circ::representative_with_perm() const {
  Circ c = Circ(*this).compact_qubits().remove_swaps();
  if (c.is_empty()) return {std::move(c), Permut32()};
  return search_relabellings(c);
}

IdentityCirc Circ::rotate_representative() const {
  Circ c = Circ(*this).compact_qubits().remove_swaps();
  if (c.is_empty()) return IdentityCirc::unchecked(std::move(c));
  return IdentityCirc::unchecked(search_rotations(c));
}

std::string Circ::to_text() const {
  std::string out = "Circuit { ";
  for (const Instr32& in : instrs_) {
    append_text(out, in);
    out += ' ';
  }
  append_text(out, perm_);
  out += " }";
  return out;
}

std::string Circ::debug_text() const {
  std::string out = "Circ { instrs: [";
  fjoin(out, instrs_, ", ");
  out += "], perm: ";
  append_text(out, perm_);
  out += " }";
  return out;
}

void Circ::hash_into(SipHasher13& h) const {
  h.write_u32(static_cast<uint32_t>(instrs_.size()));
  for (const Instr32& in : instrs_) in.hash_into(h);
  h.write_u32(perm_.raw());
}

uint64_t Circ::hash_value() const {
  SipHasher13 h;
  hash_into(h);
  return h.finish();
}

std::strong_ordering operator<=>(const Circ& a, const Circ& b) {
  if (auto c = a.instrs_.size() <=> b.instrs_.size(); c != 0) return c;
  for (std::size_t i = 0; i < a.instrs_.size(); ++i) {
    if (auto c = a.instrs_[i] <=> b.instrs_[i]; c != 0) return c;
  }
  return a.perm_ <=> b.perm_;
}

}  // namespace trevalon
