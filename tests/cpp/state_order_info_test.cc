#include "state/order_info.h"

#include <gtest/gtest.h>

#include <set>
#include <thread>
#include <vector>

#include "state/state_vec.h"
#include "state_test_support.h"

namespace trevalon {
namespace {

using testing::abort_message;

Permut32 P(std::vector<uint8_t> v) { return Permut32::from_iter(v); }

// Classes over `positions` positions from a mask, as lists of positions.
std::vector<int> class_index(uint8_t mask, int positions) {
  std::vector<int> cls(positions, 0);
  for (int k = 1; k < positions; ++k) cls[k] = cls[k - 1] + (((mask >> (k - 1)) & 1) ? 0 : 1);
  return cls;
}

// The tie list of `mask` over L positions, straight from the definition:
// the class-preserving permutations of Permut32::all(L), in table order.
std::vector<Permut32> tie_list(uint8_t mask, int len) {
  const auto cls = class_index(mask, len);
  std::vector<Permut32> out;
  for (Permut32 p : Permut32::all(static_cast<uint8_t>(len))) {
    bool keeps = true;
    for (int i = 0; i < len; ++i) keeps = keeps && cls[p.get(static_cast<uint8_t>(i))] == cls[i];
    if (keeps) out.push_back(p);
  }
  return out;
}

std::vector<Permut32> cut(std::span<const Permut32> perms, int len) {
  std::vector<Permut32> out;
  for (Permut32 p : perms) out.push_back(p.shrink(static_cast<uint8_t>(len)));
  return out;
}

TEST(StateOrderInfoTest, FirstSixteenEntriesAreTheFivePositionTable) {
  for (uint8_t mask = 0; mask < 16; ++mask) {
    EXPECT_EQ(cut(eqmask_to_perms(mask), 5), tie_list(mask, 5)) << int(mask);
  }
  EXPECT_EQ(eqmask_to_perms(0).size(), 1u);
  EXPECT_TRUE(eqmask_to_perms(0)[0].is_identity());
  EXPECT_EQ(eqmask_to_perms(15).size(), 120u);
  EXPECT_EQ(eqmask_to_perms(0b0101).size(), 4u);
}

// For every size L and every mask of L positions, cutting the 8-position
// entry to L entries gives the list defined over L positions directly.
TEST(StateOrderInfoTest, CutEntriesMatchTheDefinitionForEverySize) {
  for (int len = 1; len <= 8; ++len) {
    const uint8_t masks = static_cast<uint8_t>(1u << (len - 1));
    for (uint8_t mask = 0; mask < masks; ++mask) {
      const auto got = cut(eqmask_to_perms(mask), len);
      ASSERT_EQ(got, tie_list(mask, len)) << "len=" << len << " mask=" << int(mask);
      for (Permut32 p : got) ASSERT_TRUE(p.is_valid());
    }
  }
  EXPECT_EQ(eqmask_to_perms(127).size(), 40320u);
  EXPECT_EQ(abort_message([] { eqmask_to_perms(128); }),
            "index out of bounds: the len is 128 but the index is 128");
}

TEST(StateOrderInfoTest, EntriesBuildOnceUnderConcurrentFirstUse) {
  std::vector<std::vector<std::size_t>> sizes(4);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([t, &sizes] {
      for (int m = 127; m >= 0; --m) {
        sizes[t].push_back(eqmask_to_perms(static_cast<uint8_t>((m + 37 * t) % 128)).size());
      }
    });
  }
  for (auto& th : threads) th.join();
  for (int t = 0; t < 4; ++t) {
    for (int i = 0; i < 128; ++i) {
      const int m = (127 - i + 37 * t) % 128;
      ASSERT_EQ(sizes[t][i], tie_list(static_cast<uint8_t>(m), 8).size());
    }
  }
}

TEST(StateOrderInfoTest, NewAndEmptyOrder) {
  const OrderInfo empty(0);
  EXPECT_EQ(std::vector<std::size_t>(empty.eq_classes().begin(), empty.eq_classes().end()),
            std::vector<std::size_t>{0});
  const auto [p, mask] = empty.as_bits();
  EXPECT_EQ(p, Permut32());
  EXPECT_EQ(mask, 0);
  EXPECT_EQ(empty.as_perms().size(), 1u);
  EXPECT_EQ(*empty.as_perms().begin(), Permut32());

  const OrderInfo three(3);
  EXPECT_EQ(three.n_eqclasses(), 1u);
  EXPECT_TRUE(three.has_eq());
  EXPECT_EQ(three.first_eqclass(), 0u);
  EXPECT_EQ(three.as_bits().second, 0b11);
  EXPECT_EQ(abort_message([&] { three.get_eqclass_range(1); }),
            "index out of bounds: the len is 1 but the index is 1");
}

TEST(StateOrderInfoTest, SortSplitsTiesAndKeepsLabelOrder) {
  // k(0) = k(2) < k(1).
  OrderInfo oi(3);
  const int keys[] = {1, 5, 1};
  oi.sort_eqclass_by_key(0, [&](std::size_t q) { return keys[q]; });
  EXPECT_EQ(std::vector<std::size_t>(oi.permut().begin(), oi.permut().end()),
            (std::vector<std::size_t>{0, 2, 1}));
  EXPECT_EQ(std::vector<std::size_t>(oi.eq_classes().begin(), oi.eq_classes().end()),
            (std::vector<std::size_t>{2, 3}));
  const auto [base, mask] = oi.as_bits();
  EXPECT_EQ(base, P({0, 2, 1}));
  EXPECT_EQ(mask, 0b01);
  std::vector<Permut32> perms(oi.as_perms().begin(), oi.as_perms().end());
  EXPECT_EQ(perms, (std::vector<Permut32>{P({0, 2, 1}), P({0, 2, 1}) * P({1, 0, 2})}));
  EXPECT_EQ(oi.first_eqclass(), 0u);
  EXPECT_EQ(oi.first_eqclass_after(1), std::nullopt);

  // Sorting a later class inserts its boundaries in place.
  OrderInfo two_classes(5);
  const int first[] = {0, 0, 1, 1, 1};
  two_classes.sort_eqclass_by_key(0, [&](std::size_t q) { return first[q]; });
  const int second[] = {0, 0, 9, 3, 9};
  two_classes.sort_eqclass_by_key(1, [&](std::size_t q) { return second[q]; });
  EXPECT_EQ(std::vector<std::size_t>(two_classes.permut().begin(), two_classes.permut().end()),
            (std::vector<std::size_t>{0, 1, 3, 2, 4}));
  EXPECT_EQ(std::vector<std::size_t>(two_classes.eq_classes().begin(), two_classes.eq_classes().end()),
            (std::vector<std::size_t>{2, 3, 5}));
  EXPECT_EQ(two_classes.as_bits().second, 0b1001);
  const auto cls = two_classes.get_eqclass(2);
  EXPECT_EQ(std::vector<std::size_t>(cls.begin(), cls.end()), (std::vector<std::size_t>{2, 4}));
}

TEST(StateOrderInfoTest, SymmetricStateIsOneClass) {
  Rng64 rng = Rng64::from_seed(21);
  for (uint8_t n = 1; n <= 8; ++n) {
    const StateVec s = StateVec::from_random_symmetric(rng, n);
    const OrderInfo oi = s.get_orderinfo();
    const auto [base, mask] = oi.as_bits();
    EXPECT_TRUE(base.is_identity());
    EXPECT_EQ(mask, n >= 2 ? (1u << (n - 1)) - 1 : 0u);
    const TiePerms perms = oi.as_perms();
    std::set<Permut32> distinct(perms.begin(), perms.end());
    EXPECT_EQ(distinct.size(), Permut32::all(n).size());
    EXPECT_EQ(std::vector<Permut32>(perms.begin(), perms.end()), Permut32::all(n));
  }
}

// Keys: Re a, Im a, Re b, Im b with a = amplitude 2^q, b = amplitude of
// all qubits but q; earlier components decide first.
TEST(StateOrderInfoTest, StateKeysOrderQubits) {
  StateVec s = StateVec::zeros(3);
  // Single excitations: qubit 0 -> 0.3, qubit 1 -> 0.1, qubit 2 -> 0.3 + 0.2i.
  s.set(1, {0.3, 0.0});
  s.set(2, {0.1, 0.0});
  s.set(4, {0.3, 0.2});
  EXPECT_EQ(s.get_permutation(), P({1, 0, 2}));
  EXPECT_EQ(s.get_orderinfo().as_bits().second, 0);
  // Tie qubits 0 and 2 on a, then split them on the single-hole amplitude.
  s.set(4, {0.3, 0.0});
  EXPECT_EQ(s.get_orderinfo().as_bits().second, 0b10);
  s.set(0b110, {0.0, 0.5});  // hole of qubit 0
  s.set(0b011, {0.0, 0.4});  // hole of qubit 2
  EXPECT_EQ(s.get_permutation(), P({1, 2, 0}));
  EXPECT_EQ(s.get_orderinfo().as_bits().second, 0);
  // Differences below the quantum are ties.
  s.set(0b011, {0.0, 0.5 + 1e-10});
  EXPECT_EQ(s.get_orderinfo().as_bits().second, 0b10);
  // A 0-qubit state has the empty order.
  EXPECT_EQ(StateVec::zeros(0).get_orderinfo().size(), 0u);
}

TEST(StateOrderInfoTest, MoreThanEightQubitsHaveNoPermutation) {
  const OrderInfo nine(9);
  EXPECT_EQ(abort_message([&] { nine.as_bits(); }),
            "Permutation length must be less than or equal to 8");
}

}  // namespace
}  // namespace trevalon
