// OrderInfo: a canonical order of a state's qubits with its ties, and the
// table of tie-breaking permutations (EQMASK_TO_PERMS).
//
// `permut` lists the qubits in canonical order; `eq_classes` holds the
// exclusive end positions of the equality classes, ascending, ending with
// the size (the single entry 0 for size 0). Qubits inside one class have
// equal keys, so any order among them is as canonical as any other.
//
// EQMASK_TO_PERMS covers all eight positions: entry `mask` (7 bits, bit i
// set when positions i and i+1 share a class) lists, in the order of
// Permut32::all(8), every permutation that maps each class onto itself.
// For a mask whose classes end before position L, those permutations fix
// L..7 and are exactly the first L! of the table, so cutting them to L
// entries gives the five-position lists for L <= 5 and complete lists up to
// eight qubits. Each entry is built once, on first use, thread-safely, and
// is read-only afterwards.
//
// OrderInfo values are small, short-lived and never shared; up to eight
// qubits they live without heap storage.
#ifndef TREVALON_STATE_ORDER_INFO_H_
#define TREVALON_STATE_ORDER_INFO_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <optional>
#include <span>
#include <utility>

#include "absl/container/inlined_vector.h"
#include "groups/permutation.h"
#include "utils/abort.h"

namespace trevalon {

// The tie-breaking permutations of one equality mask over eight positions.
// Aborts (index out of range) for a mask of 128 or more.
std::span<const Permut32> eqmask_to_perms(uint8_t mask);

// Yields base * p.shrink(len) for every table permutation p, in table order.
class TiePerms {
 public:
  TiePerms(Permut32 base, std::span<const Permut32> table)
      : base_(base), table_(table) {}

  class Iterator {
   public:
    using iterator_category = std::input_iterator_tag;
    using value_type = Permut32;
    using difference_type = std::ptrdiff_t;
    using pointer = void;
    using reference = Permut32;

    Iterator() = default;
    Iterator(Permut32 base, const Permut32* p) : base_(base), p_(p) {}
    Permut32 operator*() const { return base_ * p_->shrink(base_.len()); }
    Iterator& operator++() {
      ++p_;
      return *this;
    }
    Iterator operator++(int) {
      Iterator old = *this;
      ++p_;
      return old;
    }
    friend bool operator==(const Iterator& a, const Iterator& b) { return a.p_ == b.p_; }

   private:
    Permut32 base_;
    const Permut32* p_ = nullptr;
  };

  Permut32 base() const { return base_; }
  std::size_t size() const { return table_.size(); }
  Iterator begin() const { return {base_, table_.data()}; }
  Iterator end() const { return {base_, table_.data() + table_.size()}; }

 private:
  Permut32 base_;
  std::span<const Permut32> table_;
};

class OrderInfo {
 public:
  using List = absl::InlinedVector<std::size_t, 8>;
  // A qubit's sort key: the quantised parts of its two probe amplitudes.
  using Key = std::array<int64_t, 4>;

  // One class of `size` qubits in ascending order.
  explicit OrderInfo(std::size_t size);

  const List& permut() const { return permut_; }
  const List& eq_classes() const { return eq_classes_; }
  std::size_t size() const { return permut_.size(); }
  std::size_t n_eqclasses() const { return eq_classes_.size(); }

  // Position range [start, end) of class idx; aborts when idx is not a class.
  std::pair<std::size_t, std::size_t> get_eqclass_range(std::size_t idx) const;
  // The qubits of class idx, in their current order.
  std::span<const std::size_t> get_eqclass(std::size_t idx) const;
  // True when some class holds more than one qubit.
  bool has_eq() const;
  // Index of the first class with more than one qubit, at or after idx.
  std::optional<std::size_t> first_eqclass_after(std::size_t idx) const;
  std::optional<std::size_t> first_eqclass() const { return first_eqclass_after(0); }

  // Stable-sorts class idx by key(qubit) (any type with == and <) and splits
  // it where neighbouring keys differ. Aborts when idx is not a class.
  template <class KeyFn>
  void sort_eqclass_by_key(std::size_t idx, KeyFn&& key);

  // (canonical permutation, equality mask). Aborts for more than 8 qubits.
  std::pair<Permut32, uint8_t> as_bits() const;
  // Every canonical order the ties allow, the base order first.
  TiePerms as_perms() const;

 private:
  List permut_;
  List eq_classes_;
};

// as_bits() of the order that sorts qubits 0..n-1 (n <= 8) by keys[q],
// without building the OrderInfo: stable ascending order, and mask bit i
// set when the keys at positions i and i+1 are equal.
std::pair<Permut32, uint8_t> order_bits(const OrderInfo::Key* keys, uint8_t n);

template <class KeyFn>
void OrderInfo::sort_eqclass_by_key(std::size_t idx, KeyFn&& key) {
  const auto [start, end] = get_eqclass_range(idx);
  // Classes hold at most a handful of qubits: insertion sort is stable,
  // allocation-free and evaluates each key once per element.
  using K = std::decay_t<decltype(key(std::size_t{0}))>;
  absl::InlinedVector<K, 8> keys;
  for (std::size_t i = start; i < end; ++i) keys.push_back(key(permut_[i]));
  for (std::size_t i = 1; i < keys.size(); ++i) {
    K k = keys[i];
    const std::size_t q = permut_[start + i];
    std::size_t j = i;
    while (j > 0 && k < keys[j - 1]) {
      keys[j] = keys[j - 1];
      permut_[start + j] = permut_[start + j - 1];
      --j;
    }
    keys[j] = k;
    permut_[start + j] = q;
  }
  for (std::size_t i = 0; i + 1 < keys.size(); ++i) {
    if (!(keys[i] == keys[i + 1])) {
      eq_classes_.insert(eq_classes_.begin() + static_cast<std::ptrdiff_t>(idx), start + i + 1);
      ++idx;
    }
  }
}

}  // namespace trevalon

#endif  // TREVALON_STATE_ORDER_INFO_H_
