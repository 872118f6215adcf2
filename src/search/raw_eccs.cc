#include "search/raw_eccs.h"

#include <algorithm>

#include "search/ecc.h"
#include "utils/abort.h"

namespace trevalon {
SurfaceGates SurfaceGates::of(std::span<const Instr32> instrs, Permut32 front_perm, Permut32 back_perm) {
  SurfaceGates out;
  circuit_get_surface_gates(instrs.begin(), instrs.end(), out.gates);
  out.nfront = static_cast<uint32_t>(out.gates.size());
  circuit_get_surface_gates(instrs.rbegin(), instrs.rend(), out.gates);
  const Permut32 front_inv = front_perm.inv();
  for (uint32_t i = 0; i < out.gates.size(); ++i) {
    out.gates[i] = out.gates[i].apply_permutation(i < out.nfront ? front_inv : back_perm);
  }
  return out;
}

RawECCs::RawECCs(const Evaluator& evaluator)
    : nqubits_(evaluator.nqubits()), arena_(std::make_shared<CellArena>()) {
  const uint64_t key = evaluator.initial_key();
  put(key, CircuitECC::root(static_cast<uint8_t>(nqubits_)));
}

std::optional<AliasList> RawECCs::add_entry(uint64_t key, Permut32 front_perm, Permut32 back_perm,
                                            AliasList circ, std::span<const Instr32> instr_vec) {
  return record(key, front_perm, back_perm, circ, instr_vec.back(), instr_vec.size(),
                SurfaceGates::of(instr_vec, front_perm, back_perm));
}

std::optional<AliasList> RawECCs::record(uint64_t key, Permut32 front_perm, Permut32 back_perm,
                                         AliasList circ, Instr32 last, std::size_t size,
                                         const SurfaceGates& surface) {
  auto it = index_.find(key);
  if (it == index_.end()) {
    const AliasList cell = arena_->cons(last, circ);
    buckets_.push_back({key, CircuitECC(static_cast<uint32_t>(size), {front_perm, cell, back_perm},
                                        surface.front(), surface.back())});
    index_.emplace(key, static_cast<uint32_t>(buckets_.size() - 1));
    return cell;
  }
  CircuitECC& bucket = buckets_[it->second].ecc;
  if (bucket.shares_surface(surface.front(), surface.back())) return std::nullopt;
  bucket.record({front_perm, arena_->cons(last, circ), back_perm}, surface.front(), surface.back());
  return std::nullopt;
}

const CircuitECC* RawECCs::find(uint64_t key) const {
  auto it = index_.find(key);
  return it == index_.end() ? nullptr : &buckets_[it->second].ecc;
}

std::optional<CircuitECC> RawECCs::put(uint64_t key, CircuitECC ecc) {
  auto [it, inserted] = index_.emplace(key, static_cast<uint32_t>(buckets_.size()));
  if (inserted) {
    buckets_.push_back({key, std::move(ecc)});
    return std::nullopt;
  }
  std::optional<CircuitECC> old(std::move(buckets_[it->second].ecc));
  buckets_[it->second].ecc = std::move(ecc);
  return old;
}

ECCs RawECCs::simplify() const {
  std::vector<ECC> classes;
  classes.reserve(buckets_.size());
  for (const Bucket& b : buckets_) classes.push_back(ECC(b.ecc.simplify(*arena_)));
  std::stable_sort(classes.begin(), classes.end());
  return ECCs(std::move(classes), nqubits_);
}

}  // namespace trevalon
