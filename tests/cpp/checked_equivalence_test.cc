#include "search/checked_equivalence.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "map_test_support.h"

namespace trevalon {
namespace {

using testing::abort_message;
using testing::same_up_to_phase;
using testing::searched_map;
using testing::seeded_evaluator;

Instr32 on(Gate16 g, uint8_t q) { return Instr32::create(g, std::vector<uint8_t>{q}); }
Instr32 on(Gate16 g, uint8_t a, uint8_t b) { return Instr32::create(g, std::vector<uint8_t>{a, b}); }
Permut32 perm(std::vector<uint8_t> v) { return Permut32::from_iter(v); }

TEST(CheckedEquivalenceSurface, HashmapKeepsScanOrderAndFiltersPositions) {
  const std::vector<Instr32> c = {on(gates::H(), 0), on(gates::CX(), 0, 1), on(gates::H(), 1)};
  EXPECT_EQ(circuit_get_surface_gates_hashmap(c, ~uint64_t{0}), (SurfacePositions{{c[0], 0}}));
  // Without position 0 the CX is in front and still shadows h(1).
  EXPECT_EQ(circuit_get_surface_gates_hashmap(c, 0b110), (SurfacePositions{{c[1], 1}}));
  EXPECT_EQ(circuit_get_surface_gates_hashmap(c, 0b100), (SurfacePositions{{c[2], 2}}));
  EXPECT_TRUE(circuit_get_surface_gates_hashmap(c, 0).empty());
}

TEST(CheckedEquivalenceSurface, RepeatedGateKeepsFirstSlotWithLaterPosition) {
  // An instruction without qubits is always surface, so it can repeat.
  const Instr32 bare(gates::X(), QArgs16());
  const std::vector<Instr32> c = {bare, on(gates::H(), 0), bare};
  EXPECT_EQ(circuit_get_surface_gates_hashmap(c, ~uint64_t{0}),
            (SurfacePositions{{bare, 2}, {on(gates::H(), 0), 1}}));
}

TEST(CheckedEquivalenceFront, PeelsCommonFrontsOverSeveralPasses) {
  const Instr32 h0 = on(gates::H(), 0), x1 = on(gates::X(), 1), z1 = on(gates::Z(), 1);
  const Instr32 cx = on(gates::CX(), 0, 1);
  using Masks = std::pair<uint64_t, uint64_t>;
  EXPECT_EQ(reduce_equivalence_front(std::vector{h0, x1}, std::vector{h0, z1}), (Masks{0b10, 0b10}));
  // The CX only becomes surface once h(0) is peeled.
  EXPECT_EQ(reduce_equivalence_front(std::vector{h0, cx}, std::vector{h0, cx}), (Masks{0, 0}));
  // Commuting gates match in any order.
  EXPECT_EQ(reduce_equivalence_front(std::vector{x1, h0}, std::vector{h0, x1}), (Masks{0, 0}));
  EXPECT_EQ(reduce_equivalence_front(std::vector{h0, cx}, std::vector{cx, h0}), (Masks{0b11, 0b11}));
  // Masks cover lengths modulo 64: 64 instructions give no bits at all.
  const std::vector<Instr32> long64(64, h0), long65(65, h0);
  EXPECT_EQ(reduce_equivalence_front(long64, std::vector{h0}), (Masks{0, 1}));
  EXPECT_EQ(reduce_equivalence_front(long65, std::vector{x1}), (Masks{1, 1}));
}

TEST(CheckedEquivalenceRetain, KeepsPositionsSetInBothMasks) {
  const std::vector<Instr32> all = {on(gates::H(), 0), on(gates::X(), 1), on(gates::Z(), 0), on(gates::T(), 1)};
  std::vector<Instr32> c = all;
  // Front mask drops position 0; back mask bit 0 is the last position.
  EXPECT_EQ(retain_by_masks(c, 0b1110, 0b1110), 2u);
  EXPECT_EQ(c, (std::vector{all[1], all[2]}));
  c = all;
  EXPECT_EQ(retain_by_masks(c, 0b1111, 0b1111), 0u);
  EXPECT_EQ(c, all);
}

TEST(CheckedEquivalenceReduce, RemovesCommonFrontFromBoth) {
  const Permut32 id = Permut32::identity(2);
  CircPair a{{on(gates::H(), 0), on(gates::X(), 1)}, id};
  CircPair b{{on(gates::H(), 0), on(gates::Z(), 1)}, id};
  EXPECT_EQ(reduce_equivalence(a, b), 1u);
  EXPECT_EQ(a.first, (std::vector{on(gates::X(), 1)}));
  EXPECT_EQ(b.first, (std::vector{on(gates::Z(), 1)}));
}

TEST(CheckedEquivalenceReduce, ComparesLastGatesThroughTheTrailingPermutation) {
  // h(0) then swapping the qubits ends with h on qubit 1, as h(1) does.
  CircPair a{{on(gates::H(), 0)}, perm({1, 0})};
  CircPair b{{on(gates::H(), 1)}, Permut32::identity(2)};
  EXPECT_EQ(reduce_equivalence(a, b), 1u);
  EXPECT_TRUE(a.first.empty());
  EXPECT_TRUE(b.first.empty());
  EXPECT_EQ(a.second, perm({1, 0}));
}

TEST(CheckedEquivalenceReduce, UnequalRemovalAbortsWithTheMasks) {
  const Instr32 h0 = on(gates::H(), 0), x1 = on(gates::X(), 1);
  const Permut32 id = Permut32::identity(2);
  // The lone h(0) is both front and back of the first circuit: removed once.
  CircPair a{{h0}, id};
  CircPair b{{h0, x1, h0}, id};
  EXPECT_EQ(abort_message([&] { reduce_equivalence(a, b); }),
            "mask1f: 0, mask1b: 0, mask2f: 110, mask2b: 110");
}

class CheckedEquivalenceBucket : public ::testing::Test {
 protected:
  // A bucket holding [h(0), x(1)] and then [cx(0, 1)] with identity pairs.
  CheckedEquivalenceBucket() : bucket(make()) {}

  CircuitECC make() {
    const Permut32 id = Permut32::identity(2);
    const AliasList hx = arena.cons(on(gates::X(), 1), arena.cons(on(gates::H(), 0), AliasList()));
    CircuitECC b(2, {id, hx, id}, {}, {});
    b.push_triple({id, arena.cons(on(gates::CX(), 0, 1), AliasList()), id});
    return b;
  }

  CellArena arena;
  CircuitECC bucket;
};

TEST_F(CheckedEquivalenceBucket, ExportReducesAgainstTheFirstQualifyingCircuit) {
  const Permut32 id = Permut32::identity(2);
  const std::vector<Instr32> query = {on(gates::H(), 0), on(gates::Z(), 1)};
  const auto [x, y] = export_equivalence(bucket, arena, id, query, id);
  EXPECT_EQ(x, (CircPair{{on(gates::X(), 1)}, id}));
  EXPECT_EQ(y, (CircPair{{on(gates::Z(), 1)}, id}));
}

TEST_F(CheckedEquivalenceBucket, ExportOfAStoredCircuitUnderRelabellingIsEmpty) {
  // Through f = b = (1 0) the query is h(0) x(1) with the identity.
  const Permut32 swap = perm({1, 0});
  const std::vector<Instr32> query = {on(gates::H(), 1), on(gates::X(), 0)};
  const auto [x, y] = export_equivalence(bucket, arena, swap, query, swap);
  const CircPair empty{{}, Permut32::identity(2)};
  EXPECT_EQ(x, empty);
  EXPECT_EQ(y, empty);
}

TEST_F(CheckedEquivalenceBucket, ExportWithoutCommonGateAborts) {
  // Through f = (1 0) the query is cx(1, 0), which shares no end gate.
  const std::vector<Instr32> query = {on(gates::CX(), 0, 1)};
  EXPECT_EQ(abort_message([&] { export_equivalence(bucket, arena, perm({1, 0}), query, perm({1, 0})); }),
            "No equivalence found during export_equivalence: h(0) x(1) (0 1), cx(0, 1) (0 1) = cx(1, 0) (0 1)");
}

class CheckedEquivalenceSearched : public ::testing::Test {
 protected:
  static constexpr uint32_t kQubits = 3;
  CheckedEquivalenceSearched()
      : ev(seeded_evaluator(kQubits, 21)),
        map(searched_map(ev, std::vector<Gate16>{gates::H(), gates::T(), gates::CX()}, 4)) {}

  Evaluator ev;
  RawECCs map;
};

TEST_F(CheckedEquivalenceSearched, EveryStoredCircuitReducesToOneEquivalentForm) {
  std::size_t multi = 0;
  for (const RawECCs::Bucket& b : map.buckets()) {
    std::optional<CircPair> first;
    for (const CircTriple& t : b.ecc.circuits()) {
      const CircPair pair = t.simplify(map.arena());
      const CircPair r = checked_equivalent(map, pair.first, pair.second, ev);
      EXPECT_TRUE(same_up_to_phase(r, pair, kQubits)) << b.ecc.to_text(map.arena());
      if (!first) {
        first = r;
      } else {
        EXPECT_EQ(r, *first) << b.ecc.to_text(map.arena());
      }
    }
    if (b.ecc.circuits().size() > 1) ++multi;
  }
  EXPECT_GT(multi, 10u);
}

TEST_F(CheckedEquivalenceSearched, FirstCircuitGivesItsRepresentativeForm) {
  for (const RawECCs::Bucket& b : map.buckets()) {
    const CircTriple& t = b.ecc.circuits().front();
    const std::vector<Instr32> cells = map.arena().collect(t.circ);
    const CircPair r = checked_equivalent(map, cells, Permut32::identity(kQubits), ev);
    EXPECT_TRUE(same_up_to_phase(r, {cells, Permut32::identity(kQubits)}, kQubits));
    // The circuit itself, under its own recorded pair, is one candidate.
    const CircPair self{cells, Permut32::identity(kQubits)};
    EXPECT_FALSE(self.first < r.first || (self.first == r.first && self.second.raw() < r.second.raw()));
  }
}

TEST_F(CheckedEquivalenceSearched, RelabelledQueriesReduceToEquivalentForms) {
  // Circuits that are not stored as given: every placement of one circuit,
  // each with a trailing permutation.
  const std::vector<Instr32> c = {on(gates::H(), 0), on(gates::CX(), 0, 1), on(gates::T(), 2)};
  for (Permut32 p : Permut32::all(kQubits)) {
    std::vector<Instr32> moved;
    for (const Instr32& i : c) moved.push_back(i.apply_permutation(p));
    const CircPair query{moved, p.inv()};
    EXPECT_TRUE(same_up_to_phase(checked_equivalent(map, query.first, query.second, ev), query, kQubits))
        << p.to_text();
  }
}

TEST(CheckedEquivalence, AbsentKeyAborts) {
  const Evaluator ev = seeded_evaluator(2, 4);
  const RawECCs fresh(ev);
  EXPECT_EQ(abort_message([&] { checked_equivalent(fresh, std::vector{on(gates::H(), 0)}, Permut32::identity(2), ev); }),
            "no entry found for key");
  // The empty circuit is the root.
  EXPECT_EQ(checked_equivalent(fresh, {}, Permut32::identity(2), ev), (CircPair{{}, Permut32::identity(2)}));
}

TEST(CheckedEquivalence, InconsistentBucketAbortsWithBothRoutes) {
  // One qubit: every permutation is (0). A map that wrongly puts h x and
  // h z together: reducing both leaves x against z, whose classes differ.
  const Evaluator ev = seeded_evaluator(1, 8);
  const Permut32 id = Permut32::identity(1);
  auto arena = std::make_shared<CellArena>();
  RawECCs map(1, arena);
  map.put(ev.initial_key(), CircuitECC::root(1));
  const Instr32 h = on(gates::H(), 0), x = on(gates::X(), 0), z = on(gates::Z(), 0);
  auto key = [&](std::vector<Instr32> c) { return ev.evaluate(c).back.hash_value(); };
  const AliasList cell_h = arena->cons(h, AliasList());
  CircuitECC wrong(2, {id, arena->cons(x, cell_h), id}, {}, {});
  wrong.push_triple({id, arena->cons(z, cell_h), id});
  map.put(key({h, z}), std::move(wrong));
  map.put(key({x}), CircuitECC(1, {id, arena->cons(x, AliasList()), id}, {}, {}));
  map.put(key({z}), CircuitECC(1, {id, arena->cons(z, AliasList()), id}, {}, {}));
  EXPECT_EQ(abort_message([&] { checked_equivalent(map, std::vector{h, z}, id, ev); }),
            "Non-deterministic equivalence detected during checked equivalence: \n"
            " CircuitECC {h(0) x(0) (0), h(0) z(0) (0)} vs h(0) z(0) \n"
            " x(0) (0) vs z(0) (0) \n"
            " x(0) (0) vs z(0) (0)");
}

}  // namespace
}  // namespace trevalon
