#include "state/gates.h"

#include <array>
#include <string>

#include "state/indices.h"
#include "utils/abort.h"

namespace trevalon {
namespace {

using RawKernel = BoundCircuit::RawKernel;

// 1/sqrt(2) rounded to the nearest double (bit pattern 0x3FE6A09E667F3BCD).
constexpr double kC = 0.7071067811865476;

template <class PairOp>
inline void for_each_pair(double* re, double* im, std::size_t len, unsigned q, PairOp op) {
  const std::size_t bit = std::size_t{1} << q;
  const std::size_t half = len >> 1;
  for (std::size_t g = 0; g < half; ++g) {
    const std::size_t i0 = insert_bit(g, q);
    op(re, im, i0, i0 | bit);
  }
}

template <class QuadOp>
inline void for_each_quad(double* re, double* im, std::size_t len, const uint8_t* q, QuadOp op) {
  const unsigned lo = q[0] < q[1] ? q[0] : q[1];
  const unsigned hi = q[0] < q[1] ? q[1] : q[0];
  const std::size_t b0 = std::size_t{1} << q[0];
  const std::size_t b1 = std::size_t{1} << q[1];
  const std::size_t groups = len >> 2;
  for (std::size_t g = 0; g < groups; ++g) {
    const std::size_t base = insert_bit(insert_bit(g, lo), hi);
    op(re, im, base | b1, base | b0, base | b0 | b1);
  }
}

inline void swap_amp(double* re, double* im, std::size_t a, std::size_t b) {
  const double r = re[a], i = im[a];
  re[a] = re[b];
  im[a] = im[b];
  re[b] = r;
  im[b] = i;
}

void h_raw(double* re, double* im, std::size_t len, const uint8_t* q, const double*) {
  for_each_pair(re, im, len, q[0], [](double* r, double* i, std::size_t a, std::size_t b) {
    const double r0 = r[a], i0 = i[a], r1 = r[b], i1 = i[b];
    r[a] = (r0 + r1) * kC;
    i[a] = (i0 + i1) * kC;
    r[b] = (r0 - r1) * kC;
    i[b] = (i0 - i1) * kC;
  });
}

void x_raw(double* re, double* im, std::size_t len, const uint8_t* q, const double*) {
  for_each_pair(re, im, len, q[0], [](double* r, double* i, std::size_t a, std::size_t b) {
    swap_amp(r, i, a, b);
  });
}

void z_raw(double* re, double* im, std::size_t len, const uint8_t* q, const double*) {
  for_each_pair(re, im, len, q[0], [](double* r, double* i, std::size_t, std::size_t b) {
    r[b] = -r[b];
    i[b] = -i[b];
  });
}

// Multiplication by i and -i as exchanges; only the sign of a zero part can
// differ from the complex product, which no quantised comparison sees.
void s_raw(double* re, double* im, std::size_t len, const uint8_t* q, const double*) {
  for_each_pair(re, im, len, q[0], [](double* r, double* i, std::size_t, std::size_t b) {
    const double r1 = r[b];
    r[b] = -i[b];
    i[b] = r1;
  });
}

void sdg_raw(double* re, double* im, std::size_t len, const uint8_t* q, const double*) {
  for_each_pair(re, im, len, q[0], [](double* r, double* i, std::size_t, std::size_t b) {
    const double r1 = r[b];
    r[b] = i[b];
    i[b] = -r1;
  });
}

void t_raw(double* re, double* im, std::size_t len, const uint8_t* q, const double*) {
  for_each_pair(re, im, len, q[0], [](double* r, double* i, std::size_t, std::size_t b) {
    const double r1 = r[b], i1 = i[b];
    r[b] = r1 * kC - i1 * kC;
    i[b] = r1 * kC + i1 * kC;
  });
}

void tdg_raw(double* re, double* im, std::size_t len, const uint8_t* q, const double*) {
  for_each_pair(re, im, len, q[0], [](double* r, double* i, std::size_t, std::size_t b) {
    const double r1 = r[b], i1 = i[b];
    r[b] = r1 * kC + i1 * kC;
    i[b] = i1 * kC - r1 * kC;
  });
}

void cx_raw(double* re, double* im, std::size_t len, const uint8_t* q, const double*) {
  for_each_quad(re, im, len, q,
                [](double* r, double* i, std::size_t, std::size_t i2, std::size_t i3) {
                  swap_amp(r, i, i2, i3);
                });
}

void swap_raw(double* re, double* im, std::size_t len, const uint8_t* q, const double*) {
  for_each_quad(re, im, len, q,
                [](double* r, double* i, std::size_t i1, std::size_t i2, std::size_t) {
                  swap_amp(r, i, i1, i2);
                });
}

// b_r = sum_c m[r][c] a_c over each group; `m` holds the D*D real parts
// row-major, then the D*D imaginary parts.
template <int K>
void dense_raw(double* re, double* im, std::size_t len, const uint8_t* q, const double* m) {
  constexpr int D = 1 << K;
  const double* mr = m;
  const double* mi = m + D * D;
  const MatrixIndices<K> ix(q);
  const std::size_t groups = len >> K;
  for (std::size_t g = 0; g < groups; ++g) {
    const std::size_t base = ix.base(g);
    double ar[D], ai[D];
    for (int c = 0; c < D; ++c) {
      ar[c] = re[base | ix.offset(c)];
      ai[c] = im[base | ix.offset(c)];
    }
    double br[D], bi[D];
    for (int r = 0; r < D; ++r) {
      const double* rr = mr + r * D;
      const double* ri = mi + r * D;
      double sr = rr[0] * ar[0] - ri[0] * ai[0];
      double si = rr[0] * ai[0] + ri[0] * ar[0];
      for (int c = 1; c < D; ++c) {
        sr += rr[c] * ar[c] - ri[c] * ai[c];
        si += rr[c] * ai[c] + ri[c] * ar[c];
      }
      br[r] = sr;
      bi[r] = si;
    }
    for (int r = 0; r < D; ++r) {
      re[base | ix.offset(r)] = br[r];
      im[base | ix.offset(r)] = bi[r];
    }
  }
}

struct DenseSpec {
  RawKernel kernel;
  uint32_t dim;
  const char* size_check;
};

// The one place that picks the dense kernel by qubit count.
DenseSpec dense_spec(std::size_t k) {
  switch (k) {
    case 1: return {dense_raw<1>, 2, "matrix.nrows() == 2 && matrix.ncols() == 2"};
    case 2: return {dense_raw<2>, 4, "matrix.nrows() == 4 && matrix.ncols() == 4"};
    case 3: return {dense_raw<3>, 8, "matrix.nrows() == 8 && matrix.ncols() == 8"};
    default: abort_with("Unsupported number of qubits: " + std::to_string(k));
  }
}

// Checks the matrix against the spec and writes it split (real parts, then
// imaginary parts) to `out`, which holds 2 * dim * dim doubles.
void split_matrix(const DenseSpec& spec, const ComplexMatrix& matrix, double* out) {
  check_that(matrix.nrows() == spec.dim && matrix.ncols() == spec.dim, spec.size_check);
  const uint32_t d = spec.dim;
  for (uint32_t r = 0; r < d; ++r) {
    for (uint32_t c = 0; c < d; ++c) {
      out[r * d + c] = matrix(r, c).real();
      out[d * d + r * d + c] = matrix(r, c).imag();
    }
  }
}

void check_qubit_range(std::span<const uint8_t> qubits, uint32_t nqubits) {
  for (uint8_t q : qubits) check_index(q, nqubits);
}

void check_arity(std::span<const uint8_t> qubits, uint8_t arity) {
  check_that(qubits.size() == arity, arity == 1 ? "qubits.len() == 1" : "qubits.len() == 2");
}

struct KernelEntry {
  GateKernel kernel = nullptr;
  RawKernel raw = nullptr;
  uint8_t arity = 0;
  // The entry of the registry adjoint, when that gate has a kernel too.
  const KernelEntry* adjoint = nullptr;
};

template <RawKernel Raw, uint8_t Arity>
void checked(StateVec& state, std::span<const uint8_t> qubits) {
  check_arity(qubits, Arity);
  check_qubit_range(qubits, state.nqubits());
  Raw(state.re(), state.im(), state.len(), qubits.data(), nullptr);
}

// GATE_FUNCS, indexed by handle id: built-in handles are small and fixed.
class GateFuncs {
 public:
  static constexpr std::size_t kSlots = 32;

  GateFuncs() {
    add(gates::H(), perform_h_gate, h_raw, 1);
    add(gates::X(), perform_x_gate, x_raw, 1);
    add(gates::Z(), perform_z_gate, z_raw, 1);
    add(gates::T(), perform_t_gate, t_raw, 1);
    add(gates::TDG(), perform_tdg_gate, tdg_raw, 1);
    add(gates::S(), perform_s_gate, s_raw, 1);
    add(gates::SDG(), perform_sdg_gate, sdg_raw, 1);
    add(gates::SWAP(), perform_swap_gate, swap_raw, 2);
    add(gates::CX(), perform_cx_gate, cx_raw, 2);
    // Adjoints as the registry defines them (all within this set).
    for (std::size_t id = 0; id < kSlots; ++id) {
      if (entries_[id].kernel == nullptr) continue;
      entries_[id].adjoint = find(Gate16(static_cast<uint16_t>(id)).adjoint());
    }
  }

  const KernelEntry* find(Gate16 gate) const {
    if (gate.id() >= kSlots || entries_[gate.id()].kernel == nullptr) return nullptr;
    return &entries_[gate.id()];
  }

 private:
  void add(Gate16 gate, GateKernel kernel, RawKernel raw, uint8_t arity) {
    check_index(gate.id(), kSlots);
    entries_[gate.id()] = {kernel, raw, arity, nullptr};
  }

  std::array<KernelEntry, kSlots> entries_{};
};

const GateFuncs& gate_funcs() {
  static const GateFuncs GATE_FUNCS;
  return GATE_FUNCS;
}

}  // namespace

void perform_h_gate(StateVec& s, std::span<const uint8_t> q) { checked<h_raw, 1>(s, q); }
void perform_x_gate(StateVec& s, std::span<const uint8_t> q) { checked<x_raw, 1>(s, q); }
void perform_z_gate(StateVec& s, std::span<const uint8_t> q) { checked<z_raw, 1>(s, q); }
void perform_t_gate(StateVec& s, std::span<const uint8_t> q) { checked<t_raw, 1>(s, q); }
void perform_tdg_gate(StateVec& s, std::span<const uint8_t> q) { checked<tdg_raw, 1>(s, q); }
void perform_s_gate(StateVec& s, std::span<const uint8_t> q) { checked<s_raw, 1>(s, q); }
void perform_sdg_gate(StateVec& s, std::span<const uint8_t> q) { checked<sdg_raw, 1>(s, q); }
void perform_swap_gate(StateVec& s, std::span<const uint8_t> q) { checked<swap_raw, 2>(s, q); }
void perform_cx_gate(StateVec& s, std::span<const uint8_t> q) { checked<cx_raw, 2>(s, q); }

GateKernel find_gate_kernel(Gate16 gate) {
  const KernelEntry* e = gate_funcs().find(gate);
  return e ? e->kernel : nullptr;
}

void multiply(StateVec& state, std::span<const uint8_t> qubits, const ComplexMatrix& matrix) {
  const DenseSpec spec = dense_spec(qubits.size());
  double split[2 * 8 * 8];
  split_matrix(spec, matrix, split);
  check_qubit_range(qubits, state.nqubits());
  spec.kernel(state.re(), state.im(), state.len(), qubits.data(), split);
}

void apply(StateVec& state, std::span<const uint8_t> qubits, Gate16 gate) {
  if (const KernelEntry* e = gate_funcs().find(gate)) {
    e->kernel(state, qubits);
    return;
  }
  gate.matrix([&](const ComplexMatrix& m) { multiply(state, qubits, m); });
}

void BoundCircuit::fill(Step& step, Gate16 gate, std::span<const uint8_t> qubits) {
  const KernelEntry* e = gate_funcs().find(gate);
  if (e != nullptr) {
    fill_kernel(step, e->raw, e->arity, qubits);
    return;
  }
  step.matrix = 0;
  for (std::size_t j = 0; j < qubits.size() && j < 3; ++j) step.qubits[j] = qubits[j];
  gate.matrix([&](const ComplexMatrix& m) {
    const DenseSpec spec = dense_spec(qubits.size());
    const std::size_t offset = matrices_.size();
    matrices_.resize(offset + 2 * spec.dim * spec.dim);
    split_matrix(spec, m, matrices_.data() + offset);
    step.kernel = spec.kernel;
    step.matrix = static_cast<uint32_t>(offset);
  });
  check_qubit_range(qubits, nqubits_);
}

void BoundCircuit::fill_kernel(Step& step, RawKernel raw, uint8_t arity, std::span<const uint8_t> qubits) {
  check_arity(qubits, arity);
  check_qubit_range(qubits, nqubits_);
  step.kernel = raw;
  step.matrix = 0;
  for (std::size_t j = 0; j < qubits.size() && j < 3; ++j) step.qubits[j] = qubits[j];
}

template <class FillStep>
void BoundCircuit::bind_steps(std::size_t steps, uint32_t nqubits, const FillStep& fill_step) {
  steps_.resize(steps);
  matrices_.clear();
  nqubits_ = nqubits;
  try {
    for (std::size_t k = 0; k < steps; ++k) fill_step(k);
  } catch (...) {
    steps_.clear();
    throw;
  }
}

void BoundCircuit::bind(std::span<const Instr32> instrs, uint32_t nqubits) {
  bind_steps(instrs.size(), nqubits,
             [&](std::size_t k) { fill(steps_[k], instrs[k].gate(), instrs[k].qargs().used()); });
}

void BoundCircuit::bind_inverse(std::span<const Instr32> instrs, uint32_t nqubits) {
  bind_steps(instrs.size(), nqubits, [&](std::size_t k) {
    const Instr32& instr = instrs[instrs.size() - 1 - k];
    const KernelEntry* e = gate_funcs().find(instr.gate());
    if (e != nullptr && e->adjoint != nullptr) {
      fill_kernel(steps_[k], e->adjoint->raw, e->adjoint->arity, instr.qargs().used());
    } else {
      fill(steps_[k], instr.gate().adjoint(), instr.qargs().used());
    }
  });
}

void BoundCircuit::run(StateVec& state) const {
  check_that(state.nqubits() == nqubits_ && state.len() != 0, "state.nqubits() == bound nqubits");
  double* re = state.re();
  double* im = state.im();
  const std::size_t len = state.len();
  const double* matrices = matrices_.data();
  for (const Step& s : steps_) s.kernel(re, im, len, s.qubits, matrices + s.matrix);
}

}  // namespace trevalon
