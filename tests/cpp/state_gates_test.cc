#include "state/gates.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "state/indices.h"
#include "state_test_support.h"

namespace trevalon {
namespace {

using testing::abort_message;
using testing::Amps;
using testing::amps_of;
using testing::max_diff;
using testing::reference_apply;
using testing::state_of;

using Qubits = std::vector<uint8_t>;

StateVec basis(uint32_t n, std::size_t index) {
  StateVec s = StateVec::zeros(n);
  s.set(index, 1.0);
  return s;
}

// Every qubit tuple of k distinct qubits below n, in every order.
std::vector<Qubits> tuples(uint32_t n, uint32_t k) {
  std::vector<Qubits> out;
  for (uint8_t a = 0; a < n; ++a) {
    if (k == 1) {
      out.push_back({a});
      continue;
    }
    for (uint8_t b = 0; b < n; ++b) {
      if (b == a) continue;
      if (k == 2) {
        out.push_back({a, b});
        continue;
      }
      for (uint8_t c = 0; c < n; ++c) {
        if (c != a && c != b) out.push_back({a, b, c});
      }
    }
  }
  return out;
}

TEST(StateGatesTest, IndexHelpers) {
  EXPECT_EQ(insert_bit(0b1011, 0), 0b10110u);
  EXPECT_EQ(insert_bit(0b1011, 2), 0b10011u);
  EXPECT_EQ(insert_bit(0b1011, 4), 0b01011u);
  // Two-qubit gate on (a, b) = (2, 0): matrix index 1 sets only b, 2 only a.
  const auto idx = qubit_matrix_indices2(0b1, 2, 0);
  EXPECT_EQ(idx, (std::array<std::size_t, 4>{0b0010, 0b0011, 0b0110, 0b0111}));
  EXPECT_EQ(qubit_matrix_indices1(3, 1), (std::array<std::size_t, 2>{0b101, 0b111}));
  const auto i3 = qubit_matrix_indices3(0, 0, 2, 1);
  EXPECT_EQ(i3, (std::array<std::size_t, 8>{0, 2, 4, 6, 1, 3, 5, 7}));
}

TEST(StateGatesTest, KernelTableHoldsTheNineBuiltins) {
  EXPECT_EQ(find_gate_kernel(gates::H()), &perform_h_gate);
  EXPECT_EQ(find_gate_kernel(gates::X()), &perform_x_gate);
  EXPECT_EQ(find_gate_kernel(gates::Z()), &perform_z_gate);
  EXPECT_EQ(find_gate_kernel(gates::T()), &perform_t_gate);
  EXPECT_EQ(find_gate_kernel(gates::TDG()), &perform_tdg_gate);
  EXPECT_EQ(find_gate_kernel(gates::S()), &perform_s_gate);
  EXPECT_EQ(find_gate_kernel(gates::SDG()), &perform_sdg_gate);
  EXPECT_EQ(find_gate_kernel(gates::SWAP()), &perform_swap_gate);
  EXPECT_EQ(find_gate_kernel(gates::CX()), &perform_cx_gate);
  int with_kernel = 0;
  for (uint16_t id = 0; id < 23; ++id) with_kernel += find_gate_kernel(Gate16(id)) != nullptr;
  EXPECT_EQ(with_kernel, 9);
  EXPECT_EQ(find_gate_kernel(Gate16(4)), nullptr);  // y: dense
}

// `apply` of every built-in gate, on every qubit tuple, against the
// per-amplitude reference with the registry matrix.
TEST(StateGatesTest, EveryBuiltinMatchesReference) {
  Rng64 rng = Rng64::from_seed(11);
  for (uint32_t n = 1; n <= 4; ++n) {
    for (Gate16 g : testing::builtin_pool()) {
      const ComplexMatrix m = g.matrix_copy();
      for (const Qubits& q : tuples(n, g.nqargs())) {
        if (g.nqargs() > n) continue;
        StateVec s = StateVec::from_random(rng, n);
        const Amps expect = reference_apply(amps_of(s), q, m);
        apply(s, q, g);
        EXPECT_LT(max_diff(amps_of(s), expect), 1e-15) << g.display_name() << " n=" << n;
      }
    }
  }
}

// The specialised kernels agree with the dense product of their matrix,
// in both argument orders.
TEST(StateGatesTest, SpecialisedKernelsAgreeWithDenseKernel) {
  Rng64 rng = Rng64::from_seed(12);
  const Gate16 kernels[] = {gates::H(),   gates::X(),   gates::Z(),    gates::T(), gates::TDG(),
                            gates::S(),   gates::SDG(), gates::SWAP(), gates::CX()};
  for (uint32_t n = 2; n <= 5; ++n) {
    for (Gate16 g : kernels) {
      const ComplexMatrix m = g.matrix_copy();
      for (const Qubits& q : tuples(n, g.nqargs())) {
        const StateVec s = StateVec::from_random(rng, n);
        StateVec special = s;
        find_gate_kernel(g)(special, q);
        StateVec dense = s;
        multiply(dense, q, m);
        EXPECT_LT(max_diff(amps_of(special), amps_of(dense)), 1e-15) << g.display_name();
        EXPECT_TRUE(special == dense);
      }
    }
  }
}

TEST(StateGatesTest, DenseKernelForRandomGatesOfOneToThreeQubits) {
  Rng64 rng = Rng64::from_seed(13);
  for (uint32_t k = 1; k <= 3; ++k) {
    const ComplexMatrix u = testing::random_unitary(rng, 1u << k);
    for (uint32_t n = k; n <= 5; ++n) {
      for (const Qubits& q : tuples(n, k)) {
        StateVec s = StateVec::from_random(rng, n);
        const Amps expect = reference_apply(amps_of(s), q, u);
        multiply(s, q, u);
        EXPECT_LT(max_diff(amps_of(s), expect), 1e-14) << "k=" << k << " n=" << n;
      }
    }
  }
  // A registered gate goes through the same kernel via `apply`.
  const Gate16 g = testing::random_gate(rng, 2, "state_gates_u2");
  StateVec s = StateVec::from_random(rng, 3);
  const Amps expect = reference_apply(amps_of(s), {2, 0}, g.matrix_copy());
  apply(s, Qubits{2, 0}, g);
  EXPECT_LT(max_diff(amps_of(s), expect), 1e-14);
}

// Relabelling commutes with a 3-qubit gate placed on the relabelled qubits.
TEST(StateGatesTest, ThreeQubitGateFollowsRelabelling) {
  Rng64 rng = Rng64::from_seed(14);
  const ComplexMatrix u = testing::random_unitary(rng, 8);
  for (uint8_t n = 3; n <= 6; ++n) {
    const StateVec s = StateVec::from_random(rng, n);
    const Qubits q = testing::distinct_qubits(rng, n, 3);
    const Permut32 p = testing::random_perm(rng, n);
    StateVec a = s;
    multiply(a, q, u);
    a.apply_permutation(p);
    StateVec b = s;
    b.apply_permutation(p);
    multiply(b, Qubits{p.get(q[0]), p.get(q[1]), p.get(q[2])}, u);
    EXPECT_LT(max_diff(amps_of(a), amps_of(b)), 1e-14);
  }
}

TEST(StateGatesTest, WorkedExamples) {
  StateVec a = basis(2, 2);  // qubit 1 set
  apply(a, Qubits{1, 0}, gates::CX());
  EXPECT_EQ(a.at(3), Complex(1.0, 0.0));
  StateVec b = basis(2, 2);
  apply(b, Qubits{0, 1}, gates::CX());
  EXPECT_EQ(b.at(2), Complex(1.0, 0.0));

  // A user gate with the CX matrix behaves like the CX kernel (control first).
  ComplexMatrix cx(4, 4);
  cx(0, 0) = cx(1, 1) = cx(2, 3) = cx(3, 2) = 1.0;
  Rng64 rng = Rng64::from_seed(15);
  const StateVec r = StateVec::from_random(rng, 3);
  StateVec dense = r;
  multiply(dense, Qubits{2, 0}, cx);
  StateVec special = r;
  perform_cx_gate(special, Qubits{2, 0});
  EXPECT_EQ(amps_of(dense), amps_of(special));

  StateVec sw = state_of({1.0, 2.0, 3.0, 4.0});
  perform_swap_gate(sw, Qubits{0, 1});
  EXPECT_EQ(amps_of(sw), (Amps{1.0, 3.0, 2.0, 4.0}));

  StateVec x = state_of({0.0, 1.0, 2.0, 3.0, 4.0, 5.0, 6.0, 7.0});
  perform_x_gate(x, Qubits{2});
  EXPECT_EQ(amps_of(x), (Amps{4.0, 5.0, 6.0, 7.0, 0.0, 1.0, 2.0, 3.0}));

  StateVec hh = r;
  perform_h_gate(hh, Qubits{1});
  perform_h_gate(hh, Qubits{1});
  EXPECT_LT(max_diff(amps_of(hh), amps_of(r)), 1e-15);

  ComplexMatrix one(2, 2);
  one(0, 1) = one(1, 0) = 1.0;
  StateVec single = state_of({0.25, 0.75});
  multiply(single, Qubits{0}, one);
  EXPECT_EQ(amps_of(single), (Amps{0.75, 0.25}));
}

TEST(StateGatesTest, BadArgumentsAbortWithoutWriting) {
  Rng64 rng = Rng64::from_seed(16);
  StateVec s = StateVec::from_random(rng, 2);
  const Amps before = amps_of(s);
  const std::string oob = "index out of bounds: the len is 2 but the index is 2";
  EXPECT_EQ(abort_message([&] { apply(s, Qubits{2}, gates::H()); }), oob);
  EXPECT_EQ(abort_message([&] { apply(s, Qubits{0, 2}, gates::CX()); }), oob);
  EXPECT_EQ(abort_message([&] { apply(s, Qubits{1, 200}, Gate16(10)); }),
            "index out of bounds: the len is 2 but the index is 200");
  EXPECT_EQ(abort_message([&] { apply(s, Qubits{0, 1}, gates::H()); }),
            "assertion failed: qubits.len() == 1");
  EXPECT_EQ(abort_message([&] { apply(s, Qubits{0}, gates::SWAP()); }),
            "assertion failed: qubits.len() == 2");
  // Dense gates: sizes, then unsupported arities.
  EXPECT_EQ(abort_message([&] { apply(s, Qubits{0, 1}, Gate16(4)); }),
            "assertion failed: matrix.nrows() == 4 && matrix.ncols() == 4");
  EXPECT_EQ(abort_message([&] { multiply(s, Qubits{0}, ComplexMatrix(4, 4)); }),
            "assertion failed: matrix.nrows() == 2 && matrix.ncols() == 2");
  EXPECT_EQ(abort_message([&] { multiply(s, Qubits{0, 1, 2}, ComplexMatrix(4, 4)); }),
            "assertion failed: matrix.nrows() == 8 && matrix.ncols() == 8");
  EXPECT_EQ(abort_message([&] { multiply(s, Qubits{}, ComplexMatrix(1, 1)); }),
            "Unsupported number of qubits: 0");
  EXPECT_EQ(abort_message([&] { multiply(s, Qubits{0, 1, 2, 3}, ComplexMatrix(16, 16)); }),
            "Unsupported number of qubits: 4");
  EXPECT_EQ(abort_message([&] { apply(s, Qubits{0, 1, 2}, Gate16(4)); }),
            "assertion failed: matrix.nrows() == 8 && matrix.ncols() == 8");
  // A gate wider than the state.
  StateVec one = StateVec::from_random(rng, 1);
  const Amps one_before = amps_of(one);
  EXPECT_EQ(abort_message([&] { apply(one, Qubits{0, 1}, Gate16(10)); }),
            "index out of bounds: the len is 1 but the index is 1");
  EXPECT_EQ(amps_of(s), before);
  EXPECT_EQ(amps_of(one), one_before);
}

TEST(StateGatesTest, BoundCircuitMatchesApplyExactly) {
  Rng64 rng = Rng64::from_seed(17);
  std::vector<Gate16> pool = testing::builtin_pool();
  pool.push_back(testing::random_gate(rng, 1, "state_gates_b1"));
  pool.push_back(testing::random_gate(rng, 2, "state_gates_b2"));
  BoundCircuit bound;
  for (uint32_t n = 1; n <= 5; ++n) {
    const auto circuit = testing::random_circuit(rng, n, 12, pool);
    const StateVec s = StateVec::from_random(rng, n);
    StateVec seq = s;
    for (const Instr32& i : circuit) apply(seq, i);
    bound.bind(circuit, n);
    StateVec fast = s;
    bound.run(fast);
    EXPECT_EQ(amps_of(fast), amps_of(seq));
    std::vector<Instr32> inverse;
    for (auto i = circuit.rbegin(); i != circuit.rend(); ++i) inverse.push_back(i->adjoint());
    StateVec back = fast;
    bound.bind(inverse, n);
    bound.run(fast);
    EXPECT_LT(max_diff(amps_of(fast), amps_of(s)), 1e-13);
    // The inverse binding resolves the same adjoints itself.
    bound.bind_inverse(circuit, n);
    bound.run(back);
    EXPECT_EQ(amps_of(back), amps_of(fast));
  }
  // Bad instructions are refused at bind time, bad states at run time.
  const Instr32 far(gates::H(), QArgs16(3, QArgs16::kUnused));
  EXPECT_EQ(abort_message([&] { bound.bind(std::vector<Instr32>{far}, 3); }),
            "index out of bounds: the len is 3 but the index is 3");
  const Instr32 none(gates::H(), QArgs16());
  EXPECT_EQ(abort_message([&] { bound.bind(std::vector<Instr32>{none}, 3); }),
            "assertion failed: qubits.len() == 1");
  const Instr32 dense_none(Gate16(4), QArgs16());
  EXPECT_EQ(abort_message([&] { bound.bind(std::vector<Instr32>{dense_none}, 3); }),
            "Unsupported number of qubits: 0");
  // A failed binding is empty: running it changes nothing.
  const Instr32 far_cx(gates::CX(), QArgs16(0, 3));
  EXPECT_EQ(abort_message([&] { bound.bind_inverse(std::vector<Instr32>{far_cx, far_cx}, 3); }),
            "index out of bounds: the len is 3 but the index is 3");
  StateVec kept = StateVec::from_random(rng, 3);
  const Amps kept_before = amps_of(kept);
  bound.run(kept);
  EXPECT_EQ(amps_of(kept), kept_before);
  bound.bind({}, 3);
  StateVec wrong = StateVec::zeros(2);
  EXPECT_EQ(abort_message([&] { bound.run(wrong); }),
            "assertion failed: state.nqubits() == bound nqubits");
}

}  // namespace
}  // namespace trevalon
