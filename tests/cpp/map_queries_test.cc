#include "search/map_queries.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "map_test_support.h"
#include "oneapi/tbb/global_control.h"

namespace trevalon {
namespace {

using testing::abort_message;
using testing::random_circuit;
using testing::same_up_to_phase;
using testing::searched_map;
using testing::seeded_evaluator;

Instr32 on(Gate16 g, uint8_t q) { return Instr32::create(g, std::vector<uint8_t>{q}); }

uint64_t key_of(const Evaluator& ev, std::span<const Instr32> c) { return ev.evaluate(c).back.hash_value(); }

const std::vector<Gate16>& search_gates() {
  static const std::vector<Gate16> gates = {gates::H(), gates::T(), gates::CX()};
  return gates;
}

// Each bucket's circuit handles, in map order: the partition of the
// recorded circuits into classes.
std::vector<std::vector<uint32_t>> partition(const RawECCs& map) {
  std::vector<std::vector<uint32_t>> out;
  for (const RawECCs::Bucket& b : map.buckets()) {
    out.emplace_back();
    for (const CircTriple& t : b.ecc.circuits()) out.back().push_back(t.circ.index());
  }
  return out;
}

TEST(MapQueriesFind, FreshMapHoldsOnlyTheEmptyCircuit) {
  const Evaluator ev = seeded_evaluator(3, 1);
  const RawECCs map(ev);
  const std::optional<ECC> root = find_equivalents(map, ev, {});
  ASSERT_TRUE(root.has_value());
  EXPECT_EQ(root->pairs(), (std::vector<CircPair>{{{}, Permut32::identity(3)}}));
  EXPECT_FALSE(find_equivalents(map, ev, std::vector{on(gates::H(), 1)}).has_value());
}

TEST(MapQueriesFind, EveryAnswerIsTheQueryUpToPhase) {
  constexpr uint32_t kQubits = 3;
  const Evaluator ev = seeded_evaluator(kQubits, 2);
  const RawECCs map = searched_map(ev, search_gates(), 3);
  Rng64 rng = Rng64::from_seed(5);
  const std::vector<Gate16> pool = {gates::H(), gates::T(), gates::TDG(), gates::CX()};
  std::size_t several = 0;
  for (int trial = 0; trial < 60; ++trial) {
    // Every circuit within the search's size has a class in the map.
    const std::vector<Instr32> query = random_circuit(rng, kQubits, 1 + trial % 3, pool);
    const std::optional<ECC> ecc = find_equivalents(map, ev, query);
    ASSERT_TRUE(ecc.has_value()) << instrs_text(query, " ");
    EXPECT_EQ(ecc->size(), map.find(key_of(ev, query))->circuits().size());
    for (const CircPair& p : ecc->pairs()) {
      EXPECT_TRUE(same_up_to_phase(p, {query, Permut32::identity(kQubits)}, kQubits))
          << instrs_text(query, " ") << " vs " << instrs_text(p.first, " ") << " " << p.second.to_text();
    }
    if (ecc->size() > 1) ++several;
  }
  EXPECT_GT(several, 5u);
}

TEST(MapQueriesFind, QubitCountMismatchAborts) {
  // A two-qubit bucket met by a three-qubit evaluator.
  const Evaluator ev = seeded_evaluator(3, 1);
  RawECCs map(2, std::make_shared<CellArena>());
  map.put(ev.initial_key(), CircuitECC::root(2));
  EXPECT_EQ(abort_message([&] { find_equivalents(map, ev, {}); }), "assertion failed: self.len() == other.len()");
}

TEST(MapQueriesNextKey, StepsFromTheRootToEveryOneInstructionClass) {
  const Evaluator ev = seeded_evaluator(3, 3);
  const RawECCs map = searched_map(ev, search_gates(), 2);
  for (const Instr32& i : generate_instructions(3, search_gates())) {
    EXPECT_EQ(compute_next_key(map, ev, ev.initial_key(), i), key_of(ev, std::vector{i})) << i.to_text();
  }
}

TEST(MapQueriesNextKey, AnswersOnlyKeysOfTheMap) {
  const Evaluator ev = seeded_evaluator(2, 3);
  const RawECCs map = searched_map(ev, search_gates(), 2);
  const std::vector<Instr32> instrs = generate_instructions(2, search_gates());
  std::size_t found = 0, missing = 0;
  for (const RawECCs::Bucket& b : map.buckets()) {
    std::vector<Instr32> c = map.arena().collect(b.ecc.circuits().front().circ);
    for (const Instr32& i : instrs) {
      c.push_back(i);
      const uint64_t next = key_of(ev, c);
      c.pop_back();
      const std::optional<uint64_t> got = compute_next_key(map, ev, b.key, i);
      if (map.contains(next)) {
        EXPECT_EQ(got, next);
        ++found;
      } else {
        EXPECT_EQ(got, std::nullopt);
        ++missing;
      }
    }
  }
  EXPECT_GT(found, 0u);
  EXPECT_GT(missing, 0u);
  EXPECT_EQ(compute_next_key(map, ev, ev.initial_key() ^ 1, instrs.front()), std::nullopt);
}

TEST(MapQueriesSwitch, SameEvaluatorKeepsKeysAndTriples) {
  const Evaluator ev = seeded_evaluator(3, 4);
  const RawECCs map = searched_map(ev, search_gates(), 3);
  const RawECCs out = switch_evaluator(map, ev);
  EXPECT_EQ(out.shared_arena(), map.shared_arena());
  ASSERT_EQ(out.size(), map.size());
  for (std::size_t i = 0; i < map.size(); ++i) {
    const RawECCs::Bucket& a = map.buckets()[i];
    const RawECCs::Bucket& b = out.buckets()[i];
    EXPECT_EQ(b.key, a.key);
    EXPECT_EQ(b.ecc.size(), a.ecc.size());
    EXPECT_TRUE(b.ecc.front_gates().empty());
    EXPECT_TRUE(b.ecc.back_gates().empty());
    ASSERT_EQ(b.ecc.circuits().size(), a.ecc.circuits().size());
    for (std::size_t j = 0; j < a.ecc.circuits().size(); ++j) {
      const CircTriple& t = b.ecc.circuits()[j];
      EXPECT_EQ(t.circ, a.ecc.circuits()[j].circ);
      const FirstEvaluation e = ev.evaluate(map.arena().collect(t.circ));
      EXPECT_EQ(t.front_perm, e.front_perm);
      EXPECT_EQ(t.back_perm, e.back_perm);
    }
  }
}

TEST(MapQueriesSwitch, OtherEvaluatorKeepsThePartitionAndOutlivesTheSource) {
  const Evaluator ev1 = seeded_evaluator(3, 5);
  const Evaluator ev2 = seeded_evaluator(3, 6);
  std::optional<RawECCs> map(searched_map(ev1, search_gates(), 3));
  const RawECCs out = switch_evaluator(*map, ev2);
  EXPECT_EQ(partition(out), partition(*map));
  map.reset();
  for (const RawECCs::Bucket& b : out.buckets()) {
    const std::vector<Instr32> first = out.arena().collect(b.ecc.circuits().front().circ);
    EXPECT_EQ(b.key, key_of(ev2, first));
    EXPECT_EQ(b.ecc.size(), first.size());
  }
  // The rebuilt map answers queries under its own evaluator.
  EXPECT_TRUE(find_equivalents(out, ev2, std::vector{on(gates::H(), 2), on(gates::T(), 2)}).has_value());
}

class MapQueriesSwitchOneQubit : public ::testing::Test {
 protected:
  MapQueriesSwitchOneQubit() : ev(seeded_evaluator(1, 7)), arena(std::make_shared<CellArena>()), map(1, arena) {
    map.put(ev.initial_key(), CircuitECC::root(1));
  }
  AliasList cells(std::vector<Instr32> c) {
    AliasList at;
    for (const Instr32& i : c) at = arena->cons(i, at);
    return at;
  }
  CircuitECC bucket(std::vector<std::vector<Instr32>> circuits) {
    const Permut32 id = Permut32::identity(1);
    CircuitECC b(static_cast<uint32_t>(circuits.front().size()), {id, cells(circuits.front()), id}, {}, {});
    for (std::size_t i = 1; i < circuits.size(); ++i) b.push_triple({id, cells(circuits[i]), id});
    return b;
  }

  const Instr32 h = on(gates::H(), 0), x = on(gates::X(), 0);
  Evaluator ev;
  std::shared_ptr<CellArena> arena;
  RawECCs map;
};

TEST_F(MapQueriesSwitchOneQubit, IdentityClassesMergeIntoTheRoot) {
  map.put(12345, bucket({{h, h}}));
  const RawECCs out = switch_evaluator(map, ev);
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out.buckets()[0].key, ev.initial_key());
  EXPECT_EQ(out.arena().collect(out.buckets()[0].ecc.circuits().front().circ), (std::vector{h, h}));
}

TEST_F(MapQueriesSwitchOneQubit, SplitBucketAborts) {
  map.put(12345, bucket({{h}, {x}}));
  EXPECT_EQ(abort_message([&] { switch_evaluator(map, ev); }), "Inconsistent ECC detected during evaluator switch");
}

TEST_F(MapQueriesSwitchOneQubit, MergedBucketsAbortWithBothDebugForms) {
  map.put(1, bucket({{h}}));
  map.put(2, bucket({{h, x, x}}));
  EXPECT_EQ(abort_message([&] { switch_evaluator(map, ev); }),
            "Hash collision detected during evaluator switch: "
            "CircuitECC { size: 1, front_gates: {}, back_gates: {}, circuits: [(0) h(0) (0)] } vs "
            "CircuitECC { size: 3, front_gates: {}, back_gates: {}, circuits: [(0) h(0) x(0) x(0) (0)] }");
}

class MapQueriesSubset : public ::testing::Test {
 protected:
  static constexpr uint32_t kQubits = 3;
  // Size 5 gives more than two chunks of buckets.
  MapQueriesSubset()
      : ev1(seeded_evaluator(kQubits, 8)),
        ev2(seeded_evaluator(kQubits, 9)),
        map1(searched_map(ev1, search_gates(), 5)),
        map2(searched_map(ev2, search_gates(), 5)),
        small(searched_map(ev2, search_gates(), 4)) {}

  Evaluator ev1, ev2;
  RawECCs map1, map2, small;
};

constexpr SubsetCheckOptions kSequential{SubsetCheckOptions::Execution::kSequential};
constexpr SubsetCheckOptions kParallel{SubsetCheckOptions::Execution::kParallel};

TEST_F(MapQueriesSubset, IndependentSearchesAgree) {
  ASSERT_GT(map1.size(), 2u * 4096u);
  for (const SubsetCheckOptions& options : {kSequential, kParallel}) {
    EXPECT_NO_THROW(check_identity_subset(map1, map2, ev2, options));
    EXPECT_NO_THROW(check_identity_subset(map2, map1, ev1, options));
    // The rebuilt map holds the same classes as the one searched under ev2.
    EXPECT_NO_THROW(check_identity_subset(switch_evaluator(map1, ev2), map2, ev2, options));
  }
}

TEST_F(MapQueriesSubset, MissingClassAbortsOnEveryExecution) {
  // map2 without one class of the largest size: no shorter circuit has a
  // prefix in it, so its own circuits are the only ones that fail.
  RawECCs lacking(kQubits, map2.shared_arena());
  bool dropped = false;
  for (const RawECCs::Bucket& b : map2.buckets()) {
    if (!dropped && b.ecc.size() == 5) {
      dropped = true;
      continue;
    }
    lacking.put(b.key, b.ecc);
  }
  ASSERT_TRUE(dropped);
  const std::string expected = "assertion failed: ecc1.contains_key(&bv.hash_value())";
  EXPECT_EQ(abort_message([&] { check_identity_subset(map2, lacking, ev2, kSequential); }), expected);
  for (int threads : {1, 2}) {
    tbb::global_control limit(tbb::global_control::max_allowed_parallelism, threads);
    EXPECT_EQ(abort_message([&] { check_identity_subset(map2, lacking, ev2, kParallel); }), expected);
  }
  EXPECT_NO_THROW(check_identity_subset(lacking, map2, ev2, kParallel));
}

TEST_F(MapQueriesSubset, SmallerSearchCannotCoverALargerOne) {
  // Circuits of size 5 either have no class in the smaller map or cannot be
  // reduced against the shorter circuits it recorded.
  for (const SubsetCheckOptions& options : {kSequential, kParallel}) {
    const std::string message = abort_message([&] { check_identity_subset(map2, small, ev2, options); });
    EXPECT_TRUE(message == "assertion failed: ecc1.contains_key(&bv.hash_value())" ||
                message.starts_with("No equivalence found during export_equivalence: "))
        << message;
  }
  EXPECT_NO_THROW(check_identity_subset(small, map2, ev2, kParallel));
}

}  // namespace
}  // namespace trevalon
