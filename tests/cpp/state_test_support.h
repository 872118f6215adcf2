// Shared helpers of the state-vector tests: an independent per-amplitude
// simulator, random unitaries and circuits, and abort capture.
#ifndef TREVALON_TESTS_CPP_STATE_TEST_SUPPORT_H_
#define TREVALON_TESTS_CPP_STATE_TEST_SUPPORT_H_

#include <cmath>
#include <complex>
#include <string>
#include <vector>

#include "circ/complex_matrix.h"
#include "circ/gate.h"
#include "circ/instr.h"
#include "groups/permutation.h"
#include "state/rng.h"
#include "state/state_vec.h"
#include "utils/abort.h"

#include "test_support.h"

namespace trevalon::testing {

using Amps = std::vector<Complex>;

inline Amps amps_of(const StateVec& s) {
  Amps out(s.len());
  for (std::size_t x = 0; x < s.len(); ++x) out[x] = {s.re()[x], s.im()[x]};
  return out;
}

inline StateVec state_of(const Amps& a) {
  std::vector<double> re, im;
  for (const Complex& c : a) {
    re.push_back(c.real());
    im.push_back(c.imag());
  }
  return StateVec::create(re, im);
}

inline double max_diff(const Amps& a, const Amps& b) {
  double d = a.size() == b.size() ? 0.0 : INFINITY;
  for (std::size_t i = 0; i < a.size() && i < b.size(); ++i) d = std::max(d, std::abs(a[i] - b[i]));
  return d;
}

// out[x] = sum_c M[r(x)][c] in[x with the argument bits set to c], where
// r(x) reads argument j from bit q_j of x as matrix bit K-1-j.
inline Amps reference_apply(const Amps& in, const std::vector<uint8_t>& qubits,
                            const ComplexMatrix& m) {
  const std::size_t k = qubits.size();
  Amps out(in.size());
  for (std::size_t x = 0; x < in.size(); ++x) {
    std::size_t r = 0;
    std::size_t rest = x;
    for (std::size_t j = 0; j < k; ++j) {
      if ((x >> qubits[j]) & 1) r |= std::size_t{1} << (k - 1 - j);
      rest &= ~(std::size_t{1} << qubits[j]);
    }
    Complex acc = 0;
    for (std::size_t c = 0; c < (std::size_t{1} << k); ++c) {
      std::size_t y = rest;
      for (std::size_t j = 0; j < k; ++j) {
        if ((c >> (k - 1 - j)) & 1) y |= std::size_t{1} << qubits[j];
      }
      acc += m(static_cast<uint32_t>(r), static_cast<uint32_t>(c)) * in[y];
    }
    out[x] = acc;
  }
  return out;
}

// Relabelling by moving bit k of every index to bit p[k].
inline Amps reference_permute(const Amps& in, Permut32 p) {
  Amps out(in.size());
  for (std::size_t x = 0; x < in.size(); ++x) {
    std::size_t y = 0;
    for (uint8_t k = 0; k < p.len(); ++k) {
      if ((x >> k) & 1) y |= std::size_t{1} << p.get(k);
    }
    out[y] = in[x];
  }
  return out;
}

// A Haar-ish random unitary: Gram-Schmidt on uniformly drawn columns.
inline ComplexMatrix random_unitary(Rng64& rng, uint32_t dim) {
  std::vector<Amps> cols(dim, Amps(dim));
  for (uint32_t c = 0; c < dim; ++c) {
    for (uint32_t r = 0; r < dim; ++r) cols[c][r] = {rng.uniform() - 0.5, rng.uniform() - 0.5};
    for (uint32_t p = 0; p < c; ++p) {
      Complex dot = 0;
      for (uint32_t r = 0; r < dim; ++r) dot += std::conj(cols[p][r]) * cols[c][r];
      for (uint32_t r = 0; r < dim; ++r) cols[c][r] -= dot * cols[p][r];
    }
    double norm = 0;
    for (uint32_t r = 0; r < dim; ++r) norm += std::norm(cols[c][r]);
    for (uint32_t r = 0; r < dim; ++r) cols[c][r] /= std::sqrt(norm);
  }
  ComplexMatrix m(dim, dim);
  for (uint32_t r = 0; r < dim; ++r) {
    for (uint32_t c = 0; c < dim; ++c) m(r, c) = cols[c][r];
  }
  return m;
}

inline Gate16 random_gate(Rng64& rng, uint32_t nqubits, const std::string& name) {
  return Gate16::create(name, {}, random_unitary(rng, 1u << nqubits));
}

inline std::vector<uint8_t> distinct_qubits(Rng64& rng, uint32_t n, uint32_t k) {
  std::vector<uint8_t> all;
  for (uint32_t q = 0; q < n; ++q) all.push_back(static_cast<uint8_t>(q));
  for (uint32_t i = 0; i < k; ++i) {
    const uint32_t j = i + static_cast<uint32_t>(rng.next_u64() % (n - i));
    std::swap(all[i], all[j]);
  }
  all.resize(k);
  return all;
}

inline Permut32 random_perm(Rng64& rng, uint8_t n) {
  const auto q = distinct_qubits(rng, n, n);
  return Permut32::from_iter(q);
}

// A circuit of `len` instructions drawn from `pool` (gates of at most as
// many qubits as n allows) on random distinct qubits.
inline std::vector<Instr32> random_circuit(Rng64& rng, uint32_t n, std::size_t len,
                                           const std::vector<Gate16>& pool) {
  std::vector<Gate16> usable;
  for (Gate16 g : pool) {
    if (g.nqargs() <= n) usable.push_back(g);
  }
  std::vector<Instr32> out;
  for (std::size_t i = 0; i < len; ++i) {
    const Gate16 g = usable[rng.next_u64() % usable.size()];
    out.push_back(Instr32::create(g, distinct_qubits(rng, n, g.nqargs())));
  }
  return out;
}

// All 23 built-in gates.
inline std::vector<Gate16> builtin_pool() {
  std::vector<Gate16> out;
  for (uint16_t id = 0; id < 23; ++id) out.push_back(Gate16(id));
  return out;
}

}  // namespace trevalon::testing

#endif  // TREVALON_TESTS_CPP_STATE_TEST_SUPPORT_H_
