// Permut32: a permutation of at most 8 qubits packed into one 32-bit word.
//
// Bits 3i..3i+2 hold entry i (the image of position i), bits 24..27 the
// length n. Invariant of every value built by the checked constructors and
// the group operations: entries 0..n-1 permute 0..n-1 and entries n..7 are 0,
// so equality, hashing and order are those of `raw`. (`from_iter` accepts
// unique values below 8 that need not form a permutation of 0..n-1, and
// deserialised words are not checked at all; consumers that index with
// entries must not trust such words.)
//
// Meaning: p maps position i to p[i]; (a * b)[i] = a[b[i]]. All operations
// are allocation-free except `all`, `generate_swaps` and `to_text`.
#ifndef TREVALON_GROUPS_PERMUTATION_H_
#define TREVALON_GROUPS_PERMUTATION_H_

#include <cstdint>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace trevalon {

class Permut32 {
 public:
  static constexpr uint8_t kMaxLen = 8;

  constexpr Permut32() = default;
  static constexpr Permut32 from_raw(uint32_t raw) {
    Permut32 p;
    p.raw_ = raw;
    return p;
  }

  // Identity of length n; aborts when n > 8.
  static Permut32 identity(uint8_t n);
  // Entries in position order; aborts on a value >= 8 or a repeated value.
  static Permut32 from_iter(std::span<const uint8_t> values);
  // The same without checks, for callers that produce valid entries.
  static Permut32 from_iter_unchecked(std::span<const uint8_t> values);
  // Length n; the first entries come from the ascending `values`, the rest are
  // filled with unused values (see the fill rule in the .cc).
  static Permut32 from_iter_with_ext(uint8_t n, std::span<const uint8_t> values);
  // All n! permutations of length n, identity first (Heap's order); n <= 8.
  // The table is built once per process and shared read-only by all threads.
  static const std::vector<Permut32>& all(uint8_t n);

  constexpr uint32_t raw() const { return raw_; }
  constexpr uint8_t len() const { return (raw_ >> 24) & 15; }
  // Entry idx; aborts when idx >= 8, returns 0 for len() <= idx < 8.
  uint8_t at(uint8_t idx) const;
  // Entry idx without the range check; idx < 8.
  constexpr uint8_t get(uint8_t idx) const { return (raw_ >> (3 * idx)) & 7; }
  bool is_identity() const;
  // Bit p[i] is set for each i < len() whose bit i is set in bv.
  uint8_t permut_bv(uint8_t bv) const;
  // True when entries 0..len()-1 are a permutation of 0..len()-1 and the
  // unused bits are zero: the invariant, checked for untrusted words.
  bool is_valid() const;

  // idx < 8, value < 8.
  constexpr void set(uint8_t idx, uint8_t value) {
    raw_ = (raw_ & ~(7u << (3 * idx))) | (static_cast<uint32_t>(value) << (3 * idx));
  }
  constexpr void set_len(uint8_t n) { raw_ = (raw_ & ~(15u << 24)) | (static_cast<uint32_t>(n) << 24); }
  Permut32 shrink(uint8_t n) const;
  void swap_inputs(uint8_t a, uint8_t b);

  Permut32 inv() const;
  Permut32 inverse() const { return inv(); }
  // a * b; aborts when the lengths differ.
  friend Permut32 operator*(Permut32 a, Permut32 b);
  // Extends the shorter of the two with fixed points to the longer length.
  static std::pair<Permut32, Permut32> coordinate_permute(Permut32 a, Permut32 b);
  // Transpositions (a, b), a < b, that sort the entries, in order.
  std::vector<std::pair<uint8_t, uint8_t>> generate_swaps() const;

  // "(e0 e1 ...)"; the empty permutation is "()".
  std::string to_text() const;

  friend constexpr bool operator==(Permut32, Permut32) = default;
  friend constexpr auto operator<=>(Permut32 a, Permut32 b) { return a.raw_ <=> b.raw_; }

 private:
  uint32_t raw_ = 0;
};

void append_text(std::string& out, Permut32 p);

// Comparator pairs (a, b), a < b, of a sorting network for n = 0..8 inputs.
std::span<const std::pair<uint8_t, uint8_t>> sorting_network(uint8_t n);

}  // namespace trevalon

#endif  // TREVALON_GROUPS_PERMUTATION_H_
