#include "utils/hash_table64.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "circ/gate.h"
#include "identity/idcircuit.h"

#include "test_support.h"

namespace trevalon {
namespace {

using testing::abort_message;

IdentityCirc hadamards(uint8_t q, std::size_t count) {
  return IdentityCirc::unchecked(
      Circ::create(std::vector<Instr32>(count, Instr32::create(gates::H(), std::vector<uint8_t>{q})),
                   Permut32::identity(q + 1)));
}

// Every key hashes alike, so any two different keys collide.
struct ConstantHashKey {
  int id;
  uint64_t hash_value() const { return 42; }
  bool operator==(const ConstantHashKey&) const = default;
};

TEST(HashTable64Test, InsertingAnEqualKeyReplacesAndReturnsThePreviousPair) {
  HashTable64<IdentityCirc, std::string> table;
  const IdentityCirc id = hadamards(0, 2);
  const auto [h1, prev1] = table.insert(id, "first");
  EXPECT_EQ(h1, id.hash_value());
  EXPECT_FALSE(prev1.has_value());
  const auto [h2, prev2] = table.insert(id, "second");
  EXPECT_EQ(h2, h1);
  ASSERT_TRUE(prev2.has_value());
  EXPECT_EQ(prev2->first, id);
  EXPECT_EQ(prev2->second, "first");
  EXPECT_EQ(table.size(), 1u);
  const auto got = table.address(h1);
  ASSERT_TRUE(got.has_value());
  EXPECT_EQ(got->key, id);
  EXPECT_EQ(got->value, "second");
}

TEST(HashTable64Test, LookupsAreByHash) {
  HashTable64<IdentityCirc, int> table;
  const IdentityCirc a = hadamards(0, 2), b = hadamards(1, 4);
  const uint64_t ha = table.insert(a, 1).first;
  const uint64_t hb = table.insert(b, 2).first;
  EXPECT_NE(ha, hb);
  EXPECT_FALSE(table.address(ha ^ hb).has_value());
  EXPECT_FALSE(table.address_mut(ha ^ hb).has_value());
  table.address_mut(hb)->value = 7;
  EXPECT_EQ(table.address(hb)->value, 7);
  EXPECT_EQ(table.address(ha)->value, 1);
  EXPECT_EQ(table.address(hb)->key, b);
}

TEST(HashTable64Test, AddressOrKeepsAnExistingEntryAndStoresAMissingOne) {
  HashTable64<IdentityCirc, int> table;
  const IdentityCirc a = hadamards(0, 2), b = hadamards(0, 4);
  const uint64_t ha = table.insert(a, 1).first;
  const auto kept = table.address_or(ha, {b, 99});
  EXPECT_EQ(kept.key, a);
  EXPECT_EQ(kept.value, 1);
  kept.value = 5;
  EXPECT_EQ(table.address(ha)->value, 5);
  EXPECT_EQ(table.size(), 1u);
  // The caller vouches for the hash; the table does not recompute it.
  const auto added = table.address_or(b.hash_value(), {b, 3});
  EXPECT_EQ(added.key, b);
  EXPECT_EQ(added.value, 3);
  EXPECT_EQ(table.size(), 2u);
  EXPECT_EQ(table.insert(b, 4).second->second, 3);
}

TEST(HashTable64Test, ACollisionAbortsAndLeavesTheTableUnchanged) {
  HashTable64<ConstantHashKey, std::string> table;
  table.insert(ConstantHashKey{1}, "one");
  EXPECT_EQ(abort_message([&] { table.insert(ConstantHashKey{2}, "two"); }), "Hash collision detected in HashTable64");
  EXPECT_EQ(table.size(), 1u);
  EXPECT_EQ(table.address(42)->key, ConstantHashKey{1});
  EXPECT_EQ(table.address(42)->value, "one");
  EXPECT_EQ(table.insert(ConstantHashKey{1}, "uno").second->second, "one");
}

TEST(HashTable64Test, EntriesStayInPlaceWhileTheTableGrows) {
  struct Counter {
    uint64_t v;
    uint64_t hash_value() const { return v * 0x9e3779b97f4a7c15ULL; }
    bool operator==(const Counter&) const = default;
  };
  HashTable64<Counter, uint64_t> table;
  const auto first = table.address_or(Counter{0}.hash_value(), {Counter{0}, 0});
  const uint64_t* where = &first.value;
  for (uint64_t i = 1; i < 5000; ++i) table.insert(Counter{i}, i);
  EXPECT_EQ(&table.address(0)->value, where);
  for (uint64_t i = 0; i < 5000; i += 499) EXPECT_EQ(table.address(Counter{i}.hash_value())->value, i);
}

}  // namespace
}  // namespace trevalon
