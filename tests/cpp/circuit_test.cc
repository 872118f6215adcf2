#include "identity/circuit.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "circ/gate.h"
#include "utils/abort.h"
#include "utils/siphash.h"

#include "test_support.h"

namespace trevalon {

static void PrintTo(const Circ& c, std::ostream* os) { *os << c.to_text(); }
static void PrintTo(const Instr32& i, std::ostream* os) { *os << i.to_text(); }
static void PrintTo(Permut32 p, std::ostream* os) { *os << p.to_text(); }

namespace {

using testing::abort_message;
using testing::I1;
using testing::I2;
using testing::P;

// A random circuit over a few built-in gates on n qubits, with a random
// trailing permutation.
Circ random_circ(std::mt19937& rng, uint8_t n, std::size_t len) {
  const Gate16 one[] = {gates::H(), gates::S(), gates::T(), gates::X()};
  std::vector<Instr32> instrs;
  std::uniform_int_distribution<int> q(0, n - 1);
  for (std::size_t i = 0; i < len; ++i) {
    if (n >= 2 && rng() % 3 == 0) {
      const uint8_t a = q(rng);
      uint8_t b = q(rng);
      while (b == a) b = q(rng);
      instrs.push_back(I2(rng() % 4 == 0 ? gates::SWAP() : gates::CX(), a, b));
    } else {
      instrs.push_back(I1(one[rng() % 4], q(rng)));
    }
  }
  const auto& all = Permut32::all(n);
  return Circ::create(std::move(instrs), all[rng() % all.size()]);
}

TEST(CircTest, ConstructionChecksQubitsAgainstPermutation) {
  const Circ c = Circ::new_no_perm({I2(gates::CX(), 0, 1)});
  EXPECT_EQ(c.perm(), Permut32::identity(2));
  EXPECT_EQ(Circ::new_no_perm({}).perm().raw(), 0u);
  EXPECT_EQ(abort_message([] { Circ::create({I2(gates::CX(), 0, 1)}, Permut32::identity(1)); }),
            "Permutation length must be greater than the max qubit index.");
  // A qubit of 8 can only come from a raw instruction.
  const Instr32 wide(gates::H(), QArgs16(8, QArgs16::kUnused));
  EXPECT_EQ(abort_message([&] { Circ::new_no_perm({wide}); }),
            "Permutation length must be less than or equal to 8");
  // Unique values below 8 that are not a permutation of 0..n-1.
  EXPECT_EQ(abort_message([] { Circ::create({}, Permut32::from_iter(std::vector<uint8_t>{2, 0})); }),
            "Permutation word is not a permutation");
}

TEST(CircTest, FromRecordRejectsMalformedInstructions) {
  const Permut32 id2 = Permut32::identity(2);
  struct Case {
    Instr32 instr;
    Permut32 perm;
    const char* message;
  };
  const Case cases[] = {
      {Instr32(gates::CX(), QArgs16(0, 0)), id2, "Qubit arguments must be unique"},
      {Instr32(gates::CX(), QArgs16(0, QArgs16::kUnused)), id2,
       "Number of qubit arguments does not match gate arity"},
      {Instr32(gates::H(), QArgs16(0, 1)), id2, "Number of qubit arguments does not match gate arity"},
      {Instr32(gates::H(), QArgs16(QArgs16::kUnused, 1)), id2, "Unused qubit slots must come last"},
      {Instr32(gates::H(), QArgs16(5, QArgs16::kUnused)), id2,
       "Permutation length must be greater than the max qubit index."},
      {Instr32(gates::H(), QArgs16(0, QArgs16::kUnused)), Permut32::from_raw(0x02000000),
       "Permutation word is not a permutation"},
      {Instr32(gates::H(), QArgs16(0, QArgs16::kUnused)), Permut32::from_raw(0x0F000000),
       "Permutation word is not a permutation"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(abort_message([&] { Circ::from_record({c.instr}, c.perm); }), c.message) << c.instr.to_text();
  }
  EXPECT_EQ(Circ::from_record({I2(gates::CX(), 1, 0)}, id2).len(), 1u);
}

TEST(CircTest, RemoveSwapsAbsorbsIntoPermutation) {
  const Circ c = Circ::create({I2(gates::SWAP(), 0, 1), I1(gates::X(), 0)}, Permut32::identity(2));
  const Circ r = c.remove_swaps();
  EXPECT_EQ(r.instrs(), std::vector<Instr32>{I1(gates::X(), 1)});
  EXPECT_EQ(r.perm(), P({1, 0}));
  const Instr32 half_swap(gates::SWAP(), QArgs16(0, QArgs16::kUnused));
  EXPECT_EQ(abort_message([&] { Circ::create({half_swap}, Permut32::identity(2)).remove_swaps(); }),
            "Index out of bounds");
}

TEST(CircTest, InstrsWithSwapsRealisePermutation) {
  const Circ c = Circ::create({I1(gates::H(), 0)}, P({2, 0, 1}));
  // Sorting (2 0 1) with the 3-network swaps entries 0,2 then 0,1.
  EXPECT_EQ(c.instrs_with_swaps(),
            (std::vector<Instr32>{I1(gates::H(), 0), I2(gates::SWAP(), 0, 2), I2(gates::SWAP(), 0, 1)}));
}

TEST(CircTest, RotateBounds) {
  const Circ c = Circ::create({I1(gates::H(), 0), I1(gates::S(), 1), I1(gates::T(), 2)}, P({1, 2, 0}));
  EXPECT_EQ(c.rotate(0), c);
  // Moving instructions to the end carries them back through perm^-1 = (2 0 1).
  EXPECT_EQ(c.rotate(1).instrs(),
            (std::vector<Instr32>{I1(gates::S(), 1), I1(gates::T(), 2), I1(gates::H(), 2)}));
  EXPECT_EQ(c.rotate(-1).instrs(),
            (std::vector<Instr32>{I1(gates::T(), 0), I1(gates::H(), 0), I1(gates::S(), 1)}));
  EXPECT_EQ(c.rotate(3).len(), 3u);
  EXPECT_EQ(c.rotate(-3).len(), 3u);
  EXPECT_EQ(abort_message([&] { c.rotate(4); }), "range end index 4 out of range for slice of length 3");
  EXPECT_EQ(abort_message([&] { c.rotate(-4); }), "range end index 4 out of range for slice of length 3");
  EXPECT_EQ(abort_message([&] { c.rotate(INT64_MIN); }),
            "range end index 9223372036854775808 out of range for slice of length 3");
}

TEST(CircTest, ReorderOnlySwapsDisjointNeighbours) {
  Circ a = Circ::new_no_perm({I1(gates::X(), 1), I1(gates::X(), 0)});
  EXPECT_EQ(std::move(a).reorder_instrs().instrs(),
            (std::vector<Instr32>{I1(gates::X(), 0), I1(gates::X(), 1)}));
  Circ b = Circ::new_no_perm({I2(gates::CX(), 0, 1), I1(gates::X(), 0)});
  EXPECT_EQ(std::move(b).reorder_instrs().instrs(),
            (std::vector<Instr32>{I2(gates::CX(), 0, 1), I1(gates::X(), 0)}));
  // h(0) passes h(1) but stops at x(0), although h(0) < x(0).
  Circ c = Circ::new_no_perm({I1(gates::H(), 1), I1(gates::X(), 0), I1(gates::H(), 0)});
  EXPECT_EQ(std::move(c).reorder_instrs().instrs(),
            (std::vector<Instr32>{I1(gates::X(), 0), I1(gates::H(), 0), I1(gates::H(), 1)}));
}

TEST(CircTest, CompactQubitsCutsUnusedTail) {
  Circ c = Circ::create({I1(gates::H(), 1)}, P({1, 0, 2, 3}));
  EXPECT_EQ(std::move(c).compact_qubits().perm(), P({1, 0}));
  Circ full = Circ::create({I1(gates::H(), 0)}, P({0, 2, 1}));
  EXPECT_EQ(std::move(full).compact_qubits().perm(), P({0, 2, 1}));
}

TEST(CircTest, PermutConjugatesTrailingPermutation) {
  const Circ c = Circ::create({I2(gates::CX(), 0, 1)}, P({1, 2, 0}));
  const Circ r = c.permut(P({2, 0, 1}));
  EXPECT_EQ(r.instrs(), std::vector<Instr32>{I2(gates::CX(), 2, 0)});
  // o^-1 = (1 2 0), s o^-1 = (2 0 1), o s o^-1 = (1 2 0).
  EXPECT_EQ(r.perm(), P({1, 2, 0}));
  // A shorter relabelling is extended with fixed points.
  EXPECT_EQ(Circ::create({I1(gates::H(), 2)}, Permut32::identity(3)).permut(P({1, 0})).instrs(),
            std::vector<Instr32>{I1(gates::H(), 2)});
}

TEST(CircTest, AdditionCarriesSecondThroughFirstPermutation) {
  const Circ a = Circ::create({I1(gates::H(), 0)}, P({1, 0}));
  const Circ b = Circ::create({I1(gates::X(), 1)}, Permut32::identity(3));
  const Circ s = a + b;
  // x(1) after a's (1 0): that wire was at position 0 before the move.
  EXPECT_EQ(s.instrs(), (std::vector<Instr32>{I1(gates::H(), 0), I1(gates::X(), 0)}));
  EXPECT_EQ(s.perm(), P({1, 0, 2}));
}

TEST(CircTest, InverseIsInvolutive) {
  std::mt19937 rng(7);
  for (int i = 0; i < 20; ++i) {
    const Circ c = random_circ(rng, 1 + i % 4, 6);
    EXPECT_EQ(c.inverse().inverse(), c);
  }
}

TEST(CircTest, CyclicIndexing) {
  const Circ c = Circ::new_no_perm({I1(gates::H(), 0), I1(gates::X(), 1)});
  EXPECT_EQ(c.at_cyclic(-1), I1(gates::X(), 1));
  EXPECT_EQ(c.at_cyclic(2), I1(gates::H(), 0));
  EXPECT_EQ(c.at_cyclic(INT64_MIN), I1(gates::H(), 0));
  EXPECT_EQ(abort_message([] { Circ().at_cyclic(0); }),
            "attempt to calculate the remainder with a divisor of zero");
}

TEST(CircTest, OrderAndEquality) {
  const Circ short_perm = Circ::create({I1(gates::H(), 0)}, Permut32::identity(1));
  const Circ long_perm = Circ::create({I1(gates::H(), 0)}, Permut32::identity(2));
  EXPECT_NE(short_perm, long_perm);
  EXPECT_LT(short_perm, long_perm);  // 0x01000000 < 0x02000008
  const Circ two = Circ::new_no_perm({I1(gates::H(), 0), I1(gates::H(), 0)});
  EXPECT_LT(long_perm, two);  // fewer instructions first
  const Circ a = Circ::new_no_perm({I2(gates::CX(), 0, 1)});
  const Circ b = Circ::new_no_perm({I2(gates::CX(), 1, 0)});
  EXPECT_LT(a, b);
}

TEST(CircTest, TextForms) {
  const Circ c = Circ::create({I2(gates::CX(), 0, 1), I1(gates::H(), 1)}, P({1, 0}));
  EXPECT_EQ(c.to_text(), "Circuit { cx(0, 1) h(1) (1 0) }");
  EXPECT_EQ(c.debug_text(), "Circ { instrs: [cx(0, 1), h(1)], perm: (1 0) }");
  EXPECT_EQ(Circ().to_text(), "Circuit { () }");
  EXPECT_EQ(Circ().debug_text(), "Circ { instrs: [], perm: () }");
}

TEST(CircTest, HashIsSipHashOfTheByteStream) {
  const Circ c = Circ::create({I2(gates::CX(), 0, 1), I1(gates::H(), 1)}, P({1, 0}));
  const uint16_t cx = gates::CX().id(), h = gates::H().id();
  const uint32_t raw = P({1, 0}).raw();
  const std::vector<uint8_t> bytes = {
      2, 0, 0, 0,                                                           // count
      uint8_t(cx), uint8_t(cx >> 8), 2, 0, 0, 0, 0, 1,                      // cx(0, 1)
      uint8_t(h), uint8_t(h >> 8), 2, 0, 0, 0, 1, 255,                      // h(1)
      uint8_t(raw), uint8_t(raw >> 8), uint8_t(raw >> 16), uint8_t(raw >> 24)};  // perm
  EXPECT_EQ(c.hash_value(), siphash13(bytes));
}

TEST(CircTest, AffectedQubits) {
  const Circ c = Circ::create({I2(gates::CX(), 2, 0)}, P({0, 3, 2, 1}));
  EXPECT_EQ(c.affected_qubits(), (std::vector<uint8_t>{2, 0, 1, 3}));
}

// The canonical forms, recomputed literally (one fresh circuit per candidate)
// to check the in-place search.
Circ literal_representative(const Circ& circ, Permut32* chosen) {
  const Circ c = Circ(circ).compact_qubits().remove_swaps();
  if (c.is_empty()) {
    *chosen = Permut32();
    return c;
  }
  bool have = false;
  Circ best;
  for (Permut32 p : Permut32::all(c.nqubits())) {
    Circ cand = c.permut(p).reorder_instrs().compact_qubits();
    if (!have || cand < best || (cand == best && p < *chosen)) {
      best = cand;
      *chosen = p;
      have = true;
    }
  }
  return best;
}

TEST(CircTest, RepresentativeMatchesLiteralDefinitionAndIgnoresRelabelling) {
  std::mt19937 rng(11);
  for (int i = 0; i < 60; ++i) {
    const uint8_t n = 1 + i % 5;
    const Circ c = random_circ(rng, n, 1 + i % 9);
    Permut32 chosen;
    const Circ expected = literal_representative(c, &chosen);
    EXPECT_EQ(c.representative(), expected) << c.to_text();
    const auto [rep, p] = c.representative_with_perm();
    EXPECT_EQ(rep, expected);
    EXPECT_EQ(p, chosen);
    const auto& all = Permut32::all(n);
    EXPECT_EQ(c.permut(all[rng() % all.size()]).representative(), expected) << c.to_text();
  }
}

TEST(CircTest, RepresentativeOfSwapOnlyCircuitIsEmpty) {
  const Circ c = Circ::create({I2(gates::SWAP(), 0, 1)}, Permut32::identity(2));
  const auto [rep, p] = c.representative_with_perm();
  EXPECT_TRUE(rep.is_empty());
  EXPECT_EQ(rep.perm(), P({1, 0}));
  EXPECT_EQ(p.raw(), 0u);
}

}  // namespace
}  // namespace trevalon
