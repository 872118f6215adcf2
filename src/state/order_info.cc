#include "state/order_info.h"

#include <mutex>
#include <vector>

#include "state/quantise.h"
#include "state/state_vec.h"

namespace trevalon {
namespace {

constexpr std::size_t kMasks = 128;

struct TieEntry {
  std::once_flag once;
  std::vector<Permut32> perms;
};

// EQMASK_TO_PERMS: one lazily filled list per mask, alive until exit.
TieEntry* eqmask_table() {
  static TieEntry* table = new TieEntry[kMasks];
  return table;
}

std::vector<Permut32> build_entry(uint8_t mask) {
  // class_of[i]: index of the class holding position i.
  uint8_t class_of[8];
  class_of[0] = 0;
  for (uint8_t k = 1; k < 8; ++k) {
    class_of[k] = static_cast<uint8_t>(class_of[k - 1] + ((mask >> (k - 1)) & 1 ? 0 : 1));
  }
  std::vector<Permut32> out;
  for (Permut32 p : Permut32::all(8)) {
    bool keeps = true;
    for (uint8_t i = 0; i < 8 && keeps; ++i) keeps = class_of[p.get(i)] == class_of[i];
    if (keeps) out.push_back(p);
  }
  return out;
}

}  // namespace

std::span<const Permut32> eqmask_to_perms(uint8_t mask) {
  check_index(mask, kMasks);
  TieEntry& e = eqmask_table()[mask];
  std::call_once(e.once, [&] { e.perms = build_entry(mask); });
  return e.perms;
}

OrderInfo::OrderInfo(std::size_t size) {
  for (std::size_t i = 0; i < size; ++i) permut_.push_back(i);
  eq_classes_.push_back(size);
}

std::pair<std::size_t, std::size_t> OrderInfo::get_eqclass_range(std::size_t idx) const {
  check_index(idx, eq_classes_.size());
  return {idx == 0 ? 0 : eq_classes_[idx - 1], eq_classes_[idx]};
}

std::span<const std::size_t> OrderInfo::get_eqclass(std::size_t idx) const {
  const auto [start, end] = get_eqclass_range(idx);
  return std::span<const std::size_t>(permut_.data() + start, end - start);
}

bool OrderInfo::has_eq() const { return first_eqclass_after(0).has_value(); }

std::optional<std::size_t> OrderInfo::first_eqclass_after(std::size_t idx) const {
  for (std::size_t i = idx; i < eq_classes_.size(); ++i) {
    const auto [start, end] = get_eqclass_range(i);
    if (end - start > 1) return i;
  }
  return std::nullopt;
}

std::pair<Permut32, uint8_t> OrderInfo::as_bits() const {
  const std::size_t n = size();
  if (n > Permut32::kMaxLen) abort_with("Permutation length must be less than or equal to 8");
  if (n <= 1) return {Permut32::identity(static_cast<uint8_t>(n)), 0};
  Permut32 p;
  for (std::size_t i = 0; i < n; ++i) p.set(static_cast<uint8_t>(i), static_cast<uint8_t>(permut_[i]));
  p.set_len(static_cast<uint8_t>(n));
  uint8_t bits = static_cast<uint8_t>((1u << n) - 2);
  for (std::size_t e : eq_classes_) bits &= static_cast<uint8_t>(~(1u << (e % 8)));
  return {p, static_cast<uint8_t>(bits >> 1)};
}

TiePerms OrderInfo::as_perms() const {
  const auto [base, mask] = as_bits();
  return TiePerms(base, eqmask_to_perms(mask));
}

namespace {

// Lexicographic key order, spelled out: the first component nearly always
// decides.
inline bool key_less(const OrderInfo::Key& a, const OrderInfo::Key& b) {
  if (a[0] != b[0]) return a[0] < b[0];
  if (a[1] != b[1]) return a[1] < b[1];
  if (a[2] != b[2]) return a[2] < b[2];
  return a[3] < b[3];
}

inline bool key_eq(const OrderInfo::Key& a, const OrderInfo::Key& b) {
  return a[0] == b[0] && a[1] == b[1] && a[2] == b[2] && a[3] == b[3];
}

}  // namespace

std::pair<Permut32, uint8_t> order_bits(const OrderInfo::Key* keys, uint8_t n) {
  if (n > Permut32::kMaxLen) abort_with("Permutation length must be less than or equal to 8");
  if (n <= 1) return {Permut32::identity(n), 0};
  uint8_t order[8];
  for (uint8_t i = 0; i < n; ++i) {
    uint8_t j = i;
    while (j > 0 && key_less(keys[i], keys[order[j - 1]])) {
      order[j] = order[j - 1];
      --j;
    }
    order[j] = i;
  }
  Permut32 p;
  uint8_t mask = 0;
  for (uint8_t i = 0; i < n; ++i) {
    p.set(i, order[i]);
    if (i + 1 < n && key_eq(keys[order[i]], keys[order[i + 1]])) mask |= static_cast<uint8_t>(1u << i);
  }
  p.set_len(n);
  return {p, mask};
}

OrderInfo StateVec::get_orderinfo() const {
  const uint32_t n = nqubits();
  OrderInfo oi(n);
  const double* r = re();
  const double* i = im();
  const std::size_t last = len() - 1;
  oi.sort_eqclass_by_key(0, [&](std::size_t q) {
    const std::size_t a = std::size_t{1} << q;
    const std::size_t b = last & ~a;
    return OrderInfo::Key{quantise(r[a]), quantise(i[a]), quantise(r[b]), quantise(i[b])};
  });
  return oi;
}

Permut32 StateVec::get_permutation() const { return get_orderinfo().as_bits().first; }

}  // namespace trevalon
