#include "identity/idcircuit.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <random>
#include <thread>
#include <vector>

#include "circ/gate.h"
#include "utils/abort.h"

#include "test_support.h"

namespace trevalon {

static void PrintTo(const IdentityCirc& c, std::ostream* os) { *os << c.to_text(); }

namespace {

using testing::abort_message;
using testing::I1;
using testing::I2;
using testing::P;

std::vector<std::size_t> to_vec(const WireNeighbours& w) { return {w.begin(), w.end()}; }

// C followed by C^-1 for a random C: an identity by construction.
Circ random_identity(std::mt19937& rng, uint8_t n, std::size_t half) {
  const Gate16 one[] = {gates::H(), gates::S(), gates::T(), gates::X()};
  std::vector<Instr32> instrs;
  std::uniform_int_distribution<int> q(0, n - 1);
  for (std::size_t i = 0; i < half; ++i) {
    if (n >= 2 && rng() % 2 == 0) {
      const uint8_t a = q(rng);
      uint8_t b = q(rng);
      while (b == a) b = q(rng);
      instrs.push_back(I2(gates::CX(), a, b));
    } else {
      instrs.push_back(I1(one[rng() % 4], q(rng)));
    }
  }
  const auto& all = Permut32::all(n);
  const Circ c = Circ::create(std::move(instrs), all[rng() % all.size()]);
  return c + c.inverse();
}

TEST(IdentityCircTest, CheckAcceptsIdentities) {
  EXPECT_TRUE(IdentityCirc::unchecked(Circ::create({}, Permut32::identity(3))).check());
  EXPECT_TRUE(IdentityCirc::unchecked(Circ::new_no_perm({I1(gates::H(), 0), I1(gates::H(), 0)})).check());
  // Three CNOTs make a SWAP, undone by the trailing permutation.
  const Circ swap3 = Circ::create({I2(gates::CX(), 0, 1), I2(gates::CX(), 1, 0), I2(gates::CX(), 0, 1)}, P({1, 0}));
  EXPECT_TRUE(IdentityCirc::unchecked(swap3).check());
  // A gate followed by its adjoint.
  EXPECT_TRUE(IdentityCirc::unchecked(Circ::new_no_perm({I1(gates::S(), 0), I1(gates::SDG(), 0)})).check());
}

TEST(IdentityCircTest, CheckRejectsNonIdentities) {
  const std::string msg = abort_message([] { IdentityCirc::unchecked(Circ::new_no_perm({I1(gates::H(), 0)})); });
  EXPECT_EQ(msg.rfind("IdentityCirc: circuit is not identity [", 0), 0u) << msg;
  EXPECT_TRUE(msg.ends_with("] Identity { h(0) (0) }")) << msg;
  // A bare relabelling is not an identity either.
  EXPECT_NE(abort_message([] { IdentityCirc::unchecked(Circ::create({}, P({1, 0}))); }), "<no abort>");
  // x on one of two qubits: the untouched qubit must not hide the change.
  EXPECT_NE(abort_message([] { IdentityCirc::unchecked(Circ::create({I1(gates::X(), 1)}, Permut32::identity(2))); }),
            "<no abort>");
}

TEST(IdentityCircTest, CheckRefusesMisshapenInstructions) {
  const Instr32 half(gates::CX(), QArgs16(0, QArgs16::kUnused));
  EXPECT_EQ(abort_message([&] { IdentityCirc::unchecked(Circ::create({half, half}, Permut32::identity(2))); }),
            "assertion failed: qubits.len() == 2");
}

TEST(IdentityCircTest, TextForms) {
  const IdentityCirc id = IdentityCirc::unchecked(Circ::new_no_perm({I1(gates::H(), 0), I1(gates::H(), 0)}));
  EXPECT_EQ(id.to_text(), "Identity { h(0) h(0) (0) }");
  EXPECT_EQ(id.debug_text(), "IdentityCirc(Circ { instrs: [h(0), h(0)], perm: (0) })");
  EXPECT_EQ(IdentityCirc::unchecked(Circ::create({}, Permut32::identity(2))).to_text(), "Identity { (0 1) }");
}

TEST(IdentityCircTest, HashEqualsCircuitHash) {
  const Circ c = Circ::new_no_perm({I1(gates::H(), 0), I1(gates::H(), 0)});
  const IdentityCirc id = IdentityCirc::unchecked(c);
  EXPECT_EQ(id.hash_value(), c.hash_value());
  EXPECT_EQ(IdentityCircHash{}(id), static_cast<std::size_t>(c.hash_value()));
}

TEST(IdentityCircTest, NeighboursOfTwoHadamards) {
  const IdentityCirc id = IdentityCirc::unchecked(Circ::new_no_perm({I1(gates::H(), 0), I1(gates::H(), 0)}));
  EXPECT_EQ(to_vec(id.qargs_forward(0)), std::vector<std::size_t>{1});
  EXPECT_EQ(to_vec(id.qargs_forward(1)), std::vector<std::size_t>{0});
  EXPECT_EQ(to_vec(id.qargs_backward(0)), std::vector<std::size_t>{1});
  EXPECT_EQ(to_vec(id.qargs_backward(1)), std::vector<std::size_t>{0});
  EXPECT_EQ(abort_message([&] { id.qargs_forward(2); }), "index out of bounds: the len is 2 but the index is 2");
}

TEST(IdentityCircTest, NeighboursFollowWiresThroughPermutation) {
  // cx(0,1) cx(1,0) cx(0,1) then the permutation (1 0).
  const IdentityCirc id = IdentityCirc::unchecked(
      Circ::create({I2(gates::CX(), 0, 1), I2(gates::CX(), 1, 0), I2(gates::CX(), 0, 1)}, P({1, 0})));
  // Every wire meets the next CNOT at once.
  EXPECT_EQ(to_vec(id.qargs_forward(0)), (std::vector<std::size_t>{1, 1}));
  EXPECT_EQ(to_vec(id.qargs_forward(2)), (std::vector<std::size_t>{0, 0}));
  EXPECT_EQ(to_vec(id.qargs_backward(0)), (std::vector<std::size_t>{2, 2}));
  EXPECT_EQ(to_vec(id.qargs_backward(1)), (std::vector<std::size_t>{0, 0}));
  // A wire that meets nothing comes back to its own instruction.
  const IdentityCirc lone = IdentityCirc::unchecked(
      Circ::create({I1(gates::H(), 0), I1(gates::H(), 0), I1(gates::X(), 1), I1(gates::X(), 1)}, Permut32::identity(2)));
  EXPECT_EQ(to_vec(lone.qargs_forward(1)), std::vector<std::size_t>{0});
  EXPECT_EQ(to_vec(lone.qargs_backward(2)), std::vector<std::size_t>{3});
}

TEST(IdentityCircTest, NeighbourQueriesAbortOnUnsetWires) {
  // Unchecked records need not be identities: the wire of h(0) leaves
  // through the permutation onto qubit 1 and never returns.
  const IdentityCirc bad = IdentityCirc::from_record({I1(gates::H(), 0)}, P({1, 0}));
  EXPECT_EQ(abort_message([&] { bad.qargs_forward(0); }), "Identity { h(0) (1 0) } [18446744073709551615]");
  EXPECT_EQ(abort_message([&] { bad.qargs_backward(0); }),
            "a Identity { h(0) (1 0) } Circ { instrs: [h(1)], perm: (1 0) } 0");
}

TEST(IdentityCircTest, CyclicIndexingAndOrder) {
  const IdentityCirc id = IdentityCirc::unchecked(Circ::new_no_perm({I1(gates::H(), 0), I1(gates::H(), 0)}));
  EXPECT_EQ(id.at_cyclic(-1), I1(gates::H(), 0));
  EXPECT_EQ(abort_message([] { IdentityCirc().at_cyclic(-1); }),
            "attempt to calculate the remainder with a divisor of zero");
  const IdentityCirc empty = IdentityCirc::unchecked(Circ::create({}, Permut32::identity(1)));
  EXPECT_LT(empty, id);
  EXPECT_EQ(IdentityCirc::create({}, Permut32()), IdentityCirc());
}

TEST(IdentityCircTest, RotateRepresentativeIsInvariant) {
  std::mt19937 rng(5);
  for (int i = 0; i < 40; ++i) {
    const uint8_t n = 1 + i % 4;
    const Circ c = random_identity(rng, n, 1 + i % 5);
    const IdentityCirc rep = c.rotate_representative();
    const auto& all = Permut32::all(n);
    const Circ relabelled = c.permut(all[rng() % all.size()]);
    EXPECT_EQ(relabelled.rotate_representative(), rep) << c.to_text();
    const auto shift = static_cast<int64_t>(rng() % (c.len() + 1));
    EXPECT_EQ(c.rotate(shift).rotate_representative(), rep) << c.to_text() << " " << shift;
    EXPECT_EQ(c.rotate(-shift).rotate_representative(), rep) << c.to_text() << " " << -shift;
  }
}

TEST(IdentityCircTest, RotateRepresentativeOfNonIdentityAborts) {
  const std::string msg =
      abort_message([] { Circ::new_no_perm({I1(gates::H(), 0), I1(gates::T(), 0)}).rotate_representative(); });
  EXPECT_EQ(msg.rfind("IdentityCirc: circuit is not identity", 0), 0u) << msg;
}

TEST(CombinationsTest, SmallEntries) {
  auto entry = [](std::size_t n) {
    std::vector<std::vector<uint8_t>> out;
    const GateSubsets& s = combinations(n);
    for (std::size_t i = 0; i < s.size(); ++i) out.emplace_back(s[i].begin(), s[i].end());
    return out;
  };
  using V = std::vector<std::vector<uint8_t>>;
  EXPECT_EQ(entry(0), (V{{}}));
  EXPECT_EQ(entry(1), (V{{}, {0}}));
  EXPECT_EQ(entry(2), (V{{}, {0}, {1}, {0, 1}}));
  EXPECT_EQ(entry(3), (V{{}, {0}, {1}, {2}, {0, 1}, {0, 2}, {1, 2}}));
  EXPECT_EQ(entry(4), (V{{}, {0}, {1}, {2}, {3}, {0, 1}, {0, 2}, {0, 3}, {1, 2}, {1, 3}, {2, 3},
                         {0, 1, 2}, {0, 1, 3}, {0, 2, 3}, {1, 2, 3}}));
  EXPECT_EQ(combinations(5).size(), 26u);
}

TEST(CombinationsTest, EveryEntryListsSubsetsBySizeThenLexicographically) {
  for (std::size_t n = 0; n < kCombinationLengths; ++n) {
    // Independent enumeration: every bit mask with at most n/2 + 1 bits,
    // ordered by size, then as sorted index lists.
    std::vector<std::vector<uint8_t>> expected;
    for (uint32_t mask = 0; mask < (1u << n); ++mask) {
      if (static_cast<std::size_t>(std::popcount(mask)) > n / 2 + 1) continue;
      std::vector<uint8_t> s;
      for (uint8_t i = 0; i < n; ++i) {
        if (mask & (1u << i)) s.push_back(i);
      }
      expected.push_back(std::move(s));
    }
    std::sort(expected.begin(), expected.end(), [](const auto& a, const auto& b) {
      return a.size() != b.size() ? a.size() < b.size() : a < b;
    });
    const GateSubsets& got = combinations(n);
    ASSERT_EQ(got.size(), expected.size()) << n;
    for (std::size_t i = 0; i < got.size(); ++i) {
      ASSERT_TRUE(std::equal(got[i].begin(), got[i].end(), expected[i].begin(), expected[i].end())) << n << " " << i;
    }
  }
  EXPECT_EQ(combinations(19).size(), 354522u);
  EXPECT_EQ(abort_message([] { combinations(20); }), "index out of bounds: the len is 20 but the index is 20");
  EXPECT_EQ(abort_message([] { combinations(3)[7]; }), "index out of bounds: the len is 7 but the index is 7");
}

TEST(CombinationsTest, ConcurrentFirstUseSeesOneTable) {
  std::vector<const GateSubsets*> seen(4);
  std::vector<std::thread> threads;
  for (std::size_t t = 0; t < seen.size(); ++t) {
    threads.emplace_back([&seen, t] { seen[t] = &combinations(12); });
  }
  for (auto& th : threads) th.join();
  for (const GateSubsets* s : seen) EXPECT_EQ(s, seen[0]);
}

}  // namespace
}  // namespace trevalon
