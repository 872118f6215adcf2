// QArgs16: the two 8-bit qubit slots of a compact instruction.
// 255 marks an unused slot; used slots always come first.
#ifndef TREVALON_CIRC_QARGS_H_
#define TREVALON_CIRC_QARGS_H_

#include <compare>
#include <cstdint>
#include <span>

namespace trevalon {

class QArgs16 {
 public:
  static constexpr uint8_t kUnused = 255;

  constexpr QArgs16() = default;
  constexpr QArgs16(uint8_t s0, uint8_t s1) : slots_{s0, s1} {}

  constexpr uint8_t slot(int i) const { return slots_[i]; }
  constexpr uint8_t len() const {
    return slots_[0] == kUnused ? 0 : (slots_[1] == kUnused ? 1 : 2);
  }
  // The used slots, in argument order.
  std::span<const uint8_t> used() const { return {slots_, len()}; }
  constexpr bool contains(uint8_t q) const {
    return (len() >= 1 && slots_[0] == q) || (len() == 2 && slots_[1] == q);
  }

  friend constexpr bool operator==(const QArgs16&, const QArgs16&) = default;
  friend constexpr std::strong_ordering operator<=>(const QArgs16& a, const QArgs16& b) {
    if (auto c = a.slots_[0] <=> b.slots_[0]; c != 0) return c;
    return a.slots_[1] <=> b.slots_[1];
  }

 private:
  uint8_t slots_[2] = {kUnused, kUnused};
};

}  // namespace trevalon

#endif  // TREVALON_CIRC_QARGS_H_
