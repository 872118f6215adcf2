#include "search/raw_eccs.h"

#include <algorithm>

#include "search/ecc.h"
#include "utils/abort.h"

namespace trevalon {
namespace {

using SurfaceList = absl::InlinedVector<Instr32, 8>;

}  // namespace

RawECCs::RawECCs(const Evaluator& evaluator)
    : nqubits_(evaluator.nqubits()), arena_(std::make_shared<CellArena>()) {
  const uint64_t key = evaluator.initial_key();
  put(key, CircuitECC::root(static_cast<uint8_t>(nqubits_)));
}

std::optional<AliasList> RawECCs::add_entry(uint64_t key, Permut32 front_perm, Permut32 back_perm,
                                            AliasList circ, std::span<const Instr32> instr_vec) {
  SurfaceList front, back;
  circuit_get_surface_gates(instr_vec.begin(), instr_vec.end(), front);
  circuit_get_surface_gates(instr_vec.rbegin(), instr_vec.rend(), back);
  const Permut32 front_inv = front_perm.inv();
  for (Instr32& g : front) g = g.apply_permutation(front_inv);
  for (Instr32& g : back) g = g.apply_permutation(back_perm);

  const Instr32 last = instr_vec.back();
  auto it = index_.find(key);
  if (it == index_.end()) {
    const AliasList cell = arena_->cons(last, circ);
    buckets_.push_back({key, CircuitECC(static_cast<uint32_t>(instr_vec.size()),
                                        {front_perm, cell, back_perm}, front, back)});
    index_.emplace(key, static_cast<uint32_t>(buckets_.size() - 1));
    return cell;
  }
  CircuitECC& bucket = buckets_[it->second].ecc;
  if (bucket.shares_surface(front, back)) return std::nullopt;
  bucket.record({front_perm, arena_->cons(last, circ), back_perm}, front, back);
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
