#include "identity/subcircuit.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <complex>
#include <deque>
#include <optional>
#include <queue>
#include <random>
#include <set>
#include <vector>

#include "circ/gate.h"
#include "oneapi/tbb/global_control.h"
#include "utils/abort.h"

#include "test_support.h"

namespace trevalon {

static void PrintTo(const Circ& c, std::ostream* os) { *os << c.to_text(); }
static void PrintTo(const Port& p, std::ostream* os) {
  *os << "Port{" << int(p.qubit) << ", " << p.instr_id << ", " << int(p.qargs_idx) << "}";
}

namespace {

using testing::abort_message;
using testing::I1;
using testing::I2;

using Cut = std::pair<Circ, Circ>;

std::vector<bool> flags(std::size_t n, std::initializer_list<std::size_t> selected) {
  std::vector<bool> out(n);
  for (std::size_t i : selected) out[i] = true;
  return out;
}

// ---- An independent dense model: the full unitary of a circuit. ----

using Matrix = std::vector<std::vector<std::complex<double>>>;  // [column][row]

// Column vectors of U, each a state; qubit q is bit q of the index, the
// first argument of a gate is the most significant bit of its matrix index.
Matrix unitary_of(const Circ& c) {
  const std::size_t dim = std::size_t{1} << c.nqubits();
  Matrix u(dim, std::vector<std::complex<double>>(dim));
  for (std::size_t i = 0; i < dim; ++i) u[i][i] = 1;
  for (const Instr32& in : c.instrs()) {
    const ComplexMatrix g = in.gate().matrix_copy();
    const auto used = in.qargs().used();
    const std::size_t k = used.size(), sub = std::size_t{1} << k;
    std::size_t args_mask = 0;
    for (uint8_t q : used) args_mask |= std::size_t{1} << q;
    for (auto& v : u) {
      for (std::size_t base = 0; base < dim; ++base) {
        if (base & args_mask) continue;
        std::vector<std::size_t> idx(sub);
        for (std::size_t s = 0; s < sub; ++s) {
          idx[s] = base;
          for (std::size_t a = 0; a < k; ++a) {
            if ((s >> (k - 1 - a)) & 1) idx[s] |= std::size_t{1} << used[a];
          }
        }
        std::vector<std::complex<double>> out(sub);
        for (std::size_t r = 0; r < sub; ++r) {
          for (std::size_t col = 0; col < sub; ++col) out[r] += g(r, col) * v[idx[col]];
        }
        for (std::size_t s = 0; s < sub; ++s) v[idx[s]] = out[s];
      }
    }
  }
  // The qubit at position q moves to position perm[q].
  for (auto& v : u) {
    std::vector<std::complex<double>> w(dim);
    for (std::size_t x = 0; x < dim; ++x) {
      std::size_t y = 0;
      for (uint8_t q = 0; q < c.nqubits(); ++q) {
        if ((x >> q) & 1) y |= std::size_t{1} << c.perm().get(q);
      }
      w[y] = v[x];
    }
    v = w;
  }
  return u;
}

bool is_identity_up_to_phase(const Circ& c) {
  const Matrix u = unitary_of(c);
  const std::complex<double> phase = u[0][0];
  if (std::abs(std::abs(phase) - 1) > 1e-9) return false;
  for (std::size_t col = 0; col < u.size(); ++col) {
    for (std::size_t r = 0; r < u.size(); ++r) {
      if (std::abs(u[col][r] - (r == col ? phase : 0.0)) > 1e-9) return false;
    }
  }
  return true;
}

// ---- The straightforward algorithms, on vectors, queues and Circ copies. ----

std::vector<Port> ref_ports(const IdentityCirc& c, const std::vector<bool>& g, bool exits) {
  std::vector<Port> out;
  for (std::size_t i = 0; i < c.len(); ++i) {
    if (!g[i]) continue;
    const WireNeighbours nb = exits ? c.qargs_forward(i) : c.qargs_backward(i);
    for (uint8_t k = 0; k < nb.size(); ++k) {
      if (nb[k] == i || !g[nb[k]]) out.push_back(Port{c[i].qargs().slot(k), i, k});
    }
  }
  return out;
}

bool ref_convex(const IdentityCirc& c, const std::vector<bool>& g) {
  for (bool exits : {false, true}) {
    std::set<uint8_t> seen;
    for (const Port& p : ref_ports(c, g, exits)) {
      if (!seen.insert(p.qubit).second) return false;
    }
  }
  return true;
}

bool ref_connected(const IdentityCirc& c, const std::vector<bool>& g) {
  const auto first = std::find(g.begin(), g.end(), true);
  if (first == g.end()) return true;
  std::vector<bool> visited(g.size());
  std::queue<std::size_t> q;
  visited[first - g.begin()] = true;
  q.push(first - g.begin());
  while (!q.empty()) {
    const std::size_t x = q.front();
    q.pop();
    std::vector<std::size_t> ys;
    for (std::size_t y : c.qargs_forward(x)) ys.push_back(y);
    for (std::size_t y : c.qargs_backward(x)) ys.push_back(y);
    for (std::size_t y : ys) {
      if (g[y] && !visited[y]) {
        visited[y] = true;
        q.push(y);
      }
    }
  }
  return visited == g;
}

Circ without(const Circ& c, std::size_t i) {
  std::vector<Instr32> v = c.instrs();
  v.erase(v.begin() + static_cast<std::ptrdiff_t>(i));
  return Circ::create(std::move(v), c.perm());
}

Circ swapped(const Circ& c, std::size_t i) {
  std::vector<Instr32> v = c.instrs();
  std::swap(v[i], v[i + 1]);
  return Circ::create(std::move(v), c.perm());
}

bool all_disjoint(const Circ& c, std::size_t first, std::size_t last, const std::deque<Instr32>& e) {
  for (std::size_t i = first; i < last; ++i) {
    for (const Instr32& x : e) {
      if (!c[i].disjoint(x)) return false;
    }
  }
  return true;
}

bool any_selected(const std::vector<bool>& f) { return std::find(f.begin(), f.end(), true) != f.end(); }

std::optional<Cut> ref_split(const IdentityCirc& id, std::vector<bool> f) {
  const auto first = std::find(f.begin(), f.end(), true);
  if (first == f.end()) return std::nullopt;
  const auto a0 = first - f.begin();
  Circ c = id.circ().rotate(a0);
  std::rotate(f.begin(), f.begin() + a0, f.end());
  std::deque<Instr32> e;
  while (any_selected(f)) {
    const std::size_t a = std::find(f.begin(), f.end(), true) - f.begin();
    if (a == 0) {
      e.push_back(c[0]);
      c = without(c, 0);
      f.erase(f.begin());
    } else if (c[a - 1].disjoint(c[a])) {
      c = swapped(c, a - 1);
      std::vector<bool>::swap(f[a - 1], f[a]);
    } else if (all_disjoint(c, 0, a, e)) {
      c = c.rotate(static_cast<int64_t>(a));
      std::rotate(f.begin(), f.begin() + static_cast<std::ptrdiff_t>(a), f.end());
    } else {
      break;
    }
  }
  while (any_selected(f)) {
    const std::size_t a = f.size() - 1 - (std::find(f.rbegin(), f.rend(), true) - f.rbegin());
    const std::size_t len = c.len();
    if (a == len - 1) {
      e.push_front(c[len - 1].permut(c.perm()));
      c = without(c, len - 1);
      f.pop_back();
    } else if (c[a].disjoint(c[a + 1])) {
      c = swapped(c, a);
      std::vector<bool>::swap(f[a], f[a + 1]);
    } else {
      // The tail passes through the permutation to the front, across E: it
      // must commute with E there, in the front's frame.
      const std::size_t k = len - 1 - a;
      const Circ moved = c.rotate(-static_cast<int64_t>(k));
      if (!all_disjoint(moved, 0, k, e)) return std::nullopt;
      c = moved;
      std::rotate(f.rbegin(), f.rbegin() + static_cast<std::ptrdiff_t>(k), f.rend());
    }
  }
  return Cut(Circ::create({e.begin(), e.end()}, Permut32::identity(id.nqubits())), c);
}

std::vector<Cut> ref_splits(const IdentityCirc& id) {
  std::vector<Cut> out;
  const GateSubsets& subsets = combinations(id.len());
  for (std::size_t s = 0; s < subsets.size(); ++s) {
    std::vector<bool> f(id.len());
    for (uint8_t i : subsets[s]) f[i] = true;
    if (!ref_connected(id, f) || !ref_convex(id, f)) continue;
    if (auto cut = ref_split(id, f)) out.push_back(std::move(*cut));
  }
  return out;
}

// ---- Random identities. ----

// C followed by C^-1 with some SWAPs of the result spelt as three CNOTs and
// the others absorbed into the trailing permutation, then rotated and
// relabelled: identities with non-trivial permutations and wrap-around
// wires. Regenerated until at most max_len instructions remain.
IdentityCirc random_identity(std::mt19937& rng, uint8_t nq, std::size_t max_len) {
  const Gate16 one[] = {gates::H(), gates::S(), gates::T(), gates::X()};
  const Gate16 two[] = {gates::CX(), gates::SWAP(), gates::SWAP(), *Gate16::from_name("cz")};
  std::uniform_int_distribution<int> q(0, nq - 1);
  const auto& perms = Permut32::all(nq);
  while (true) {
    const std::size_t half = 1 + rng() % 5;
    std::vector<Instr32> instrs;
    for (std::size_t i = 0; i < half; ++i) {
      if (nq >= 2 && rng() % 2 == 0) {
        const uint8_t a = q(rng);
        uint8_t b = q(rng);
        while (b == a) b = q(rng);
        instrs.push_back(I2(two[rng() % 4], a, b));
      } else {
        instrs.push_back(I1(one[rng() % 4], q(rng)));
      }
    }
    const Circ c = Circ::create(std::move(instrs), perms[rng() % perms.size()]);
    const Circ both = c + c.inverse();
    std::vector<Instr32> spelt;
    for (const Instr32& in : both.instrs()) {
      if (in.gate() == gates::SWAP() && rng() % 2 == 0) {
        const uint8_t a = in.qargs().slot(0), b = in.qargs().slot(1);
        spelt.insert(spelt.end(), {I2(gates::CX(), a, b), I2(gates::CX(), b, a), I2(gates::CX(), a, b)});
      } else {
        spelt.push_back(in);
      }
    }
    Circ id = Circ::create(std::move(spelt), both.perm()).remove_swaps();
    if (id.len() > max_len || id.is_empty()) continue;
    const auto len = static_cast<int64_t>(id.len());
    id = id.rotate(static_cast<int64_t>(rng() % (2 * len + 1)) - len).permut(perms[rng() % perms.size()]);
    return IdentityCirc::unchecked(std::move(id));
  }
}

std::vector<IdentityCirc> random_identities(uint32_t seed, int count, std::size_t max_len) {
  std::mt19937 rng(seed);
  std::vector<IdentityCirc> out;
  for (int i = 0; i < count; ++i) out.push_back(random_identity(rng, static_cast<uint8_t>(1 + i % 3), max_len));
  return out;
}

// ---- Worked examples. ----

TEST(SubcircuitTest, TwoHadamards) {
  const IdentityCirc id = IdentityCirc::unchecked(Circ::new_no_perm({I1(gates::H(), 0), I1(gates::H(), 0)}));
  const Circ one = Circ::create({I1(gates::H(), 0)}, Permut32::identity(1));
  for (std::size_t i : {0, 1}) {
    const IdentitySubcircuit sub(id, flags(2, {i}));
    EXPECT_TRUE(sub.is_connected());
    EXPECT_TRUE(sub.is_convex());
    EXPECT_EQ(sub.inputs(), (std::vector<Port>{{0, i, 0}}));
    EXPECT_EQ(sub.outputs(), (std::vector<Port>{{0, i, 0}}));
    EXPECT_EQ(sub.split(), Cut(one, one));
  }
  const IdentitySubcircuit both(id, flags(2, {0, 1}));
  EXPECT_TRUE(both.inputs().empty());
  EXPECT_EQ(both.split(), Cut(id.circ(), Circ::create({}, Permut32::identity(1))));
  EXPECT_EQ(par_subcircuit_splits(id),
            (std::vector<Cut>{{one, one}, {one, one}, {id.circ(), Circ::create({}, Permut32::identity(1))}}));
}

TEST(SubcircuitTest, GatesWithoutAWireBetweenThemAreNotConnected) {
  const IdentityCirc id = IdentityCirc::unchecked(
      Circ::new_no_perm({I1(gates::X(), 0), I1(gates::X(), 1), I1(gates::X(), 0), I1(gates::X(), 1)}));
  const IdentitySubcircuit sub(id, flags(4, {0, 1}));
  EXPECT_FALSE(sub.is_connected());
  EXPECT_TRUE(sub.is_convex());
  EXPECT_TRUE(IdentitySubcircuit(id, flags(4, {0, 2})).is_connected());
}

TEST(SubcircuitTest, AWireLeavingAndReenteringIsNotConvex) {
  // CX X(1) CX X(1) = I; the CNOTs meet on wire 0, wire 1 passes X(1) between.
  const IdentityCirc id = IdentityCirc::unchecked(Circ::new_no_perm(
      {I2(gates::CX(), 0, 1), I1(gates::X(), 1), I2(gates::CX(), 0, 1), I1(gates::X(), 1)}));
  const IdentitySubcircuit sub(id, flags(4, {0, 2}));
  EXPECT_TRUE(sub.is_connected());
  EXPECT_FALSE(sub.is_convex());
  EXPECT_EQ(sub.inputs(), (std::vector<Port>{{1, 0, 1}, {1, 2, 1}}));
  EXPECT_EQ(sub.outputs(), (std::vector<Port>{{1, 0, 1}, {1, 2, 1}}));
}

TEST(SubcircuitTest, AWireReturningToItsGateIsAPort) {
  const IdentityCirc id = IdentityCirc::unchecked(Circ::new_no_perm(
      {I1(gates::X(), 0), I1(*Gate16::from_name("i"), 1), I1(gates::X(), 0)}));
  const IdentitySubcircuit all(id, flags(3, {0, 1, 2}));
  EXPECT_EQ(all.inputs(), (std::vector<Port>{{1, 1, 0}}));
  EXPECT_EQ(all.outputs(), (std::vector<Port>{{1, 1, 0}}));
  EXPECT_TRUE(all.is_convex());
  EXPECT_FALSE(all.is_connected());
}

TEST(SubcircuitTest, BlockedSelectionIsNotSplit) {
  // CX01 CX02 CX12 | CX12 CX02 CX01: CX02 sits between the selected CX01
  // and CX12 on wires 0 and 2, and everything after CX12 touches both.
  const IdentityCirc id = IdentityCirc::unchecked(Circ::new_no_perm(
      {I2(gates::CX(), 0, 1), I2(gates::CX(), 0, 2), I2(gates::CX(), 1, 2), I2(gates::CX(), 1, 2),
       I2(gates::CX(), 0, 2), I2(gates::CX(), 0, 1)}));
  const IdentitySubcircuit sub(id, flags(6, {0, 2}));
  EXPECT_TRUE(sub.is_connected());
  EXPECT_TRUE(sub.is_convex());
  EXPECT_EQ(sub.split(), std::nullopt);
  // CX12 CX12 next to each other does split, leaving the rest.
  const auto cut = IdentitySubcircuit(id, flags(6, {2, 3})).split();
  ASSERT_TRUE(cut.has_value());
  EXPECT_EQ(cut->first.instrs(), (std::vector<Instr32>{I2(gates::CX(), 1, 2), I2(gates::CX(), 1, 2)}));
  EXPECT_EQ(cut->second.instrs(),
            (std::vector<Instr32>{I2(gates::CX(), 0, 2), I2(gates::CX(), 0, 1), I2(gates::CX(), 0, 1),
                                  I2(gates::CX(), 0, 2)}));
}

TEST(SubcircuitTest, PhaseTwoCarriesTheTailThroughThePermutation) {
  // CX CX CX is a SWAP, undone by the permutation (1 0).
  const IdentityCirc id = IdentityCirc::unchecked(Circ::create(
      {I2(gates::CX(), 0, 1), I1(gates::H(), 0), I1(gates::H(), 0), I2(gates::CX(), 1, 0), I2(gates::CX(), 0, 1)},
      Permut32::from_iter(std::vector<uint8_t>{1, 0})));
  const auto cut = IdentitySubcircuit(id, flags(5, {0, 4})).split();
  ASSERT_TRUE(cut.has_value());
  // The last CX returns through the permutation as CX(1, 0), in front.
  EXPECT_EQ(cut->first.instrs(), (std::vector<Instr32>{I2(gates::CX(), 1, 0), I2(gates::CX(), 0, 1)}));
  EXPECT_TRUE(is_identity_up_to_phase(cut->first + cut->second));
}

TEST(SubcircuitTest, PhaseTwoComparesTheTailInTheFrontsFrame) {
  // Selected: CX21 (10) and CX01 (0), neighbours on wire 1 through the
  // permutation (2 1 0). On wire 2, H(2) (11) lies between them: after the
  // permutation it is H(0), which does not commute with the extracted
  // CX01, although H(2) and CX01 share no label.
  const IdentityCirc id = IdentityCirc::unchecked(Circ::create(
      {I2(gates::CX(), 0, 1), I2(gates::CX(), 0, 1), I2(gates::CX(), 2, 0), I2(gates::CX(), 0, 1),
       I2(gates::CX(), 0, 2), I2(gates::CX(), 2, 1), I2(gates::CX(), 2, 0), I1(gates::H(), 2),
       I2(gates::CX(), 2, 1), I2(gates::CX(), 0, 1), I2(gates::CX(), 2, 1), I1(gates::H(), 2)},
      Permut32::from_iter(std::vector<uint8_t>{2, 1, 0})));
  ASSERT_TRUE(is_identity_up_to_phase(id.circ()));
  const IdentitySubcircuit sub(id, flags(12, {0, 10}));
  EXPECT_TRUE(sub.is_connected());
  EXPECT_TRUE(sub.is_convex());
  EXPECT_EQ(sub.split(), std::nullopt);
  for (const auto& [s, r] : par_subcircuit_splits(id)) {
    EXPECT_TRUE(is_identity_up_to_phase(s + r)) << s.to_text() << " " << r.to_text();
  }
}

TEST(SubcircuitTest, EnumerationLimits) {
  const IdentityCirc empty = IdentityCirc::unchecked(Circ::create({}, Permut32::identity(2)));
  EXPECT_TRUE(par_subcircuit_splits(empty).empty());
  const IdentityCirc twenty = IdentityCirc::unchecked(Circ::new_no_perm(std::vector<Instr32>(20, I1(gates::H(), 0))));
  EXPECT_EQ(abort_message([&] { par_subcircuit_splits(twenty); }),
            "index out of bounds: the len is 20 but the index is 20");
  // A single selection may still be cut from a longer identity.
  const auto cut = IdentitySubcircuit(twenty, flags(20, {19})).split();
  ASSERT_TRUE(cut.has_value());
  EXPECT_EQ(cut->second.len(), 19u);
  const IdentityCirc long_id =
      IdentityCirc::unchecked(Circ::new_no_perm(std::vector<Instr32>(66, I1(gates::H(), 0))));
  EXPECT_EQ(abort_message([&] { IdentitySubcircuit(long_id, flags(66, {0})); }),
            "Subcircuits cover at most 64 instructions");
}

TEST(SubcircuitTest, FlagsPastTheCircuitAbort) {
  const IdentityCirc id = IdentityCirc::unchecked(Circ::new_no_perm({I1(gates::H(), 0), I1(gates::H(), 0)}));
  EXPECT_EQ(abort_message([&] { IdentitySubcircuit(id, flags(3, {2})); }),
            "index out of bounds: the len is 2 but the index is 2");
  EXPECT_EQ(IdentitySubcircuit(id, flags(3, {0})).selection(), 1u);
  EXPECT_EQ(IdentitySubcircuit(id, {true}).selection(), 1u);
}

// ---- Against the straightforward algorithms and the dense model. ----

TEST(SubcircuitTest, RandomIdentitiesAreIdentities) {
  for (const IdentityCirc& id : random_identities(7, 30, 14)) EXPECT_TRUE(is_identity_up_to_phase(id.circ())) << id.to_text();
}

TEST(SubcircuitTest, SelectionTestsMatchTheStraightforwardOnes) {
  std::mt19937 rng(11);
  int nontrivial_perm = 0, blocked = 0;
  for (const IdentityCirc& id : random_identities(3, 90, 12)) {
    nontrivial_perm += !id.circ().perm().is_identity();
    const std::size_t n = id.len();
    const WireTable table(id);
    for (int t = 0; t < 300; ++t) {
      const GateMask m = static_cast<GateMask>(rng()) & ((GateMask{1} << n) - 1);
      std::vector<bool> f(n);
      for (std::size_t i = 0; i < n; ++i) f[i] = (m >> i) & 1;
      const IdentitySubcircuit sub(id, f);
      ASSERT_EQ(sub.selection(), m);
      ASSERT_EQ(sub.is_connected(), ref_connected(id, f)) << id.to_text() << " " << m;
      ASSERT_EQ(table.is_connected(m), ref_connected(id, f)) << id.to_text() << " " << m;
      ASSERT_EQ(sub.is_convex(), ref_convex(id, f)) << id.to_text() << " " << m;
      ASSERT_EQ(table.is_convex(m), ref_convex(id, f)) << id.to_text() << " " << m;
      ASSERT_EQ(sub.inputs(), ref_ports(id, f, false)) << id.to_text() << " " << m;
      ASSERT_EQ(sub.outputs(), ref_ports(id, f, true)) << id.to_text() << " " << m;
      ASSERT_EQ(sub.split(), ref_split(id, f)) << id.to_text() << " " << m;
      blocked += sub.is_connected() && sub.is_convex() && m != 0 && !sub.split();
    }
  }
  // Both kinds of identity and of connected, convex selection occur.
  EXPECT_GT(nontrivial_perm, 10);
  EXPECT_GT(blocked, 10);
}

TEST(SubcircuitTest, EverySplitIsACutOfTheIdentity) {
  std::size_t cuts = 0;
  for (const IdentityCirc& id : random_identities(5, 90, 12)) {
    const std::vector<Cut> got = par_subcircuit_splits(id);
    ASSERT_EQ(got, ref_splits(id)) << id.to_text();
    for (const auto& [s, r] : got) {
      ASSERT_TRUE(is_identity_up_to_phase(s + r)) << id.to_text() << " " << s.to_text() << " " << r.to_text();
      EXPECT_EQ(s.perm(), Permut32::identity(id.nqubits()));
      EXPECT_EQ(s.len() + r.len(), id.len());
      EXPECT_LE(s.len(), id.len() / 2 + 1);
      EXPECT_GE(s.len(), 1u);
    }
    cuts += got.size();
  }
  EXPECT_GT(cuts, 200u);
}

TEST(SubcircuitTest, ParallelEqualsSequentialForAnyThreadCount) {
  // 14 to 16 instructions: 12,911 to 50,643 selections, several tasks each.
  std::mt19937 rng(9);
  std::vector<IdentityCirc> ids;
  while (ids.size() < 4) {
    IdentityCirc id = random_identity(rng, static_cast<uint8_t>(2 + ids.size() % 2), 16);
    if (id.len() >= 14) ids.push_back(std::move(id));
  }
  const SplitOptions sequential{SplitOptions::Execution::kSequential};
  for (const IdentityCirc& id : ids) {
    const std::vector<Cut> expected = ref_splits(id);
    EXPECT_FALSE(expected.empty());
    EXPECT_EQ(par_subcircuit_splits(id, sequential), expected) << id.to_text();
    EXPECT_EQ(par_subcircuit_splits(id), expected) << id.to_text();
    for (std::size_t threads : {1, 2}) {
      tbb::global_control limit(tbb::global_control::max_allowed_parallelism, threads);
      EXPECT_EQ(par_subcircuit_splits(id), expected) << id.to_text() << " threads " << threads;
    }
  }
}

}  // namespace
}  // namespace trevalon
