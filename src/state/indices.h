// Amplitude index arithmetic for gate kernels.
//
// A K-qubit gate splits a state of 2^n amplitudes into 2^(n-K) groups of
// 2^K amplitudes. Group g's base index is g with a 0 bit inserted at every
// gate qubit (smallest position first); member m of the group sets gate
// argument j to bit (m >> (K - 1 - j)) & 1, so the first argument is the
// most significant bit of the matrix index. Indices are combined with OR:
// with distinct qubits below n every index stays below 2^n, and even
// repeated qubits (a caller error) never leave the state.
#ifndef TREVALON_STATE_INDICES_H_
#define TREVALON_STATE_INDICES_H_

#include <array>
#include <cstddef>
#include <cstdint>

namespace trevalon {

// x with a 0 bit inserted at `pos`; the bits at and above pos move up one.
constexpr std::size_t insert_bit(std::size_t x, unsigned pos) {
  const std::size_t low = (std::size_t{1} << pos) - 1;
  return (x & low) | ((x & ~low) << 1);
}

// The group enumeration of one K-qubit gate, precomputed once per kernel
// call from the qubit arguments (in argument order).
template <int K>
class MatrixIndices {
 public:
  static constexpr int kDim = 1 << K;

  constexpr explicit MatrixIndices(const uint8_t* qubits) {
    for (int j = 0; j < K; ++j) sorted_[j] = qubits[j];
    for (int i = 1; i < K; ++i) {
      for (int j = i; j > 0 && sorted_[j] < sorted_[j - 1]; --j) {
        const uint8_t t = sorted_[j];
        sorted_[j] = sorted_[j - 1];
        sorted_[j - 1] = t;
      }
    }
    for (int m = 0; m < kDim; ++m) {
      std::size_t off = 0;
      for (int j = 0; j < K; ++j) {
        if ((m >> (K - 1 - j)) & 1) off |= std::size_t{1} << qubits[j];
      }
      offsets_[m] = off;
    }
  }

  constexpr std::size_t base(std::size_t g) const {
    for (int j = 0; j < K; ++j) g = insert_bit(g, sorted_[j]);
    return g;
  }
  constexpr std::size_t offset(int m) const { return offsets_[m]; }
  constexpr std::array<std::size_t, kDim> indices(std::size_t g) const {
    std::array<std::size_t, kDim> out{};
    const std::size_t b = base(g);
    for (int m = 0; m < kDim; ++m) out[m] = b | offsets_[m];
    return out;
  }

 private:
  uint8_t sorted_[K] = {};
  std::size_t offsets_[kDim] = {};
};

// The indices of group g for one, two and three qubit arguments.
constexpr std::array<std::size_t, 2> qubit_matrix_indices1(std::size_t g, uint8_t q0) {
  const uint8_t q[1] = {q0};
  return MatrixIndices<1>(q).indices(g);
}
constexpr std::array<std::size_t, 4> qubit_matrix_indices2(std::size_t g, uint8_t q0, uint8_t q1) {
  const uint8_t q[2] = {q0, q1};
  return MatrixIndices<2>(q).indices(g);
}
constexpr std::array<std::size_t, 8> qubit_matrix_indices3(std::size_t g, uint8_t q0, uint8_t q1,
                                                           uint8_t q2) {
  const uint8_t q[3] = {q0, q1, q2};
  return MatrixIndices<3>(q).indices(g);
}

}  // namespace trevalon

#endif  // TREVALON_STATE_INDICES_H_
