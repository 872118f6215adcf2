#include "state/evaluator.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "state/gates.h"
#include "state/order_info.h"
#include "state_test_support.h"

namespace trevalon {

static void PrintTo(Permut32 p, std::ostream* os) { *os << p.to_text(); }

namespace {

using testing::I1;
using testing::I2;

using testing::abort_message;
using testing::Amps;
using testing::amps_of;
using testing::max_diff;

using Circuit = std::vector<Instr32>;

uint64_t key(const Evaluator& ev, const Circuit& c) { return ev.evaluate_multiple(c).back.hash_value(); }

Circuit relabel(const Circuit& c, Permut32 sigma) {
  Circuit out;
  for (const Instr32& i : c) out.push_back(i.apply_permutation(sigma));
  return out;
}

// Built-ins plus one random user gate of one and of two qubits.
const std::vector<Gate16>& gate_pool() {
  static const std::vector<Gate16> pool = [] {
    Rng64 rng = Rng64::from_seed(1234);
    std::vector<Gate16> p = testing::builtin_pool();
    p.push_back(testing::random_gate(rng, 1, "state_eval_u1"));
    p.push_back(testing::random_gate(rng, 2, "state_eval_u2"));
    return p;
  }();
  return pool;
}

// The evaluation written out step by step with the public primitives, for
// checking that the evaluator's fused passes give exactly the same result.
Evaluation literal_evaluation(const Evaluator& ev, const Circuit& instrs) {
  StateVec s = ev.initial_state().clone();
  for (const Instr32& i : instrs) apply(s, i);
  s.normalize_arg();
  const OrderInfo oi = s.get_orderinfo();
  Evaluation out;
  bool has_best = false;
  for (Permut32 f : oi.as_perms()) {
    const Permut32 back_perm = f.inverse();
    StateVec b = ev.backtrack_state().clone();
    b.apply_permutation(f);
    for (std::size_t k = instrs.size(); k-- > 0;) {
      apply(b, instrs[k].qargs().used(), instrs[k].gate().adjoint());
    }
    b.normalize_arg();
    const auto [front_perm, mask] = b.get_orderinfo().as_bits();
    EXPECT_EQ(mask, 0);
    b.apply_permutation(front_perm.inverse());
    if (!has_best || b < out.back) {
      out.back = b;
      out.pairs.clear();
      out.pairs.emplace_back(front_perm, back_perm);
      has_best = true;
    } else if (b == out.back) {
      out.pairs.emplace_back(front_perm, back_perm);
    }
  }
  out.forward = s;
  return out;
}

class StateEvaluatorQubits : public ::testing::TestWithParam<uint32_t> {};

TEST_P(StateEvaluatorQubits, MatchesTheLiteralEvaluation) {
  const uint32_t n = GetParam();
  Rng64 rng = Rng64::from_seed(100 + n);
  const Evaluator ev = Evaluator::from_random(n, rng);
  Evaluation reused;
  for (int trial = 0; trial < 6; ++trial) {
    const Circuit c = testing::random_circuit(rng, n, 1 + trial, gate_pool());
    const Evaluation lit = literal_evaluation(ev, c);
    ev.evaluate_multiple(c, reused);
    EXPECT_EQ(amps_of(reused.back), amps_of(lit.back));
    EXPECT_EQ(amps_of(reused.forward), amps_of(lit.forward));
    EXPECT_EQ(std::vector(reused.pairs.begin(), reused.pairs.end()),
              std::vector(lit.pairs.begin(), lit.pairs.end()));
  }
}

TEST_P(StateEvaluatorQubits, KeyIsInvariantUnderRelabellingSwapsAndPhase) {
  const uint32_t n = GetParam();
  Rng64 rng = Rng64::from_seed(200 + n);
  const Evaluator ev = Evaluator::from_random(n, rng);
  for (int trial = 0; trial < 4; ++trial) {
    const Circuit c = testing::random_circuit(rng, n, 3 + 2 * trial, gate_pool());
    const uint64_t k = key(ev, c);
    EXPECT_EQ(k, key(ev, relabel(c, testing::random_perm(rng, static_cast<uint8_t>(n)))));
    if (n >= 2) {
      const auto ab = testing::distinct_qubits(rng, n, 2);
      Circuit before{I2(gates::SWAP(), ab[0], ab[1])};
      before.insert(before.end(), c.begin(), c.end());
      EXPECT_EQ(k, key(ev, before));
      Circuit after = c;
      after.push_back(I2(gates::SWAP(), ab[0], ab[1]));
      EXPECT_EQ(k, key(ev, after));
    }
    // A different unitary: one more T gate.
    Circuit more = c;
    more.push_back(I1(gates::T(), static_cast<uint8_t>(rng.next_u64() % n)));
    EXPECT_NE(k, key(ev, more));
  }
  // X then Z equals Z then X up to the phase -1; X and Z differ.
  const uint8_t q = static_cast<uint8_t>(n - 1);
  EXPECT_EQ(key(ev, {I1(gates::X(), q), I1(gates::Z(), q)}), key(ev, {I1(gates::Z(), q), I1(gates::X(), q)}));
  EXPECT_NE(key(ev, {I1(gates::X(), q)}), key(ev, {I1(gates::Z(), q)}));
}

// Every pair (F, B) satisfies canonical = P(F^-1) C^dagger P(B^-1) backtrack,
// and two relabelled circuits share the operator P(B) C P(F).
TEST_P(StateEvaluatorQubits, PairsLineUpTheQubits) {
  const uint32_t n = GetParam();
  Rng64 rng = Rng64::from_seed(300 + n);
  const Evaluator ev = Evaluator::from_random(n, rng);
  auto run = [](const Circuit& c, StateVec s) {
    for (const Instr32& i : c) apply(s, i);
    return s;
  };
  for (int trial = 0; trial < 3; ++trial) {
    const Circuit c1 = testing::random_circuit(rng, n, 5, gate_pool());
    const Circuit c2 = relabel(c1, testing::random_perm(rng, static_cast<uint8_t>(n)));
    const Evaluation e1 = ev.evaluate_multiple(c1);
    const Evaluation e2 = ev.evaluate_multiple(c2);
    for (const auto& [f, b] : e1.pairs) {
      StateVec s = ev.backtrack_state();
      s.apply_permutation(b.inverse());
      Circuit inv;
      for (std::size_t k = c1.size(); k-- > 0;) inv.push_back(c1[k].adjoint());
      s = run(inv, s);
      s.apply_permutation(f.inverse());
      s.normalize_arg();
      EXPECT_LT(max_diff(amps_of(s), amps_of(e1.back)), 1e-10);
    }
    const StateVec probe = StateVec::from_random(rng, n);
    auto op = [&](const Circuit& c, Permut32 f, Permut32 b) {
      StateVec s = probe;
      s.apply_permutation(f);
      s = run(c, s);
      s.apply_permutation(b);
      s.normalize_arg();
      return amps_of(s);
    };
    const auto [f1, b1] = e1.pairs.front();
    const auto [f2, b2] = e2.pairs.front();
    EXPECT_LT(max_diff(op(c1, f1, b1), op(c2, f2, b2)), 1e-10);
  }
}

TEST_P(StateEvaluatorQubits, EmptyCircuitHasEveryPermutationAsCandidate) {
  const uint32_t n = GetParam();
  Rng64 rng = Rng64::from_seed(400 + n);
  const Evaluator ev = Evaluator::from_random(n, rng);
  EXPECT_EQ(ev.nqubits(), n);
  EXPECT_EQ(ev.initial_key(), ev.backtrack_state().hash_value());
  const FirstEvaluation first = ev.evaluate({});
  EXPECT_TRUE(first.front_perm.is_identity());
  EXPECT_TRUE(first.back_perm.is_identity());
  EXPECT_EQ(first.front_perm.len(), n);
  EXPECT_TRUE(first.forward == ev.initial_state());
  if (n <= 6) {
    const Evaluation e = ev.evaluate_multiple({});
    const auto& all = Permut32::all(static_cast<uint8_t>(n));
    ASSERT_EQ(e.pairs.size(), all.size());
    for (std::size_t i = 0; i < all.size(); ++i) {
      EXPECT_EQ(e.pairs[i].first, all[i]);
      EXPECT_EQ(e.pairs[i].second, all[i].inverse());
    }
  }
  // The backtrack state is in its own canonical order.
  EXPECT_TRUE(ev.backtrack_state().get_permutation().is_identity());
  EXPECT_EQ(ev.backtrack_state().get_orderinfo().as_bits().second, 0);
  EXPECT_TRUE(ev.backtrack_state().check());
}

INSTANTIATE_TEST_SUITE_P(StateEvaluatorOneToEight, StateEvaluatorQubits, ::testing::Range(1u, 9u));

TEST(StateEvaluatorTest, OneQubitHasOneCandidate) {
  Rng64 rng = Rng64::from_seed(500);
  const Evaluator ev = Evaluator::from_random(1, rng);
  for (int trial = 0; trial < 10; ++trial) {
    EXPECT_EQ(ev.evaluate_multiple(testing::random_circuit(rng, 1, 4, gate_pool())).pairs.size(), 1u);
  }
}

TEST(StateEvaluatorTest, SeparateEvaluatorsDiffer) {
  Rng64 rng = Rng64::from_entropy();
  const Evaluator a = Evaluator::from_random(3, rng);
  const Evaluator b = Evaluator::from_random(3, rng);
  EXPECT_FALSE(a == b);
  EXPECT_TRUE(a == a);
  const Circuit c{I1(gates::H(), 0), I2(gates::CX(), 0, 1)};
  EXPECT_NE(key(a, c), key(b, c));
  Rng64 r1 = Rng64::from_seed(77);
  Rng64 r2 = Rng64::from_seed(77);
  EXPECT_TRUE(Evaluator::from_random(4, r1) == Evaluator::from_random(4, r2));
}

TEST(StateEvaluatorTest, BadInputAborts) {
  Rng64 rng = Rng64::from_seed(600);
  EXPECT_EQ(abort_message([&] { Evaluator::from_random(9, rng); }), "Evaluator supports at most 8 qubits");
  EXPECT_EQ(abort_message([&] { Evaluator::from_random(40, rng); }),
            "Number of qubits too large, resulting in overflow for state vector size.");
  const Evaluator ev = Evaluator::from_random(3, rng);
  const Instr32 far(gates::H(), QArgs16(5, QArgs16::kUnused));
  EXPECT_EQ(abort_message([&] { ev.evaluate_multiple(Circuit{I1(gates::H(), 0), far}); }),
            "index out of bounds: the len is 3 but the index is 5");
  const Instr32 wide(Gate16(4), QArgs16(0, 1));  // y on two slots
  EXPECT_EQ(abort_message([&] { ev.evaluate_multiple(Circuit{wide}); }),
            "assertion failed: matrix.nrows() == 4 && matrix.ncols() == 4");
  // The evaluator keeps working after an abort.
  EXPECT_EQ(ev.initial_key(), ev.backtrack_state().hash_value());
}

TEST(StateEvaluatorTest, ZeroQubitEvaluator) {
  Rng64 rng = Rng64::from_seed(700);
  const Evaluator ev = Evaluator::from_random(0, rng);
  const Evaluation e = ev.evaluate_multiple({});
  ASSERT_EQ(e.pairs.size(), 1u);
  EXPECT_EQ(e.pairs[0].first, Permut32());
  EXPECT_EQ(ev.initial_key(), ev.backtrack_state().hash_value());
}

TEST(StateEvaluatorTest, ThreadsEvaluateConcurrently) {
  Rng64 rng = Rng64::from_seed(800);
  const Evaluator ev = Evaluator::from_random(4, rng);
  std::vector<Circuit> circuits;
  for (int i = 0; i < 40; ++i) circuits.push_back(testing::random_circuit(rng, 4, 6, gate_pool()));
  std::vector<uint64_t> expect;
  for (const Circuit& c : circuits) expect.push_back(key(ev, c));
  std::vector<std::vector<uint64_t>> got(3);
  std::vector<std::thread> threads;
  for (int t = 0; t < 3; ++t) {
    threads.emplace_back([&, t] {
      Evaluation out;
      for (const Circuit& c : circuits) {
        ev.evaluate_multiple(c, out);
        got[t].push_back(out.back.hash_value());
      }
    });
  }
  for (auto& th : threads) th.join();
  for (int t = 0; t < 3; ++t) EXPECT_EQ(got[t], expect);
}

}  // namespace
}  // namespace trevalon
