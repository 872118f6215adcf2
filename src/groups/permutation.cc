#include "groups/permutation.h"

#include <array>

#include "utils/abort.h"

namespace trevalon {
namespace {

using Cmp = std::pair<uint8_t, uint8_t>;

constexpr Cmp kNet2[] = {{0, 1}};
constexpr Cmp kNet3[] = {{0, 2}, {0, 1}, {1, 2}};
constexpr Cmp kNet4[] = {{0, 2}, {1, 3}, {0, 1}, {2, 3}, {1, 2}};
constexpr Cmp kNet5[] = {{0, 3}, {1, 4}, {0, 2}, {1, 3}, {0, 1}, {2, 4}, {1, 2}, {3, 4}, {2, 3}};
constexpr Cmp kNet6[] = {{0, 5}, {1, 3}, {2, 4}, {1, 2}, {3, 4}, {0, 3},
                         {2, 5}, {0, 1}, {2, 3}, {4, 5}, {1, 2}, {3, 4}};
constexpr Cmp kNet7[] = {{0, 6}, {2, 3}, {4, 5}, {0, 2}, {1, 4}, {3, 6}, {0, 1}, {2, 5},
                         {3, 4}, {1, 2}, {4, 6}, {2, 3}, {4, 5}, {1, 2}, {3, 4}, {5, 6}};
constexpr Cmp kNet8[] = {{0, 2}, {1, 3}, {4, 6}, {5, 7}, {0, 4}, {1, 5}, {2, 6},
                         {3, 7}, {0, 1}, {2, 3}, {4, 5}, {6, 7}, {2, 4}, {3, 5},
                         {1, 4}, {3, 6}, {1, 2}, {3, 4}, {5, 6}};

// Heap's algorithm, iterative form; the first permutation is the identity.
std::vector<Permut32> heap_permutations(uint8_t n) {
  std::array<uint8_t, 8> d{};
  for (uint8_t i = 0; i < n; ++i) d[i] = i;
  std::array<uint8_t, 8> c{};
  std::vector<Permut32> out;
  auto emit = [&] { out.push_back(Permut32::from_iter_unchecked(std::span(d.data(), n))); };
  emit();
  unsigned k = 0;
  while (k + 1 < n) {
    if (c[k] <= k) {
      const unsigned j = (k % 2 == 0) ? c[k] : 0;
      std::swap(d[j], d[k + 1]);
      ++c[k];
      k = 0;
      emit();
    } else {
      c[k] = 0;
      ++k;
    }
  }
  return out;
}

}  // namespace

std::span<const std::pair<uint8_t, uint8_t>> sorting_network(uint8_t n) {
  switch (n) {
    case 0:
    case 1: return {};
    case 2: return kNet2;
    case 3: return kNet3;
    case 4: return kNet4;
    case 5: return kNet5;
    case 6: return kNet6;
    case 7: return kNet7;
    case 8: return kNet8;
    default: check_index(n, 9); return {};
  }
}

Permut32 Permut32::identity(uint8_t n) {
  if (n > kMaxLen) abort_with("Permutation length must be less than or equal to 8");
  Permut32 p;
  for (uint8_t i = 0; i < n; ++i) p.set(i, i);
  p.set_len(n);
  return p;
}

Permut32 Permut32::from_iter(std::span<const uint8_t> values) {
  uint8_t seen = 0;
  Permut32 p;
  for (std::size_t i = 0; i < values.size(); ++i) {
    const uint8_t v = values[i];
    if (v >= 8) abort_with("Permutation values must be less than 8");
    if (seen & (1u << v)) abort_with("Permutation values must be unique");
    seen |= static_cast<uint8_t>(1u << v);
    p.set(static_cast<uint8_t>(i), v);
  }
  // Eight distinct values below 8 is the most there can be.
  p.set_len(static_cast<uint8_t>(values.size()));
  return p;
}

Permut32 Permut32::from_iter_unchecked(std::span<const uint8_t> values) {
  Permut32 p;
  for (std::size_t i = 0; i < values.size() && i < 8; ++i) p.set(static_cast<uint8_t>(i), values[i] & 7);
  p.set_len(static_cast<uint8_t>(values.size() & 15));
  return p;
}

Permut32 Permut32::from_iter_with_ext(uint8_t n, std::span<const uint8_t> values) {
  if (n > kMaxLen) abort_with("Permutation length must be less than or equal to 8");
  uint16_t used = 0;
  Permut32 p;
  std::size_t next = 0;
  for (uint8_t i = 0; i < n; ++i) {
    uint8_t v;
    if (next < values.size()) {
      v = values[next++];
      if (v >= 8) abort_with("Permutation values must be less than 8");
      if (used & (1u << v)) abort_with("Permutation values must be unique");
    } else if (!(used & (1u << i))) {
      v = i;
    } else {
      v = 0;
      while (used & (1u << v)) ++v;
    }
    used |= static_cast<uint16_t>(1u << v);
    p.set(i, v);
  }
  p.set_len(n);
  return p;
}

const std::vector<Permut32>& Permut32::all(uint8_t n) {
  static const std::array<std::vector<Permut32>, 9> table = [] {
    std::array<std::vector<Permut32>, 9> t;
    for (uint8_t i = 0; i <= 8; ++i) t[i] = heap_permutations(i);
    return t;
  }();
  check_index(n, table.size());
  return table[n];
}

uint8_t Permut32::at(uint8_t idx) const {
  check_that(idx < 8, "idx < 8");
  return get(idx);
}

bool Permut32::is_identity() const {
  for (uint8_t i = 0; i < len(); ++i) {
    if (get(i) != i) return false;
  }
  return true;
}

uint8_t Permut32::permut_bv(uint8_t bv) const {
  uint8_t out = 0;
  const uint8_t n = len() > 8 ? 8 : len();
  for (uint8_t i = 0; i < n; ++i) {
    if (bv & (1u << i)) out |= static_cast<uint8_t>(1u << get(i));
  }
  return out;
}

bool Permut32::is_valid() const {
  const uint8_t n = len();
  if (n > 8 || (raw_ >> 28) != 0) return false;
  uint8_t seen = 0;
  for (uint8_t i = 0; i < 8; ++i) {
    const uint8_t v = get(i);
    if (i >= n) {
      if (v != 0) return false;
      continue;
    }
    if (v >= n || (seen & (1u << v))) return false;
    seen |= static_cast<uint8_t>(1u << v);
  }
  return true;
}

Permut32 Permut32::shrink(uint8_t n) const {
  Permut32 p = from_raw(raw_ & ((1u << (3 * n)) - 1));
  p.set_len(n);
  return p;
}

void Permut32::swap_inputs(uint8_t a, uint8_t b) {
  const uint8_t va = get(a), vb = get(b);
  set(a, vb);
  set(b, va);
}

Permut32 Permut32::inv() const {
  Permut32 q;
  const uint8_t n = len() > 8 ? 8 : len();
  for (uint8_t i = 0; i < n; ++i) q.set(get(i), i);
  q.set_len(len());
  return q;
}

Permut32 operator*(Permut32 a, Permut32 b) {
  check_that(a.len() == b.len(), "self.len() == other.len()");
  Permut32 r;
  const uint8_t n = a.len() > 8 ? 8 : a.len();
  for (uint8_t i = 0; i < n; ++i) r.set(i, a.get(b.get(i)));
  r.set_len(a.len());
  return r;
}

std::pair<Permut32, Permut32> Permut32::coordinate_permute(Permut32 a, Permut32 b) {
  auto extend = [](Permut32 p, uint8_t m) {
    for (uint8_t i = p.len(); i < m && i < 8; ++i) p.set(i, i);
    p.set_len(m);
    return p;
  };
  if (a.len() < b.len()) return {extend(a, b.len()), b};
  if (b.len() < a.len()) return {a, extend(b, a.len())};
  return {a, b};
}

std::vector<std::pair<uint8_t, uint8_t>> Permut32::generate_swaps() const {
  std::vector<std::pair<uint8_t, uint8_t>> out;
  Permut32 s = *this;
  for (auto [a, b] : sorting_network(len() > 8 ? 8 : len())) {
    if (s.get(a) > s.get(b)) {
      s.swap_inputs(a, b);
      out.emplace_back(a, b);
    }
  }
  return out;
}

std::string Permut32::to_text() const {
  std::string out;
  append_text(out, *this);
  return out;
}

void append_text(std::string& out, Permut32 p) {
  out += '(';
  const uint8_t n = p.len() > 8 ? 8 : p.len();
  for (uint8_t i = 0; i < n; ++i) {
    if (i) out += ' ';
    out += static_cast<char>('0' + p.get(i));
  }
  out += ')';
}

}  // namespace trevalon
