#include "search/circuit_ecc.h"

#include <algorithm>

#include "utils/fmt_join.h"

namespace trevalon {
namespace {

void map_through(std::vector<Instr32>& instrs, Permut32 p) {
  for (Instr32& i : instrs) i = i.apply_permutation(p);
}

bool contains(std::span<const Instr32> set, const Instr32& g) {
  return std::find(set.begin(), set.end(), g) != set.end();
}

}  // namespace

CircPair CircTriple::simplify(const CellArena& arena) const {
  CircPair out{arena.collect(circ), back_perm * front_perm};
  map_through(out.first, front_perm.inv());
  return out;
}

CircuitECC CircuitECC::root(uint8_t nqubits) {
  CircuitECC root;
  const Permut32 id = Permut32::identity(nqubits);
  root.circuits_.push_back({id, AliasList(), id});
  return root;
}

CircuitECC::CircuitECC(uint32_t size, CircTriple first, std::span<const Instr32> front,
                       std::span<const Instr32> back)
    : size_(size) {
  add_gates(front, true);
  add_gates(back, false);
  circuits_.push_back(first);
}

void CircuitECC::add_gates(std::span<const Instr32> gates, bool front) {
  for (const Instr32& g : gates) {
    if (front) {
      if (contains(front_gates(), g)) continue;
      gates_.insert(gates_.begin() + nfront_, g);
      ++nfront_;
    } else if (!contains(back_gates(), g)) {
      gates_.push_back(g);
    }
  }
}

bool CircuitECC::shares_surface(std::span<const Instr32> front, std::span<const Instr32> back) const {
  for (const Instr32& g : front) {
    if (contains(front_gates(), g)) return true;
  }
  for (const Instr32& g : back) {
    if (contains(back_gates(), g)) return true;
  }
  return false;
}

void CircuitECC::record(CircTriple triple, std::span<const Instr32> front,
                        std::span<const Instr32> back) {
  add_gates(front, true);
  add_gates(back, false);
  circuits_.push_back(triple);
}

bool pair_less(const CircPair& a, const CircPair& b) {
  if (a.first.size() != b.first.size()) return a.first.size() < b.first.size();
  if (a.first != b.first) return a.first < b.first;
  return a.second.raw() < b.second.raw();
}

std::vector<CircPair> CircuitECC::simplify(const CellArena& arena) const {
  std::vector<CircPair> pairs;
  pairs.reserve(circuits_.size());
  for (const CircTriple& t : circuits_) pairs.push_back(t.simplify(arena));
  std::stable_sort(pairs.begin(), pairs.end(), pair_less);

  uint8_t used = 0;
  for (const Instr32& i : pairs.front().first) used |= i.arg_mask();
  std::vector<uint8_t> qubits;
  for (uint8_t q = 0; q < 8; ++q) {
    if (used & (1u << q)) qubits.push_back(q);
  }
  const Permut32 uniform_inv = Permut32::from_iter_with_ext(pairs.front().second.len(), qubits);
  const Permut32 uniform = uniform_inv.inv();
  for (CircPair& p : pairs) {
    map_through(p.first, uniform);
    p.second = uniform * p.second * uniform_inv;
  }
  return pairs;
}

std::string instrs_text(std::span<const Instr32> instrs, std::string_view sep) {
  std::string out;
  fjoin(out, instrs, sep);
  return out;
}

std::string CircuitECC::to_text(const CellArena& arena) const {
  std::string out = "CircuitECC {";
  fmt_join(out, circuits_, {", ", {}, {}, {}}, [&](std::string& o, const CircTriple& t) {
    const CircPair p = t.simplify(arena);
    o += instrs_text(p.first, " ");
    o += ' ';
    append_text(o, p.second);
  });
  out += '}';
  return out;
}

std::string CircuitECC::debug_text(const CellArena& arena) const {
  auto gate_set = [](std::string& o, std::span<const Instr32> gates) {
    fmt_join(o, gates, {", ", "{", "}", "{}"}, [](std::string& s, const Instr32& g) { append_text(s, g); });
  };
  std::string out = "CircuitECC { size: " + std::to_string(size_) + ", front_gates: ";
  gate_set(out, front_gates());
  out += ", back_gates: ";
  gate_set(out, back_gates());
  out += ", circuits: ";
  fmt_join(out, circuits_, {", ", "[", "]", "[]"}, [&](std::string& o, const CircTriple& t) {
    append_text(o, t.front_perm);
    o += ' ';
    o += instrs_text(arena.collect(t.circ), " ");
    o += ' ';
    append_text(o, t.back_perm);
  });
  out += " }";
  return out;
}

}  // namespace trevalon
