// Gate application: one gate applied in place to a StateVec.
//
// The nine built-in gates of the evaluation gate set have specialised
// kernels (GATE_FUNCS) that touch only the amplitudes they change; every
// other gate goes through the dense kernel `multiply`, which multiplies each
// group of 2, 4 or 8 amplitudes by the gate's registry matrix (first qubit
// argument = most significant matrix index bit, see state/indices.h).
//
// Every entry point validates its arguments once, before any amplitude is
// written: arity and matrix size, then every qubit against the state's
// qubit count. Repeated qubits are a caller error that is not detected; the
// index arithmetic still never leaves the state. Kernels allocate nothing.
//
// Thread safety: kernels are pure functions of their arguments; GATE_FUNCS
// is built once (thread-safely) and read-only; the registry is read under
// its shared lock. Many threads may apply gates to their own states.
#ifndef TREVALON_STATE_GATES_H_
#define TREVALON_STATE_GATES_H_

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "circ/complex_matrix.h"
#include "circ/gate.h"
#include "circ/instr.h"
#include "state/state_vec.h"

namespace trevalon {

using GateKernel = void (*)(StateVec& state, std::span<const uint8_t> qubits);

// Specialised kernels; one-qubit kernels take exactly one qubit, two-qubit
// kernels exactly two (control first for CX).
void perform_h_gate(StateVec& state, std::span<const uint8_t> qubits);
void perform_x_gate(StateVec& state, std::span<const uint8_t> qubits);
void perform_z_gate(StateVec& state, std::span<const uint8_t> qubits);
void perform_t_gate(StateVec& state, std::span<const uint8_t> qubits);
void perform_tdg_gate(StateVec& state, std::span<const uint8_t> qubits);
void perform_s_gate(StateVec& state, std::span<const uint8_t> qubits);
void perform_sdg_gate(StateVec& state, std::span<const uint8_t> qubits);
void perform_swap_gate(StateVec& state, std::span<const uint8_t> qubits);
void perform_cx_gate(StateVec& state, std::span<const uint8_t> qubits);

// GATE_FUNCS lookup: the specialised kernel of `gate`, or nullptr.
GateKernel find_gate_kernel(Gate16 gate);

// Dense kernel for 1, 2 or 3 qubits; the matrix must be 2^K x 2^K.
void multiply(StateVec& state, std::span<const uint8_t> qubits, const ComplexMatrix& matrix);

// The specialised kernel when there is one, else `multiply` with the
// registry matrix (read under the registry's shared lock).
void apply(StateVec& state, std::span<const uint8_t> qubits, Gate16 gate);
inline void apply(StateVec& state, const Instr32& instr) {
  apply(state, instr.qargs().used(), instr.gate());
}

// A circuit bound to one state size: kernels resolved, qubits and matrix
// sizes checked and dense matrices copied once, so that running it again
// costs only the kernels. Running gives exactly the results of `apply` on
// each instruction in turn. Rebinding keeps the buffers (no allocation once
// they are large enough). Not shared between threads.
class BoundCircuit {
 public:
  // The instructions in order. Aborts as `apply` would on the first bad
  // instruction, leaving an empty binding.
  void bind(std::span<const Instr32> instrs, uint32_t nqubits);
  // The inverse circuit: the registry adjoint of every gate, last
  // instruction first (the same as `bind` of the adjoint instructions in
  // reverse order). Registers adjoints that are not known yet. Aborts as
  // `bind` does.
  void bind_inverse(std::span<const Instr32> instrs, uint32_t nqubits);
  // Aborts unless the state has the bound qubit count.
  void run(StateVec& state) const;

  using RawKernel = void (*)(double* re, double* im, std::size_t len, const uint8_t* qubits,
                             const double* matrix);

 private:
  struct Step {
    RawKernel kernel;
    uint32_t matrix;  // offset into matrices_ (dense kernels only)
    uint8_t qubits[3];
  };
  // Sizes the binding for `steps` instructions, then runs fill_step(k)
  // for each; a failure leaves an empty binding.
  template <class FillStep>
  void bind_steps(std::size_t steps, uint32_t nqubits, const FillStep& fill_step);
  // Binds one instruction into `step`; aborts like `apply` would.
  void fill(Step& step, Gate16 gate, std::span<const uint8_t> qubits);
  void fill_kernel(Step& step, RawKernel raw, uint8_t arity, std::span<const uint8_t> qubits);

  std::vector<Step> steps_;
  std::vector<double> matrices_;  // split matrices: real parts, then imaginary
  uint32_t nqubits_ = 0;
};

}  // namespace trevalon

#endif  // TREVALON_STATE_GATES_H_
