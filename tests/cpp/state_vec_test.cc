#include "state/state_vec.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstring>
#include <vector>

#include "state/qreal.h"
#include "state_test_support.h"
#include "utils/siphash.h"

namespace trevalon {
namespace {

using testing::abort_message;
using testing::Amps;
using testing::amps_of;
using testing::max_diff;
using testing::state_of;

StateVec S(std::vector<double> re, std::vector<double> im) { return StateVec::create(re, im); }

TEST(StateVecTest, ConstructionChecksLengths) {
  const StateVec two = S({1.0, 0.0}, {0.0, 0.0});
  EXPECT_EQ(two.nqubits(), 1u);
  EXPECT_EQ(two.len(), 2u);
  const StateVec one = S({1.0}, {0.0});
  EXPECT_EQ(one.nqubits(), 0u);
  EXPECT_EQ(one.len(), 1u);
  EXPECT_EQ(abort_message([] { S({1, 0, 0}, {0, 0, 0}); }), "Length must be a power of 2");
  EXPECT_EQ(abort_message([] { S({}, {}); }), "Length must be a power of 2");
  const std::string mismatch = abort_message([] { S({1, 0}, {0, 0, 0}); });
  EXPECT_NE(mismatch.find("Real and imaginary parts must have the same length"), std::string::npos);
  EXPECT_NE(mismatch.find("left: 2"), std::string::npos);
  EXPECT_NE(mismatch.find("right: 3"), std::string::npos);
}

TEST(StateVecTest, TooManyQubitsAbortsCleanly) {
  const std::string msg = "Number of qubits too large, resulting in overflow for state vector size.";
  Rng64 rng = Rng64::from_seed(1);
  for (uint32_t n : {StateVec::kMaxQubits + 1, 40u, 63u, 64u, 1000u}) {
    EXPECT_EQ(abort_message([&] { StateVec::zeros(n); }), msg) << n;
    EXPECT_EQ(abort_message([&] { StateVec::from_random(rng, n); }), msg) << n;
    EXPECT_EQ(abort_message([&] { StateVec::from_random_symmetric(rng, n); }), msg) << n;
  }
}

TEST(StateVecTest, ZerosAreExactZeros) {
  const StateVec z = StateVec::zeros(3);
  EXPECT_EQ(z.len(), 8u);
  for (std::size_t x = 0; x < 8; ++x) EXPECT_EQ(z.at(x), Complex(0.0, 0.0));
  EXPECT_FALSE(z.check());
}

TEST(StateVecTest, AtAndSetRefuseOutOfRange) {
  StateVec s = StateVec::zeros(1);
  s.set(1, {0.25, -0.5});
  EXPECT_EQ(s.at(1), Complex(0.25, -0.5));
  EXPECT_EQ(abort_message([&] { s.at(2); }), "index out of bounds: the len is 2 but the index is 2");
  EXPECT_EQ(abort_message([&] { s.set(7, 1.0); }), "index out of bounds: the len is 2 but the index is 7");
}

// Re-derives from_random by hand from the same word stream: re draws, then
// im draws, then length and phase normalisation.
TEST(StateVecTest, RandomStateFollowsDrawOrder) {
  for (uint32_t n : {0u, 1u, 3u, 5u}) {
    Rng64 a = Rng64::from_seed(42 + n);
    Rng64 b = Rng64::from_seed(42 + n);
    const StateVec s = StateVec::from_random(a, n);
    const std::size_t len = std::size_t{1} << n;
    Amps expect(len);
    std::vector<double> re(len), im(len);
    for (auto& v : re) v = static_cast<double>(b.next_u64() >> 11) / 9007199254740992.0;
    for (auto& v : im) v = static_cast<double>(b.next_u64() >> 11) / 9007199254740992.0;
    double norm = 0;
    for (std::size_t x = 0; x < len; ++x) norm += re[x] * re[x] + im[x] * im[x];
    const Complex phase = std::conj(Complex(re[0], im[0])) / std::abs(Complex(re[0], im[0]));
    for (std::size_t x = 0; x < len; ++x) expect[x] = Complex(re[x], im[x]) / std::sqrt(norm) * phase;
    EXPECT_LT(max_diff(amps_of(s), expect), 1e-12) << n;
    EXPECT_TRUE(s.check());
    EXPECT_EQ(s.im()[0], 0.0);
    EXPECT_GT(s.re()[0], 0.0);
  }
}

TEST(StateVecTest, SymmetricStateDependsOnHammingWeightOnly) {
  Rng64 a = Rng64::from_seed(7);
  Rng64 b = Rng64::from_seed(7);
  const uint32_t n = 3;
  const StateVec s = StateVec::from_random_symmetric(a, n);
  double wa[4], wb[4];
  for (double& v : wa) v = b.uniform();
  for (double& v : wb) v = b.uniform();
  double norm = 0;
  for (std::size_t x = 0; x < 8; ++x) {
    const int w = __builtin_popcountll(x);
    norm += wa[w] * wa[w] + wb[w] * wb[w];
  }
  const Complex phase = std::conj(Complex(wa[0], wb[0])) / std::abs(Complex(wa[0], wb[0]));
  for (std::size_t x = 0; x < 8; ++x) {
    const int w = __builtin_popcountll(x);
    EXPECT_LT(std::abs(s.at(x) - Complex(wa[w], wb[w]) / std::sqrt(norm) * phase), 1e-12);
  }
  EXPECT_EQ(s.at(1), s.at(2));
  EXPECT_EQ(s.at(2), s.at(4));
  EXPECT_EQ(s.at(3), s.at(5));
  EXPECT_EQ(s.at(5), s.at(6));
  EXPECT_TRUE(s.check());
}

TEST(StateVecTest, NormalizeUsesLastAmplitudeWhenFirstIsZero) {
  StateVec s = S({0.0, 3.0}, {0.0, 4.0});
  s.normalize();
  EXPECT_EQ(s.to_text(), "[0.0000, 1.0000]");
  EXPECT_EQ(s.im()[0], 0.0);
  EXPECT_FALSE(std::signbit(s.im()[0]));
  EXPECT_TRUE(s == S({0.0, 1.0}, {0.0, 0.0}));
}

TEST(StateVecTest, NormalizeUsesSumWhenEndsAreZero) {
  StateVec s = S({0, 0, 0, 0}, {0, 1e-9, 1e-9, 0});
  s.normalize();
  const double h = std::sqrt(0.5);
  EXPECT_NEAR(s.re()[1], h, 1e-12);
  EXPECT_NEAR(s.re()[2], h, 1e-12);
  EXPECT_NEAR(s.im()[1], 0.0, 1e-12);
  EXPECT_NEAR(s.im()[2], 0.0, 1e-12);
  EXPECT_TRUE(s.check());
}

TEST(StateVecTest, NormalizeOfZeroStateIsBasisStateZero) {
  StateVec s = StateVec::zeros(2);
  s.normalize();
  EXPECT_TRUE(s == S({1, 0, 0, 0}, {0, 0, 0, 0}));
  for (std::size_t x = 0; x < 4; ++x) {
    EXPECT_FALSE(std::isnan(s.re()[x]));
    EXPECT_FALSE(std::isnan(s.im()[x]));
  }
  // Phase-only normalisation of zeros has no reference and keeps zeros.
  StateVec z = StateVec::zeros(1);
  z.normalize_arg();
  EXPECT_TRUE(z == StateVec::zeros(1));
}

TEST(StateVecTest, GlobalPhaseDisappearsAfterNormalizeArg) {
  StateVec i0 = S({0, 0}, {1, 0});
  i0.normalize_arg();
  const StateVec one = S({1, 0}, {0, 0});
  EXPECT_TRUE(i0 == one);
  EXPECT_EQ(i0.hash_value(), one.hash_value());

  Rng64 rng = Rng64::from_seed(3);
  for (int trial = 0; trial < 20; ++trial) {
    const StateVec s = StateVec::from_random(rng, 4);
    const Complex phase = std::polar(1.0, 6.283185307179586 * rng.uniform());
    Amps rotated = amps_of(s);
    for (Complex& c : rotated) c *= phase;
    StateVec r = state_of(rotated);
    r.normalize_arg();
    EXPECT_LT(max_diff(amps_of(r), amps_of(s)), 1e-14);
  }
}

TEST(StateVecTest, CheckToleratesOnlyTinyNormErrors) {
  EXPECT_TRUE(S({1.0, 0.0}, {0.0, 0.0}).check());
  EXPECT_TRUE(S({std::sqrt(1.0 + 1e-8), 0.0}, {0.0, 0.0}).check());
  EXPECT_FALSE(S({std::sqrt(1.0 + 1e-7), 0.0}, {0.0, 0.0}).check());
}

TEST(StateVecTest, HashIsSipHashOfQuantisedParts) {
  const StateVec s = S({0.5, -0.25}, {0.0, 1e-9});
  std::vector<uint8_t> bytes;
  auto put = [&](uint64_t v, int n) {
    for (int i = 0; i < n; ++i) bytes.push_back(static_cast<uint8_t>(v >> (8 * i)));
  };
  put(2, 4);
  put(static_cast<uint64_t>(int64_t{8388608}), 8);    // 0.5 * 2^24
  put(static_cast<uint64_t>(int64_t{-4194304}), 8);   // -0.25 * 2^24
  put(2, 4);
  put(0, 8);
  put(0, 8);  // 1e-9 quantises to 0
  EXPECT_EQ(s.hash_value(), siphash13(bytes));
  // Noise below the quantum leaves equality and the hash alone.
  const StateVec t = S({0.5 + 1e-10, -0.25}, {0.0, -1e-9});
  EXPECT_TRUE(s == t);
  EXPECT_EQ(s.hash_value(), t.hash_value());
  const StateVec u = S({0.5 + 1e-7, -0.25}, {0.0, 0.0});
  EXPECT_FALSE(s == u);
  EXPECT_NE(s.hash_value(), u.hash_value());
}

TEST(StateVecTest, OrderIsRealPartsThenImaginaryParts) {
  const StateVec a = S({0.1, 0.9}, {0.5, 0.5});
  const StateVec b = S({0.1, 0.9}, {0.6, 0.0});
  const StateVec c = S({0.2, 0.0}, {0.0, 0.0});
  EXPECT_TRUE(a < b);  // equal real parts, imaginary 0.5 < 0.6
  EXPECT_TRUE(b < c);  // real part decides before any imaginary part
  EXPECT_TRUE((a <=> S({0.1 + 1e-9, 0.9}, {0.5, 0.5})) == 0);
  // A proper prefix is smaller.
  EXPECT_TRUE(S({0.1}, {0.9}) < a);
  EXPECT_FALSE(S({0.1}, {0.9}) == S({0.1, 0.0}, {0.9, 0.0}));
}

TEST(StateVecTest, LooseEqIgnoresLengthAndFineDifferences) {
  EXPECT_TRUE(S({0.5, 0.25}, {0.0, 0.0}).loose_eq(S({0.501, 0.2501}, {0.0, 0.003})));
  EXPECT_FALSE(S({0.5, 0.25}, {0.0, 0.0}).loose_eq(S({0.5, 0.25}, {0.0, 0.004})));
  EXPECT_TRUE(S({0.5}, {0.0}).loose_eq(S({0.5, 0.9}, {0.0, 0.9})));
}

TEST(StateVecTest, ApplyPermutationMovesQubits) {
  StateVec s = S({1, 2, 3, 4}, {0, 0, 0, 0});
  s.apply_permutation(Permut32::from_iter(std::vector<uint8_t>{1, 0}));
  EXPECT_TRUE(s == S({1, 3, 2, 4}, {0, 0, 0, 0}));

  Rng64 rng = Rng64::from_seed(9);
  for (uint8_t n = 0; n <= 8; ++n) {
    const StateVec r = StateVec::from_random(rng, n);
    const Permut32 p = testing::random_perm(rng, n);
    StateVec moved = r;
    moved.apply_permutation(p);
    EXPECT_EQ(amps_of(moved), testing::reference_permute(amps_of(r), p)) << p.to_text();
    // P(a * b) = P(a) P(b): b first.
    const Permut32 q = testing::random_perm(rng, n);
    StateVec two = r;
    two.apply_permutation(q);
    two.apply_permutation(p);
    StateVec once = r;
    once.apply_permutation(p * q);
    EXPECT_EQ(amps_of(two), amps_of(once));
  }
}

TEST(StateVecTest, ApplyPermutationRefusesImagesOutsideTheState) {
  StateVec s = S({1, 2, 3, 4}, {5, 6, 7, 8});
  const StateVec before = s;
  const Permut32 wide = Permut32::from_iter(std::vector<uint8_t>{2, 0, 1});
  EXPECT_EQ(abort_message([&] { s.apply_permutation(wide); }),
            "index out of bounds: the len is 2 but the index is 2");
  EXPECT_EQ(amps_of(s), amps_of(before));
  // Qubits beyond the permutation stay in place.
  StateVec t = S({1, 2, 3, 4, 5, 6, 7, 8}, {0, 0, 0, 0, 0, 0, 0, 0});
  t.apply_permutation(Permut32::from_iter(std::vector<uint8_t>{1, 0}));
  EXPECT_TRUE(t == S({1, 3, 2, 4, 5, 7, 6, 8}, {0, 0, 0, 0, 0, 0, 0, 0}));
}

TEST(StateVecTest, ApplyPermutationReusesTheThreadCache) {
  StateVec s = StateVec::zeros(4);
  const Permut32 p = Permut32::from_iter(std::vector<uint8_t>{1, 2, 3, 0});
  s.apply_permutation(p);  // warms the cache up to 4 qubits
  const double* first = s.re();
  s.apply_permutation(p);
  const double* second = s.re();
  s.apply_permutation(p);
  // The buffers alternate between the state and the cache entry.
  EXPECT_NE(first, second);
  EXPECT_EQ(s.re(), first);
}

TEST(StateVecTest, CacheRefusesReentry) {
  StateVecCache::Borrow outer(StateVecCache::this_thread());
  EXPECT_EQ(abort_message([] { StateVecCache::Borrow inner(StateVecCache::this_thread()); }),
            "already borrowed");
  StateVec s = StateVec::zeros(1);
  EXPECT_EQ(abort_message([&] { s.apply_permutation(Permut32::identity(1)); }), "already borrowed");
  outer.reserve(2);
  EXPECT_GE(outer.size(), 3u);
  EXPECT_EQ(outer.entry(2).len(), 4u);
}

TEST(StateVecTest, TextForm) {
  StateVec h = S({1, 1}, {0, 0});
  h.normalize();
  EXPECT_EQ(h.to_text(), "[0.7071, 0.7071]");
  EXPECT_EQ(S({0.5, 0.0, -0.5, 1e-9}, {0.5, -0.5, -0.25, 0.0}).to_text(),
            "[0.5000+0.5000j, -0.5000j, -0.5000-0.2500j, 0.0000]");
}

TEST(StateVecTest, CopiesAreDeepAndReuseBuffers) {
  Rng64 rng = Rng64::from_seed(5);
  const StateVec a = StateVec::from_random(rng, 3);
  StateVec b = a.clone();
  b.set(0, 0.0);
  EXPECT_FALSE(a == b);
  const double* buf = b.re();
  b.copy_from(a);
  EXPECT_EQ(b.re(), buf);
  EXPECT_TRUE(a == b);
  StateVec empty;
  empty.copy_from(a);
  EXPECT_TRUE(empty == a);
}

}  // namespace
}  // namespace trevalon
