#include "search/checked_equivalence.h"

#include <algorithm>
#include <optional>
#include <string>

#include "utils/abort.h"
#include "utils/fmt_join.h"

namespace trevalon {
namespace {

// The low `len` bits set, with the length taken modulo 64 as the masks'
// positions are.
uint64_t low_bits(std::size_t len) { return ~(~uint64_t{0} << (len % 64)); }

uint64_t bit(std::size_t pos) { return uint64_t{1} << (pos % 64); }

std::string binary_text(uint64_t v) {
  if (v == 0) return "0";
  std::string out;
  for (; v != 0; v >>= 1) out += static_cast<char>('0' + (v & 1));
  std::reverse(out.begin(), out.end());
  return out;
}

std::vector<Instr32> mapped(std::span<const Instr32> instrs, Permut32 p) {
  std::vector<Instr32> out;
  out.reserve(instrs.size());
  for (const Instr32& i : instrs) out.push_back(i.apply_permutation(p));
  return out;
}

void map_in_place(std::vector<Instr32>& instrs, Permut32 p) {
  for (Instr32& i : instrs) i = i.apply_permutation(p);
}

std::string pair_text(const CircPair& p, std::string_view sep) {
  std::string out = instrs_text(p.first, sep);
  out += ' ';
  append_text(out, p.second);
  return out;
}

bool candidate_less(const CircPair& a, const CircPair& b) {
  if (a.first != b.first) return a.first < b.first;
  return a.second.raw() < b.second.raw();
}

// Key and first permutation pair of `instrs`, evaluated into this thread's
// scratch so the recursion allocates no states.
struct FirstPair {
  uint64_t key;
  Permut32 f;
  Permut32 b;
};

FirstPair evaluate_first(const Evaluator& evaluator, std::span<const Instr32> instrs) {
  thread_local Evaluation scratch;
  evaluator.evaluate_multiple(instrs, scratch);
  return {scratch.back.hash_value(), scratch.pairs.front().first, scratch.pairs.front().second};
}

// Checks that both leftovers of an export reach the same representative.
void check_reductions_agree(const RawECCs& map, const CircuitECC& bucket, const std::vector<Instr32>& vec,
                            Permut32 f, const std::pair<CircPair, CircPair>& reduced,
                            const Evaluator& evaluator) {
  const auto& [r1, r2] = reduced;
  const CircPair x = checked_equivalent(map, r1.first, r1.second, evaluator);
  const CircPair y = checked_equivalent(map, r2.first, r2.second, evaluator);
  if (x == y) return;
  abort_with("Non-deterministic equivalence detected during checked equivalence: \n " +
             bucket.to_text(map.arena()) + " vs " + instrs_text(mapped(vec, f.inv()), " ") + " \n " +
             pair_text(r1, ", ") + " vs " + pair_text(r2, ", ") + " \n " + pair_text(x, ", ") + " vs " +
             pair_text(y, ", "));
}

}  // namespace

SurfacePositions circuit_get_surface_gates_hashmap(std::span<const Instr32> circ, uint64_t filtering_mask) {
  SurfacePositions out;
  uint32_t touched = 0;
  for (uint32_t pos = 0; pos < circ.size(); ++pos) {
    if (!(filtering_mask & bit(pos))) continue;
    const Instr32& instr = circ[pos];
    uint32_t fresh = 0, bits = 0;
    for (uint8_t q : instr.qargs().used()) {
      const uint32_t b = 1u << (q % 32);
      if (!(touched & b)) ++fresh;
      bits |= b;
    }
    touched |= bits;
    if (fresh != instr.qargs().len()) continue;
    auto it = std::find_if(out.begin(), out.end(), [&](const auto& e) { return e.first == instr; });
    if (it == out.end()) {
      out.emplace_back(instr, pos);
    } else {
      it->second = pos;
    }
  }
  return out;
}

std::pair<uint64_t, uint64_t> reduce_equivalence_front(std::span<const Instr32> c1,
                                                       std::span<const Instr32> c2) {
  uint64_t mask1 = low_bits(c1.size());
  uint64_t mask2 = low_bits(c2.size());
  for (;;) {
    const SurfacePositions g1 = circuit_get_surface_gates_hashmap(c1, mask1);
    const SurfacePositions g2 = circuit_get_surface_gates_hashmap(c2, mask2);
    uint32_t count = 0;
    for (const auto& [gate, i] : g1) {
      auto it = std::find_if(g2.begin(), g2.end(), [&, gate = gate](const auto& e) { return e.first == gate; });
      if (it == g2.end()) continue;
      mask1 &= ~bit(i);
      mask2 &= ~bit(it->second);
      ++count;
    }
    if (count == 0) return {mask1, mask2};
  }
}

uint32_t retain_by_masks(std::vector<Instr32>& c, uint64_t maskf, uint64_t maskb) {
  const std::size_t n = c.size();
  std::size_t kept = 0;
  for (std::size_t i = 0; i < n; ++i) {
    if ((maskf & bit(i)) && (maskb & bit(n - 1 - i))) c[kept++] = c[i];
  }
  c.resize(kept);
  return static_cast<uint32_t>(n - kept);
}

uint32_t reduce_equivalence(CircPair& a, CircPair& b) {
  std::vector<Instr32>& c1 = a.first;
  std::vector<Instr32>& c2 = b.first;
  const auto [mask1f, mask2f] = reduce_equivalence_front(c1, c2);
  // Common last gates are compared after moving them through the trailing
  // permutation, where both circuits end.
  std::vector<Instr32> c1b(c1.rbegin(), c1.rend());
  std::vector<Instr32> c2b(c2.rbegin(), c2.rend());
  map_in_place(c1b, a.second);
  map_in_place(c2b, b.second);
  const auto [mask1b, mask2b] = reduce_equivalence_front(c1b, c2b);
  const uint32_t changed1 = retain_by_masks(c1, mask1f, mask1b);
  const uint32_t changed2 = retain_by_masks(c2, mask2f, mask2b);
  if (changed1 != changed2) {
    abort_with("mask1f: " + binary_text(mask1f) + ", mask1b: " + binary_text(mask1b) +
               ", mask2f: " + binary_text(mask2f) + ", mask2b: " + binary_text(mask2b));
  }
  return changed1;
}

std::pair<CircPair, CircPair> export_equivalence(const CircuitECC& bucket, const CellArena& arena, Permut32 f,
                                                 std::span<const Instr32> instr_vec, Permut32 b) {
  const CircPair query{mapped(instr_vec, f.inv()), b * f};
  for (const CircTriple& t : bucket.circuits()) {
    CircPair c1 = t.simplify(arena);
    CircPair c2 = query;
    if (c1 == c2) return {CircPair{{}, c2.second}, CircPair{{}, c2.second}};
    if (reduce_equivalence(c1, c2) > 0) return {std::move(c1), std::move(c2)};
  }
  std::string triples;
  fmt_join(triples, bucket.circuits(), {", ", {}, {}, {}},
           [&](std::string& o, const CircTriple& t) { o += pair_text(t.simplify(arena), " "); });
  abort_with("No equivalence found during export_equivalence: " + triples + " = " +
             instrs_text(query.first, ", ") + " " + query.second.to_text());
}

CircPair checked_equivalent(const RawECCs& map, std::span<const Instr32> instrs, Permut32 perm,
                            const Evaluator& evaluator) {
  const CellArena& arena = map.arena();
  std::vector<Instr32> vec;
  Permut32 cur = perm;
  for (const Instr32& instr : instrs) {
    vec.push_back(instr.apply_permutation(cur.inv()));
    const auto [key, f, b] = evaluate_first(evaluator, vec);
    const CircuitECC* bucket = map.find(key);
    if (bucket == nullptr) continue;
    const auto reduced = export_equivalence(*bucket, arena, f, vec, b);
    if (!reduced.first.first.empty() || !reduced.second.first.empty()) {
      check_reductions_agree(map, *bucket, vec, f, reduced, evaluator);
    }
    // Continue from the bucket's representative in place of the prefix.
    const CircTriple& first = bucket->circuits().front();
    const Permut32 g = first.front_perm * f.inv();
    arena.collect(first.circ, vec);
    map_in_place(vec, g.inv());
    cur = cur * b.inv() * first.back_perm * g;
  }

  thread_local Evaluation scratch;
  evaluator.evaluate_multiple(instrs, scratch);
  const CircuitECC* bucket = map.find(scratch.back.hash_value());
  if (bucket == nullptr) abort_with("no entry found for key");
  std::optional<CircPair> best;
  for (const auto& [f, b] : scratch.pairs) {
    for (const CircTriple& t : bucket->circuits()) {
      const Permut32 g = t.front_perm * f.inv();
      CircPair candidate{arena.collect(t.circ), perm * b.inv() * t.back_perm * g};
      map_in_place(candidate.first, g.inv());
      if (!best || candidate_less(candidate, *best)) best = std::move(candidate);
    }
  }
  return *std::move(best);
}

}  // namespace trevalon
