#include "state/state_vec.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <new>

#include "state/qreal.h"
#include "state/quantise.h"
#include "utils/abort.h"
#include "utils/siphash.h"

namespace trevalon {
namespace {

constexpr std::align_val_t kAlign{64};

thread_local StateVecCache STATE_VEC_CACHE;

// Lexicographic order of two arrays under the quantised scalar order; a
// proper prefix is smaller.
std::strong_ordering compare_parts(const double* a, std::size_t na, const double* b, std::size_t nb) {
  const std::size_t n = std::min(na, nb);
  for (std::size_t i = 0; i < n; ++i) {
    if (auto c = quantise(a[i]) <=> quantise(b[i]); c != 0) return c;
  }
  return na <=> nb;
}

void append_amplitude(std::string& out, double re, double im) {
  if (qreal::near_zero(im)) {
    out += qreal::to_text(re, 4);
  } else if (qreal::near_zero(re)) {
    out += qreal::to_text(im, 4);
    out += 'j';
  } else {
    out += qreal::to_text(re, 4);
    if (!std::signbit(im)) out += '+';
    out += qreal::to_text(im, 4);
    out += 'j';
  }
}

}  // namespace

void check_state_qubits(uint32_t n) {
  if (n > StateVec::kMaxQubits) {
    abort_with("Number of qubits too large, resulting in overflow for state vector size.");
  }
}

void StateVec::AlignedFree::operator()(double* p) const { ::operator delete[](p, kAlign); }

StateVec::Buffer StateVec::allocate(std::size_t len) {
  try {
    return Buffer(static_cast<double*>(::operator new[](len * sizeof(double), kAlign)));
  } catch (const std::bad_alloc&) {
    abort_with("Failed to allocate a state vector of " + std::to_string(len) + " amplitudes");
  }
}

StateVec::StateVec(std::size_t len) : re_(allocate(len)), im_(allocate(len)), len_(len) {}

StateVec::StateVec(const StateVec& other) : StateVec() { copy_from(other); }

StateVec& StateVec::operator=(const StateVec& other) {
  if (this != &other) copy_from(other);
  return *this;
}

void StateVec::copy_from(const StateVec& other) {
  if (len_ != other.len_) {
    StateVec fresh(other.len_);
    swap(fresh);
  }
  if (len_ == 0) return;
  std::memcpy(re_.get(), other.re_.get(), len_ * sizeof(double));
  std::memcpy(im_.get(), other.im_.get(), len_ * sizeof(double));
}

void StateVec::swap(StateVec& other) noexcept {
  re_.swap(other.re_);
  im_.swap(other.im_);
  std::swap(len_, other.len_);
}

StateVec StateVec::create(std::span<const double> re, std::span<const double> im) {
  if (re.size() != im.size()) {
    abort_with("assertion `left == right` failed: Real and imaginary parts must have the same length\n  left: " +
               std::to_string(re.size()) + "\n right: " + std::to_string(im.size()));
  }
  if (!std::has_single_bit(re.size())) abort_with("Length must be a power of 2");
  StateVec s(re.size());
  std::copy(re.begin(), re.end(), s.re_.get());
  std::copy(im.begin(), im.end(), s.im_.get());
  return s;
}

StateVec StateVec::zeros(uint32_t n) {
  check_state_qubits(n);
  StateVec s(std::size_t{1} << n);
  std::fill_n(s.re_.get(), s.len_, 0.0);
  std::fill_n(s.im_.get(), s.len_, 0.0);
  return s;
}

StateVec StateVec::from_random(Rng64& rng, uint32_t n) {
  check_state_qubits(n);
  StateVec s(std::size_t{1} << n);
  for (std::size_t x = 0; x < s.len_; ++x) s.re_[x] = rng.uniform();
  for (std::size_t x = 0; x < s.len_; ++x) s.im_[x] = rng.uniform();
  s.normalize();
  return s;
}

StateVec StateVec::from_random_symmetric(Rng64& rng, uint32_t n) {
  check_state_qubits(n);
  double a[kMaxQubits + 1];
  double b[kMaxQubits + 1];
  for (uint32_t w = 0; w <= n; ++w) a[w] = rng.uniform();
  for (uint32_t w = 0; w <= n; ++w) b[w] = rng.uniform();
  StateVec s(std::size_t{1} << n);
  for (std::size_t x = 0; x < s.len_; ++x) {
    const int w = std::popcount(x);
    s.re_[x] = a[w];
    s.im_[x] = b[w];
  }
  s.normalize();
  return s;
}

uint32_t StateVec::nqubits() const { return static_cast<uint32_t>(std::countr_zero(len_)); }

Complex StateVec::at(std::size_t index) const {
  check_index(index, len_);
  return {re_[index], im_[index]};
}

void StateVec::set(std::size_t index, Complex value) {
  check_index(index, len_);
  re_[index] = value.real();
  im_[index] = value.imag();
}

void StateVec::normalize() {
  if (len_ == 0) return;
  double s = 0.0;
  for (std::size_t x = 0; x < len_; ++x) s += re_[x] * re_[x] + im_[x] * im_[x];
  if (s == 0.0) {
    // No direction to keep: the documented fallback is the basis state 0.
    std::fill_n(re_.get(), len_, 0.0);
    std::fill_n(im_.get(), len_, 0.0);
    re_[0] = 1.0;
    return;
  }
  const double norm = std::sqrt(s);
  for (std::size_t x = 0; x < len_; ++x) {
    re_[x] /= norm;
    im_[x] /= norm;
  }
  normalize_arg();
}

PhaseFactor StateVec::phase_factor() const {
  if (len_ == 0) return {};
  double ur = re_[0];
  double ui = im_[0];
  if (qreal::near_zero(ur) && qreal::near_zero(ui)) {
    ur = re_[len_ - 1];
    ui = im_[len_ - 1];
    if (qreal::near_zero(ur) && qreal::near_zero(ui)) {
      double sr = 0.0;
      double si = 0.0;
      for (std::size_t x = 0; x < len_; ++x) {
        sr += re_[x];
        si += im_[x];
      }
      const double modulus = std::sqrt(sr * sr + si * si);
      ur = sr / modulus;
      ui = si / modulus;
    }
  }
  const double m2 = ur * ur + ui * ui;
  // A zero reference carries no phase; the amplitudes stay as they are
  // rather than turning into NaN.
  if (!(m2 > 0.0)) return {};
  const double root = std::sqrt(m2);
  return {ur / m2 * root, -ui / m2 * root, false};
}

void StateVec::normalize_arg() {
  if (len_ == 0) return;
  const PhaseFactor phase = phase_factor();
  if (!phase.identity) {
    for (std::size_t x = 0; x < len_; ++x) phase.apply(re_[x], im_[x], re_[x], im_[x]);
  }
  im_[0] = 0.0;
}

bool StateVec::check() const {
  double s = 0.0;
  for (std::size_t x = 0; x < len_; ++x) s += re_[x] * re_[x] + im_[x] * im_[x];
  return std::fabs(s - 1.0) < qreal::kNearZero;
}

uint64_t StateVec::hash_value() const {
  SipHasher13 h;
  h.write_u32(static_cast<uint32_t>(len_));
  for (std::size_t x = 0; x < len_; ++x) h.write_i64(quantise(re_[x]));
  h.write_u32(static_cast<uint32_t>(len_));
  for (std::size_t x = 0; x < len_; ++x) h.write_i64(quantise(im_[x]));
  return h.finish();
}

bool StateVec::loose_eq(const StateVec& other) const {
  const std::size_t n = std::min(len_, other.len_);
  for (std::size_t x = 0; x < n; ++x) {
    if (!qreal::loose_eq(re_[x], other.re_[x]) || !qreal::loose_eq(im_[x], other.im_[x])) return false;
  }
  return true;
}

IndexMap::IndexMap(Permut32 perm, uint32_t nqubits) {
  uint32_t image[8];
  for (uint32_t k = 0; k < 8; ++k) {
    image[k] = k < perm.len() ? perm.get(static_cast<uint8_t>(k)) : k;
    if (k < nqubits && image[k] >= nqubits) check_index(image[k], nqubits);
  }
  // Doubling: the entries with bit k set are those without it plus image k.
  // Only the indices of the state are filled.
  const uint32_t bits = nqubits >= 8 ? 8 : nqubits;
  low_[0] = 0;
  for (uint32_t k = 0; k < bits; ++k) {
    const std::size_t half = std::size_t{1} << k;
    const uint8_t add = static_cast<uint8_t>(1u << image[k]);
    for (std::size_t x = 0; x < half; ++x) low_[half + x] = static_cast<uint8_t>(low_[x] | add);
  }
}

void StateVec::permute_into(Permut32 perm, StateVec& out) const {
  const IndexMap map(perm, nqubits());
  if (out.len_ != len_) {
    StateVec fresh(len_);
    out.swap(fresh);
  }
  const double* src_re = re_.get();
  const double* src_im = im_.get();
  double* dst_re = out.re_.get();
  double* dst_im = out.im_.get();
  for (std::size_t x = 0; x < len_; ++x) {
    const std::size_t y = map(x);
    dst_re[y] = src_re[x];
    dst_im[y] = src_im[x];
  }
}

void StateVec::apply_permutation(Permut32 perm) {
  StateVecCache::Borrow cache(StateVecCache::this_thread());
  const uint32_t n = nqubits();
  cache.reserve(n);
  StateVec& scratch = cache.entry(n);
  permute_into(perm, scratch);
  swap(scratch);
}

std::string StateVec::to_text() const {
  std::string out = "[";
  for (std::size_t x = 0; x < len_; ++x) {
    if (x) out += ", ";
    append_amplitude(out, re_[x], im_[x]);
  }
  out += ']';
  return out;
}

bool operator==(const StateVec& a, const StateVec& b) {
  if (a.len_ != b.len_) return false;
  for (std::size_t x = 0; x < a.len_; ++x) {
    if (quantise(a.re_[x]) != quantise(b.re_[x]) || quantise(a.im_[x]) != quantise(b.im_[x])) return false;
  }
  return true;
}

std::strong_ordering operator<=>(const StateVec& a, const StateVec& b) {
  if (auto c = compare_parts(a.re_.get(), a.len_, b.re_.get(), b.len_); c != 0) return c;
  return compare_parts(a.im_.get(), a.len_, b.im_.get(), b.len_);
}

StateVecCache& StateVecCache::this_thread() { return STATE_VEC_CACHE; }

StateVecCache::Borrow::Borrow(StateVecCache& cache) : cache_(cache) {
  if (cache_.in_use_) abort_with("already borrowed");
  cache_.in_use_ = true;
}

StateVecCache::Borrow::~Borrow() { cache_.in_use_ = false; }

void StateVecCache::Borrow::reserve(uint32_t n) {
  while (cache_.entries_.size() <= n) {
    cache_.entries_.push_back(StateVec::zeros(static_cast<uint32_t>(cache_.entries_.size())));
  }
}

StateVec& StateVecCache::Borrow::entry(uint32_t k) {
  check_index(k, cache_.entries_.size());
  return cache_.entries_[k];
}

std::size_t StateVecCache::Borrow::size() const { return cache_.entries_.size(); }

}  // namespace trevalon
