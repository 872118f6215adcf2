#include "groups/permutation.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <vector>

#include "utils/abort.h"

namespace trevalon {
namespace {

Permut32 P(std::vector<uint8_t> v) { return Permut32::from_iter(v); }

TEST(Permut32, RawLayout) {
  EXPECT_EQ(Permut32::identity(8).raw(), 0x08FAC688u);
  EXPECT_EQ(Permut32::identity(3).raw(), 0x03000088u);
  EXPECT_EQ(Permut32::identity(1).raw(), 0x01000000u);
  EXPECT_EQ(Permut32::identity(0).raw(), 0u);
  EXPECT_EQ(Permut32::identity(8).to_text(), "(0 1 2 3 4 5 6 7)");
  EXPECT_EQ(Permut32().to_text(), "()");
}

TEST(Permut32, ValidationMessages) {
  auto message = [](auto&& f) {
    try {
      f();
    } catch (const Abort& a) {
      return a.message();
    }
    return std::string("no abort");
  };
  EXPECT_EQ(message([] { Permut32::identity(9); }), "Permutation length must be less than or equal to 8");
  EXPECT_EQ(message([] { P({0, 0}); }), "Permutation values must be unique");
  EXPECT_EQ(message([] { P({0, 8}); }), "Permutation values must be less than 8");
  EXPECT_EQ(message([] { P({8, 8}); }), "Permutation values must be less than 8");
  EXPECT_EQ(message([] { Permut32::identity(3).at(8); }), "assertion failed: idx < 8");
  EXPECT_EQ(message([] { (void)(P({0, 1}) * P({0, 1, 2})); }), "assertion failed: self.len() == other.len()");
  EXPECT_EQ(Permut32::identity(3).at(5), 0);
  // Unique values below 8 are accepted even when they are no permutation.
  EXPECT_EQ(P({2, 0}).to_text(), "(2 0)");
  EXPECT_FALSE(P({2, 0}).is_valid());
  EXPECT_TRUE(P({1, 0}).is_valid());
  EXPECT_FALSE(Permut32::from_raw(0x0F000000u).is_valid());
}

TEST(Permut32, GroupOperations) {
  EXPECT_EQ(P({1, 2, 0}) * P({1, 0, 2}), P({2, 1, 0}));
  EXPECT_EQ(P({1, 2, 0}).inv(), P({2, 0, 1}));
  EXPECT_EQ(Permut32().inv(), Permut32());
  EXPECT_EQ(P({2, 0, 1}).permut_bv(0b011), 0b101);
  EXPECT_EQ(Permut32::from_iter_with_ext(4, std::vector<uint8_t>{1, 3}), P({1, 3, 2, 0}));
  auto [a, b] = Permut32::coordinate_permute(P({1, 0}), P({0, 2, 1}));
  EXPECT_EQ(a, P({1, 0, 2}));
  EXPECT_EQ(b, P({0, 2, 1}));
  EXPECT_EQ(P({3, 1, 2, 0, 4}).shrink(3).raw(), Permut32::from_raw(P({3, 1, 2}).raw()).raw());
}

TEST(Permut32, InverseAndProductAgreeWithMaps) {
  for (uint8_t n = 0; n <= 5; ++n) {
    for (Permut32 p : Permut32::all(n)) {
      EXPECT_TRUE((p * p.inv()).is_identity());
      EXPECT_TRUE((p.inv() * p).is_identity());
    }
  }
}

TEST(Permut32, AllPermutationsHeapOrder) {
  const auto& three = Permut32::all(3);
  std::vector<std::string> texts;
  for (Permut32 p : three) texts.push_back(p.to_text());
  EXPECT_EQ(texts, (std::vector<std::string>{"(0 1 2)", "(1 0 2)", "(2 0 1)", "(0 2 1)", "(1 2 0)", "(2 1 0)"}));
  const std::size_t factorial[] = {1, 1, 2, 6, 24, 120, 720, 5040, 40320};
  for (uint8_t n = 0; n <= 8; ++n) {
    const auto& all = Permut32::all(n);
    ASSERT_EQ(all.size(), factorial[n]);
    EXPECT_TRUE(all.front().is_identity());
    std::set<uint32_t> distinct;
    for (Permut32 p : all) {
      EXPECT_TRUE(p.is_valid());
      distinct.insert(p.raw());
    }
    EXPECT_EQ(distinct.size(), all.size());
  }
  EXPECT_THROW(Permut32::all(9), Abort);
}

TEST(Permut32, GenerateSwapsSortsEveryPermutation) {
  auto swaps = P({2, 0, 1}).generate_swaps();
  EXPECT_EQ(swaps, (std::vector<std::pair<uint8_t, uint8_t>>{{0, 2}, {0, 1}}));
  for (uint8_t n = 0; n <= 8; ++n) {
    EXPECT_TRUE(Permut32::identity(n).generate_swaps().empty());
    for (Permut32 p : Permut32::all(n)) {
      Permut32 s = p;
      for (auto [a, b] : p.generate_swaps()) {
        ASSERT_LT(a, b);
        s.swap_inputs(a, b);
      }
      ASSERT_TRUE(s.is_identity()) << p.to_text();
    }
  }
}

}  // namespace
}  // namespace trevalon
